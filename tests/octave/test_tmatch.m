function test_tmatch ()
  % tmatch.mex in Octave: results on a real photograph, regions, classes,
  % and every refusal raising its identifier while Octave keeps running.
  here = fileparts (mfilename ("fullpath"));
  img = imread (fullfile (here, "..", "..", "data", "camera.png"));
  assert (isa (img, "uint8") && ndims (img) == 2);
  dimg = double (img);
  tpl = dimg(200:231, 240:271);

  C = tmatch (dimg, -1, tpl);
  assert (size (C), size (dimg) - size (tpl) + 1);
  [peak, k] = max (C(:));
  [row, col] = ind2sub (size (C), k);
  assert ([row, col], [200, 240]);
  assert (peak, 1, 1e-5);
  assert (all (C(:) >= -1 - 1e-5 & C(:) <= 1 + 1e-5));

  % uint8 straight from imread and a single template give the same map.
  assert (tmatch (img, -1, single (tpl)), C);

  % A region: element (1,1) belongs to the region's own top-left pixel.
  R = tmatch (dimg, [221 181 80 70], tpl);
  assert (size (R), [70 - 32 + 1, 80 - 32 + 1]);
  % The library computes each area on its own, so float rounding differs.
  assert (R, C(181:181 + 38, 221:221 + 48), 1e-5);
  % Clipped at the far edges.
  E = tmatch (dimg, [500 490 100 100], dimg(490:500, 500:505));
  assert (size (E), [512 - 490 + 1 - 11 + 1, 512 - 500 + 1 - 6 + 1]);

  % Doubles in 0..1 collapse to two grey levels, as documented.
  S = tmatch (dimg / 255, -1, tpl / 255);
  assert (size (S), size (C));

  expect_error (@() tmatch (dimg, -1), "tmatch:nargin");
  expect_error (@() tmatch (repmat (img, [1 1 3]), -1, tpl), "tmatch:image");
  expect_error (@() tmatch ([], -1, tpl), "tmatch:image");
  expect_error (@() tmatch (dimg + 1i, -1, tpl), "tmatch:image");
  expect_error (@() tmatch ("camera.png", -1, tpl), "tmatch:image");
  expect_error (@() tmatch (sparse (dimg), -1, tpl), "tmatch:image");
  expect_error (@() tmatch (dimg, -1, {tpl}), "tmatch:template");
  expect_error (@() tmatch (dimg, [1 1 10], tpl), "tmatch:region");
  expect_error (@() tmatch (dimg, [0 1 100 100], tpl), "tmatch:region");
  expect_error (@() tmatch (dimg, [1 600 100 100], tpl), "tmatch:region");
  expect_error (@() tmatch (dimg, [1 1 NaN 100], tpl), "tmatch:region");
  expect_error (@() tmatch (dimg, [1 1 20 100], tpl), "tmatch:templateSize");
  try
    [a, b] = tmatch (dimg, -1, tpl);
    error ("regmex:test", "two results were accepted");
  catch err
    assert (err.identifier, "tmatch:nargout");
  end

  % Octave still works after the refusals.
  assert (tmatch (dimg, -1, tpl), C);
  text = evalc ("help tmatch");
  assert (! isempty (strfind (text, "tmatch:region")));
end
