function test_tpsregister ()
  % tpsregister: known warps recovered (a smooth warp under gain, offset
  % and noise; a shift with a rotation on a small frame), the results'
  % conventions, an unrelated pair reported as such, and every refusal.
  here = fileparts (mfilename ("fullpath"));
  addpath (fullfile (here, "..", "..", "octave", "functions"), "-end");
  ref = double (imread (fullfile (here, "..", "..", "data", "camera.png")));
  randn ("seed", 3);

  % name, frame rows, columns, bump amplitude (px), shift, angle (deg), gain, offset, noise
  cases = {"smooth warp, gain, noise", 1:512, 1:512, 9, [0 0], 0, 1.2, 10, 3;
           "shift and rotation, small frame", 201:320, 181:340, 3, [-11 7], 2, 1, 0, 0};
  for c = 1:rows (cases)
    [name, R, C, amp, shift, angle, gain, offset, noise] = cases{c, :};
    img = ref(R, C);
    [M, N] = size (img);
    [X, Y] = meshgrid (0:N - 1, 0:M - 1);
    % p -> T(p): a smooth bump, then a rotation about the centre and a shift.
    bump = @(x, y) amp * exp (-((x - 0.3 * N) .^ 2 + (y - 0.6 * M) .^ 2) / (2 * (M / 3) ^ 2));
    a = angle * pi / 180;
    T = @(x, y) deal ((N - 1) / 2 + cos (a) * (x + bump (x, y) - (N - 1) / 2) - sin (a) * (y - 0.5 * bump (x, y) - (M - 1) / 2) + shift(1),
                      (M - 1) / 2 + sin (a) * (x + bump (x, y) - (N - 1) / 2) + cos (a) * (y - 0.5 * bump (x, y) - (M - 1) / 2) + shift(2));
    [tx, ty] = T (X, Y);
    % mov(q) = img(p) where T(p) = q, p found by fixed-point steps.
    px = X;  py = Y;
    for it = 1:40
      [qx, qy] = T (px, py);
      px -= qx - X;  py -= qy - Y;
    end
    mov = interp2 (X, Y, img, px, py, "cubic");
    mov(isnan (mov)) = 0;
    mov = uint8 (mov * gain + offset + noise * randn (M, N));

    [mapX, mapY, registered, info] = tpsregister (img, mov);
    assert (size (mapX), [M N]);
    assert (size (registered), [M N]);
    inner = false (M, N);
    inner(31:end - 30, 31:end - 30) = true;
    epe = hypot (mapX - tx, mapY - ty)(inner);
    printf ("%s: end-point error median %.3f, 95th percentile %.3f px; %d of %d points kept\n", name,
            median (epe), prctile (epe, 95), info.summary.kept, info.summary.candidates);
    assert (median (epe) < 0.1, "%s: median end-point error %g px", name, median (epe));
    assert (prctile (epe, 95) < 1, "%s: 95th percentile end-point error %g px", name, prctile (epe, 95));
    assert (info.summary.confident);
    % registered is mov sampled at the maps: it matches img up to the gain.
    d = (registered - offset) / gain - img;
    assert (median (abs (d(inner))) < 3 + noise);
    % The spline in info is the one the maps hold (warpmatch's layout).
    k = find (info.kept, 1);
    p = info.points(:, k);
    U = @(d) d .* log (d + 2.2204e-16);
    u = U (sum ((info.ctrl - p) .^ 2, 1));
    at = [u, 1, p'] * [info.coefX, info.coefY];
    assert (at, [mapX(p(2) + 1, p(1) + 1), mapY(p(2) + 1, p(1) + 1)], 0.02);
    assert (all (info.residual(info.kept) < 1));
    assert (all (strcmp (info.dropped(info.kept), "")));
  end

  % Two unrelated pictures (the photograph and its own transpose, upside
  % down) must not come back as a confident registration.
  unrelated = flipud (ref');
  lastwarn ("");
  [~, ~, ~, info] = tpsregister (ref, unrelated);
  [~, id] = lastwarn ();
  assert (id, "tpsregister:unreliable");
  assert (! info.summary.confident);
  printf ("unrelated pair: %d of %d points kept, median residual %.3g px\n", info.summary.kept,
          info.summary.candidates, info.summary.medianResidual);

  % Refusals: each option out of range, then the arguments.
  small = ref(1:64, 1:64);
  bad = {"MaxDisplacement", {0, -3, Inf, NaN, [1 2], "5"}, "tpsregister:maxDisplacement";
         "Spacing", {3, 8.5, 1001, NaN, []}, "tpsregister:spacing";
         "PatchSize", {4, 3, 103, 16, 9.5, []}, "tpsregister:patchSize";
         "Smoothing", {-1, Inf, NaN, [1 2], "x"}, "tpsregister:smoothing";
         "MinScore", {-1.5, 1.01, NaN, []}, "tpsregister:minScore"};
  for b = 1:rows (bad)
    for v = 1:numel (bad{b, 2})
      expect_error (@() tpsregister (small, small, bad{b, 1}, bad{b, 2}{v}), bad{b, 3});
    end
  end
  expect_error (@() tpsregister (small), "tpsregister:nargin");
  expect_error (@() tpsregister (small, small, "Spacing"), "tpsregister:nargin");
  expect_error (@() tpsregister (small, small, "Spacings", 8), "tpsregister:option");
  expect_error (@() tpsregister (small, small, 8, 8), "tpsregister:option");
  expect_error (@() tpsregister (ones (20, 64), small), "tpsregister:ref");
  expect_error (@() tpsregister (cat (3, small, small), small), "tpsregister:ref");
  expect_error (@() tpsregister (small, small + 1i), "tpsregister:mov");
  holed = small;
  holed(end, 5) = NaN;
  expect_error (@() tpsregister (small, holed), "tpsregister:mov");
  % Names are not case-sensitive; accepted values pass.
  [mx] = tpsregister (ref(1:128, 1:128), ref(1:128, 1:128), "spacing", 12, "PATCHSIZE", 11, "Smoothing", 0.01);
  assert (size (mx), [128 128]);
end
