function test_warpmatch ()
  % warpmatch.mex in Octave: a known warp (a shift) on a smooth image and on
  % a photograph, the points it inverts, chained maps, noise, classes,
  % console lines, and every refusal raising its identifier (each listed in
  % the help text) while Octave keeps running.
  here = fileparts (mfilename ("fullpath"));
  M = 60; N = 80;
  [cc, rr] = meshgrid (0:N-1, 0:M-1);          % 0-based x and y
  smooth = 100 + 0.5 * rr + 0.25 * cc;

  % Tx = x + 10.5, Ty = y - 4, with two control points of zero weight.
  ctrlX = [20; 50]; ctrlY = [30; 40];
  coefX = [0; 0; 10.5; 1; 0];
  coefY = [0; 0; -4; 0; 1];
  targetX = [40.5; 50.5]; targetY = [26; 40];
  [out, pts, mapX, mapY, warped] = run_call (coefX, coefY, ctrlX, ctrlY, targetX, targetY, [], [], smooth);
  assert (pts, [30 30; 40 44], 1e-9);
  assert (size (mapX), [M N]);
  assert (mapX, cc + 10.5, 0.08);
  assert (mapY, rr - 4, 0.08);
  assert (strcmp (class (warped), "double"));
  assert (all (warped(:) == double (single (warped(:)))));
  % Inside: the smooth image at the mapped position; outside: noise.
  inside = mapX >= 0 & mapX <= N - 1 & mapY >= 0 & mapY <= M - 1;
  assert (warped(inside), 100 + 0.5 * mapY(inside) + 0.25 * mapX(inside), 0.02);
  outside = rr < 4 | cc > N - 1 - 10.5 + 1;
  assert (all (warped(outside) >= 0 & warped(outside) <= 1));
  assert (nnz (outside) > 0);
  % One worker for two points; its lines, then the join line.
  assert (out, sprintf ("Thread start 2\nThread Exit 2\nThread join all\n"));

  % Maps chain into the next call: a second shift (x + 2) applied first.
  [~, ~, mx2, my2] = run_call ([2; 1; 0], [0; 0; 1], zeros (0, 1), [], [], [], mapX, mapY, smooth);
  assert (mx2(:, 1:N-4), cc(:, 1:N-4) + 12.5, 0.2);
  assert (my2(:, 1:N-4), rr(:, 1:N-4) - 4, 0.2);
  assert (all (mx2(:, N) == 0) && all (my2(:, N) == 0));   % beyond the previous maps
  % A 3-D previous warp: its first page is read.
  [~, ~, mx3] = run_call ([2; 1; 0], [0; 0; 1], zeros (0, 1), [], [], [], ...
                          cat (3, mapX, -mapX), cat (3, mapY, -mapY), smooth);
  assert (mx3, mx2, 1e-5);

  % A photograph as uint8 straight from imread gives what its double gives.
  img = imread (fullfile (here, "..", "..", "data", "camera.png"));
  [~, p1, x1, y1] = run_call (coefX, coefY, ctrlX, ctrlY, targetX, targetY, [], [], img);
  [~, p2, x2, y2] = run_call (single (coefX), coefY, int16 (ctrlX), ctrlY, targetX, single (targetY), [], [], double (img));
  assert (p1, p2);
  assert (x1, x2);
  assert (y1, y2);
  % Within one second the noise repeats (the generator is seeded with the time).
  for attempt = 1:5
    t = time ();
    [~, ~, ~, ~, w1] = run_call (coefX, coefY, ctrlX, ctrlY, targetX, targetY, [], [], img);
    [~, ~, ~, ~, w2] = run_call (coefX, coefY, ctrlX, ctrlY, targetX, targetY, [], [], img);
    if (floor (time ()) == floor (t))
      assert (w1, w2);
      break;
    end
  end

  % 61 points: four workers, each line once, the join line last.
  K = 61;
  cx = 10 + mod ((0:K-1)', 50); cy = 10 + floor ((0:K-1)' / 50) * 20;
  [out, pts] = run_call ([zeros(K, 1); 10.5; 1; 0], [zeros(K, 1); -4; 0; 1], cx, cy, cx + 10.5, cy - 4, [], [], smooth);
  assert (size (pts), [K 2]);
  assert (pts, [cx, cy], 1e-9);
  lines = strsplit (strtrim (out), "\n");
  assert (numel (lines), 9);
  assert (lines{end}, "Thread join all");
  for e = [15 30 45 61]
    s = find (strcmp (lines, sprintf ("Thread start %d", e)));
    x = find (strcmp (lines, sprintf ("Thread Exit %d", e)));
    assert (isscalar (s) && isscalar (x) && s < x);
  end
  % No points: no worker, only the join line.
  [out, pts] = run_call ([1; 1; 0], [0; 0; 1], [], [], [], [], [], [], smooth);
  assert (size (pts), [0 2]);
  assert (out, sprintf ("Thread join all\n"));

  % Refusals.
  help_text = evalc ("help warpmatch");
  a = {coefX, coefY, ctrlX, ctrlY, targetX, targetY, [], [], smooth};
  refuse (help_text, "warpmatch:nargin", a(1:8));
  refuse (help_text, "warpmatch:nargin", [a, {1}]);
  refuse (help_text, "warpmatch:nargout", a, 5);
  refuse (help_text, "warpmatch:coefX", with (a, 1, [0; 0; 1; 1]));
  refuse (help_text, "warpmatch:coefX", with (a, 1, coefX + 1i));
  refuse (help_text, "warpmatch:coefY", with (a, 2, "abcde"));
  refuse (help_text, "warpmatch:ctrlX", with (a, 3, ctrlX'));
  refuse (help_text, "warpmatch:ctrlX", with (a, 3, {20; 50}));
  refuse (help_text, "warpmatch:ctrlY", with (a, 4, 30));
  refuse (help_text, "warpmatch:targetX", with (a, 5, sparse (targetX)));
  refuse (help_text, "warpmatch:targetY", with (a, 6, []));
  refuse (help_text, "warpmatch:prevX", with (with (a, 7, zeros (M - 1, N)), 8, zeros (M, N)));
  refuse (help_text, "warpmatch:prevX", with (with (a, 7, zeros (M, N, 2, 2)), 8, zeros (M, N)));
  refuse (help_text, "warpmatch:prevY", with (a, 7, zeros (M, N)));
  refuse (help_text, "warpmatch:prevY", with (a, 8, zeros (M, N)));
  refuse (help_text, "warpmatch:prevY", with (with (a, 7, zeros (M, N)), 8, zeros (M + 1, N)));
  refuse (help_text, "warpmatch:image", with (a, 9, []));
  refuse (help_text, "warpmatch:image", with (a, 9, zeros (4, 40)));
  refuse (help_text, "warpmatch:image", with (a, 9, repmat (img, [1 1 3])));
  refuse (help_text, "warpmatch:image", with (a, 9, smooth + 1i));
  refuse (help_text, "warpmatch:image", with (a, 9, "camera.png"));
  for id = {"warpmatch:opencv", "warpmatch:thread", "warpmatch:outOfMemory"}
    assert (! isempty (strfind (help_text, id{1})), ["help lacks " id{1}]);
  end
  % Octave is still usable after the refusals.
  [~, pts] = run_call (coefX, coefY, ctrlX, ctrlY, targetX, targetY, [], [], smooth);
  assert (pts, [30 30; 40 44], 1e-9);
end

function varargout = run_call (varargin)
  % Calls warpmatch, returning its console text first, then its results.
  n = max (nargout - 1, 1);
  results = cell (1, n);
  out = evalc ("[results{:}] = warpmatch (varargin{:});");
  varargout = [{out}, results];
end

function b = with (a, k, v)
  b = a;
  b{k} = v;
end

function refuse (help_text, id, args, nout)
  if (nargin < 4)
    nout = 1;
  end
  expect_error (@() call_n (args, nout), id);
  assert (! isempty (strfind (help_text, id)), ["help lacks " id]);
end

function call_n (args, nout)
  outs = cell (1, nout);
  [outs{:}] = warpmatch (args{:});
end
