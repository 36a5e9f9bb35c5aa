% TMATCH  Normalised cross-correlation of a template over an image.
%
%   C = tmatch(IMAGE, -1, TEMPLATE)
%   C = tmatch(IMAGE, [X Y WIDTH HEIGHT], TEMPLATE)
%
%   Slides TEMPLATE over IMAGE (or over a rectangular region of it) and
%   returns, for every placement that lies wholly inside the searched area,
%   the normalised correlation coefficient between the template and the
%   pixels under it, a value between -1 and 1.
%
%   Arguments
%     IMAGE     grey-level matrix, M rows by N columns (any real numeric or
%               logical class: double, single, uint8 from imread, ...).
%               Values are rounded to the nearest integer (halves to the
%               even one) and saturated to 0..255 before matching: every
%               value above 255, Inf included, counts as 255, every value
%               below 0 as 0, so scale doubles in 0..1 by 255 first.  NaN
%               counts as 0.  Convert colour images to grey
%               first (rgb2gray, or mean(img, 3)).
%     REGION    -1 (or any vector whose first element is exactly -1)
%               searches the whole image.  Otherwise [X Y WIDTH HEIGHT]:
%               X and Y are the 1-based column and row of the region's
%               top-left pixel, WIDTH counts columns and HEIGHT rows.
%               Fractional values are truncated toward zero.  A region
%               reaching past the right or bottom edge of the image is
%               clipped there.
%     TEMPLATE  grey-level matrix, m rows by n columns, read like IMAGE; it
%               must fit into the searched area.
%
%   Result
%     C         (H-m+1) by (W-n+1) double matrix for a searched area H rows
%               high and W columns wide.  C(r, c) belongs to the placement
%               whose top-left template pixel lies on image row Y+r-1 and
%               column X+c-1 (X = Y = 1 without a region).  A template that
%               is constant after the 8-bit conversion has no defined
%               coefficient; the result there is the image library's.
%
%   Precision
%     The image library accumulates the sums of each placement in single
%     precision.  Measured on data/camera.png against the same coefficient
%     computed exactly (integer sums) from the same 8-bit values: where the
%     template and the window under it both have some texture (standard
%     deviation of 5 grey levels or more) the scores differ by at most
%     3e-4.  In near-flat windows (standard deviation below 1 grey level)
%     they differ by up to 0.035, and by up to 0.07 when the template is
%     nearly flat too: a low-contrast 8x8 or 16x16 template (2 to 5 grey
%     levels from darkest to brightest) cut from the image may score
%     0.987 at its own place instead of 1.  Scores of flat areas are
%     therefore noise at the 0.01 level; give templates some contrast.
%
%   Errors (identifiers)
%     tmatch:nargin        not exactly three arguments
%     tmatch:nargout       more than one result requested
%     tmatch:image         image empty, complex, sparse, 3-D or not numeric
%     tmatch:template      template empty, complex, sparse, 3-D or not numeric
%     tmatch:region        region not -1 and not four finite values, starting
%                          left of or above the image (x or y below 1), past
%                          its right or bottom edge, or narrower or lower
%                          than one pixel
%     tmatch:templateSize  template larger than the searched area
%     tmatch:opencv        the image library reported a failure
%   tmatch has no interrupted error: it is one library call, and Ctrl-C
%   takes effect once that call has returned.
%
%   When the results themselves cannot be allocated, the host raises its
%   own error and the call ends there, leaving nothing behind: in Octave
%   the message "tmatch: failed to allocate N bytes of memory" with an empty
%   identifier, in MATLAB its own out-of-memory error.
%
%   Example
%     img = double(imread('camera.png'));
%     tpl = img(200:231, 240:271);
%     C = tmatch(img, -1, tpl);
%     [peak, k] = max(C(:));
%     [row, col] = ind2sub(size(C), k)     % 200, 240
%     C2 = tmatch(img, [201 151 120 120], tpl);   % search a region only
%     [x, y] = tmatchpeak(C2, [201 151 120 120], size(tpl))   % about 240, 200
%
%   See also tmatchpeak (best placement below a pixel, or the N best),
%   tpsfit, warpmatch.
