function varargout = regmex_demo (varargin)
% REGMEX_DEMO  Registers a deforming surface end to end with all four plug-ins.
%
%   regmex_demo                  prints the report and writes figures to out/
%   R = regmex_demo('figures', false, 'quiet', true)   numbers only, as a struct
%   regmex_demo('outdir', FOLDER)                      figures elsewhere
%   regmex_demo('missing', 0.05)  leaves 5% of the dots out: see how far the
%                                 lattice alone carries their nodes
%
%   A photograph (data/camera.png) carries a printed lattice of small dark
%   dots.  The demo deforms it with a smooth thin-plate spline warp that it
%   keeps to itself, then works from the deformed picture alone:
%
%     1. tmatch      correlates a dot template over the deformed picture:
%                    the score map.
%     2. driftfield  moves every lattice node, starting from its reference
%                    position, onto the dots while keeping the lattice
%                    regular (a few message passes, coarse then fine).
%     3. tpsfit      fits spline coefficients to the tracked nodes, and
%        warpmatch   maps the deformed picture back (unwarping) and
%                    inverts the recovered warp at check points.
%     4. gridcorners finds well-spread natural corners in the reference
%                    picture: the check points.  Their true positions are
%                    known, so the demo reports how far the recovered warp
%                    puts them; tmatch and tmatchpeak confirm a few by
%                    local search, below a pixel.
%
%   warpmatch also makes the deformed picture and, by inverting the true
%   warp, the true position of every node and check point.
%
%   From the top of the source tree, with the MEX files ahead of the help
%   files on the path (make demo does exactly this):
%     addpath('octave'); addpath('build/mex'); regmex_demo

  opts = struct ('figures', true, 'quiet', false, 'seed', 7, 'missing', 0, ...
                 'outdir', fullfile (fileparts (fileparts (mfilename ("fullpath"))), "out"));
  for k = 1:2:numel (varargin)
    opts.(varargin{k}) = varargin{k + 1};
  end
  if (opts.quiet)
    say = @(varargin) [];
  else
    say = @printf;
  end
  timing = struct ('tmatch', [0 0], 'gridcorners', [0 0], 'warpmatch', [0 0], 'driftfield', [0 0], 'tpsregister', [0 0]);

  here = fileparts (mfilename ("fullpath"));
  photo = fullfile (fileparts (here), "data", "camera.png");
  if (! exist (photo, "file"))
    photo = file_in_loadpath ("camera.png");   % installed as a package
  end
  clean = double (imread (photo));
  [M, N] = size (clean);
  rand ("seed", opts.seed);
  randn ("seed", opts.seed);

  %% Reference: the photograph with a lattice of dots, spacing 32 pixels.
  spacing = 32;
  [gx, gy] = meshgrid (40:spacing:N - 39, 40:spacing:M - 39);   % 1-based x, y
  [LM, LN] = size (gx);
  % 'missing' leaves that fraction of the dots out, as where a print is
  % scuffed (off by default).
  printed = rand (LM * LN, 1) >= opts.missing;
  reference = draw_dots (clean, gx(printed), gy(printed));
  tpl = dot_template ();

  %% Check points: gridcorners on the clean photograph, away from the dots.
  t = tic ();
  corners = gridcorners (photo, 12, 0.01, 2, 1);
  timing = add_time (timing, "gridcorners", t);
  keep = all (corners >= 48 & corners <= [N; M] - 47, 1);
  dist2dots = min (hypot (corners(1, :) - gx(:), corners(2, :) - gy(:)), [], 1);
  keep &= dist2dots > 9;
  checks = corners(:, keep);
  checks = round (checks(:, 1:2:end));      % every other one is plenty
  C = columns (checks);

  %% Ground truth: a smooth warp from random displacements of 16 points.
  % T maps the deformed frame to the reference frame: deformed(p) =
  % reference(T(p)).  It is expressed as a spline on the lattice nodes and
  % check points, so that warpmatch can invert it there: the true deformed
  % positions.  warpmatch works in 0-based coordinates.
  [cx, cy] = meshgrid (linspace (0, N - 1, 4), linspace (0, M - 1, 4));
  shift = 7 * (2 * rand (numel (cx), 2) - 1);
  few = fit ([cx(:), cy(:)], [cx(:), cy(:)] + shift);
  nodes0 = [gx(:), gy(:)] - 1;
  points0 = [nodes0; checks' - 1];
  truth = fit (points0, tps_eval (few, points0));
  t = tic ();
  [~, pts, trueMapX, trueMapY, deformed] = quiet_warpmatch (truth, points0, points0, reference);
  timing = add_time (timing, "warpmatch", t);
  trueNodes = pts(1:LM * LN, :) + 1;             % 1-based, deformed frame
  trueChecks = pts(LM * LN + 1:end, :) + 1;
  % The maps meet the spline's values at its control points (all on whole
  % pixels) up to warpmatch's sampling of the spline.
  truthMiss = map_miss (trueMapX, trueMapY, points0, tps_eval (truth, points0));
  noiseDeformed = outside (trueMapX, trueMapY);

  %% Score map: the dot template correlated over the deformed picture.
  t = tic ();
  score = tmatch (deformed, -1, tpl);
  timing = add_time (timing, "tmatch", t);
  h = (rows (tpl) - 1) / 2;
  scoreMap = zeros (M, N);           % element (y, x): a dot centred at (x, y)
  scoreMap(h + 1:end - h, h + 1:end - h) = score;

  %% Lattice tracking with driftfield, from the reference positions.
  refCells = cell (LM, LN);
  for k = 1:LM * LN
    refCells{k} = [gx(k); gy(k)];
  end
  fixed = zeros (LM, LN);
  before = node_errors (refCells, trueNodes);
  % Passes of {mode, radius, pairWeight}: the first picks whole-pixel
  % offsets within 10 pixels (arg-max) with a loose lattice; later ones
  % tighten the lattice and refine below a pixel (weighted mean).
  % Each store multiplies the messages of a whole row or column at the same
  % offset, so a stiff lattice drags every node of a line towards a common
  % offset: it pays once the nodes are close.
  schedule = {1, 10, 0.5; 1, 4, 5; 0, 3, 5; 0, 3, 5};
  dataWeight = 12;
  positions = refCells;
  for pass = 1:rows (schedule)
    t = tic ();
    [~, positions] = driftfield (positions, refCells, 2, schedule{pass, 1}, schedule{pass, 3}, ...
                                 dataWeight, schedule{pass, 2}, scoreMap, 0, 1, fixed);
    timing = add_time (timing, "driftfield", t);
  end
  after = node_errors (positions, trueNodes);

  % The effect of mode and radius: one pass from the reference positions.
  variants = {1, 4, 0.5, "arg-max, radius 4"; 1, 10, 0.5, "arg-max, radius 10"; ...
              0, 10, 0.5, "weighted mean, radius 10"; 2, 10, 0.5, "mean shift, radius 10"; ...
              1, 10, 200, "arg-max, radius 10, pairWeight 200"};
  variantErr = zeros (rows (variants), 1);
  for v = 1:rows (variants)
    t = tic ();
    [~, P1] = driftfield (refCells, refCells, 2, variants{v, 1}, variants{v, 3}, dataWeight, ...
                          variants{v, 2}, scoreMap, 0, 1, fixed);
    timing = add_time (timing, "driftfield", t);
    variantErr(v) = median (node_errors (P1, trueNodes));
  end

  %% Warp recovery from the tracked nodes.
  tracked0 = cell2mat (positions(:)')' - 1;    % 0-based, deformed frame
  % Unwarping needs the map from the reference frame to the deformed one.
  back = fit (nodes0, tracked0);
  t = tic ();
  [~, ~, mapX, mapY, unwarped] = quiet_warpmatch (back, nodes0, tracked0, deformed);
  timing = add_time (timing, "warpmatch", t);
  backMiss = map_miss (mapX, mapY, nodes0, tracked0);
  noiseUnwarped = outside (mapX, mapY);
  % The check points through the recovered maps (they sit on whole pixels).
  idx = sub2ind ([M, N], checks(2, :), checks(1, :));
  mappedChecks = [mapX(idx); mapY(idx)]' + 1;
  mapErr = hypot (mappedChecks(:, 1) - trueChecks(:, 1), mappedChecks(:, 2) - trueChecks(:, 2));

  % Inversion of the recovered forward warp (deformed to reference) at the
  % check points: each search starts from the tracked node nearest to it.
  order = nearest_distinct (tracked0, checks' - 1);
  targets = nodes0(order, :);
  targets(1:C, :) = checks' - 1;
  forward = fit (tracked0(order, :), nodes0(order, :));
  t = tic ();
  [~, found] = quiet_warpmatch (forward, tracked0(order, :), targets, deformed);
  timing = add_time (timing, "warpmatch", t);
  invChecks = found(1:C, :) + 1;
  invErr = hypot (invChecks(:, 1) - trueChecks(:, 1), invChecks(:, 2) - trueChecks(:, 2));

  % tmatch and tmatchpeak confirm a few check points by local search
  % around the predicted position, below a pixel.
  confirm = min (5, C);
  confirmErr = zeros (confirm, 1);
  for k = 1:confirm
    q = checks(:, k);
    patch = reference(q(2) - 10:q(2) + 10, q(1) - 10:q(1) + 10);
    p = round (invChecks(k, :));
    region = [p(1) - 20, p(2) - 20, 41, 41];
    t = tic ();
    local = tmatch (deformed, region, patch);
    timing = add_time (timing, "tmatch", t);
    [px, py] = tmatchpeak (local, region, size (patch));
    at = [px, py] + 10;                % the patch's centre
    confirmErr(k) = hypot (at(1) - trueChecks(k, 1), at(2) - trueChecks(k, 2));
  end

  % The same pair registered in one call, from the pictures alone: no
  % lattice, no tracking.
  t = tic ();
  [oneX, oneY, ~, oneInfo] = tpsregister (reference, deformed);
  timing = add_time (timing, "tpsregister", t);
  oneErr = hypot (oneX(idx)' + 1 - trueChecks(:, 1), oneY(idx)' + 1 - trueChecks(:, 2));

  inner = false (M, N);
  inner(40:M - 39, 40:N - 39) = true;
  diffAfter = mean (abs (unwarped(inner) - reference(inner)));
  diffBeforeInner = mean (abs (deformed(inner) - reference(inner)));

  result = struct ("nodes", LM * LN, "checks", C, ...
                   "beforeMedian", median (before), "beforeP95", prctile95 (before), ...
                   "afterMedian", median (after), "afterP95", prctile95 (after), ...
                   "checkMedian", median (invErr), "checkP95", prctile95 (invErr), ...
                   "mapMedian", median (mapErr), "mapMax", max (mapErr), ...
                   "confirmMedian", median (confirmErr), "confirmMax", max (confirmErr), ...
                   "truthMissMedian", median (truthMiss), "truthMissMax", max (truthMiss), ...
                   "backMissMedian", median (backMiss), "backMissMax", max (backMiss), ...
                   "diffBefore", diffBeforeInner, "diffAfter", diffAfter, ...
                   "oneCallMedian", median (oneErr), "oneCallMax", max (oneErr), ...
                   "oneCallKept", oneInfo.summary.kept, ...
                   "variants", {variants(:, 4)}, "variantMedian", variantErr, "timing", timing);

  %% Report.
  say ("regmex demo: a %dx%d photograph with a %dx%d dot lattice, deformed by a smooth warp\n", ...
       M, N, LM, LN);
  say ("up to %.1f pixels (median %.1f).\n\n", max (before), median (before));
  row = @(label, e) say ("  %-46s %7.3f %8.3f %7.3f px\n", label, median (e), prctile95 (e), max (e));
  say ("  %-46s %7s %8s %7s\n", "", "median", "95th pct", "max");
  row (sprintf ("true maps at their control points (%d)", rows (points0)), truthMiss);
  row (sprintf ("node error before tracking (%d nodes)", LM * LN), before);
  row ("node error after tracking", after);
  row (sprintf ("recovered maps at their control points (%d)", rows (nodes0)), backMiss);
  row (sprintf ("check points, inverted warp (%d points)", C), invErr);
  row ("check points, through the recovered maps", mapErr);
  row (sprintf ("check points found by tmatch, tmatchpeak (%d)", confirm), confirmErr);
  row ("check points, one call of tpsregister", oneErr);
  say ("  %-46s %7.1f -> %.1f grey levels\n", "mean |reference - picture|, inner area", ...
       diffBeforeInner, diffAfter);
  say ("\n  one driftfield pass from the reference positions (pairWeight 0.5 unless\n  given), median node error:\n");
  for v = 1:rows (variants)
    say ("    %-36s %6.2f px\n", variants{v, 4}, variantErr(v));
  end
  say ("\n  %-12s %6s %10s\n", "plug-in", "calls", "ms/call");
  for name = fieldnames (timing)'
    tm = timing.(name{1});
    say ("  %-12s %6d %10.1f\n", name{1}, tm(2), 1000 * tm(1) / max (tm(2), 1));
  end

  if (nargout > 0)
    varargout{1} = result;
  end

  if (opts.figures)
    outdir = opts.outdir;
    if (! exist (outdir, "dir"))
      mkdir (outdir);
    end
    write_figures (outdir, deformed, reference, unwarped, scoreMap, clean, corners, checks, ...
                   refCells, positions, trueNodes, LM, LN, noiseDeformed, noiseUnwarped, result);
    say ("\nfigures written to %s\n", outdir);
  end
end

function timing = add_time (timing, name, t)
  timing.(name) += [toc(t), 1];
end

function img = draw_dots (img, x, y)
  % A dark dot with a light ring, blended into the picture.
  [M, N] = size (img);
  for k = 1:numel (x)
    [px, py] = meshgrid (max (1, floor (x(k)) - 7):min (N, floor (x(k)) + 8), ...
                         max (1, floor (y(k)) - 7):min (M, floor (y(k)) + 8));
    d = hypot (px - x(k), py - y(k));
    [value, alpha] = dot_profile (d);
    lin = sub2ind ([M, N], py, px);
    img(lin) = (1 - alpha) .* img(lin) + alpha .* value;
  end
end

function [value, alpha] = dot_profile (d)
  value = 25 + 205 ./ (1 + exp (-(d - 2.6) * 3));
  alpha = 1 ./ (1 + exp ((d - 5) * 3));
end

function tpl = dot_template ()
  [px, py] = meshgrid (-5:5, -5:5);
  [value, alpha] = dot_profile (hypot (px, py));
  tpl = alpha .* value + (1 - alpha) * 128;
end

function s = fit (ctrl, values)
  % The spline through values at ctrl (K x 2, 0-based), with its points.
  [coefX, coefY] = tpsfit (ctrl(:, 1), ctrl(:, 2), values(:, 1), values(:, 2));
  s = struct ("ctrl", ctrl, "coefX", coefX, "coefY", coefY);
end

function e = map_miss (mapX, mapY, at, values)
  % Distance between the maps at whole-pixel positions at (0-based) and
  % the values the spline takes there.
  idx = sub2ind (size (mapX), at(:, 2) + 1, at(:, 1) + 1);
  e = hypot (mapX(idx) - values(:, 1), mapY(idx) - values(:, 2));
end

function mask = outside (mapX, mapY)
  % The pixels whose sample lies outside the source: warpmatch fills them
  % with noise.
  [M, N] = size (mapX);
  mask = mapX < 0 | mapX > N - 1 | mapY < 0 | mapY > M - 1;
end

function v = tps_eval (s, p)
  d = (p(:, 1) - s.ctrl(:, 1)') .^ 2 + (p(:, 2) - s.ctrl(:, 2)') .^ 2;
  B = [d .* log(d + 2.2204e-16), ones(rows (p), 1), p];
  v = [B * s.coefX, B * s.coefY];
end

function [console, pts, mapX, mapY, warped] = quiet_warpmatch (s, starts, targets, image)
  % warpmatch prints its worker threads' progress; keep the report tidy.
  % The starts must be the spline's control points.
  assert (isequal (starts, s.ctrl));
  [console, pts, mapX, mapY, warped] = evalc_warpmatch (s, targets, image);
end

function [console, pts, mapX, mapY, warped] = evalc_warpmatch (s, targets, image)
  console = evalc ("[pts, mapX, mapY, warped] = warpmatch (s.coefX, s.coefY, s.ctrl(:, 1), s.ctrl(:, 2), targets(:, 1), targets(:, 2), [], [], image);");
end

function e = node_errors (cells, truth)
  P = cell2mat (cells(:)')';
  e = hypot (P(:, 1) - truth(:, 1), P(:, 2) - truth(:, 2));
end

function v = prctile95 (x)
  x = sort (x(:));
  v = x(max (1, ceil (0.95 * numel (x))));
end

function order = nearest_distinct (nodes, points)
  % A permutation of the nodes whose first entries are, for each point in
  % turn, the nearest node not taken yet.
  free = true (rows (nodes), 1);
  first = zeros (rows (points), 1);
  for k = 1:rows (points)
    d = hypot (nodes(:, 1) - points(k, 1), nodes(:, 2) - points(k, 2));
    d(! free) = Inf;
    [~, first(k)] = min (d);
    free(first(k)) = false;
  end
  order = [first; find(free)];
end

function write_figures (outdir, deformed, reference, unwarped, scoreMap, clean, corners, checks, ...
                        refCells, positions, trueNodes, LM, LN, noiseDeformed, noiseUnwarped, r)
  % gnuplot renders without a display; Octave warns that it is not its
  % favourite toolkit.  Axes, colour bars and legends are placed by hand
  % (figure units) so that no title or label is clipped; "\\n" breaks a
  % title in gnuplot.
  state = warning ("off", "all");
  restore = onCleanup (@() warning (state));
  graphics_toolkit ("gnuplot");
  R = cell2mat (refCells(:)')';
  P = cell2mat (positions(:)')';
  noiseLabel = "magenta: noise fill (samples from outside the picture)";

  f = figure ("visible", "off", "position", [0 0 1200 720]);
  panels = {R, "r", "reference positions", ...
            sprintf("Before tracking: the lattice at its reference positions (red)\\nmedian %.2f px from the true node positions (yellow)", r.beforeMedian);
            P, "g", "tracked positions", ...
            sprintf("After tracking with driftfield (green)\\nmedian %.2f px from the true node positions (yellow)", r.afterMedian)};
  for k = 1:2
    ax = subplot (1, 2, k);
    show_grey (deformed, [0 255], noiseDeformed);
    h = show_lattice (panels{k, 1}, LM, LN, panels{k, 2});
    h(2) = plot (trueNodes(:, 1), trueNodes(:, 2), "y.", "markersize", 6);
    h(3) = noise_key ();
    title (panels{k, 4});
    hl = legend (h, {panels{k, 3}, "true node positions", noiseLabel}, "location", "southoutside");
    set (ax, "position", [0.06 + 0.5 * (k - 1), 0.19, 0.40, 0.68]);
    set (hl, "position", [0.09 + 0.5 * (k - 1), 0.02, 0.34, 0.08]);
  end
  print (f, "-dpngcairo", "-r90", fullfile (outdir, "lattice.png"));
  close (f);

  f = figure ("visible", "off", "position", [0 0 720 620]);
  imagesc (scoreMap, [-1 1]);
  axis image;
  colormap (gray (256));
  label_axes ();
  title ("tmatch score map: the 11x11 dot template over the deformed\\npicture, at each dot centre (0 in the 5-pixel border)");
  set (gca (), "position", [0.10 0.08 0.68 0.76]);
  cb = colorbar ();
  ylabel (cb, "normalised correlation coefficient");
  print (f, "-dpngcairo", "-r90", fullfile (outdir, "score_map.png"));
  close (f);

  f = figure ("visible", "off", "position", [0 0 700 780]);
  imagesc (clean, [0 255]);
  axis image;
  colormap (gray (256));
  hold on;
  for b = 50:50:rows (clean)
    plot ([0.5 columns(clean) + 0.5], [b b] + 0.5, "c-");
  end
  for b = 50:50:columns (clean)
    plot ([b b] + 0.5, [0.5 rows(clean) + 0.5], "c-");
  end
  h = plot (corners(1, :), corners(2, :), "r+", "markersize", 5);
  h(2) = plot (checks(1, :), checks(2, :), "go", "markersize", 7);
  label_axes ();
  title (sprintf("gridcorners: %d corners, at most 2 per 50x50 block (cyan grid),\\non the photograph before the dots were printed", columns (corners)));
  hl = legend (h, {"corners", sprintf("the %d check points that judge the recovered warp", columns (checks))}, ...
               "location", "southoutside");
  set (gca (), "position", [0.12 0.15 0.80 0.72]);
  set (hl, "position", [0.18 0.02 0.64 0.06]);
  print (f, "-dpngcairo", "-r90", fullfile (outdir, "corners.png"));
  close (f);

  f = figure ("visible", "off", "position", [0 0 1300 600]);
  panels = {abs(deformed - reference), noiseDeformed, ...
            sprintf("|reference - deformed picture|\\nmean %.1f grey levels in the inner area", r.diffBefore);
            abs(unwarped - reference), noiseUnwarped, ...
            sprintf("|reference - picture unwarped by warpmatch|\\nmean %.1f grey levels in the inner area", r.diffAfter)};
  for k = 1:2
    ax = subplot (1, 2, k);
    show_grey (panels{k, 1}, [0 128], panels{k, 2});
    title (panels{k, 3});
    set (ax, "position", [0.05 + 0.5 * (k - 1), 0.10, 0.36, 0.74]);
    cb = colorbar ();
    ylabel (cb, "|difference|, grey levels (magenta: noise fill)");
  end
  print (f, "-dpngcairo", "-r90", fullfile (outdir, "difference.png"));
  close (f);
end

function show_grey (img, clim, noise)
  % A grey image whose noise-filled pixels show in magenta: one colour past
  % the top of the grey scale.
  step = (clim(2) - clim(1)) / 256;
  v = min (max (img, clim(1)), clim(2) - step / 2);
  v(noise) = clim(2) + step / 2;
  imagesc (v, [clim(1), clim(2) + step]);
  axis image;
  colormap ([gray(256); 1 0 1]);
  hold on;
  label_axes ();
end

function h = noise_key ()
  % A legend entry for the magenta noise fill (a marker off the picture).
  lim = axis ();
  h = plot (lim(1) - 10, lim(3) - 10, "s", "color", [1 0 1], "markerfacecolor", [1 0 1], "markersize", 8);
  axis (lim);
end

function label_axes ()
  xlabel ("x, column (pixels)");
  ylabel ("y, row (pixels)");
end

function h = show_lattice (P, LM, LN, colour)
  X = reshape (P(:, 1), LM, LN);
  Y = reshape (P(:, 2), LM, LN);
  plot (X, Y, [colour "-"], X', Y', [colour "-"]);
  h = plot (P(:, 1), P(:, 2), [colour "o"], "markersize", 4);
end
