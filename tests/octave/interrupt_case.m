function interrupt_case (what, ready)
  % INTERRUPT_CASE  The calls the SIGINT test (SigintTest.cpp) drives in an
  % interactive Octave.
  %
  %   interrupt_case ('warpmatch', READY)   K = 5000 points on a small image:
  %                                         the search alone runs for minutes
  %   interrupt_case ('driftfield', READY)  a 50x50 lattice at radius 40
  %                                         (5,025 offsets per node)
  %   interrupt_case ('driftfield-early', READY)  a 100x100 lattice at radius
  %                                         20, interrupted while it sets up
  %     Each writes the file READY just before the long call, so the test
  %     knows when to send SIGINT.
  %   interrupt_case ('warpmatch-next')     short calls that must work after
  %   interrupt_case ('driftfield-next')    an interrupt; they print NEXT=ok.
  switch (what)
    case "warpmatch"
      K = 5000;
      rand ("seed", 1);
      ctrlX = 5 + 490 * rand (K, 1); ctrlY = 5 + 490 * rand (K, 1);
      coefX = [1e-6 * (rand (K, 1) - 0.5); 2; 1; 0];
      coefY = [1e-6 * (rand (K, 1) - 0.5); -1; 0; 1];
      signal_ready (ready);
      [pts, mx] = warpmatch (coefX, coefY, ctrlX, ctrlY, ctrlX + 3, ctrlY - 2, [], [], ones (20, 20));
      printf ("NOT INTERRUPTED %d\n", rows (pts));
    case "driftfield"
      [pos, ref, map] = lattice (50, 50);
      signal_ready (ready);
      S = driftfield (pos, ref, 2, 1, 1, 6, 40, map, 0, 1.2, zeros (50, 50));
      printf ("NOT INTERRUPTED %d\n", numel (S));
    case "driftfield-early"
      [pos, ref, map] = lattice (100, 100);
      signal_ready (ready);
      S = driftfield (pos, ref, 2, 1, 1, 6, 20, map, 0, 1.2, zeros (100, 100));
      printf ("NOT INTERRUPTED %d\n", numel (S));
    case "warpmatch-next"
      evalc ("pts = warpmatch ([0; 0; 10.5; 1; 0], [0; 0; -4; 0; 1], [20; 50], [30; 40], [40.5; 50.5], [26; 40], [], [], ones (60, 80));");
      assert (pts, [30 30; 40 44], 1e-9);
      printf ("NEXT=ok\n");
    case "driftfield-next"
      [pos, ref, map] = lattice (4, 5);
      [S, P] = driftfield (pos, ref, 2, 1, 1, 6, 3, map, 0, 1.2, zeros (4, 5));
      assert (size (S), [4 5]);
      assert (all (isfinite (S(:))) && iscell (P));
      printf ("NEXT=ok\n");
    otherwise
      error ("regmex:test", "unknown case %s", what);
  end
end

function signal_ready (ready)
  fid = fopen (ready, "w");
  fclose (fid);
end

% M x N nodes 20 pixels apart, each 0.4 right of and 0.3 above its reference,
% on a smooth random map large enough for every disc.
function [pos, ref, map] = lattice (M, N)
  ref = cell (M, N); pos = cell (M, N);
  for r = 1:M
    for c = 1:N
      ref{r, c} = [20 * c + 40; 20 * r + 40];
      pos{r, c} = ref{r, c} + [0.4; -0.3];
    end
  end
  [cc, rr] = meshgrid (1:20 * N + 100, 1:20 * M + 100);
  map = 0.5 + 0.5 * sin (cc / 7) .* cos (rr / 5);
end
