#include "Matching.h"

#include "Parallel.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace patchmatch {

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// The estimate's displacement is exact at nodes this many level pixels
// apart and linear in between, by cv::resize, whose weights on float images
// are exact.  Linear, not cubic: the library's cubic (a = -0.75) follows a
// curved field worse than a straight line does, and remap quantises a
// position to 1/32 of a cell as well; at 8 pixels either put the maps of a
// warp bending as a 25 px one does a tenth of a pixel off the spline.  At 4
// pixels linear stays within about 0.01 px.
const int kNodeStep = 4;
// Level position of node 0.  resize by kNodeStep puts source pixel j at
// output (j + 0.5) * kNodeStep - 0.5; with the frame starting at output
// kNodeStep, node j lies at j * kNodeStep + kNodeOrigin.
const double kNodeOrigin = -(kNodeStep + 1) / 2.0;

// Cells whose best corner strength is below this fraction of the typical
// (upper-quartile) cell's are flat or hold a single edge.
const double kWeakCell = 0.05;

// Spacing of the scores that place a peak below a pixel.
const double kFine = 0.25;

// The normalised cross-correlation of a template (less its mean; its norm)
// with a window of its size: what matchTemplate gives there, without the
// tens of microseconds it spends preparing a search.
double correlation(const cv::Mat& centred, double centredNorm, const cv::Mat& window) {
    const double sum = cv::sum(window)[0];
    const double energy = window.dot(window) - sum * sum / static_cast<double>(window.total());
    if (!(energy > 0) || !(centredNorm > 0)) return 0;
    return centred.dot(window) / (centredNorm * std::sqrt(energy));
}

// Sub-pixel offset of a peak from three samples, -0.5..0.5.
double parabola(double left, double centre, double right) {
    const double curvature = left - 2 * centre + right;
    if (!(curvature < 0)) return 0;
    const double offset = 0.5 * (left - right) / curvature;
    return std::max(-0.5, std::min(0.5, offset));
}

// Full-resolution image -> `level` halvings.
cv::Mat pyramidLevel(const cv::Mat& image, int level) {
    cv::Mat out = image;
    for (int l = 0; l < level; ++l) {
        cv::Mat next;
        cv::pyrDown(out, next);
        out = next;
    }
    return out;
}

}  // namespace

cv::Size levelSize(int rows, int cols, int level) {
    for (int l = 0; l < level; ++l) {
        rows = (rows + 1) / 2;
        cols = (cols + 1) / 2;
    }
    return cv::Size(cols, rows);
}

int pickPoints(const cv::Mat& ref, int cell, int margin, double* xy) {
    const int x0 = margin, y0 = margin, x1 = ref.cols - margin, y1 = ref.rows - margin;
    if (x1 <= x0 || y1 <= y0) return 0;
    cv::Mat strength;
    cv::cornerMinEigenVal(ref, strength, 5, 3);
    struct Best {
        float value;
        int x, y;
    };
    std::vector<Best> cells;
    for (int cy = y0; cy < y1; cy += cell)
        for (int cx = x0; cx < x1; cx += cell) {
            const cv::Rect box(cx, cy, std::min(cell, x1 - cx), std::min(cell, y1 - cy));
            double value;
            cv::Point at;
            cv::minMaxLoc(strength(box), nullptr, &value, nullptr, &at);
            cells.push_back({static_cast<float>(value), cx + at.x, cy + at.y});
        }
    std::vector<float> values;
    for (const Best& b : cells) values.push_back(b.value);
    const size_t q = values.size() * 3 / 4;
    std::nth_element(values.begin(), values.begin() + static_cast<long>(q), values.end());
    const double floor = kWeakCell * values[q];
    int K = 0;
    for (const Best& b : cells) {
        if (!(b.value > floor) || !(b.value > 0)) continue;
        if (xy) {
            xy[2 * K] = b.x;
            xy[2 * K + 1] = b.y;
        }
        ++K;
    }
    return K;
}

bool matchPatches(const Request& rq) {
    const double scale = std::ldexp(1.0, rq.level);
    const cv::Mat refL = pyramidLevel(rq.ref, rq.level);
    const cv::Mat movL = pyramidLevel(rq.mov, rq.level);
    const cv::Size size = refL.size();

    // The estimate over the level's frame: exact at nodes, linear between,
    // with a margin of nodes beyond the frame on every side.
    const int nodeRows = (size.height - 1) / kNodeStep + 4;
    const int nodeCols = (size.width - 1) / kNodeStep + 4;
    cv::Mat nodeX(nodeRows, nodeCols, CV_32F), nodeY(nodeRows, nodeCols, CV_32F);
    const size_t terms = static_cast<size_t>(nodeRows) * static_cast<size_t>(nodeCols) *
                         static_cast<size_t>(rq.estimate.K + 1);
    if (!displacementNodes(rq.estimate, nodeRows, nodeCols, kNodeStep, kNodeOrigin, scale, nodeX.ptr<float>(),
                           nodeY.ptr<float>(), parallel::workersFor(terms, size_t(1) << 16), rq.shouldStop))
        return false;
    const cv::Size upsampled(nodeCols * kNodeStep, nodeRows * kNodeStep);
    const cv::Rect frame(kNodeStep, kNodeStep, size.width, size.height);
    cv::Mat fineX, fineY;
    cv::resize(nodeX, fineX, upsampled, 0, 0, cv::INTER_LINEAR);
    cv::resize(nodeY, fineY, upsampled, 0, 0, cv::INTER_LINEAR);
    cv::Mat mapX = fineX(frame).clone(), mapY = fineY(frame).clone();
    for (int i = 0; i < size.height; ++i) {
        float* mx = mapX.ptr<float>(i);
        float* my = mapY.ptr<float>(i);
        for (int j = 0; j < size.width; ++j) {
            mx[j] += static_cast<float>(j);
            my[j] += static_cast<float>(i);
        }
    }
    cv::Mat warped;
    cv::remap(movL, warped, mapX, mapY, cv::INTER_CUBIC, cv::BORDER_REPLICATE);
    if (rq.shouldStop && rq.shouldStop()) return false;

    const int h = rq.half, r = rq.radius;
    const double movRight = movL.cols - 1, movBottom = movL.rows - 1;
    parallel::Pool pool(rq.shouldStop);
    parallel::forRanges(pool, static_cast<size_t>(rq.K), parallel::workersFor(static_cast<size_t>(rq.K), 16),
                        [&](size_t begin, size_t end) {
        cv::Mat tpl, centred, window, score;
        for (size_t k = begin; k < end; ++k) {
            if (pool.stopping()) return;
            double* found = rq.found + 2 * k;
            double* quality = rq.quality + 2 * k;
            found[0] = found[1] = quality[0] = quality[1] = kNaN;
            const double cx = rq.points[2 * k] / scale, cy = rq.points[2 * k + 1] / scale;
            if (!(cx - h >= 0 && cy - h >= 0 && cx + h <= size.width - 1 && cy + h <= size.height - 1)) continue;
            const cv::Point2f centre(static_cast<float>(cx), static_cast<float>(cy));
            cv::getRectSubPix(refL, cv::Size(2 * h + 1, 2 * h + 1), centre, tpl, CV_32F);
            cv::Scalar mean, deviation;
            cv::meanStdDev(tpl, mean, deviation);
            if (!(deviation[0] > 1e-3)) continue;
            cv::subtract(tpl, mean, centred);
            cv::getRectSubPix(warped, cv::Size(2 * (h + r) + 1, 2 * (h + r) + 1), centre, window, CV_32F);
            cv::matchTemplate(window, tpl, score, cv::TM_CCOEFF_NORMED);
            double peak;
            cv::Point at;
            cv::minMaxLoc(score, nullptr, &peak, nullptr, &at);
            if (!std::isfinite(peak) || at.x == 0 || at.y == 0 || at.x == 2 * r || at.y == 2 * r) continue;
            // Distinctiveness: the best score two or more pixels from the peak.
            double second = -1;
            for (int i = 0; i < score.rows; ++i)
                for (int j = 0; j < score.cols; ++j)
                    if (std::max(std::abs(i - at.y), std::abs(j - at.x)) >= 2)
                        second = std::max(second, static_cast<double>(score.at<float>(i, j)));
            // A parabola through the scores one pixel either side of the
            // peak is biased by up to 0.2 px towards whole pixels, and still
            // by some hundredths at the peak where the score falls off
            // unevenly; through scores a quarter pixel either side the bias
            // is several times smaller.  Two rounds: the first may start
            // 0.2 px off.
            const float* row = score.ptr<float>(at.y);
            double qx = cx + at.x - r + parabola(row[at.x - 1], row[at.x], row[at.x + 1]);
            double qy = cy + at.y - r +
                        parabola(score.at<float>(at.y - 1, at.x), row[at.x], score.at<float>(at.y + 1, at.x));
            const double tplNorm = std::sqrt(centred.dot(centred));
            for (int step = 0; step < 2; ++step) {
                double fine[5];  // centre, left, right, up, down
                const double dx[5] = {0, -kFine, kFine, 0, 0}, dy[5] = {0, 0, 0, -kFine, kFine};
                for (int i = 0; i < 5; ++i) {
                    const cv::Point2f at(static_cast<float>(qx + dx[i]), static_cast<float>(qy + dy[i]));
                    cv::getRectSubPix(warped, tpl.size(), at, window, CV_32F);
                    fine[i] = correlation(centred, tplNorm, window);
                }
                qx += kFine * parabola(fine[1], fine[0], fine[2]);
                qy += kFine * parabola(fine[3], fine[0], fine[4]);
                peak = std::max(peak, fine[0]);
            }
            if (std::fabs(qx - cx) > r || std::fabs(qy - cy) > r) continue;
            // The matched patch must lie inside the moving image, not in the
            // replicated border around it.
            bool inside = true;
            for (int corner = 0; corner < 4 && inside; ++corner) {
                double tx, ty;
                rq.estimate.at((qx + (corner & 1 ? h : -h)) * scale, (qy + (corner & 2 ? h : -h)) * scale, &tx, &ty);
                tx /= scale;
                ty /= scale;
                inside = tx >= 0 && ty >= 0 && tx <= movRight && ty <= movBottom;
            }
            if (!inside) continue;
            rq.estimate.at(qx * scale, qy * scale, &found[0], &found[1]);
            quality[0] = peak;
            quality[1] = second;
        }
    });
    if (pool.stopped()) return false;

    // The host's matrices are column-major: each is the transpose of a
    // row-major image.
    double* const outputs[3] = {rq.mapX, rq.mapY, rq.warped};
    const cv::Mat* const images[3] = {&mapX, &mapY, &warped};
    for (int o = 0; o < 3; ++o) {
        if (!outputs[o]) continue;
        cv::Mat columns(size.width, size.height, CV_64F, outputs[o]);
        cv::Mat(images[o]->t()).convertTo(columns, CV_64F);
    }
    return true;
}

}  // namespace patchmatch
