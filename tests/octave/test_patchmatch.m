function test_patchmatch ()
  % patchmatch.mex in Octave: a shift of a real photograph found at a
  % pyramid level and below a pixel at full resolution, the same from
  % uint8, the estimate's maps, and every refusal while Octave keeps running.
  here = fileparts (mfilename ("fullpath"));
  img = imread (fullfile (here, "..", "..", "data", "camera.png"));
  ref = double (img);
  % mov(y, x) = ref(y - 5, x + 7): ref's point p lies at p + (-7, 5) in mov.
  mov = ref([end - 4:end, 1:end - 5], [8:end, 1:7]);
  I = [0 0; 1 0; 0 1];
  [f, q, P] = patchmatch (ref, mov, 32, [], I, 1, 6, 6);
  assert (rows (P) == 2 && columns (P) > 100);
  ok = isfinite (f(1, :));
  assert (nnz (ok) > 0.8 * columns (P));
  d = median (f(:, ok) - P(:, ok), 2);
  assert (d, [-7; 5], 0.05);
  % At full resolution: from an estimate 1.4 px off, within a tenth of a
  % pixel (the window then sits between pixels, where interpolation blurs
  % it); from the right one, within a hundredth.
  for start = [1.4, 0; 0.1, 0.01]
    [f, q] = patchmatch (img, mov, P, [], I + [-7 + start(1), 5 - start(1); 0 0; 0 0], 0, 8, 3);
    ok = isfinite (f(1, :));
    assert (nnz (ok) > 0.8 * columns (P));
    e = abs (f(:, ok) - P(:, ok) - [-7; 5]);
    assert (median (e(:)) < start(2));
    assert (median (q(1, ok)) > 0.95 && all (q(2, ok) < q(1, ok)));
  end
  % The maps of an estimate at level 2: T / 4 over the quarter frame.
  [~, ~, ~, mx, my, w] = patchmatch (ref, mov, zeros (2, 0), [], I + [-7 5; 0 0; 0 0], 2, 4, 1);
  assert (size (mx), [128 128]);
  [X, Y] = meshgrid (0:127);
  assert (mx, X - 7 / 4, 1e-4);
  assert (my, Y + 5 / 4, 1e-4);

  args = {ref, mov, P, [], I, 0, 8, 3};
  bad = {1, {ref + 1i, cat(3, ref, ref), [], "camera.png", {ref}, [ref(1:end-1, :); NaN(1, 512)]}, "patchmatch:ref";
         2, {sparse(ref), Inf}, "patchmatch:mov";
         3, {1, 2.5, NaN, ones(3, 4), [P; P]}, "patchmatch:points";
         4, {ones(3, 2), [1; NaN]}, "patchmatch:ctrl";
         5, {I(1:2, :), ones(3, 1), [I(1, :); I(2, :); Inf 1]}, "patchmatch:coef";
         6, {-1, 17, 0.5, [0 1]}, "patchmatch:level";
         7, {0, 1001, 2.5}, "patchmatch:patchHalf";
         8, {0, 1001, -2}, "patchmatch:radius"};
  for b = 1:rows (bad)
    for v = 1:numel (bad{b, 2})
      a = args;
      a{bad{b, 1}} = bad{b, 2}{v};
      expect_error (@() patchmatch (a{:}), bad{b, 3});
    end
  end
  expect_error (@() patchmatch (args{1:7}), "patchmatch:nargin");
  expect_error (@() patchmatch (args{:}, 1), "patchmatch:nargin");
  expect_error (@() nargout_seven (args), "patchmatch:nargout");
end

function nargout_seven (args)
  [a, b, c, d, e, f, g] = patchmatch (args{:});
end
