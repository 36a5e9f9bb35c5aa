% PATCHMATCH  Finds many patches of a reference image in a moving image, at
% one level of an image pyramid, around where a current estimate puts them.
%
%   [FOUND, QUALITY, POINTS, MAPX, MAPY, WARPED] = ...
%       patchmatch(REF, MOV, POINTS, CTRL, COEF, LEVEL, PATCHHALF, RADIUS)
%
%   The estimate is a thin-plate spline pair T = (Tx, Ty) in warpmatch's
%   layout (see tpsfit): it takes a position of REF's frame to MOV.  Both
%   images are reduced LEVEL times by halving (a Gaussian pyramid); MOV's
%   level is resampled onto REF's level through T.  The template of each
%   point, (2*PATCHHALF+1)^2 pixels of REF's level around it, is searched
%   in the resampled image within RADIUS pixels of the point by normalised
%   cross-correlation (blind to gain and offset).  The best whole-pixel
%   position is refined below a pixel by re-centring the window on the
%   peak and fitting parabolas through the scores a quarter pixel either
%   side.  FOUND is that position taken through T: where the point's patch
%   lies in MOV.
%
%   All coordinates are 0-based full-resolution pixel coordinates (x the
%   column, y the row), at every LEVEL; level pixel (i, j) lies at
%   (j * 2^LEVEL, i * 2^LEVEL).  The image work runs on every core;
%   Ctrl-C stops it.
%
%   Arguments (any real numeric or logical class)
%     REF, MOV   grey-level images, 2-D, of any sizes up to 2^26 pixels,
%                finite values below 1e30 in magnitude
%     POINTS     2 x K: the points (x; y) of REF, or a scalar cell size S
%                (2 or more): then in every S x S block of REF, PATCHHALF
%                pixels inside its edges, the pixel of strongest structure
%                in two directions (the smaller eigenvalue of the gradients'
%                structure tensor), leaving out blocks much weaker than the
%                typical one (flat ground, single straight edges)
%     CTRL       2 x K' control points of T, or [] for an affine T
%     COEF       (K'+3) x 2: the K' weights, a0, ax, ay of Tx (column 1)
%                and of Ty (column 2); [0 0; 1 0; 0 1] with CTRL = [] is
%                the identity
%     LEVEL      pyramid level, an integer 0..16 (0: full resolution)
%     PATCHHALF  template half-size in level pixels, an integer 1..1000
%     RADIUS     search radius in level pixels, an integer 1..1000
%
%   Results
%     FOUND      2 x K: each point's match in MOV, or NaN, NaN where there is
%                none: the template reaches past REF's level, is flat, the
%                best score lies on the edge of the search (the match is
%                farther than RADIUS), or the matched patch reaches past MOV
%     QUALITY    2 x K: the peak score (-1..1) and the best score two or more
%                level pixels from the peak (near the peak score for a
%                patch that slides along an edge); NaN where FOUND is
%     POINTS     2 x K: the points matched (as given, or picked)
%     MAPX, MAPY T over REF's level in that level's pixel units: the x and
%                y of MOV's level that each pixel samples (exact every 4
%                level pixels, linear in between; single precision)
%     WARPED     MOV's level resampled through T (bicubic; beyond MOV's
%                edges its nearest edge pixel).  At LEVEL 0, MAPX, MAPY
%                and WARPED are the registration's maps and image.
%
%   Errors (identifiers)
%     patchmatch:nargin      not exactly eight arguments
%     patchmatch:nargout     more than six results requested
%     patchmatch:ref         REF not a real 2-D non-empty matrix, larger
%                            than 2^26 pixels, or holding NaN, Inf or values
%                            of 1e30 or more in magnitude
%     patchmatch:mov         the same for MOV
%     patchmatch:points      POINTS neither 2 x K of finite values nor an
%                            integer scalar of at least 2
%     patchmatch:ctrl        CTRL neither [] nor 2 x K' of finite values
%     patchmatch:coef        COEF not (K'+3) x 2 of finite values
%     patchmatch:level       LEVEL not an integer 0..16
%     patchmatch:patchHalf   PATCHHALF not an integer 1..1000
%     patchmatch:radius      RADIUS not an integer 1..1000
%     patchmatch:interrupted Ctrl-C (or the host's interrupt) during the
%                            call; everything is released and nothing is
%                            returned
%     patchmatch:opencv      the image library reported a failure
%
%   Example: a shift found at level 1, then below a pixel at level 0
%     ref = double(imread('camera.png'));
%     mov = ref([end-4:end, 1:end-5], [8:end, 1:7]);    % moved by (-7, 5)
%     I = [0 0; 1 0; 0 1];
%     [f, q, P] = patchmatch(ref, mov, 32, [], I, 1, 6, 6);
%     d = median(f - P, 2)                              % about [-7; 5]
%     [f, q] = patchmatch(ref, mov, P, [], I + [d'; 0 0; 0 0], 0, 8, 2);
%     median(f - P, 2)                                  % [-7; 5] within 0.01
%
%   See also tpsregister, tpsfit, warpmatch, tmatch.
