function test_tpsfit ()
  % tpsfit: interpolation on a large frame, affine targets, a 3x3 grid
  % against its solution worked out by hand, smoothing, the layout that
  % warpmatch reads, and every refusal.
  here = fileparts (mfilename ("fullpath"));
  addpath (fullfile (here, "..", "..", "octave", "functions"), "-end");
  U = @(d) d .* log (d + 2.2204e-16);
  value = @(c, x, y, px, py) U ((px - x') .^ 2 + (py - y') .^ 2) * c(1:end - 3) ...
                             + c(end - 2) + c(end - 1) * px + c(end) * py;
  rand ("seed", 14); randn ("seed", 14);

  % 200 points on a 4000x4000 frame: the spline meets every target.
  K = 200;
  x = 3999 * rand (K, 1); y = 3999 * rand (K, 1);
  tx = x + 6 * sin (y / 400) + 2 * randn (K, 1);
  ty = y - 4 * cos (x / 300) + 2 * randn (K, 1);
  [cx, cy, rc] = tpsfit (x, y, tx, ty);
  assert (size (cx), [K + 3, 1]);
  assert (max (abs ([value(cx, x, y, x, y) - tx; value(cy, x, y, x, y) - ty])) < 1e-6);
  assert (rc > 1e-9);
  assert (abs ([sum(cx(1:K)), x' * cx(1:K) / 4000, y' * cx(1:K) / 4000]) < 1e-15);

  % The factorised solve gives the plain backslash solve's weights bit for
  % bit, with or without RC, and RC agrees with rcond.
  mx = mean (x); my = mean (y); sc = sqrt (mean ((x - mx) .^ 2 + (y - my) .^ 2));
  u = (x - mx) / sc; w = (y - my) / sc; D = (u - u') .^ 2 + (w - w') .^ 2;
  A = [D .* log(D + 2.2204e-16 / sc ^ 2), [ones(K, 1), u, w]; [ones(K, 1), u, w]', zeros(3)];
  sol = A \ [tx, ty; zeros(3, 2)];
  [cx2, cy2] = tpsfit (x, y, tx, ty);
  assert ([cx(1:K), cy(1:K), cx2(1:K), cy2(1:K)], [sol(1:K, :), sol(1:K, :)] / sc ^ 2, 0);
  assert (rc, rcond (A), 1e-3 * rc);

  % An affine target set: no bending, the affine part exactly.
  A = [12.5, 1.02, -0.03; -7, 0.04, 0.97];
  [cx, cy] = tpsfit (x, y, A(1, :) * [ones(1, K); x'; y'], A(2, :) * [ones(1, K); x'; y']);
  assert (max (abs ([cx(1:K); cy(1:K)])) * max (U ((x - x') .^ 2 + (y - y') .^ 2)(:)) < 1e-6);
  assert ([cx(K + 1:end), cy(K + 1:end)], A', 1e-9);

  % 3x3 grid of spacing h, the centre moved by delta in x.  By symmetry
  % the weights are a (corners), b (edges), c (centre), the displacement's
  % affine part a constant e, and the four conditions reduce to
  %   24 L2 a + (10 L5 - 8 L2) b = -delta,  (10 L5 - 8 L2) a + 12 L2 b = -delta,
  %   c = -4 (a + b),  e = delta - 8 L2 a      (L2 = log 2, L5 = log 5)
  % on the unit grid; spacing h divides the weights by h^2 and takes
  % log(h^2) (8a + 4b) from e.
  delta = 0.75;
  L2 = log (2); L5 = log (5);
  p = 24 * L2; q = 10 * L5 - 8 * L2; r = 12 * L2;
  a = -delta * (r - q) / (p * r - q ^ 2);
  b = -delta * (p - q) / (p * r - q ^ 2);
  unit = [a, b, -4 * (a + b)];       % by L1 distance from the centre: 2, 1, 0
  for g = {1, [0 0]; 1, [100 200]; 40, [1000 3000]; 0.5, [-3 7]}'
    [h, o] = g{:};
    [gx, gy] = meshgrid (-1:1);
    kind = 3 - abs (gx(:)) - abs (gy(:));
    X = o(1) + h * (gx(:) + 1); Y = o(2) + h * (gy(:) + 1);
    [cx, cy] = tpsfit (X, Y, X + delta * (kind == 3), Y);
    e = delta - 8 * L2 * a - log (h ^ 2) * (8 * a + 4 * b);
    assert (cx, [unit(kind)' / h ^ 2; e; 1; 0], 1e-12 * max (1, abs (o(1))));
    assert (cy, [zeros(9, 1); 0; 0; 1], 1e-12 * max (1, abs (o(2))));
  end

  % Smoothing: misses noisy targets, alike at any scale, tends to the
  % least-squares affine map, and averages duplicated points.
  k = 30;
  sx = 100 * rand (k, 1); sy = 100 * rand (k, 1); sv = sx + 3 * randn (k, 1);
  [c1] = tpsfit (sx, sy, sv, sy, 0.1);
  [c10] = tpsfit (10 * sx, 10 * sy, 10 * sv, 10 * sy, 0.1);
  miss = value (c1, sx, sy, sx, sy) - sv;
  assert (max (abs (miss)) > 0.1);
  assert (value (c10, 10 * sx, 10 * sy, 10 * sx, 10 * sy) - 10 * sv, 10 * miss, 1e-8);
  c = tpsfit (sx, sy, sv, sy, 1e9);
  assert (c(end - 2:end), [ones(k, 1), sx, sy] \ sv, 1e-6);
  assert (all (isfinite (tpsfit ([sx; sx(1)], [sy; sy(1)], [sv; sv(1) + 1], [sy; sy(1)], 0.01))));

  % warpmatch reads the same layout: inverting the fit at the targets
  % finds the control points.
  ctrl = [10 12; 50 15; 30 48; 55 55; 12 50];
  target = ctrl + [1.5 -2; -1 0.5; 2 2; 0 -1.5; -2 1];
  [cx, cy] = tpsfit (ctrl(:, 1), ctrl(:, 2), target(:, 1), target(:, 2));
  evalc ("pts = warpmatch (cx, cy, ctrl(:, 1), ctrl(:, 2), target(:, 1), target(:, 2), [], [], rand (64));");
  assert (pts, ctrl, 0.01);

  three = [0; 10; 0];
  for bad = {{three, three}, "tpsfit:nargin"; {three, three + [0; 0; 5], three, three, -1}, "tpsfit:smoothing";
             {three, [0; 0; 5], three, {1}}, "tpsfit:class"; {three, [0; 0; 5], three + 1i, three}, "tpsfit:class";
             {three, [0; 0; 5], three, [1; 2]}, "tpsfit:shape"; {three, [0 0; 5 5], three, three}, "tpsfit:shape";
             {three, [0; NaN; 5], three, three}, "tpsfit:nan"; {[0; 1], [0; 1], [0; 1], [0; 1]}, "tpsfit:tooFew";
             {[0; 1; 2], [0; 2; 4], three, three}, "tpsfit:collinear";
             {[0; 1; 0; 1], [0; 0; 1; 0], three([1 2 3 1]), three([1 2 3 1])}, "tpsfit:duplicate";
             {three, [0; 0; 5], three, three, 0, 0}, "tpsfit:nargin"}'
    expect_error (@() tpsfit (bad{1}{:}), bad{2});
  end
  expect_error (@() four_results (@tpsfit, three, [0; 0; 5], three, three), "tpsfit:nargin");

  % Six well-spread points at extreme scales and offsets: fitted where the
  % kernel's squared distances are doubles it resolves, refused as out of
  % range (not as duplicates) where they are not.
  P = [0 0; 10 0; 0 10; 10 10; 5 3; 2 8];
  T = [P(:, 1) + sin(P(:, 2)), P(:, 2) + 0.03 * P(:, 1) .^ 2];
  for g = {1e150, 0; 1e-5, 0; 1, 1e9; 1e-3, -1e6}'
    [f, o] = g{:};
    X = f * P(:, 1) + o; Y = f * P(:, 2);
    [cx, cy] = tpsfit (X, Y, f * T(:, 1) + o, f * T(:, 2));
    tol = 1e-9 * f + 1e-12 * abs (o);
    assert (value (cx, X, Y, X, Y), f * T(:, 1) + o, tol);
    assert (value (cy, X, Y, X, Y), f * T(:, 2), tol);
  end
  for f = [1e-200, 1e-150, 1e160, 1e200]
    expect_error (@() tpsfit (f * P(:, 1), f * P(:, 2), f * T(:, 1), f * T(:, 2)), "tpsfit:range");
  end
end

function four_results (f, varargin)
  [a, b, c, d] = f (varargin{:});
end
