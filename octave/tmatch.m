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
%               Values are rounded to the nearest integer and saturated to
%               0..255 before matching, so scale doubles in 0..1 by 255
%               first.  NaN counts as 0.  Convert colour images to grey
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
%
%   Example
%     img = double(imread('camera.png'));
%     tpl = img(200:231, 240:271);
%     C = tmatch(img, -1, tpl);
%     [peak, k] = max(C(:));
%     [row, col] = ind2sub(size(C), k)     % 200, 240
%     C2 = tmatch(img, [201 151 120 120], tpl);   % search a region only
