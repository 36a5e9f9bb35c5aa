% DRIFTFIELD  Moves the nodes of a lattice to their best offsets on a score map.
%
%   [SCORES, P] = driftfield(POSITIONS, REFERENCE, WINDOWHALF, MODE, PAIRWEIGHT,
%                            DATAWEIGHT, RADIUS, SCOREMAP, SKIPEVAL, BANDWIDTH,
%                            FIXEDMASK)
%
%   For every free node of an M-by-N lattice of points, considers each whole
%   pixel offset (dx, dy) with dx^2 + dy^2 < RADIUS^2 around the node's
%   current position, rates it by SCOREMAP at that place and by how well it
%   keeps the displacement to the neighbouring nodes (left, right, above,
%   below) equal to the displacement of their reference positions, and
%   combines one pass of messages along the rows and columns into a belief
%   over the offsets.  The belief becomes the node's new position and score.
%
%   Arguments
%     POSITIONS   M-by-N cell array; cell {r, c} holds the current position
%                 [x; y] of node (r, c): x is the 1-based column, y the
%                 1-based row of SCOREMAP (further elements are ignored).
%                 Any real numeric class.  Free nodes need finite values.
%     REFERENCE   M-by-N cell array of reference positions, read the same
%                 way.  The pairwise term compares the displacement between
%                 two neighbours with that of their references, relative to
%                 the references' distance, so neighbours of which at least
%                 one is free need distinct, finite references.
%     WINDOWHALF  half-width a of the candidate grid of the mean shift,
%                 truncated toward zero; a < 0 gives no candidates and
%                 a >= 6 never fits the [-5, 5] box (the node keeps its
%                 position).  Used by the mean shift only.
%     MODE        1: max-product messages, arg-max estimate.
%                 0 (or anything in (-1, 1) other than 1): sum-product
%                 messages, belief-weighted mean estimate.
%                 Any other value: sum-product messages, grid mean shift.
%                 Messages are max-product only for exactly 1; the estimator
%                 takes MODE truncated toward zero (1.5 gives sum-product
%                 messages and the arg-max).
%     PAIRWEIGHT  lambda >= 0, weight of the pairwise term
%                 exp(-lambda * (|e| / D)^2).
%     DATAWEIGHT  beta, weight of the data term exp(-(1 - v) * beta) for the
%                 map value v (outside the map: 0.5).
%     RADIUS      radius of the disc of offsets, above 0.  L offsets:
%                 radius 1 gives 1, 2 gives 9, 2.5 gives 21, 5 gives 69,
%                 10 gives 305 (offsets on the circle are left out).
%     SCOREMAP    real matrix (any numeric class), sampled between pixels;
%                 NaN elements read as 0.1.
%     SKIPEVAL    exactly 1 returns zero scores and the positions unchanged.
%     BANDWIDTH   h > 0, Gaussian bandwidth of the mean shift (mean shift only).
%                 Keep it above about 0.02 (pixels) when WINDOWHALF >= 1: the
%                 kernel exp(-0.5*d^2/h^2) of an offset d pixels away is 0
%                 in double precision from d > 38.6*h on, so once the first
%                 update moves a node's offset off whole pixels by more than
%                 that, no offset has any density left and the node keeps
%                 its position with score NaN, without an error.  With
%                 h = 1e-3 that is nearly every free node: all but those
%                 whose first update lands within 0.04 pixel of a whole
%                 pixel in both x and y.  From about 0.02 on some offset is
%                 always near enough.  WINDOWHALF = 0 keeps the offset on
%                 (0, 0) and is not affected.
%     FIXEDMASK   real M-by-N matrix (logical too); an element equal to 1
%                 marks a fixed node, which keeps its cell and score 0.
%
%   Results
%     SCORES      M-by-N double: the score of each free node (arg-max: its
%                 highest belief; weighted mean: the belief of the disc
%                 offset nearest to the mean offset; mean shift: the density
%                 at the final offset), 0 for fixed nodes.  A node whose
%                 belief vanishes everywhere (every pairwise term underflows)
%                 keeps its position and gets NaN: find such nodes with isnan.
%                 So does a node whose mean shift is left without density
%                 (a tiny BANDWIDTH, see there).
%     P           M-by-N cell array like POSITIONS; each free node's cell is
%                 replaced by its new position, a 2-by-1 double [x; y].
%
%   Errors (identifiers)
%     driftfield:nargin         not exactly eleven arguments
%     driftfield:nargout        more than two results requested
%     driftfield:positions      POSITIONS not a 2-D cell array; a cell that is
%                               not a real numeric array of at least two
%                               elements; a free node at a non-finite position
%     driftfield:reference      REFERENCE not a cell array shaped like
%                               POSITIONS; a bad cell as above; a non-finite
%                               reference of a neighbour of a free node
%     driftfield:sameReference  two neighbouring nodes, at least one free,
%                               with the same reference position
%     driftfield:windowHalf     not a real scalar; not finite for the mean shift
%     driftfield:mode           not a real scalar, or not finite
%     driftfield:pairWeight     not a real scalar, negative or not finite
%     driftfield:dataWeight     not a real scalar, or not finite
%     driftfield:radius         not a real scalar, not finite, not above 0, or
%                               so small (below about 2e-162) that its square
%                               is 0 and the disc holds no offset
%     driftfield:scoreMap       not a real numeric 2-D matrix
%     driftfield:skipEval       not a real scalar
%     driftfield:bandwidth      not a real scalar; not finite or not above 0
%                               for the mean shift
%     driftfield:fixedMask      not a real numeric M-by-N matrix
%     driftfield:tooLarge       the working memory would exceed 4 GiB: the
%                               message stores, 4*M*N*L doubles, plus the disc
%                               and the buffers of each worker thread (about
%                               60 bytes per offset each, one worker per core
%                               up to 8).  A 40-by-40 lattice allows about
%                               radius 163, 100-by-100 radius 65, a single
%                               node about radius 2700 on 2 cores; not
%                               checked when SKIPEVAL is 1
%     driftfield:outOfMemory    the working memory could not be allocated
%     driftfield:interrupted    Ctrl-C (or the host's interrupt) during the
%                               sweeps: every worker stops before its next
%                               node, all are joined, everything is released
%                               and nothing is returned
%
%   When the results themselves cannot be allocated, the host raises its
%   own error and the call ends there, leaving nothing behind: in Octave
%   the message "driftfield: failed to allocate N bytes of memory" with an empty
%   identifier, in MATLAB its own out-of-memory error.
%
%   Example
%     % A 3-by-3 lattice, 10 pixels apart; the map peaks one pixel right of
%     % and below every node.  The centre node is fixed.
%     ref = cell(3, 3);
%     for r = 1:3, for c = 1:3, ref{r, c} = [10*c; 10*r]; end, end
%     map = zeros(40, 40);
%     map(11:10:31, 11:10:31) = 1;
%     fixed = zeros(3, 3);  fixed(2, 2) = 1;
%     [scores, P] = driftfield(ref, ref, 1, 1, 1, 5, 2.5, map, 0, 1, fixed);
%     P{1, 1}        % [11; 11]: moved onto the peak
%     P{2, 2}        % [20; 20]: fixed
%     scores         % 0.9014 at the corners, 0.8932 at the edges, 0 centre
%     [s, Q] = driftfield(ref, ref, 1, 0, 1, 5, 2.5, map, 0, 1, fixed);
%     Q{1, 1}        % [10.905; 10.905]: the weighted mean
%
%   See also tmatch (score maps), tmatchpeak, tpsfit (a spline for warpmatch
%   through the nodes' new positions), warpmatch.
