% GRIDCORNERS  Harris corners per 50x50 block of a grey-level image.
%
%   P = gridcorners(FILENAME, MINDISTANCE, QUALITY, LIMIT, ADAPTIVE)
%   P = gridcorners(IMAGE, MINDISTANCE, QUALITY, LIMIT, ADAPTIVE)
%
%   Reads the image file as 8-bit grey, or takes the grey image held in the
%   matrix IMAGE, lays a grid of 50 by 50 pixel blocks over it (the last
%   block column and row take what remains) and runs the image library's
%   corner detector, with the Harris measure, on each block separately.
%   Every block contributes up to LIMIT corners however weak its texture is
%   beside other blocks, which spreads the corners over the whole image.
%   The blocks run on all cores of the machine; the result is the same
%   whatever the number of cores.
%
%   Arguments
%     FILENAME     name of an image file the image library can decode (PNG,
%                  JPEG, TIFF, BMP, PGM, ...), a character row vector of at
%                  most 1023 characters.  Colour images are read as grey.
%     IMAGE        instead of FILENAME: a grey-level matrix, M rows (image
%                  height) by N columns (width), of any real numeric or
%                  logical class (uint8 straight from imread, double,
%                  single, ...).  Values are rounded to the nearest integer
%                  and saturated to 0..255, as tmatch reads its images, so
%                  scale doubles in 0..1 by 255 first.  NaN counts as 0.
%                  The result is the one of that 8-bit image written to a
%                  lossless file (PNG) and passed by name, without the cost
%                  of writing and decoding the file.  Convert colour images
%                  to grey first (rgb2gray, or mean(img, 3)): an M x N x 3
%                  array is refused.
%     MINDISTANCE  minimum distance in pixels between two corners of the
%                  same block, a finite number >= 0 (corners of neighbouring
%                  blocks may lie closer).  Distances beyond 1e6 act as 1e6,
%                  which already keeps a single corner per block.
%     QUALITY      quality level, a number in (0, 1]: a block keeps pixels
%                  whose Harris response is at least QUALITY times the
%                  strongest response in that block.  The same value is the
%                  Harris parameter k, so levels of 0.25 and above find no
%                  corners at all (the Harris response is then never
%                  positive).  Typical: 0.01 to 0.1.
%     LIMIT        most corners kept per block, >= 1; fractions are truncated
%                  toward zero.  (The image library reads 0 as "no limit",
%                  so LIMIT below 1 is refused.)  A block holds at most 2500
%                  corners, so larger limits change nothing.
%     ADAPTIVE     1 (anything that truncates to 1, such as 1.7) lowers the
%                  quality level in a block that yields LIMIT*0.9 corners or
%                  fewer: the level is multiplied by 0.8 and the block is
%                  detected again, starting from QUALITY in every block,
%                  until it yields enough or the level last tried is below
%                  0.005 (so the lowest level tried is about 0.004).  Any
%                  other value (0, 2, ...) leaves the level fixed.
%   MINDISTANCE, QUALITY, LIMIT and ADAPTIVE are real scalars of any numeric
%   class or logical.
%
%   Result
%     P            2 by K double matrix, one column per corner: P(1, k) is
%                  the 1-based image column (x), P(2, k) the 1-based image
%                  row (y), with sub-pixel fractions as the detector reports
%                  them (whole pixels here).  Blocks come in raster order
%                  (block rows top down, each from left to right); within a
%                  block the strongest corner comes first.  K is at most
%                  (number of blocks) * LIMIT; an image without corners gives
%                  a 2 by 0 matrix.
%
%   Memory
%     The point buffer takes 80 bytes per block and corner (LIMIT capped at
%     2500 for this count).  A call that would need more than 1 GiB (2^30
%     bytes) is refused with gridcorners:tooLarge; for a 2048x2048 image
%     (1764 blocks) that means LIMIT up to 2500 is always accepted.  The
%     buffer is taken before the file is read; a call that needs more than
%     8 MiB of it (a 2048x2048 image with LIMIT above 62) reads the file a
%     second time once the larger buffer is there.  Beside it the call
%     holds the 8-bit image (W*H bytes; none for a uint8 or logical IMAGE,
%     whose blocks are read from the matrix itself) and, per core, two
%     working images of one block.
%
%   Errors (identifiers)
%     gridcorners:nargin          not exactly five arguments
%     gridcorners:nargout         more than one result requested
%     gridcorners:filename        argument 1 neither a character array nor
%                                 a numeric or logical matrix (a cell, a
%                                 struct, ...); FILENAME not a non-empty
%                                 character row vector, or containing a NUL
%                                 character
%     gridcorners:image           IMAGE complex, sparse, empty, with more
%                                 than two dimensions (a colour image), or
%                                 larger than an 8-bit image can hold
%                                 (rows times columns rounded up to a
%                                 multiple of 4 above 2147483647)
%     gridcorners:filenameLength  FILENAME longer than 1023 characters (or
%                                 1023 bytes once encoded); never cut short
%     gridcorners:fileNotFound    no such file, or a directory or other
%                                 non-regular file (the message names it)
%     gridcorners:imageRead       the file cannot be read or decoded as an
%                                 image, or changed between two readings
%                                 (the message names it)
%     gridcorners:minDistance     MINDISTANCE not a real scalar, negative,
%                                 NaN or infinite
%     gridcorners:quality         QUALITY not a real scalar, not above 0,
%                                 above 1, or NaN
%     gridcorners:limit           LIMIT not a real scalar, below 1 after
%                                 truncation, NaN, or above 2147483647
%     gridcorners:adaptive        ADAPTIVE not a real scalar
%     gridcorners:tooLarge        the point buffer would exceed 1 GiB
%     gridcorners:outOfMemory     not enough memory to decode the file
%                                 (the message names it), to hold the
%                                 8-bit image of IMAGE, or for the working
%                                 images of the detector; the file itself
%                                 may well be sound
%     gridcorners:opencv          the image library reported a failure
%     gridcorners:interrupted     Ctrl-C (or the host's interrupt) between two
%                                 blocks: the call stops within a block's
%                                 work, releases everything and returns
%                                 nothing
%
%   When the results themselves cannot be allocated, the host raises its
%   own error and the call ends there, leaving nothing behind: in Octave
%   the message "gridcorners: failed to allocate N bytes of memory" with an empty
%   identifier, in MATLAB its own out-of-memory error.
%
%   Example
%     img = uint8(255 * (mod(floor((0:199)' / 25) + floor((0:299) / 25), 2)));
%     imwrite(img, 'board.png');               % 200 x 300 checkerboard
%     P = gridcorners('board.png', 5, 0.04, 4, 0);
%     size(P, 1)                               % 2
%     plot(P(1, :), P(2, :), '+'); axis ij image
%     Pa = gridcorners('board.png', 5, 0.04, 4, 1);   % adaptive levels
%     isequal(gridcorners(img, 5, 0.04, 4, 0), P)      % the matrix itself: 1
%
%   See also tmatch, tmatchpeak (template placement below a pixel), tpsfit
%   (spline coefficients for warpmatch from matched points), warpmatch.
