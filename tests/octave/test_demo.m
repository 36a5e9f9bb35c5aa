function test_demo ()
  % The end-to-end demo: tracking must cut the node error well below the
  % deformation, the recovered warp must place the check points, and the
  % figures must be written.
  here = fileparts (mfilename ("fullpath"));
  root = fileparts (fileparts (here));
  addpath (fullfile (root, "octave"), "-end");   % behind the MEX files
  outdir = tempname ();
  confirm_recursive_rmdir (false);
  cleanup = onCleanup (@() rmdir (outdir, "s"));
  r = regmex_demo ("quiet", true, "outdir", outdir);
  printf ("node error %.2f -> %.2f px (95th pct %.2f -> %.2f), check points %.2f px, maps at control points max %.3f, %.3f px\n", ...
          r.beforeMedian, r.afterMedian, r.beforeP95, r.afterP95, r.checkMedian, r.truthMissMax, r.backMissMax);
  assert (r.nodes, 196);
  assert (r.beforeMedian > 1.5, "the deformation is too small to show anything");
  assert (r.afterMedian < 0.2 * r.beforeMedian);
  assert (r.afterP95 < 0.3 * r.beforeP95);
  assert (r.checks >= 20);
  assert (r.checkMedian < 0.25);
  assert (r.mapMedian < 0.25);
  assert (r.confirmMedian < 0.6);
  % Fitted in normalised coordinates, both warps' maps meet their control
  % points up to warpmatch's sampling of the spline (about 0.07 px).
  assert (r.truthMissMax < 0.15);
  assert (r.backMissMax < 0.15);
  assert (r.diffAfter < 0.5 * r.diffBefore);
  % One call of tpsregister on the same pair places the check points as
  % well as the lattice tracking does.
  assert (r.oneCallMedian < 0.25);
  assert (r.oneCallMax < 1);
  for name = {"lattice", "score_map", "corners", "difference"}
    info = dir (fullfile (outdir, [name{1} ".png"]));
    assert (numel (info) == 1 && info.bytes > 10000, [name{1} ".png was not written"]);
  end
end
