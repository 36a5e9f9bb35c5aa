% REGMEX_DEMO  Finds a patch of a real photograph again with tmatch.
%
%   From the top of the source tree, with the MEX files ahead of the help
%   files on the path (make demo does exactly this):
%     addpath('octave'); addpath('build/mex'); regmex_demo
%   Writes out/tmatch_map.png.
here = fileparts (mfilename ("fullpath"));
root = fileparts (here);
outdir = fullfile (root, "out");
if (! exist (outdir, "dir"))
  mkdir (outdir);
end

img = double (imread (fullfile (root, "data", "camera.png")));
top = 150; left = 260; h = 40; w = 48;
tpl = img(top:top + h - 1, left:left + w - 1);

t0 = tic ();
C = tmatch (img, -1, tpl);
elapsed = toc (t0);
[peak, k] = max (C(:));
[row, col] = ind2sub (size (C), k);
printf ("tmatch: %dx%d template cut at row %d, column %d of a %dx%d photograph\n", ...
        h, w, top, left, rows (img), columns (img));
printf ("        found at row %d, column %d, peak coefficient %.4f (%.1f ms)\n", ...
        row, col, peak, 1000 * elapsed);
if (row != top || col != left)
  error ("regmex:demo", "tmatch found the template at the wrong place");
end

% The map as an image: coefficients -1..1 mapped to black..white.
map = uint8 (round ((C + 1) * 127.5));
imwrite (map, fullfile (outdir, "tmatch_map.png"));
printf ("        correlation map written to out/tmatch_map.png\n");
