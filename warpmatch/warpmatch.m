% WARPMATCH  Warps an image through a thin-plate spline pair and inverts the
% pair at a list of points.
%
%   [PTS, MAPX, MAPY, WARPED] = warpmatch(COEFX, COEFY, CTRLX, CTRLY, ...
%                                         TARGETX, TARGETY, PREVX, PREVY, IMAGE)
%
%   The pair T = (Tx, Ty) maps a position (x, y) of the output frame to a
%   position of the source frame:
%
%     Tx(x, y) = a0 + ax*x + ay*y + sum_k w(k) * U(d_k),  likewise Ty,
%     d_k = (CTRLX(k) - x)^2 + (CTRLY(k) - y)^2,  U(d) = d * log(d + 2.2204e-16).
%
%   warpmatch evaluates T over the image (exactly at a coarse grid of about
%   every fourth pixel, bilinearly in between), optionally composes it with
%   a previous warp, resamples IMAGE through the result, and searches, for
%   every control point, the position whose image under T meets the point's
%   target.  No spline is fitted: the coefficients are the caller's;
%   tpsfit fits them from control points and their targets.
%
%   All coordinates are 0-based pixel coordinates: x is the column index
%   (0 at the left edge), y the row index (0 at the top).  Matrix element
%   (r, c) of MATLAB/Octave lies at x = c - 1, y = r - 1.
%
%   Arguments (any real numeric or logical class; values are read as double)
%     COEFX, COEFY  K+3 coefficients each: the K kernel weights w, then a0,
%                   ax, ay.  Extra elements are ignored; the shape does not
%                   matter.
%     CTRLX         column vector of the K control points' x; its row count
%                   is K.  zeros(0, 1) or [] for none.
%     CTRLY         at least K values: the control points' y.
%     TARGETX, TARGETY  at least K values: each point's target in the
%                   source frame.
%     PREVX, PREVY  [] and [] for no previous warp.  Otherwise the x and y
%                   maps of a previous warp (for example MAPX and MAPY of an
%                   earlier call): equal row counts, at least M rows and N
%                   columns, 2-D or 3-D (the first page is read).  The
%                   composed maps take an output pixel through T first and
%                   then through the previous maps; where T points outside
%                   the previous maps they hold 0.  NaN reads as 0.1.
%     IMAGE         grey-level matrix of M rows and N columns, at least 5x5.
%                   NaN reads as 0.1.
%
%   Results
%     PTS     K x 2: row k is the found position (x, y) for control point k.
%             The search starts at the control point rounded to whole
%             pixels and refines an 11x11 grid 13 times, from a half-width
%             of 64 pixels down to steps of 0.003125; it moves at most
%             127.984375 pixels in x and in y, and stops at the best
%             position within that reach.  A point for which some level
%             has no candidate within an L1 distance of 1,000,000 of the
%             target (NaN coefficients or coordinates) gets NaN, NaN.
%     MAPX    M x N: the source column that output pixel (r, c) samples.
%     MAPY    M x N: the source row.  MAPX and MAPY can be passed as PREVX
%             and PREVY of the next call.
%     WARPED  M x N: IMAGE sampled bilinearly at (MAPX, MAPY).  Where the
%             sample falls outside IMAGE (and wherever the interpolated
%             value is below -1) it holds uniform noise in [0, 1] from the
%             C library's rand, seeded with the current time in seconds at
%             every call: two calls within the same second draw the same
%             noise.
%     MAPX, MAPY and WARPED are computed in single precision.
%
%   Precision of the maps
%     The spline is evaluated exactly only at a coarse grid of nodes about
%     4 pixels apart; between them the image library interpolates in its
%     linear warp, which samples at 1/32 of a coarse cell, and keeps
%     single precision.  Measured on frames from 64x80 to 1000x700: even
%     an affine T (shift, 5 degree rotation, scaling) comes back with
%     errors of up to 0.075 px per axis, 0.05 px RMS.  Where the spline
%     bends sharply, that is near closely spaced control points whose
%     targets differ, the bilinear fill between nodes misses more: for
%     6x6 control points with targets moved randomly by about 2 px, the
%     maps stray from the spline by up to 0.11 px at a spacing of 64 px,
%     0.18 px at 32, 0.53 px at 16, 0.84 px at 8 and 1.8 px at 4 (RMS
%     over the frame stays near 0.05 px).  PTS do not have this floor:
%     the point search evaluates the spline itself.
%
%   Console
%     The point search runs on one worker thread per started block of 20
%     points, at most four.  For each worker the call prints
%     "Thread start E" and "Thread Exit E" (E: one past the worker's last
%     point index), in the order they happened, then "Thread join all".
%
%   Errors (identifiers)
%     warpmatch:nargin   not exactly nine arguments
%     warpmatch:nargout  more than four results requested
%     warpmatch:coefX    COEFX not real numeric (complex, sparse, text, cell)
%                        or fewer than K+3 elements
%     warpmatch:coefY    the same for COEFY
%     warpmatch:ctrlX    CTRLX not a real numeric column vector
%     warpmatch:ctrlY    CTRLY not real numeric or fewer than K elements
%     warpmatch:targetX  TARGETX not real numeric or fewer than K elements
%     warpmatch:targetY  TARGETY not real numeric or fewer than K elements
%     warpmatch:prevX    PREVX neither [] nor a real numeric 2-D or 3-D array
%                        of at least M rows and N columns
%     warpmatch:prevY    the same for PREVY, or only one of PREVX and PREVY
%                        is [], or their row counts differ
%     warpmatch:image    IMAGE empty, complex, sparse, not numeric, 3-D (a
%                        colour image: convert to grey first), smaller than
%                        5x5, or too large for the image library
%     warpmatch:tooLarge IMAGE has more than 2^27 (134,217,728) pixels: the
%                        working images would need over 6 GiB
%     warpmatch:tooManyPoints  more than 2,147,483,644 control points (the
%                        point indices and the K+3 coefficients must fit an
%                        int); the search costs some 1,600*K kernel values
%                        per point, so from a few thousand points on it runs
%                        for minutes: Ctrl-C stops it
%     warpmatch:interrupted  Ctrl-C (or the host's interrupt) during the
%                        spline maps (checked between rows of the coarse grid,
%                        before any worker starts) or the point search (the
%                        workers stop between levels of a point, all are joined
%                        and "Thread join all" is still printed); everything
%                        is released and no result is returned
%     warpmatch:opencv   the image library reported a failure
%     warpmatch:thread   a worker thread could not be started or joined
%                        (every started worker has finished when it is raised)
%     warpmatch:outOfMemory  no memory for the found points, or, when fewer
%                        than four results are asked for, for the maps and
%                        image that the call still makes
%
%   When the results themselves cannot be allocated, the host raises its
%   own error and the call ends there, leaving nothing behind: in Octave
%   the message "warpmatch: failed to allocate N bytes of memory" with an empty
%   identifier, in MATLAB its own out-of-memory error.
%
%   Example: a known warp (a shift) and its inversion
%     img = double(imread('camera.png'));        % any grey image
%     ctrlX = [100; 300];  ctrlY = [200; 250];    % K = 2
%     coefX = [0; 0;  10.5; 1; 0];                % Tx = x + 10.5
%     coefY = [0; 0;  -4;   0; 1];                % Ty = y - 4
%     targetX = [120.5; 310.5];  targetY = [196; 250];
%     [pts, mapX, mapY, warped] = warpmatch(coefX, coefY, ctrlX, ctrlY, ...
%                                           targetX, targetY, [], [], img);
%     pts                      % [110 200; 300 254]: T(pts) = targets
%     mapX(1, 1:3)             % about 10.5 11.5 12.5
%     warped(10, 20)           % about img(10 - 4, 20 + 10.5), between pixels
%     warped(1:4, :)           % noise: those rows sample above the image
%     % Composing: a second shift applied before the first.
%     [~, mx2] = warpmatch([2; 1; 0], [0; 0; 1], zeros(0, 1), [], [], [], ...
%                          mapX, mapY, img);
%     mx2(1, 1)                % about 12.5: x + 2, then + 10.5
%
%   See also tpsfit (fits COEFX and COEFY), tmatchpeak, tmatch.
