function test_build_mex ()
  % octave/build_mex.m builds every plug-in (each top-level folder holding
  % a Sources.txt) with mkoctfile into a chosen folder, with their help
  % files and the m-functions, each linking only the libraries its
  % Sources.txt names, and the result gives the same answers as the MEX
  % files of the CMake build.
  here = fileparts (mfilename ("fullpath"));
  root = fileparts (fileparts (here));
  found = dir (fullfile (root, "*", "Sources.txt"));
  plugins = sort ({found.folder});
  [~, plugins] = cellfun (@fileparts, plugins, "UniformOutput", false);
  assert (numel (plugins) >= 4, "fewer plug-ins than the four of the tree");
  mfunctions = dir (fullfile (root, "octave", "functions", "*.m"));
  assert (! isempty (mfunctions), "octave/functions holds no m-function");
  outdir = tempname ();
  confirm_recursive_rmdir (false);
  cleanup = onCleanup (@() rmdir (outdir, "s"));
  addpath (fullfile (root, "octave"));
  log = evalc ("build_mex ('outdir', outdir)");
  assert (! isempty (strfind (log, "mkoctfile --mex")), "build_mex did not print its commands");
  for name = plugins
    assert (exist (fullfile (outdir, [name{1} ".mex"]), "file") == 3, [name{1} ".mex was not built"]);
    assert (exist (fullfile (outdir, [name{1} ".m"]), "file") == 2, [name{1} ".m was not copied"]);
  end
  names = strcat (outdir, filesep, plugins, ".mex");
  [status, out] = system (sprintf ("sh '%s' '%s' %s", fullfile (root, "tests", "cmake", "LinkedLibraries.sh"), ...
                                   root, strjoin (names, " ")));
  assert (status == 0, out);
  for name = {mfunctions.name}
    assert (exist (fullfile (outdir, name{1}), "file") == 2, [name{1} " was not copied"]);
  end
  rmpath (fullfile (root, "octave"));
  reference = which ("tmatch");
  img = double (imread (fullfile (root, "data", "camera.png")));
  tpl = img(300:340, 100:130);
  expected = tmatch (img, [50 250 300 200], tpl);
  addpath (outdir);
  assert (strcmp (which ("tmatch"), fullfile (outdir, "tmatch.mex")), which ("tmatch"));
  assert (! strcmp (which ("tmatch"), reference));
  assert (tmatch (img, [50 250 300 200], tpl), expected);
  rmpath (outdir);

  % driftfield alone needs no OpenCV: a folder without it is not looked at.
  addpath (fullfile (root, "octave"));
  alone = tempname ();
  cleanup_alone = onCleanup (@() rmdir (alone, "s"));
  evalc ("build_mex ('driftfield', '-I/nonexistent', 'outdir', alone)");
  built = dir (fullfile (alone, "*.mex"));
  assert ({built.name}, {"driftfield.mex"});
  rmpath (fullfile (root, "octave"));
  P = {[3; 4], [9; 4]; [3; 9], [9.5; 9]};
  Q = {[3; 3], [9; 3]; [3; 9], [9; 9]};
  map = reshape (mod ((1:240) * 37, 101) / 100, 15, 16);
  args = {P, Q, 1, 0, 0.8, 2.5, 2.5, map, 0, 1.1, [0 1; 0 0]};
  [s1, p1] = driftfield (args{:});
  addpath (alone);
  assert (strcmp (which ("driftfield"), fullfile (alone, "driftfield.mex")), which ("driftfield"));
  [s2, p2] = driftfield (args{:});
  rmpath (alone);
  assert (s2, s1);
  assert (p2, p1);

  % A missing OpenCV is named.
  addpath (fullfile (root, "octave"));
  try
    build_mex ("-I/nonexistent", "outdir", outdir);
    error ("regmex:test", "build_mex accepted a folder without OpenCV");
  catch err
    assert (! isempty (strfind (err.message, "OpenCV")), err.message);
  end
  rmpath (fullfile (root, "octave"));

  % A source a description names, or a description, missing from a copy of
  % the tree stops the build before anything is built.
  for missing = {fullfile("bridge", "MexArgs.cpp"), fullfile("tmatch", "Sources.txt")}
    copy = tempname ();
    mkdir (copy);
    for part = [{"octave", "bridge"}, plugins]
      copyfile (fullfile (root, part{1}), fullfile (copy, part{1}));
    end
    delete (fullfile (copy, missing{1}));
    addpath (fullfile (copy, "octave"));
    try
      evalc ("build_mex ('outdir', fullfile (copy, 'out'))");
      error ("regmex:test", "build_mex built without %s", missing{1});
    catch err
      assert (strcmp (err.identifier, "regmex:build"), err.message);
      assert (! isempty (strfind (err.message, missing{1})), err.message);
    end
    rmpath (fullfile (copy, "octave"));
    assert (! exist (fullfile (copy, "out", "tmatch.mex"), "file"));
    rmdir (copy, "s");
  end
end
