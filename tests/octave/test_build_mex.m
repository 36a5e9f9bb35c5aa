function test_build_mex ()
  % octave/build_mex.m builds all four plug-ins with mkoctfile into a chosen
  % folder, with their help files, and the result gives the same answers as
  % the MEX files of the CMake build.
  here = fileparts (mfilename ("fullpath"));
  root = fileparts (fileparts (here));
  outdir = tempname ();
  confirm_recursive_rmdir (false);
  cleanup = onCleanup (@() rmdir (outdir, "s"));
  addpath (fullfile (root, "octave"));
  log = evalc ("build_mex ('outdir', outdir)");
  assert (! isempty (strfind (log, "mkoctfile --mex")), "build_mex did not print its commands");
  for name = {"tmatch", "gridcorners", "warpmatch", "driftfield"}
    assert (exist (fullfile (outdir, [name{1} ".mex"]), "file") == 3, [name{1} ".mex was not built"]);
    assert (exist (fullfile (outdir, [name{1} ".m"]), "file") == 2, [name{1} ".m was not copied"]);
  end
  for name = {"tpsfit", "tmatchpeak"}
    assert (exist (fullfile (outdir, [name{1} ".m"]), "file") == 2, [name{1} ".m was not copied"]);
  end
  rmpath (fullfile (root, "octave"));   % its help files would shadow the MEX files
  reference = which ("tmatch");
  img = double (imread (fullfile (root, "data", "camera.png")));
  tpl = img(300:340, 100:130);
  expected = tmatch (img, [50 250 300 200], tpl);
  addpath (outdir);
  assert (strcmp (which ("tmatch"), fullfile (outdir, "tmatch.mex")), which ("tmatch"));
  assert (! strcmp (which ("tmatch"), reference));
  assert (tmatch (img, [50 250 300 200], tpl), expected);
  rmpath (outdir);

  % A missing OpenCV is named.
  addpath (fullfile (root, "octave"));
  try
    build_mex ("-I/nonexistent", "outdir", outdir);
    error ("regmex:test", "build_mex accepted a folder without OpenCV");
  catch err
    assert (! isempty (strfind (err.message, "OpenCV")), err.message);
  end
  rmpath (fullfile (root, "octave"));
end
