function test_driftfield ()
  % driftfield.mex in Octave: a 20x20 lattice with radius 5 in every mode,
  % the help example, shapes, classes and every refusal.

  % 20x20 nodes 12 pixels apart, each displaced by (0.4, -0.3) from its
  % reference; the map peaks so that offset (+1, -2) from every position
  % samples the most of it.
  M = 20; N = 20;
  ref = cell (M, N); pos = cell (M, N);
  map = 0.2 * ones (12 * M + 10, 12 * N + 10);
  for r = 1:M
    for c = 1:N
      ref{r, c} = [12 * c; 12 * r];
      pos{r, c} = ref{r, c} + [0.4; -0.3];
      map(12 * r - 2, 12 * c + 1) = 1;
    end
  end
  fixed = zeros (M, N);
  fixed(5, 7) = 1; fixed(20, 1) = 1;
  for mode = [1, 0, 2]
    [S, P] = driftfield (pos, ref, 2, mode, 1, 6, 5, map, 0, 1.2, fixed);
    assert (size (S), [M, N]);
    assert (iscell (P) && isequal (size (P), [M, N]));
    assert (all (isfinite (S(:))));
    assert (S(5, 7) == 0 && S(20, 1) == 0);
    assert (isequal (P{5, 7}, pos{5, 7}));
    for r = 1:M
      for c = 1:N
        if fixed(r, c), continue; end
        assert (size (P{r, c}), [2, 1]);
        d = P{r, c} - pos{r, c};
        assert (norm (d) < 5);
        if mode == 1
          assert (P{r, c}, pos{r, c} + [1; -2], 1e-12);
          assert (S(r, c) > 0 && S(r, c) <= 1);
        else
          assert (norm (P{r, c} - (pos{r, c} + [1; -2])) < 1.5);
        end
      end
    end
  end

  % The example of the help text.
  ref3 = cell (3, 3);
  for r = 1:3, for c = 1:3, ref3{r, c} = [10 * c; 10 * r]; end, end
  map3 = zeros (40, 40);
  map3(11:10:31, 11:10:31) = 1;
  fixed3 = zeros (3, 3); fixed3(2, 2) = 1;
  [s3, P3] = driftfield (ref3, ref3, 1, 1, 1, 5, 2.5, map3, 0, 1, fixed3);
  assert (P3{1, 1}, [11; 11]);
  assert (P3{2, 2}, [20; 20]);
  assert (s3, [0.9014 0.8932 0.9014; 0.8932 0 0.8932; 0.9014 0.8932 0.9014], 5e-5);
  [~, Q3] = driftfield (ref3, ref3, 1, 0, 1, 5, 2.5, map3, 0, 1, fixed3);
  assert (Q3{1, 1}, [10.905; 10.905], 5e-4);
  h = evalc ("help driftfield");
  assert (! isempty (strfind (h, "driftfield:tooLarge")));

  % skipEval and an all-fixed lattice give the input back, cells of any class.
  odd = pos; odd{3, 4} = int16 ([7 8 9]);
  [S, P] = driftfield (odd, ref, 2, 1, 1, 6, 5, map, 1, 1, zeros (M, N));
  assert (S, zeros (M, N));
  assert (isequal (P, odd));
  [S, P] = driftfield (odd, ref, 2, 1, 1, 6, 5, map, 0, 1, true (M, N));
  assert (S, zeros (M, N));
  assert (isequal (P, odd));

  % Empty, single-row and single-column lattices.
  [S, P] = driftfield (cell (0, 3), cell (0, 3), 1, 1, 1, 1, 3, map, 0, 1, zeros (0, 3));
  assert (size (S), [0, 3]);
  assert (iscell (P) && isequal (size (P), [0, 3]));
  row = pos(4, :); col = pos(:, 6);
  [Sr, Pr] = driftfield (row, ref(4, :), 1, 1, 1, 6, 5, map, 0, 1, zeros (1, N));
  [Sc, Pc] = driftfield (col, ref(:, 6), 1, 1, 1, 6, 5, map, 0, 1, zeros (M, 1));
  assert (size (Sr), [1, N]); assert (size (Sc), [M, 1]);
  assert (Pr{7}, pos{4, 7} + [1; -2], 1e-12);
  assert (Pc{9}, pos{9, 6} + [1; -2], 1e-12);

  % Other real classes are read by value; one result may be asked for.
  ipos = cellfun (@(p) int16 (round (p)), pos, "UniformOutput", false);
  dpos = cellfun (@(p) double (p), ipos, "UniformOutput", false);
  umap = uint8 (round (200 * map));
  [Sd, Pd] = driftfield (dpos, ref, 2, 0, 1, 0.02, 5, double (umap), 0, 1, double (fixed));
  [Si, Pi] = driftfield (ipos, ref, int8 (2), single (0), 1, 0.02, single (5), umap, false, 1, logical (fixed));
  assert (Si, Sd);
  assert (isequal (Pi(fixed == 0), Pd(fixed == 0)));
  assert (isa (Pi{5, 7}, "int16"));
  S1 = driftfield (pos, ref, 2, 1, 1, 6, 5, map, 0, 1, fixed);
  assert (size (S1), [M, N]);

  % Refusals.
  a = {pos, ref, 2, 1, 1, 6, 5, map, 0, 1, fixed};
  bad = @(k, v) [a(1:k-1), {v}, a(k+1:end)];
  expect_error (@() driftfield (a{1:10}), "driftfield:nargin");
  expect_error (@() driftfield (a{:}, 0), "driftfield:nargin");
  expect_error (@() call3 (a), "driftfield:nargout");
  expect_error (@() driftfield (bad (1, ones (3)){:}), "driftfield:positions");
  onebad = pos; onebad{2, 3} = 5;
  expect_error (@() driftfield (bad (1, onebad){:}), "driftfield:positions");
  nanpos = pos; nanpos{2, 3} = [NaN; 1];
  expect_error (@() driftfield (bad (1, nanpos){:}), "driftfield:positions");
  expect_error (@() driftfield (bad (2, ref(1:19, :)){:}), "driftfield:reference");
  same = ref; same{2, 3} = same{2, 4};
  expect_error (@() driftfield (bad (2, same){:}), "driftfield:sameReference");
  expect_error (@() driftfield (bad (3, [1 2]){:}), "driftfield:windowHalf");
  expect_error (@() driftfield (bad (4, NaN){:}), "driftfield:mode");
  expect_error (@() driftfield (bad (4, "a"){:}), "driftfield:mode");
  expect_error (@() driftfield (bad (5, -1){:}), "driftfield:pairWeight");
  expect_error (@() driftfield (bad (6, 1i){:}), "driftfield:dataWeight");
  expect_error (@() driftfield (bad (7, 0){:}), "driftfield:radius");
  expect_error (@() driftfield (bad (7, Inf){:}), "driftfield:radius");
  expect_error (@() driftfield (bad (7, 400){:}), "driftfield:tooLarge");
  expect_error (@() driftfield (bad (8, map + 1i){:}), "driftfield:scoreMap");
  expect_error (@() driftfield (bad (8, ones (4, 4, 2)){:}), "driftfield:scoreMap");
  expect_error (@() driftfield (bad (9, {1}){:}), "driftfield:skipEval");
  expect_error (@() driftfield (bad (10, "h"){:}), "driftfield:bandwidth");
  expect_error (@() driftfield (bad (11, zeros (N, M + 1)){:}), "driftfield:fixedMask");
  ms = bad (4, 2);
  expect_error (@() driftfield ([ms(1:9), {0}, ms(11)]{:}), "driftfield:bandwidth");
  expect_error (@() driftfield ([ms(1:2), {Inf}, ms(4:end)]{:}), "driftfield:windowHalf");
  % Octave keeps running after a refusal.
  assert (isequal (size (driftfield (a{:})), [M, N]));
end

function call3 (a)
  [x, y, z] = driftfield (a{:});
end
