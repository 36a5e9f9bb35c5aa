function regbench_octave (method, listFile)
% REGBENCH_OCTAVE  Registers each pair of a list in this Octave, for the
% registration benchmark.
%
%   regbench_octave(METHOD, LISTFILE)
%
%   LISTFILE holds one pair a line: the reference image file, the moving
%   image file and an output prefix, separated by tabs.  For pair k
%   (counted from 0) it writes the maps (for every pixel of the reference,
%   where it lies in the moving image, 0-based x and y) to <prefix>.x and
%   <prefix>.y as single-precision values, row after row, and prints
%   "regbench-time k SECONDS", or "regbench-fail k MESSAGE" when the method
%   raised an error.  SECONDS counts the registration call alone.  METHOD:
%     "readme"       the README's registration in ten lines
%     "tpsregister"  tpsregister with its default options
%   When the method's function is not on the path it prints
%   "regbench-missing" and registers nothing.

  if (strcmp (method, "tpsregister") && ! any (exist ("tpsregister") == [2 3]))
    printf ("regbench-missing\n");
    return;
  end
  switch (method)
    case "readme"
      register = @readme_recipe;
    case "tpsregister"
      register = @tpsregister;
    otherwise
      error ("regbench_octave: unknown method %s", method);
  end
  text = fileread (listFile);
  lines = strsplit (strtrim (text), "\n");
  for k = 1:numel (lines)
    f = strsplit (lines{k}, "\t");
    ref = double (imread (f{1}));
    mov = double (imread (f{2}));
    try
      if (k == 1)
        register (ref, mov);          % loads the MEX files: not the method's cost
      end
      t0 = tic;
      [mapX, mapY, registered] = register (ref, mov);  % what a user asks for
      seconds = toc (t0);
    catch err
      printf ("regbench-fail %d %s: %s\n", k - 1, err.identifier, strrep (err.message, "\n", " "));
      continue;
    end
    write_map ([f{3} ".x"], mapX);
    write_map ([f{3} ".y"], mapY);
    printf ("regbench-time %d %.6f\n", k - 1, seconds);
  end
end

function write_map (file, map)
  fid = fopen (file, "w");
  fwrite (fid, single (map.'), "single");
  fclose (fid);
end

function [mapX, mapY, registered] = readme_recipe (ref, mov)
  % The README's recipe, with one change: its edge filter keeps corners
  % 20 px inside this frame rather than inside a 512x512 one.
  P = round (gridcorners (ref, 10, 0.01, 1, 1));
  P = P(:, P(1, :) > 20 & P(1, :) < columns (ref) - 19 & P(2, :) > 20 & P(2, :) < rows (ref) - 19);
  found = P;  h = 10;
  for k = 1:columns (P)
    region = [P(:, k)' - 2 * h, 4 * h + 1, 4 * h + 1];
    C = tmatch (mov, region, ref(P(2, k) + (-h:h), P(1, k) + (-h:h)));
    [x, y] = tmatchpeak (C, region, [2 * h + 1, 2 * h + 1]);  found(:, k) = [x; y] + h;
  end
  [coefX, coefY] = tpsfit (P(1, :) - 1, P(2, :) - 1, found(1, :) - 1, found(2, :) - 1, 0.01);
  [~, mapX, mapY, registered] = warpmatch (coefX, coefY, P(1, :)' - 1, P(2, :) - 1, ...
                                           found(1, :) - 1, found(2, :) - 1, [], [], mov);
end
