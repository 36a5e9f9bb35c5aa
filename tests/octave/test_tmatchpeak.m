function test_tmatchpeak ()
  % tmatchpeak: known sub-pixel shifts of a smoothed photograph, regions,
  % exact apexes of quadratic maps (edges included), several peaks apart,
  % and every refusal.
  here = fileparts (mfilename ("fullpath"));
  addpath (fullfile (here, "..", "..", "octave", "functions"), "-end");
  img = double (imread (fullfile (here, "..", "..", "data", "camera.png")));

  % Smoothing with a Gaussian centred off the pixel shifts the content by
  % exactly that offset.  Textured places only: a straight edge fixes
  % nothing along itself.
  sigma = 1.5;
  base = smooth_shift (img, sigma, 0, 0);
  n = 21;
  places = [244 276; 164 260; 180 228; 148 308; 292 196];      % row, column
  shifts = [0.25 -0.4; 0.5 0.5; -0.3 0.15; 0.7 0.35; -0.6 -0.8; 0.05 0.95];
  err = zeros (0, 2);
  for s = 1:rows (shifts)
    moved = smooth_shift (img, sigma, shifts(s, 1), shifts(s, 2));
    for p = 1:rows (places)
      at = places(p, [2 1]);                                  % x, y
      region = [at - 10, n + 20, n + 20];
      C = tmatch (moved, region, base(at(2) + (0:n - 1), at(1) + (0:n - 1)));
      [x, y] = tmatchpeak (C, region, [n n]);
      err(end + 1, :) = [x, y] - at - shifts(s, :);
    end
  end
  printf ("sub-pixel error per axis: max %.3f px, rms %.3f px\n", max (abs (err(:))), sqrt (mean (err(:) .^ 2)));
  assert (max (abs (err(:))) < 0.2);
  % The whole image and a region give the same placement.
  tpl = img(200:231, 240:271);
  [x1, y1, s1] = tmatchpeak (tmatch (img, -1, tpl), -1, size (tpl));
  [x2, y2, s2] = tmatchpeak (tmatch (img, [201.9 151.2 120 120], tpl), [201.9 151.2 120 120], size (tpl));
  assert ([round(x1), round(y1)], [240 200]);
  assert ([x2, y2, s2], [x1, y1, s1], 1e-4);

  % Quadratic maps: the apex exactly, across a diagonal ridge too; at the
  % map's edge only the other axis is refined, along the edge.
  [cc, rr] = meshgrid (1:9, 1:7);
  for q = {[4.3 3.8], 0, [4.3 3.8]; [4.25 3.3], 0.9, [4.25 3.3]; ...
           [1.2 3.3], 0, [1 3.3]; [5.2 7.4], 0.3, [5.32 7]}'
    [apex, tilt, want] = q{:};
    dx = cc - apex(1); dy = rr - apex(2);
    C = 1 - (dx .^ 2 + 2 * tilt * dx .* dy + dy .^ 2) / 40;
    [x, y] = tmatchpeak (C, [11 21 9 + 4, 7 + 2], [3 5]);
    assert ([x, y], want + [10 20], 1e-9);
  end

  % Several placements: best first, at least D apart, as many as there are.
  bump = @(x0, y0, h) h * exp (-((cc - x0) .^ 2 + (rr - y0) .^ 2) * 2);
  C = bump (2, 2, 0.9) + bump (6, 2, 0.8) + bump (4, 2, 0.5) + bump (7, 6, 0.7);
  [x, y, s] = tmatchpeak (C, -1, [5 5], 10, 3);
  assert ([x, y], [2 2; 6 2; 7 6], 0.05);
  assert (s, C(sub2ind (size (C), round (y), round (x))));
  assert (rows (tmatchpeak (C, -1, [5 5], 10, 2)), 4);
  assert (rows (tmatchpeak (C, -1, [5 5], 2)), 2);

  Z = zeros (5);
  for bad = {{Z, -1}, "tmatchpeak:nargin"; {[], -1, [3 3]}, "tmatchpeak:map"; {NaN (4), -1, [3 3]}, "tmatchpeak:map";
             {Z + 1i, -1, [3 3]}, "tmatchpeak:map"; {Z, [1 1 10], [3 3]}, "tmatchpeak:region";
             {Z, [0 1 10 10], [3 3]}, "tmatchpeak:region"; {Z, -1, [3 0]}, "tmatchpeak:templateSize";
             {Z, [1 1 6 6], [3 3]}, "tmatchpeak:templateSize"; {Z, -1, [3 3], 1.5}, "tmatchpeak:count";
             {Z, -1, [3 3], 2, -1}, "tmatchpeak:separation"; {Z, -1, [3 3], 1, 1, 1}, "tmatchpeak:nargin";
             {[Inf 0], -1, [1 1]}, "tmatchpeak:map"; {[0.1 0.9 Inf 0.2 0.1], -1, [1 1]}, "tmatchpeak:map";
             {[0 0 0; 0 Inf 0; 0 0 0], -1, [3 3]}, "tmatchpeak:map"}'
    expect_error (@() tmatchpeak (bad{1}{:}), bad{2});
  end
  expect_error (@() four_results (@tmatchpeak, Z, -1, [3 3]), "tmatchpeak:nargin");
  % -Inf, like NaN, is no match: the peak is found beside it.
  [px, py] = tmatchpeak ([-Inf 0.2 0.9 0.2], -1, [1 1]);
  assert ([px, py], [3, 1]);
end

function out = smooth_shift (img, sigma, tx, ty)
  R = ceil (4 * sigma);
  g = @(t) exp (-((-R:R) - t) .^ 2 / (2 * sigma ^ 2));
  gx = g (tx);
  gy = g (ty);
  out = conv2 (gy(:) / sum (gy), gx(:)' / sum (gx), img, "same");
end

function four_results (f, varargin)
  [a, b, c, d] = f (varargin{:});
end
