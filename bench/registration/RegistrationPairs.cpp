#include "RegistrationPairs.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace regbench {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Largest |w| and largest spectral norm of w's Jacobian over a grid of
// about every fourth pixel: the scale and the fold check of a warp.
void measure(const Displacement& w, cv::Size frame, double& largest, double& steepest) {
    largest = steepest = 0;
    const int step = std::max(1, std::min(frame.width, frame.height) / 128);
    const double s2 = w.sigma * w.sigma;
    for (int y = 0; y < frame.height; y += step)
        for (int x = 0; x < frame.width; x += step) {
            double dx = 0, dy = 0, jxx = 0, jxy = 0, jyx = 0, jyy = 0;
            for (size_t k = 0; k < w.centres.size(); ++k) {
                const double ux = x - w.centres[k].x, uy = y - w.centres[k].y;
                const double g = std::exp(-(ux * ux + uy * uy) / (2 * s2));
                const cv::Point2d a = w.amplitudes[k];
                dx += a.x * g;
                dy += a.y * g;
                jxx -= a.x * g * ux / s2;
                jxy -= a.x * g * uy / s2;
                jyx -= a.y * g * ux / s2;
                jyy -= a.y * g * uy / s2;
            }
            largest = std::max(largest, std::hypot(dx, dy));
            // Spectral norm of [jxx jxy; jyx jyy].
            const double t = jxx * jxx + jxy * jxy + jyx * jyx + jyy * jyy;
            const double det = jxx * jyy - jxy * jyx;
            steepest = std::max(steepest, std::sqrt((t + std::sqrt(std::max(0.0, t * t - 4 * det * det))) / 2));
        }
}

}  // namespace

cv::Point2d Displacement::operator()(cv::Point2d p) const {
    double wx = 0, wy = 0;
    const double s2 = 2 * sigma * sigma;
    for (size_t k = 0; k < centres.size(); ++k) {
        const double ux = p.x - centres[k].x, uy = p.y - centres[k].y;
        const double g = std::exp(-(ux * ux + uy * uy) / s2);
        wx += amplitudes[k].x * g;
        wy += amplitudes[k].y * g;
    }
    const double ux = p.x + wx - centre.x, uy = p.y + wy - centre.y;
    const double c = std::cos(angle), s = std::sin(angle);
    return {centre.x + c * ux - s * uy + shift.x - p.x, centre.y + s * ux + c * uy + shift.y - p.y};
}

const std::vector<Variant>& variants() {
    static const std::vector<Variant> v = {
        {"3 px", 3, false, false, false},          {"10 px", 10, false, false, false},
        {"25 px", 25, false, false, false},        {"shift+rot", 10, true, false, false},
        {"gain", 10, false, true, false},          {"gain+noise", 10, false, true, true},
    };
    return v;
}

std::vector<Photo> loadPhotos(const std::string& dataDir, const std::vector<std::string>& names) {
    std::vector<Photo> photos;
    for (const std::string& name : names) {
        const std::string path = dataDir + "/" + name + ".png";
        cv::Mat image = cv::imread(path, cv::IMREAD_GRAYSCALE);
        if (image.empty()) throw std::runtime_error("cannot read " + path);
        photos.push_back({name, image});
    }
    return photos;
}

Displacement smoothWarp(cv::Size frame, double largest, uint64_t seed) {
    // Bumps as wide as a third of the smaller side, centred anywhere over
    // the frame and a margin: a few gentle folds of the frame at any size.
    // A warp steeper than 0.5 px/px is redrawn, so the warp never folds and
    // the inversion converges.
    for (uint64_t attempt = 0; attempt < 100; ++attempt) {
        cv::RNG rng(seed + 7919 * attempt);
        Displacement d;
        d.sigma = std::min(frame.width, frame.height) / 3.0;
        for (int k = 0; k < 12; ++k) {
            d.centres.emplace_back(rng.uniform(-0.2, 1.2) * frame.width, rng.uniform(-0.2, 1.2) * frame.height);
            d.amplitudes.emplace_back(rng.gaussian(1.0), rng.gaussian(1.0));
        }
        double top, steepest;
        measure(d, frame, top, steepest);
        for (auto& a : d.amplitudes) a *= largest / top;
        if (steepest * largest / top < 0.5) return d;
    }
    throw std::runtime_error("no warp without folds drawn");
}

Pair makePair(const Photo& photo, const Variant& variant, const Displacement& d, uint64_t noiseSeed) {
    const cv::Size frame = photo.image.size();
    cv::Mat source(frame, CV_32FC2);  // for every pixel q of mov, the p of ref
    Maps truth{cv::Mat(frame, CV_32F), cv::Mat(frame, CV_32F)};
    std::atomic<bool> diverged{false};
    cv::parallel_for_(cv::Range(0, frame.height), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y)
            for (int x = 0; x < frame.width; ++x) {
                const cv::Point2d q(x, y);
                const cv::Point2d at = d(q);
                truth.x.at<float>(y, x) = static_cast<float>(x + at.x);
                truth.y.at<float>(y, x) = static_cast<float>(y + at.y);
                cv::Point2d p = q - at;
                for (int it = 0; it < 200; ++it) {
                    const cv::Point2d next = q - d(p);
                    const double step = cv::norm(next - p);
                    p = next;
                    if (step < 1e-7) break;
                }
                if (cv::norm(p + d(p) - q) > 1e-3) diverged = true;
                source.at<cv::Vec2f>(y, x) = cv::Vec2f(static_cast<float>(p.x), static_cast<float>(p.y));
            }
    });
    if (diverged)
        throw std::runtime_error(photo.name + ", " + variant.name + ": the warp's inversion did not converge");
    cv::Mat refF, movF;
    photo.image.convertTo(refF, CV_32F);
    cv::remap(refF, movF, source, cv::noArray(), cv::INTER_CUBIC, cv::BORDER_REFLECT_101);
    if (variant.gain) movF = movF * 1.2 + 10;
    if (variant.noise) {
        cv::Mat noise(frame, CV_32F);
        cv::RNG(noiseSeed).fill(noise, cv::RNG::NORMAL, 0, 3);
        movF += noise;
    }
    Pair pair{photo.name, variant.name, photo.image, cv::Mat(), truth};
    movF.convertTo(pair.mov, CV_8U);  // rounds and saturates
    return pair;
}

std::vector<Pair> makePairs(const std::vector<Photo>& photos) {
    std::vector<Pair> pairs;
    for (size_t i = 0; i < photos.size(); ++i) {
        const cv::Size frame = photos[i].image.size();
        const uint64_t seed = 1000 * (i + 1);
        cv::RNG rigid(seed + 4);
        const double direction = rigid.uniform(0.0, 2 * kPi);
        const double turn = (rigid.uniform(0, 2) ? 2.0 : -2.0) * kPi / 180;
        for (const Variant& v : variants()) {
            // The 10 px variants share one warp, so they differ only in
            // what the variant adds.
            Displacement d = smoothWarp(frame, v.largest, seed + static_cast<uint64_t>(v.largest));
            if (v.shiftRotation) {
                d.angle = turn;
                d.centre = cv::Point2d((frame.width - 1) / 2.0, (frame.height - 1) / 2.0);
                d.shift = cv::Point2d(30 * std::cos(direction), 30 * std::sin(direction));
            }
            pairs.push_back(makePair(photos[i], v, d, seed + 5));
        }
    }
    return pairs;
}

Pair shiftPair(const Photo& photo, double dx, double dy) {
    Displacement d;
    d.shift = cv::Point2d(dx, dy);
    return makePair(photo, {"shift", 0, false, false, false}, d, 0);
}

PairError endPointError(const Maps& found, const Maps& truth, int border) {
    std::vector<double> e;
    for (int y = border; y < truth.x.rows - border; ++y)
        for (int x = border; x < truth.x.cols - border; ++x) {
            const double v = std::hypot(found.x.at<float>(y, x) - truth.x.at<float>(y, x),
                                        found.y.at<float>(y, x) - truth.y.at<float>(y, x));
            e.push_back(std::isnan(v) ? std::numeric_limits<double>::infinity() : v);
        }
    PairError r;
    if (e.empty()) return r;
    auto at = [&e](double q) {
        auto k = e.begin() + static_cast<std::ptrdiff_t>(q * static_cast<double>(e.size() - 1));
        std::nth_element(e.begin(), k, e.end());
        return *k;
    };
    r.median = at(0.5);
    r.p95 = at(0.95);
    r.max = *std::max_element(e.begin(), e.end());
    return r;
}

double truthMismatch(const Pair& pair, int border) {
    cv::Mat mov;
    pair.mov.convertTo(mov, CV_32F);
    if (pair.variant.find("gain") != std::string::npos) mov = (mov - 10) / 1.2;
    auto difference = [&](float offset) {
        cv::Mat back;
        cv::remap(mov, back, pair.truth.x + offset, pair.truth.y + offset, cv::INTER_CUBIC, cv::BORDER_REFLECT_101);
        double sum = 0;
        int n = 0;
        for (int y = border; y < mov.rows - border; ++y)
            for (int x = border; x < mov.cols - border; ++x) {
                const float tx = pair.truth.x.at<float>(y, x), ty = pair.truth.y.at<float>(y, x);
                if (tx < 2 || ty < 2 || tx > mov.cols - 3 || ty > mov.rows - 3) continue;
                sum += std::abs(back.at<float>(y, x) - pair.ref.at<uchar>(y, x));
                ++n;
            }
        return n ? sum / n : 0.0;
    };
    return difference(0) / difference(0.5f);
}

Maps identityMaps(cv::Size frame) {
    Maps m{cv::Mat(frame, CV_32F), cv::Mat(frame, CV_32F)};
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            m.x.at<float>(y, x) = static_cast<float>(x);
            m.y.at<float>(y, x) = static_cast<float>(y);
        }
    return m;
}

}  // namespace regbench
