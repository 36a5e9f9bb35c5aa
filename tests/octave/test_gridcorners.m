function test_gridcorners ()
  % gridcorners.mex in Octave on images Octave itself wrote with imwrite:
  % corner positions, raster order, adaptive levels, argument classes, and
  % every refusal raising its identifier while Octave keeps running.
  dir = tempname ();
  mkdir (dir);
  cleanup = onCleanup (@() remove_folder (dir));

  % 300 x 200 board of 25-pixel squares: each 50x50 block holds one inner
  % crossing, at block-relative (25, 25); those on block borders are not
  % seen, since the detector skips a block's outer pixels.
  board = uint8 (255 * mod (floor ((0:199)' / 25) + floor ((0:299) / 25), 2));
  name = fullfile (dir, "board.png");
  imwrite (board, name);
  P = gridcorners (name, 5, 0.04, 4, 0);
  [bx, by] = meshgrid (0:5, 0:3);   % raster order: rows of blocks top down
  assert (P, [reshape(50 * bx' + 26, 1, []); reshape(50 * by' + 26, 1, [])]);
  assert (gridcorners (name, 5, 0.04, 4, 1), P);

  % Colour files are read as grey; other numeric classes are read by value.
  rgb = fullfile (dir, "board_rgb.png");
  imwrite (cat (3, board, board, board), rgb);
  assert (gridcorners (rgb, 5, 0.04, 4, 0), P);
  assert (gridcorners (name, uint8 (5), single (0.04), int16 (4), false), P);

  % Blocks with one bright spot and nine dim ones: the dimmer the spots, the
  % lower the level that accepts them.  Adaptive mode lowers 0.01 four times,
  % down to 0.004096, which finds spots of 68 but not of 64.
  spots = zeros (50, 300, "uint8");
  dim = [84 80 76 72 68 64];
  for b = 0:5
    spots(6:8, 50 * b + (6:8)) = 255;
    for s = 0:8
      spots(16 + 10 * floor (s / 3) + (0:2), 50 * b + 16 + 10 * mod (s, 3) + (0:2)) = dim(b + 1);
    end
  end
  sname = fullfile (dir, "spots.png");
  imwrite (spots, sname);
  per_block = @(Q) accumarray (floor ((Q(1, :)' - 1) / 50) + 1, 1, [6 1])';
  off = gridcorners (sname, 2, 0.01, 10, 0);
  on = gridcorners (sname, 2, 0.01, 10, 1);
  assert (per_block (off), [10 1 1 1 1 1]);
  assert (per_block (on), [10 10 10 10 10 1]);
  assert (gridcorners (sname, 2, 0.01, 10, 1.7), on);
  assert (gridcorners (sname, 2, 0.01, 10, 2), off);
  assert (gridcorners (sname, 2, 0.0045, 10, 1), gridcorners (sname, 2, 0.0045, 10, 0));
  % 1-based image coordinates of the spot centres in the first block.
  assert (on(:, 1), [7; 7]);

  % An image without corners gives a 2 x 0 matrix.
  flat = fullfile (dir, "flat.png");
  imwrite (repmat (uint8 (90), 120, 130), flat);
  F = gridcorners (flat, 1, 0.01, 5, 1);
  assert (size (F), [2 0]);
  assert (isa (F, "double") && isreal (F));

  % Refusals.
  expect_error (@() gridcorners (name, 5, 0.04, 4), "gridcorners:nargin");
  expect_error (@() gridcorners (name, 5, 0.04, 4, 0, 0), "gridcorners:nargin");
  expect_error (@() two_results (name), "gridcorners:nargout");
  expect_error (@() gridcorners ({name}, 5, 0.04, 4, 0), "gridcorners:filename");
  expect_error (@() gridcorners ([name; name], 5, 0.04, 4, 0), "gridcorners:filename");
  expect_error (@() gridcorners ([name "\0x"], 5, 0.04, 4, 0), "gridcorners:filename");
  expect_error (@() gridcorners ([name repmat("x", 1, 1024 - numel (name))], 5, 0.04, 4, 0),
                "gridcorners:filenameLength");
  expect_error (@() gridcorners (fullfile (dir, "missing.png"), 5, 0.04, 4, 0), "gridcorners:fileNotFound");
  expect_error (@() gridcorners (dir, 5, 0.04, 4, 0), "gridcorners:fileNotFound");
  junk = fullfile (dir, "junk.png");
  fid = fopen (junk, "w");
  fputs (fid, "not an image");
  fclose (fid);
  try
    gridcorners (junk, 5, 0.04, 4, 0);
    error ("regmex:test", "an undecodable file was accepted");
  catch err
    assert (err.identifier, "gridcorners:imageRead");
    assert (! isempty (strfind (err.message, "junk.png")));
  end
  expect_error (@() gridcorners (name, -1, 0.04, 4, 0), "gridcorners:minDistance");
  expect_error (@() gridcorners (name, [1 2], 0.04, 4, 0), "gridcorners:minDistance");
  expect_error (@() gridcorners (name, 5, Inf, 4, 0), "gridcorners:quality");
  expect_error (@() gridcorners (name, 5, 0.04 + 1i, 4, 0), "gridcorners:quality");
  expect_error (@() gridcorners (name, 5, 0.04, 0, 0), "gridcorners:limit");
  expect_error (@() gridcorners (name, 5, 0.04, 2^31, 0), "gridcorners:limit");
  expect_error (@() gridcorners (name, 5, 0.04, 4, "on"), "gridcorners:adaptive");
  large = fullfile (dir, "large.png");
  imwrite (zeros (3700, 3700, "uint8"), large);
  expect_error (@() gridcorners (large, 5, 0.04, 2500, 0), "gridcorners:tooLarge");

  % Octave is still sound after the refusals.
  assert (gridcorners (name, 5, 0.04, 4, 0), P);

  % The help lists every identifier raised above.
  text = evalc ("help gridcorners");
  ids = {"nargin", "nargout", "filename", "filenameLength", "fileNotFound", "imageRead", ...
         "minDistance", "quality", "limit", "adaptive", "tooLarge", "opencv", "image", "outOfMemory"};
  for k = 1:numel (ids)
    assert (! isempty (strfind (text, ["gridcorners:" ids{k}])), ids{k});
  end
end

function two_results (name)
  [a, b] = gridcorners (name, 5, 0.04, 4, 0);
end

function remove_folder (dir)
  confirm_recursive_rmdir (false, "local");
  rmdir (dir, "s");
end
