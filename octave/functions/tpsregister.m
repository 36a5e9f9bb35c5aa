function [mapX, mapY, registered, info] = tpsregister (ref, mov, varargin)
% TPSREGISTER  Registers a deformed picture onto a reference in one call.
%
%   [MAPX, MAPY, REGISTERED, INFO] = tpsregister(REF, MOV)
%   [...] = tpsregister(REF, MOV, 'Name', value, ...)
%
%   Finds the smooth warp that takes each pixel of REF to where the same
%   scene point lies in MOV, as a thin-plate spline, and resamples MOV
%   onto REF's frame through it.  REF and MOV are 2-D grey images of any
%   real numeric class; their sizes may differ.
%
%   How: both images are reduced by halving (a Gaussian pyramid) until the
%   largest displacement expected is a few pixels.  At the coarsest level
%   patches found within that reach give a global affine map (a shift
%   with a few degrees of rotation is found there).  Then, level by level
%   down to full resolution, MOV is resampled through the current warp and
%   patches of REF around corner points (structure in two directions, the
%   best one per block, spread over the frame) are found in it by
%   normalised cross-correlation, which ignores gain and offset, refined
%   below a pixel; a spline fitted through the matches is the next warp.
%   Matches that the spline cannot pass through without bending (a large
%   leave-one-out residual), weak or ambiguous peaks are dropped.  At full
%   resolution this runs twice.  The patch matching is the patchmatch
%   plug-in, on every core.
%
%   Options (name, value; names are not case-sensitive)
%     'MaxDisplacement'  the largest displacement to expect, in pixels, a
%                        value > 0; default a quarter of REF's smaller side
%     'Spacing'          block size in pixels for the control points, one
%                        point per block at most, an integer 4..1000;
%                        default from REF's size (about 700 blocks, 8 to 24
%                        pixels)
%     'PatchSize'        side of the square patches matched at full
%                        resolution, an odd integer 5..101; default 17,
%                        13 when REF's smaller side is below 200
%     'Smoothing'        the spline's smoothing, a value >= 0, as tpsfit's
%                        (0 interpolates its nodes' least-squares fit), or
%                        [] (the default) to choose it from the matches by
%                        generalised cross-validation
%     'MinScore'         the lowest correlation peak accepted, -1..1;
%                        default 0.6
%
%   Results
%     MAPX, MAPY   REF's size: for every pixel of REF, the x (column) and y
%                  (row) in MOV where it lies, 0-based (warpmatch's
%                  convention: they compose with warpmatch as PREVX, PREVY)
%     REGISTERED   MOV resampled onto REF's frame through MAPX, MAPY
%                  (bicubic; beyond MOV's edges its nearest edge pixel)
%     INFO         a struct:
%       points     2 x K control points of REF (x; y), 0-based
%       matches    2 x K where each was found in MOV (NaN: no match)
%       score      1 x K correlation peak; second: 1 x K best score two or
%                  more pixels from the peak
%       kept       1 x K logical: used by the spline
%       dropped    1 x K cell of reasons: '' (kept), 'no match',
%                  'low score', 'not distinctive', 'outlier', 'too few'
%                  (fewer than 10 left: no spline was fitted)
%       residual   1 x K leave-one-out residual in pixels: how far the
%                  spline fitted without the point misses it
%       ctrl, coefX, coefY  the spline (warpmatch's layout; ctrl 2 x n
%                  nodes, coefficients (n+3) x 1 each)
%       smoothing  the smoothing used; levels: pyramid levels used
%       summary    struct: kept (points), candidates (points matched),
%                  medianResidual (px), medianScore, confident (logical)
%     When fewer than 20 points or half of the matched ones survive, or
%     their median residual exceeds 0.5 px, the registration is not
%     confident: summary.confident is false and a warning with the
%     identifier tpsregister:unreliable is raised (two unrelated pictures
%     end there).
%
%   Errors (identifiers)
%     tpsregister:nargin           fewer than two arguments, an option
%                                  without its value, or more than four
%                                  results
%     tpsregister:ref              REF not a real 2-D numeric image of at
%                                  least 32 x 32 pixels with finite values
%     tpsregister:mov              the same for MOV
%     tpsregister:option           an option name that is not text or not
%                                  one of the above
%     tpsregister:maxDisplacement  MaxDisplacement not a finite value > 0
%     tpsregister:spacing          Spacing not an integer 4..1000
%     tpsregister:patchSize        PatchSize not an odd integer 5..101
%     tpsregister:smoothing        Smoothing neither [] nor a finite value
%                                  >= 0
%     tpsregister:minScore         MinScore not a value from -1 to 1
%   and patchmatch:interrupted when Ctrl-C stops the matching.
%
%   Example
%     ref = double(imread('camera.png'));
%     mov = ref([4:end, 1:3], :) * 1.2 + 10;     % moved up 3 px, brighter
%     [mapX, mapY, reg, info] = tpsregister(ref, mov);
%     median(mapY(:) - (0:511)')                 % about -3
%     info.summary
%
%   See also patchmatch, tpsfit, warpmatch.

  if (nargin < 2 || nargout > 4 || mod (numel (varargin), 2) ~= 0)
    error ('tpsregister:nargin', ...
           'tpsregister: expected REF, MOV and name/value pairs, at most 4 results; got %d arguments and %d results', ...
           nargin, nargout);
  end
  ref = image_arg (ref, 'ref', 1);
  mov = image_arg (mov, 'mov', 2);
  [M, N] = size (ref);
  opt = options (varargin, M, N);

  half = (opt.patchSize - 1) / 2;
  I = [0 0; 1 0; 0 1];
  ctrl = zeros (2, 0);
  coef = I;
  % Coarsest level: the expected displacement within a search of ~12
  % level pixels, the frame still 32 pixels or more across.
  side = min (M, N);
  L = 0;
  while (opt.maxDisplacement / 2 ^ L > 12 && side / 2 ^ (L + 1) >= 32)
    L = L + 1;
  end
  info = struct ();
  info.levels = L:-1:0;

  % Global step: patches of the coarsest level, searched within the whole
  % expected displacement, give an affine map.
  hL = level_half (half, side, L);
  reach = ceil (opt.maxDisplacement / 2 ^ L) + 1;
  [F, Q, P] = patchmatch (ref, mov, level_cell (opt.spacing, side, L), ctrl, coef, L, hL, reach);
  good = isfinite (F(1, :)) & Q(1, :) >= opt.minScore;
  coef = robust_affine (P(:, good), F(:, good), 2 ^ L);

  % Coarse to fine: each level starts from the warp of the level above.
  % The search radius (level pixels) covers what the level above could
  % not resolve; the second full-resolution pass only refines.
  passes = [L:-1:0, 0];
  radius = [6 * ones(1, L), 4, 2];
  for k = 1:numel (passes)
    l = passes(k);
    if (l > 0)
      [F, Q, P] = patchmatch (ref, mov, level_cell (opt.spacing, side, l), ctrl, coef, l, ...
                              level_half (half, side, l), radius(k));
    elseif (k == numel (passes) - 1)
      [F, Q, P] = patchmatch (ref, mov, opt.spacing, ctrl, coef, 0, half, radius(k));
    else
      [F, Q] = patchmatch (ref, mov, P, ctrl, coef, 0, half, radius(k));
    end
    smoothing = opt.smoothing;
    if (isempty (smoothing) && l > 0)
      smoothing = 1e-3;     % coarse levels: the choice matters little
    end
    [fit, kept, reason, residual] = fit_matches (P, F, Q, opt.minScore, level_cell (opt.spacing, side, l), ...
                                                 smoothing, 2 ^ l);
    if (~isempty (fit))
      ctrl = fit.ctrl;
      coef = [fit.coefX, fit.coefY];
    end
  end
  [~, ~, ~, mapX, mapY, registered] = patchmatch (ref, mov, zeros (2, 0), ctrl, coef, 0, half, 1);

  info.points = P;
  info.matches = F;
  info.score = Q(1, :);
  info.second = Q(2, :);
  info.kept = kept;
  info.dropped = reason;
  info.residual = residual;
  info.ctrl = ctrl;
  info.coefX = coef(:, 1);
  info.coefY = coef(:, 2);
  info.smoothing = NaN;
  if (~isempty (fit))
    info.smoothing = fit.smoothing;
  end
  matched = isfinite (F(1, :));
  s.kept = nnz (kept);
  s.candidates = nnz (matched);
  s.medianResidual = Inf;
  if (s.kept > 0)
    s.medianResidual = median (residual(kept));
  end
  s.medianScore = NaN;
  if (s.candidates > 0)
    s.medianScore = median (Q(1, matched));
  end
  s.confident = s.kept >= 20 && s.kept >= 0.5 * s.candidates && s.medianResidual <= 0.5;
  info.summary = s;
  if (~s.confident)
    warning ('tpsregister:unreliable', ...
             'tpsregister: not a confident registration: %d of %d matched points kept, median residual %.3g px', ...
             s.kept, s.candidates, s.medianResidual);
  end
end

% Template half-size at level l: smaller at coarse levels, where a pixel
% holds more of the scene, and on small frames, leaving room to search.
function h = level_half (half, side, l)
  h = max (3, min ([half, floor(half / 2 ^ (l / 2)) + 1, floor(side / 2 ^ l / 6)]));
end

% Block size for the points of level l: coarser levels need fewer points,
% but at least some 36 blocks over the frame.
function c = level_cell (spacing, side, l)
  c = max (spacing, min (spacing * 2 ^ l, floor (side / 6)));
end

% The spline's nodes: of the points P, the one nearest the centre of each
% block of a grid about three point blocks wide.  Nodes where there are
% matches keep the spline's bending where the data hold it; where there
% are none (sky, frame edges) it extends smoothly.
function nodes = nodes_for (P, spacing)
  step = max (2.5 * spacing, 8);
  cell = floor (P / step);
  centre = (cell + 0.5) * step;
  d = sum ((P - centre) .^ 2, 1);
  [~, order] = sortrows ([cell', d']);
  first = [true, any(diff (cell(:, order), 1, 2) ~= 0, 1)];
  nodes = P(:, order(first));
  if (size (nodes, 2) < 6)
    nodes = zeros (2, 0);   % too few to bend: an affine map
  end
end

% Affine map (warpmatch's coefficient layout, 3 x 2) through matches,
% refitted without those far off; the median shift when too few agree, no
% change when nothing matched.
function coef = robust_affine (P, F, unit)
  coef = [0 0; 1 0; 0 1];
  if (size (P, 2) == 0)
    return;
  end
  coef(1, :) = median (F - P, 2)';
  keep = true (1, size (P, 2));
  for round = 1:4
    if (nnz (keep) < 6)
      return;
    end
    A = [ones(nnz (keep), 1), P(:, keep)'];
    c = A \ F(:, keep)';
    r = hypot (F(1, :)' - [ones(size (P, 2), 1), P'] * c(:, 1), F(2, :)' - [ones(size (P, 2), 1), P'] * c(:, 2));
    keep = r' <= max (3 * median (r(keep)), unit);
    coef = c;
  end
end

% Fits the spline through the matches that pass the quality checks, then
% drops the outliers by leave-one-out residual and fits again.
function [fit, kept, reason, residual] = fit_matches (P, F, Q, minScore, spacing, smoothing, unit)
  K = size (P, 2);
  reason = repmat ({''}, 1, K);
  residual = NaN (1, K);
  matched = isfinite (F(1, :));
  reason(~matched) = {'no match'};
  low = matched & Q(1, :) < minScore;
  reason(low) = {'low score'};
  % A patch on a straight edge or a repeating texture scores nearly as
  % well two pixels off.
  flat = matched & ~low & Q(2, :) > Q(1, :) - 0.002;
  reason(flat) = {'not distinctive'};
  kept = matched & ~low & ~flat;
  fit = [];
  for round = 1:3
    if (nnz (kept) < 10)
      fit = [];
      reason(kept) = {'too few'};
      kept(:) = false;
      return;
    end
    [fit, loo, studentised] = spline_fit (P(:, kept), F(:, kept), nodes_for (P(:, kept), spacing), smoothing);
    smoothing = fit.smoothing;    % chosen once, with every match in
    residual(kept) = loo;
    % Noise of the matches from the median; a whole level pixel off is an
    % outlier however noisy the rest.  The residual is scaled as its
    % leave-one-out spread, not its leave-one-out value: a point far
    % from the others (at the frame's edge) is not predicted by them, yet
    % is no outlier for that.
    limit = min (max (4 * 1.4826 * median (studentised), 0.25 * unit), unit);
    out = false (1, K);
    out(kept) = studentised > limit;
    if (~any (out))
      break;
    end
    kept(out) = false;
    reason(out) = {'outlier'};
  end
  if (any (out))
    [fit, loo] = spline_fit (P(:, kept), F(:, kept), nodes_for (P(:, kept), spacing), smoothing);
    residual(kept) = loo;
  end
end

% Least-squares thin-plate spline with kernels at the nodes, through the
% K matches, with the bending energy weighted by the smoothing (chosen by
% generalised cross-validation when empty).  Returns the spline in
% warpmatch's layout, the leave-one-out residual of each match (r/(1-h),
% h the diagonal of the fit's hat matrix) and its studentised residual
% (r/sqrt(1-h)).
function [fit, loo, studentised] = spline_fit (P, F, nodes, smoothing)
  n = size (nodes, 2);
  K = size (P, 2);
  mx = mean (P(1, :));
  my = mean (P(2, :));
  s = max (sqrt (mean ((P(1, :) - mx) .^ 2 + (P(2, :) - my) .^ 2)), 1);
  un = (nodes(1, :) - mx) / s;
  wn = (nodes(2, :) - my) / s;
  up = (P(1, :)' - mx) / s;
  wp = (P(2, :)' - my) / s;
  guard = 2.2204e-16 / s ^ 2;
  D = (up - un) .^ 2 + (wp - wn) .^ 2;
  Phi = [D .* log(D + guard), ones(K, 1), up, wp];
  Dn = (un' - un) .^ 2 + (wn' - wn) .^ 2;
  Omega = zeros (n + 3);
  Omega(1:n, 1:n) = Dn .* log (Dn + guard);
  C = [ones(1, n), 0, 0, 0; un, 0, 0, 0; wn, 0, 0, 0];
  if (n == 0)
    C = zeros (0, 3);
  end
  PtP = Phi' * Phi;
  rhs = [Phi' * F'; zeros(3, 2)];
  if (isempty (smoothing))
    candidates = 10 .^ (-7:-2);
  else
    candidates = smoothing;
  end
  best = Inf;
  for lambda = candidates
    A = [PtP + lambda * K * Omega, C'; C, zeros(size (C, 1))];
    G = inv (A);
    G = G(1:n + 3, 1:n + 3);
    theta = G * rhs(1:n + 3, :);
    r = F' - Phi * theta;
    h = sum ((Phi * G) .* Phi, 2);
    score = K * sum (r(:) .^ 2) / (K - sum (h)) ^ 2;
    if (~(K - sum (h) > 1))
      score = Inf;      % as many parameters as matches: no check left
    end
    if (score < best || (isinf (best) && lambda == candidates(end)))
      best = score;
      fit.smoothing = lambda;
      weights = theta(1:n, :);
      affine = theta(n + 1:n + 3, :);
      loo = (hypot (r(:, 1), r(:, 2)) ./ max (1 - h, 1e-6))';
      studentised = (hypot (r(:, 1), r(:, 2)) ./ sqrt (max (1 - h, 1e-6)))';
    end
  end
  % Back to plain pixel units, as tpsfit does: the side conditions make
  % the kernel's change of scale a constant.
  constant = affine(1, :) - (affine(2, :) * mx + affine(3, :) * my) / s ...
             - log (s ^ 2) * ((un .^ 2 + wn .^ 2) * weights);
  coef = [weights / s ^ 2; constant; affine(2:3, :) / s];
  fit.ctrl = nodes;
  fit.coefX = coef(:, 1);
  fit.coefY = coef(:, 2);
end

function img = image_arg (img, name, index)
  if (~((isnumeric (img) || islogical (img)) && isreal (img) && ~issparse (img) && ndims (img) == 2 ...
         && all (size (img) >= 32)))
    error (['tpsregister:' name], 'tpsregister: argument %d (%s) must be a real 2-D grey image of at least 32x32 pixels', ...
           index, upper (name));
  end
  img = double (img);
  if (~all (isfinite (img(:))))
    error (['tpsregister:' name], 'tpsregister: argument %d (%s) holds NaN or Inf', index, upper (name));
  end
end

function opt = options (args, M, N)
  opt.maxDisplacement = min (M, N) / 4;
  opt.spacing = min (24, max (8, round (sqrt (M * N / 700))));
  % A small frame is warped more across a patch of a given size: there
  % smaller patches match better (measured on 120x160 frames).
  opt.patchSize = 17;
  if (min (M, N) < 200)
    opt.patchSize = 13;
  end
  opt.smoothing = [];
  opt.minScore = 0.6;
  names = {'MaxDisplacement', 'Spacing', 'PatchSize', 'Smoothing', 'MinScore'};
  for k = 1:2:numel (args)
    name = args{k};
    value = args{k + 1};
    if (~ischar (name) || ~any (strcmpi (name, names)))
      if (ischar (name))
        shown = name;
      else
        shown = class (name);
      end
      error ('tpsregister:option', 'tpsregister: option %d is ''%s''; options are %s', ...
             (k + 1) / 2, shown, strjoin (names, ', '));
    end
    real_value = (isnumeric (value) || islogical (value)) && isreal (value) && ~issparse (value);
    scalar = real_value && isscalar (value) && isfinite (value);
    switch (lower (name))
      case 'maxdisplacement'
        if (~(scalar && value > 0))
          refuse ('maxDisplacement', 'a finite value > 0');
        end
        opt.maxDisplacement = double (value);
      case 'spacing'
        if (~(scalar && value == round (value) && value >= 4 && value <= 1000))
          refuse ('spacing', 'an integer from 4 to 1000');
        end
        opt.spacing = double (value);
      case 'patchsize'
        if (~(scalar && value == round (value) && mod (value, 2) == 1 && value >= 5 && value <= 101))
          refuse ('patchSize', 'an odd integer from 5 to 101');
        end
        opt.patchSize = double (value);
      case 'smoothing'
        if (~((real_value && isempty (value)) || (scalar && value >= 0)))
          refuse ('smoothing', '[] or a finite value >= 0');
        end
        opt.smoothing = double (value);
      case 'minscore'
        if (~(scalar && value >= -1 && value <= 1))
          refuse ('minScore', 'a value from -1 to 1');
        end
        opt.minScore = double (value);
    end
  end
end

function refuse (id, what)
  error (['tpsregister:' id], 'tpsregister: option %s must be %s', [upper(id(1)) id(2:end)], what);
end
