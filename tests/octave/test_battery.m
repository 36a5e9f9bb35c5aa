function test_battery ()
  % The wrong calls MATLAB users really make, for every plug-in: each must
  % raise the plug-in's own error identifier, and a valid call right after
  % it must still give the right answer (Octave survived the refusal).
  dir = tempname ();
  mkdir (dir);
  cleanup = onCleanup (@() remove_folder (dir));
  battery_tmatch ();
  battery_gridcorners (dir);
  battery_warpmatch ();
  battery_driftfield ();
end

function refuse (fn, id, still_ok)
  expect_error (fn, id);
  still_ok ();
end

function battery_tmatch ()
  img = zeros (30, 40);
  img(11:15, 21:25) = 200;   % a bright square at rows 11..15, columns 21..25
  tpl = zeros (9, 9);
  tpl(3:7, 3:7) = 200;
  ok = @() check_tmatch (img, tpl);
  ok ();
  refuse (@() tmatch (img), "tmatch:nargin", ok);
  refuse (@() tmatch (img, -1), "tmatch:nargin", ok);
  refuse (@() tmatch (img, -1, tpl, 42), "tmatch:nargin", ok);
  refuse (@() two_results (@tmatch, img, -1, tpl), "tmatch:nargout", ok);
  refuse (@() tmatch (repmat (img, [1 1 3]), -1, tpl), "tmatch:image", ok);       % colour image
  refuse (@() tmatch ({img}, -1, tpl), "tmatch:image", ok);                       % cell
  refuse (@() tmatch (struct ("cdata", img), -1, tpl), "tmatch:image", ok);       % struct
  refuse (@() tmatch ("search.png", -1, tpl), "tmatch:image", ok);                % a file name
  refuse (@() tmatch (img + 1i, -1, tpl), "tmatch:image", ok);                    % complex
  refuse (@() tmatch ([], -1, tpl), "tmatch:image", ok);
  refuse (@() tmatch (img, -1, {tpl}), "tmatch:template", ok);
  refuse (@() tmatch (img, -1, uint8 (cat (3, tpl, tpl, tpl))), "tmatch:template", ok);
  refuse (@() tmatch (img, [41 1 5 5], tpl), "tmatch:region", ok);                % right of the image
  refuse (@() tmatch (img, [0 0 10 10], tpl), "tmatch:region", ok);               % 0-based corner
  refuse (@() tmatch (img, [1 1 10], tpl), "tmatch:region", ok);                  % three values
  refuse (@() tmatch (img, [1 NaN 10 10], tpl), "tmatch:region", ok);
  refuse (@() tmatch (img, {1, 1, 10, 10}, tpl), "tmatch:region", ok);            % cell region
  refuse (@() tmatch (img, [1 1 8 8], tpl), "tmatch:templateSize", ok);           % region smaller than template
  refuse (@() tmatch (tpl(1:5, :), -1, tpl), "tmatch:templateSize", ok);
  % A uint8 image (as imread gives it) and a column region are fine.
  assert (tmatch (uint8 (img), [1; 1; 40; 30], uint8 (tpl)), tmatch (img, -1, tpl), 1e-6);
end

function check_tmatch (img, tpl)
  C = tmatch (img, -1, tpl);
  assert (size (C), [22 32]);
  [best, k] = max (C(:));
  [r, c] = ind2sub (size (C), k);
  assert ([r c], [9 19]);     % template corner over the square's corner - 2
  assert (best, 1, 1e-6);
end

function battery_gridcorners (dir)
  board = uint8 (255 * mod (floor ((0:99)' / 25) + floor ((0:99) / 25), 2));
  name = fullfile (dir, "board.png");
  imwrite (board, name);
  % The two inner crossings seen per block, one per 50x50 block.
  expected = [26 76 26 76; 26 26 76 76];
  ok = @() assert (gridcorners (name, 5, 0.04, 4, 0), expected);
  ok ();
  refuse (@() gridcorners (name), "gridcorners:nargin", ok);
  refuse (@() gridcorners (name, 5, 0.04, 4), "gridcorners:nargin", ok);
  refuse (@() two_results (@gridcorners, name, 5, 0.04, 4, 0), "gridcorners:nargout", ok);
  assert (gridcorners (board, 5, 0.04, 4, 0), expected);                           % the image, not its file
  refuse (@() gridcorners (cat (3, board, board, board), 5, 0.04, 4, 0), "gridcorners:image", ok);  % colour
  refuse (@() gridcorners (zeros (0, 3), 5, 0.04, 4, 0), "gridcorners:image", ok);
  refuse (@() gridcorners ({name}, 5, 0.04, 4, 0), "gridcorners:filename", ok);   % cell
  refuse (@() gridcorners (struct ("name", name), 5, 0.04, 4, 0), "gridcorners:filename", ok);
  refuse (@() gridcorners (name', 5, 0.04, 4, 0), "gridcorners:filename", ok);    % a column of characters
  refuse (@() gridcorners ("", 5, 0.04, 4, 0), "gridcorners:filename", ok);
  refuse (@() gridcorners (fullfile (dir, "Board.png"), 5, 0.04, 4, 0), "gridcorners:fileNotFound", ok);
  refuse (@() gridcorners (dir, 5, 0.04, 4, 0), "gridcorners:fileNotFound", ok);  % a folder
  text = fullfile (dir, "notes.txt");
  fid = fopen (text, "w");
  fputs (fid, "corners: 4\n");
  fclose (fid);
  refuse (@() gridcorners (text, 5, 0.04, 4, 0), "gridcorners:imageRead", ok);
  refuse (@() gridcorners (name, 5, 0.04, 4, "yes"), "gridcorners:adaptive", ok);
  refuse (@() gridcorners (name, "5", 0.04, 4, 0), "gridcorners:minDistance", ok);
  refuse (@() gridcorners (name, [5 5], 0.04, 4, 0), "gridcorners:minDistance", ok);
  refuse (@() gridcorners (name, 5, 0.04 + 0.01i, 4, 0), "gridcorners:quality", ok);
  refuse (@() gridcorners (name, 5, 0, 4, 0), "gridcorners:quality", ok);
  refuse (@() gridcorners (name, 5, {0.04}, 4, 0), "gridcorners:quality", ok);
  refuse (@() gridcorners (name, 5, 0.04, 0.5, 0), "gridcorners:limit", ok);
  refuse (@() gridcorners (name, 5, 0.04, Inf, 0), "gridcorners:limit", ok);
  refuse (@() gridcorners (name, 5, 0.04, [], 0), "gridcorners:limit", ok);
  % A colour file and integer-class options are fine.
  rgb = fullfile (dir, "board_rgb.png");
  imwrite (cat (3, board, board, board), rgb);
  assert (gridcorners (rgb, uint8 (5), single (0.04), int32 (4), false), expected);
end

function battery_warpmatch ()
  img = repmat ((0:39) * 5, 30, 1);   % 30 x 40, brightness grows to the right
  ctrlX = [10; 20]; ctrlY = [12; 15];
  coefX = [0; 0; 3; 1; 0];            % Tx = x + 3
  coefY = [0; 0; -2; 0; 1];           % Ty = y - 2
  targetX = [13; 23]; targetY = [10; 13];
  args = {coefX, coefY, ctrlX, ctrlY, targetX, targetY, [], [], img};
  ok = @() check_warpmatch (args);
  ok ();
  bad = @(k, v) warpmatch (args{1:k-1}, v, args{k+1:end});
  refuse (@() warpmatch (args{1:8}), "warpmatch:nargin", ok);
  refuse (@() warpmatch (args{:}, 0), "warpmatch:nargin", ok);
  refuse (@() five_results (args), "warpmatch:nargout", ok);
  refuse (@() bad (9, repmat (img, [1 1 3])), "warpmatch:image", ok);         % colour image
  refuse (@() bad (9, {img}), "warpmatch:image", ok);
  refuse (@() bad (9, "photo.png"), "warpmatch:image", ok);
  refuse (@() bad (9, img(1:4, 1:4)), "warpmatch:image", ok);
  refuse (@() bad (9, complex (img)), "warpmatch:image", ok);
  refuse (@() bad (3, ctrlX'), "warpmatch:ctrlX", ok);                         % a row of points
  refuse (@() bad (3, {10; 20}), "warpmatch:ctrlX", ok);
  refuse (@() bad (1, coefX(1:4)), "warpmatch:coefX", ok);                     % a0, ax, ay missing one
  refuse (@() bad (1, coefX + 1i), "warpmatch:coefX", ok);
  refuse (@() bad (2, struct ("w", coefY)), "warpmatch:coefY", ok);
  refuse (@() bad (4, 12), "warpmatch:ctrlY", ok);                             % one y for two points
  refuse (@() bad (5, {13, 23}), "warpmatch:targetX", ok);
  refuse (@() bad (6, "10"), "warpmatch:targetY", ok);
  many = zeros (10001, 1);                                                      % every pixel a control point
  refuse (@() warpmatch ([many; 0; 1; 0], [many; 0; 0; 1], many, many, many, many, [], [], img),
          "warpmatch:tooManyPoints", ok);
  refuse (@() warpmatch (args{1:6}, zeros (30, 40), [], img), "warpmatch:prevY", ok);
  refuse (@() warpmatch (args{1:6}, zeros (20, 40), zeros (20, 40), img), "warpmatch:prevX", ok);
  refuse (@() warpmatch (args{1:6}, {[]}, {[]}, img), "warpmatch:prevX", ok);
  refuse (@() warpmatch (args{1:6}, zeros (30, 40), zeros (31, 40), img), "warpmatch:prevY", ok);
  % uint8 image, single coefficients and row-shaped ctrlY/targets are fine.
  evalc ("[p8, mx8] = warpmatch (single (coefX), coefY, ctrlX, ctrlY', targetX', targetY, [], [], uint8 (img));");
  evalc ("[p, mx] = warpmatch (args{:});");
  assert (p8, p, 1e-9);
  assert (mx8, mx, 1e-5);
end

function check_warpmatch (args)
  % evalc keeps the workers' console lines out of the test log.
  evalc ("[pts, mapX, mapY, warped] = warpmatch (args{:});");
  assert (pts, [10 12; 20 15], 1e-6);            % T(pts) = targets
  assert (size (mapX), [30 40]);
  % The maps are interpolated from a coarse grid: close, not exact.
  assert (mapX(5, 7), 6 + 3, 0.1);               % x = 6 samples x + 3
  assert (mapY(5, 7), 4 - 2, 0.1);
  assert (warped(5, 7), 5 * mapX(5, 7), 0.2);    % 5 per column, 1/32-pixel steps
end

function battery_driftfield ()
  % A 3x3 lattice 10 pixels apart whose map peaks one pixel right of and
  % below each node; the centre node is fixed.
  ref = cell (3, 3);
  for r = 1:3
    for c = 1:3
      ref{r, c} = [10 * c; 10 * r];
    end
  end
  map = zeros (40, 40);
  map(11:10:31, 11:10:31) = 1;
  fixed = zeros (3, 3);
  fixed(2, 2) = 1;
  args = {ref, ref, 1, 1, 1, 5, 2.5, map, 0, 1, fixed};
  ok = @() check_driftfield (args);
  ok ();
  bad = @(k, v) driftfield (args{1:k-1}, v, args{k+1:end});
  refuse (@() driftfield (args{1:10}), "driftfield:nargin", ok);
  refuse (@() three_results (args), "driftfield:nargout", ok);
  refuse (@() bad (1, cell2mat (ref)), "driftfield:positions", ok);       % a matrix, not cells
  refuse (@() bad (1, struct ("x", 10, "y", 10)), "driftfield:positions", ok);
  refuse (@() bad (1, subsasgn (ref, substruct ("{}", {1, 1}), "p1")), "driftfield:positions", ok);
  refuse (@() bad (1, subsasgn (ref, substruct ("{}", {1, 1}), 10)), "driftfield:positions", ok);
  refuse (@() bad (2, ref(1:2, :)), "driftfield:reference", ok);          % wrong shape
  refuse (@() bad (2, ref(:)), "driftfield:reference", ok);
  refuse (@() bad (2, subsasgn (ref, substruct ("{}", {1, 2}), [10; 10])), "driftfield:sameReference", ok);
  refuse (@() bad (4, "max"), "driftfield:mode", ok);
  refuse (@() bad (4, NaN), "driftfield:mode", ok);
  refuse (@() bad (5, -1), "driftfield:pairWeight", ok);
  refuse (@() bad (5, 1 + 1i), "driftfield:pairWeight", ok);
  refuse (@() bad (6, [5 5]), "driftfield:dataWeight", ok);
  refuse (@() bad (7, 0), "driftfield:radius", ok);
  refuse (@() bad (7, -2), "driftfield:radius", ok);
  refuse (@() bad (7, Inf), "driftfield:radius", ok);
  refuse (@() bad (7, 1e6), "driftfield:tooLarge", ok);
  refuse (@() bad (8, repmat (map, [1 1 3])), "driftfield:scoreMap", ok);   % colour map
  refuse (@() bad (8, {map}), "driftfield:scoreMap", ok);
  refuse (@() bad (9, "no"), "driftfield:skipEval", ok);
  refuse (@() driftfield (ref, ref, 1, 2, 1, 5, 2.5, map, 0, 0, fixed), "driftfield:bandwidth", ok);
  refuse (@() driftfield (ref, ref, NaN, 2, 1, 5, 2.5, map, 0, 1, fixed), "driftfield:windowHalf", ok);
  refuse (@() bad (11, fixed(:)'), "driftfield:fixedMask", ok);           % a row, not 3x3
  refuse (@() bad (11, {fixed}), "driftfield:fixedMask", ok);
  % Row positions, a uint8 map and a logical mask are fine.
  rows = cellfun (@(p) p', ref, "UniformOutput", false);
  [S, P] = driftfield (rows, ref, 1, 1, 1, 5, 2.5, uint8 (map), 0, 1, logical (fixed));
  [S0, P0] = driftfield (args{:});
  assert (S, S0, 1e-12);
  assert (P{1, 1}, P0{1, 1});
  assert (P{2, 2}, rows{2, 2});        % the fixed node keeps its own cell
end

function check_driftfield (args)
  [S, P] = driftfield (args{:});
  assert (size (S), [3 3]);
  assert (P{1, 1}, [11; 11]);
  assert (P{3, 2}, [21; 31]);
  assert (P{2, 2}, [20; 20]);
  assert (S(2, 2), 0);
  assert (all (S([1:4 6:9]) > 0.5));
end

function two_results (fn, varargin)
  [a, b] = fn (varargin{:});
end

function five_results (args)
  [a, b, c, d, e] = warpmatch (args{:});
end

function three_results (args)
  [a, b, c] = driftfield (args{:});
end

function remove_folder (dir)
  confirm_recursive_rmdir (false, "local");
  rmdir (dir, "s");
end
