function varargout = tpsfit (varargin)
% TPSFIT  Fits the thin-plate spline pair that warpmatch evaluates.
%
%   [COEFX, COEFY] = tpsfit(CTRLX, CTRLY, TARGETX, TARGETY)
%   [COEFX, COEFY] = tpsfit(CTRLX, CTRLY, TARGETX, TARGETY, SMOOTHING)
%   [COEFX, COEFY, RC] = tpsfit(...)
%
%   Fits the pair T = (Tx, Ty) of warpmatch,
%
%     Tx(x, y) = a0 + ax*x + ay*y + sum_k w(k) * U(d_k),  likewise Ty,
%     d_k = (CTRLX(k) - x)^2 + (CTRLY(k) - y)^2,  U(d) = d * log(d + 2.2204e-16),
%
%   so that T takes control point k to (TARGETX(k), TARGETY(k)), with the
%   weights w free of any affine part (sum w = sum w.*CTRLX = sum w.*CTRLY
%   = 0).  COEFX and COEFY can be passed straight to warpmatch with the same
%   CTRLX and CTRLY.  Coordinates are whatever the caller uses with
%   warpmatch: 0-based pixel coordinates, x the column, y the row.
%
%   The system is solved with the control points centred on their mean
%   and divided by their root-mean-square distance from it, then the
%   coefficients are converted back to plain pixel units exactly (the
%   kernel's logarithm turns the scale into a change of the constant
%   term).  The solve is therefore as well conditioned on a 4000x4000
%   frame as on a 40x40 one: for 200 random points on a 4000x4000 frame
%   its rcond is about 3e-7, where the same system in plain pixel
%   coordinates has 2e-20 and Octave warns that it is singular to machine
%   precision.
%
%   Arguments (any real numeric class; read as double)
%     CTRLX, CTRLY      the K control points, K >= 3, not all on one line,
%                       no two at the same place (unless SMOOTHING > 0)
%     TARGETX, TARGETY  their targets; the four are vectors of K elements
%                       (rows or columns)
%     SMOOTHING         0 (the default) interpolates: T meets every target.
%                       A value > 0 is added to the diagonal of the kernel
%                       matrix in the normalised coordinates above, so one
%                       value smooths alike on any frame size; T then
%                       misses noisy targets in exchange for less bending,
%                       and tends to the least-squares affine map as the
%                       value grows.
%
%   Results
%     COEFX, COEFY  (K+3) x 1 each, in warpmatch's layout: the K weights w,
%                   then a0, ax, ay, in plain pixel units.
%     RC            reciprocal condition number of the normalised system
%                   that was solved, estimated in the 1-norm from the
%                   factors of the solve itself (as rcond does, without a
%                   second factorisation); near 1e-16 the fit is
%                   unreliable (points almost on top of one another).
%
%   Cost
%     The solve is a dense (K+3)x(K+3) factorisation: K^3 work and 8 K^2
%     bytes for each of the few K x K matrices.  With Octave on Debian's
%     reference BLAS, K = 1500 takes about 1 s of processor time and
%     K = 5000 about 28 s; with OpenBLAS (on Debian, install
%     libopenblas0-pthread and Octave uses it) K = 5000 took 13 s here,
%     spread over both cores.  RC adds a condition estimate from the
%     solve's own factors (a few K^2 steps), not a second factorisation.
%
%   Errors (identifiers)
%     tpsfit:nargin     fewer than four or more than five arguments, or more
%                       than three results requested
%     tpsfit:class      an argument not real numeric (complex, sparse, text,
%                       cell)
%     tpsfit:shape      the four point arguments not vectors of one length
%     tpsfit:nan        a point or target holds NaN or Inf
%     tpsfit:tooFew     fewer than three control points
%     tpsfit:duplicate  two control points at the same place (with
%                       SMOOTHING 0: no spline can meet two targets there)
%     tpsfit:collinear  all control points on one line: their affine part
%                       is undetermined
%     tpsfit:range      the control points' squared distances, as the
%                       spline's kernel uses them, overflow double
%                       precision or sink below the kernel's guard
%                       (points spread over less than about 1e-8):
%                       scale the coordinates
%     tpsfit:smoothing  SMOOTHING not a finite scalar >= 0
%
%   Example: fit, warp, check
%     [cx, cy] = meshgrid(0:100:500, 0:100:500);
%     ctrlX = cx(:);  ctrlY = cy(:);                 % 36 control points
%     tx = ctrlX + 3 * sin(ctrlY / 80);  ty = ctrlY + 2;
%     [coefX, coefY] = tpsfit(ctrlX, ctrlY, tx, ty);
%     img = double(imread('camera.png'));
%     [pts, mapX, mapY, warped] = warpmatch(coefX, coefY, ctrlX, ctrlY, ...
%                                           tx, ty, [], [], img);
%     mapX(101, 201) - tx(14)   % about 0.05 px: the map meets the target
%
%   See also warpmatch, tmatchpeak, tmatch.

  % Declared with varargin and varargout so that this check, not the
  % interpreter's, answers a wrong count.
  if (nargin < 4 || nargin > 5 || nargout > 3)
    error ('tpsfit:nargin', 'tpsfit: expected 4 or 5 arguments and at most 3 results, got %d and %d', ...
           nargin, nargout);
  end
  [ctrlX, ctrlY, targetX, targetY] = varargin{1:4};
  smoothing = 0;
  if (nargin > 4)
    smoothing = varargin{5};
  end
  args = {ctrlX, ctrlY, targetX, targetY};
  names = {'CTRLX', 'CTRLY', 'TARGETX', 'TARGETY'};
  for k = 1:4
    a = args{k};
    if (~((isnumeric (a) || islogical (a)) && isreal (a) && ~issparse (a)))
      error ('tpsfit:class', 'tpsfit: argument %d (%s) must be real numeric, got %s', ...
             k, names{k}, describe (a));
    end
  end
  K = numel (ctrlX);
  for k = 1:4
    a = args{k};
    if (~(isvector (a) || isempty (a)) || numel (a) ~= K)
      error ('tpsfit:shape', 'tpsfit: argument %d (%s) must be a vector of %d elements like CTRLX, got %s', ...
             k, names{k}, K, describe (a));
    end
  end
  for k = 1:4
    bad = find (~isfinite (double (args{k})), 1);
    if (~isempty (bad))
      error ('tpsfit:nan', 'tpsfit: argument %d (%s) holds %g at element %d', ...
             k, names{k}, double (args{k}(bad)), bad);
    end
  end
  if (K < 3)
    error ('tpsfit:tooFew', 'tpsfit: a thin-plate spline needs at least 3 control points, got %d', K);
  end
  if (~((isnumeric (smoothing) || islogical (smoothing)) && isreal (smoothing) && isscalar (smoothing) ...
         && isfinite (smoothing) && smoothing >= 0))
    error ('tpsfit:smoothing', 'tpsfit: argument 5 (SMOOTHING) must be a finite scalar >= 0, got %s', ...
           describe (smoothing));
  end
  smoothing = double (smoothing);

  x = double (ctrlX(:));
  y = double (ctrlY(:));
  v = [double(targetX(:)), double(targetY(:))];
  mx = mean (x);
  my = mean (y);
  if (~isfinite (mx) || ~isfinite (my))
    mx = scaled_mean (x);
    my = scaled_mean (y);
  end
  dx = x - mx;
  dy = y - my;
  m = max (abs ([dx; dy]));
  if (~isfinite (m))
    error ('tpsfit:range', 'tpsfit: the control points span more than double precision holds (x from %g to %g, y from %g to %g)', ...
           min (x), max (x), min (y), max (y));
  end
  if (m == 0)
    s = 1;     % every point at one place: refused below
  elseif (m > 1e-150 && m < 1e150)
    s = sqrt (mean (dx .^ 2 + dy .^ 2));
  else
    % Squares that would overflow or underflow: the spread scaled first.
    s = m * sqrt (mean ((dx / m) .^ 2 + (dy / m) .^ 2));
  end
  u = dx / s;
  w = dy / s;

  D = (u - u') .^ 2 + (w - w') .^ 2;
  % Distinct points of a normalised set are never as close as 1e-9.
  D(1:K + 1:end) = Inf;
  [closest, at] = min (D(:));
  D(1:K + 1:end) = 0;
  if (smoothing == 0 && closest < 1e-18)
    [i, j] = ind2sub ([K K], at);
    error ('tpsfit:duplicate', 'tpsfit: control points %d and %d are both at (%g, %g)', ...
           min (i, j), max (i, j), x(i), y(i));
  end
  sv = svd ([u, w]);
  if (sv(2) <= 1e-10 * sv(1))
    error ('tpsfit:collinear', 'tpsfit: the %d control points lie on one line', K);
  end
  % warpmatch evaluates the kernel in plain units, where every squared
  % distance must be finite and the kernel's guard (2.2204e-16) must not
  % swamp them: below that the kernel is a plain multiple of d, and no
  % spline is determined.
  spread = s ^ 2 * max (D(:));
  if (~isfinite (spread) || s ^ 2 < 2.2204e-16)
    error ('tpsfit:range', 'tpsfit: the largest squared distance between control points is %g, outside what the spline''s kernel resolves in double precision (2.2e-16 to 1.8e308); scale the coordinates', ...
           spread);
  end

  % With the guard scaled by 1/s^2, U(s^2 d) = s^2 (U'(d) + d log s^2)
  % holds exactly, so the plain-unit weights are w'/s^2 and the d log s^2
  % part, constant under the side conditions, moves into a0.
  % The affine columns are scaled like the diagonal so that a large
  % smoothing does not unbalance the system.
  guard = 2.2204e-16 / s ^ 2;
  balance = 1 + smoothing;
  P = balance * [ones(K, 1), u, w];
  A = [D .* log(D + guard) + smoothing * eye(K), P; P', zeros(3)];
  % One factorisation serves the solve and the condition estimate.
  [L, Up, order] = lu (A, 'vector');
  rhs = [v; zeros(3, 2)];
  sol = Up \ (L \ rhs(order, :));
  weights = sol(1:K, :);
  affine = balance * sol(K + 1:K + 3, :);
  constant = affine(1, :) - (affine(2, :) * mx + affine(3, :) * my) / s ...
             - log (s ^ 2) * ((u .^ 2 + w .^ 2)' * weights);
  coef = [weights / s ^ 2; constant; affine(2:3, :) / s];
  varargout = {coef(:, 1), coef(:, 2)};
  if (nargout > 2)
    % condest's own steps (MATLAB's condest takes no solver): the 1-norm
    % of A times normest1's estimate for its inverse, through the factors,
    % without the near-singularity warning condest silences.
    state = warning ('off', 'Octave:nearly-singular-matrix');
    inverse = normest1 (@(flag, b) lu_solve (flag, b, L, Up, order), min (K + 3, 5));
    warning (state);
    varargout{3} = 1 / (norm (A, 1) * inverse);
  end
end

function m = scaled_mean (v)
  c = max (abs (v));
  if (c == 0 || ~isfinite (c))
    m = mean (v);
  else
    m = c * mean (v / c);
  end
end

% The solver normest1 asks for, through the factors of the fit.
function out = lu_solve (flag, b, L, Up, order)
  switch (flag)
    case 'dim'
      out = size (L, 1);
    case 'real'
      out = true;
    case 'notransp'
      out = Up \ (L \ b(order, :));
    case 'transp'
      out = zeros (size (b));
      out(order, :) = L' \ (Up' \ b);
  end
end

function text = describe (a)
  if (ischar (a))
    text = sprintf ('text ''%s''', a);
  elseif (iscell (a))
    text = 'a cell array';
  elseif (issparse (a))
    text = 'a sparse matrix';
  elseif (isnumeric (a) && ~isreal (a))
    text = 'a complex value';
  elseif (isscalar (a) && (isnumeric (a) || islogical (a)))
    text = sprintf ('%g', a);
  else
    text = sprintf ('a %s %s', strjoin (arrayfun (@num2str, size (a), 'UniformOutput', false), 'x'), class (a));
  end
end
