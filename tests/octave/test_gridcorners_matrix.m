function test_gridcorners_matrix ()
  % gridcorners.mex on a grey image held in a matrix: the result of that
  % image's 8-bit form written to a PNG file and passed by name, for the
  % camera photograph straight from imread and for other classes and values.
  here = fileparts (mfilename ("fullpath"));
  camera = fullfile (here, "..", "..", "data", "camera.png");
  img = imread (camera);
  assert (isa (img, "uint8") && ismatrix (img));
  dir = tempname ();
  mkdir (dir);
  cleanup = onCleanup (@() remove_folder (dir));

  sets = {{5, 0.01, 5, 0}, {3, 0.02, 10, 1}, {1, 0.05, 3, 1}, {0, 0.01, 3000, 0}};
  for k = 1:numel (sets)
    s = sets{k};
    assert (gridcorners (img, s{:}), gridcorners (camera, s{:}));
  end

  % Doubles beyond 0..255, with fractions (never exactly a half, where
  % Octave's uint8 rounds away from zero and the conversion to even), NaN;
  % a crop whose blocks do not fill the edges; other classes.
  wide = double (img) * 2.3 - 160.27;     % fractions .03, .13, ... .93
  wide(1:7:end) = 1e4;
  wide(3:11:end) = -7e3;
  wide(5:13:end) = NaN;
  crop = wide(91:263, 37:273);
  dark = int16 (double (img) * 3 - 300);
  inputs = {wide, crop, single(wide), dark, img > 120};
  for k = 1:numel (inputs)
    X = inputs{k};
    bytes = uint8 (double (X));            % rounded, saturated, NaN as 0
    if (islogical (X))
      bytes = uint8 (X);
    end
    name = fullfile (dir, sprintf ("image%d.png", k));
    imwrite (bytes, name);
    for j = 1:numel (sets)
      s = sets{j};
      P = gridcorners (X, s{:});
      assert (P, gridcorners (name, s{:}));
      assert (columns (P) > 0);
    end
  end

  % A colour array is refused with a hint to convert it to grey.
  try
    gridcorners (cat (3, img, img, img), 5, 0.01, 5, 0);
    error ("regmex:test", "a colour array was accepted");
  catch err
    assert (err.identifier, "gridcorners:image");
    assert (! isempty (strfind (err.message, "grey")));
  end
  expect_error (@() gridcorners (zeros (0, 5), 5, 0.01, 5, 0), "gridcorners:image");
  expect_error (@() gridcorners (double (img) + 1i, 5, 0.01, 5, 0), "gridcorners:image");
  expect_error (@() gridcorners (sparse (double (img)), 5, 0.01, 5, 0), "gridcorners:image");
  expect_error (@() gridcorners ({img}, 5, 0.01, 5, 0), "gridcorners:filename");

  % The help shows both forms and lists the new identifiers.
  text = evalc ("help gridcorners");
  assert (! isempty (strfind (text, "P = gridcorners(FILENAME,")));
  assert (! isempty (strfind (text, "P = gridcorners(IMAGE,")));
  assert (! isempty (strfind (text, "gridcorners:image")));
  assert (! isempty (strfind (text, "gridcorners:outOfMemory")));
end

function remove_folder (dir)
  confirm_recursive_rmdir (false, "local");
  rmdir (dir, "s");
end
