function roundtrip_check (names, mfunctions)
  % help of each plug-in and m-function of the installed package (names,
  % mfunctions: those of the source tree), and one call of each of the four
  % plug-ins and the two m-functions.
  for k = 1:numel (names)
    [~, ~, ext] = fileparts (which (names{k}));
    assert (strcmp (ext, ".mex"), sprintf ("%s resolves to %s, not the MEX file", names{k}, which (names{k})));
    text = evalc (sprintf ("help %s", names{k}));
    assert (! isempty (strfind (text, sprintf ("%s:", names{k}))), sprintf ("help %s shows no error identifiers", names{k}));
    printf ("%s: help ok\n", names{k});
  end
  img = double (imread (file_in_loadpath ("camera.png")));
  C = tmatch (img, -1, img(100:131, 200:231));
  [~, k] = max (C(:));
  [r, c] = ind2sub (size (C), k);
  assert ([r, c], [100, 200]);
  printf ("tmatch: ok\n");
  % The m-functions ship with the package, with their help.
  for name = mfunctions
    [~, ~, ext] = fileparts (which (name{1}));
    assert (strcmp (ext, ".m"), sprintf ("%s is not in the package", name{1}));
    assert (! isempty (strfind (evalc (sprintf ("help %s", name{1})), [name{1} ":"])));
  end
  [x, y] = tmatchpeak (C, -1, [32 32]);
  assert ([x, y], [200, 100], 0.1);
  [cx, cy] = tpsfit ([0; 50; 0], [0; 0; 40], [1; 51; 1], [2; 2; 42]);
  assert ([cx, cy], [zeros(3, 2); 1 2; 1 0; 0 1], 1e-9);
  printf ("tpsfit, tmatchpeak: ok\n");
  img = double (imread (file_in_loadpath ("camera.png")));
  [~, mapY] = tpsregister (img, img([4:end, 1:3], :));
  assert (median (mapY(:) - repmat ((0:511)', 512, 1)), -3, 0.01);
  printf ("patchmatch, tpsregister: ok\n");
  P = gridcorners (file_in_loadpath ("camera.png"), 5, 0.01, 5, 0);
  assert (rows (P) == 2 && columns (P) > 0);
  printf ("gridcorners: ok\n");
  coef = [0 0 1 0]';    % K = 1, identity x spline
  coefy = [0 0 0 1]';
  [pts, mx, my, out] = warpmatch (coef, coefy, 10, 10, 12, 14, [], [], img(1:64, 1:64));
  assert (size (mx), [64 64]);
  assert (pts, [12 14], 1e-6);
  printf ("warpmatch: ok\n");
  pos = {[5; 5], [10; 5]};
  [s, P] = driftfield (pos, pos, 1, 1, 0.5, 1, 2, ones (20, 20), 0, 1, zeros (1, 2));
  assert (size (s), [1 2]);
  assert (iscell (P) && isequal (size (P), [1 2]));
  printf ("driftfield: ok\n");
end
