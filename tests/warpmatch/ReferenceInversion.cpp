#include "ReferenceInversion.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace warpmatch {

void referenceInvertRange(const InversionInput& in, int start, int end, double* outX, double* outY) {
    const SplinePair& sp = in.spline;
    for (int k = start; k < end; ++k) {
        double x0 = std::floor(sp.ctrlX[k] + 0.5);
        double y0 = std::floor(sp.ctrlY[k] + 0.5);
        const double tx = in.targetX[k], ty = in.targetY[k];
        double s = 64;
        bool lost = false;
        do {
            const double h = s / 5;
            double* candX = static_cast<double*>(std::malloc(121 * sizeof(double)));
            double* candY = static_cast<double*>(std::malloc(121 * sizeof(double)));
            for (int a = 0; a <= 10; ++a)
                for (int b = 0; b <= 10; ++b) {
                    candX[11 * a + b] = x0 - s + a * h;
                    candY[11 * a + b] = y0 - s + b * h;
                }
            double* D = dist2(sp.ctrlX, sp.ctrlY, sp.K, candX, candY, 121);
            int best = -1;
            double bestScore = 1000000;
            for (int c = 0; c < 121; ++c) {
                double Tx = tpsEval(sp.coefX, D + c, 121, sp.K, candX[c], candY[c]);
                double Ty = tpsEval(sp.coefY, D + c, 121, sp.K, candX[c], candY[c]);
                double score = std::fabs(Tx - tx) + std::fabs(Ty - ty);
                if (score < bestScore) {
                    bestScore = score;
                    best = c;
                }
            }
            std::free(D);
            std::free(candX);
            std::free(candY);
            if (best < 0) {
                lost = true;
                break;
            }
            x0 = x0 + (best / 11 - 5) * h;
            y0 = y0 + (best % 11 - 5) * h;
            s = s * 0.5;
        } while (s >= 0.01);
        outX[k] = lost ? std::numeric_limits<double>::quiet_NaN() : x0;
        outY[k] = lost ? std::numeric_limits<double>::quiet_NaN() : y0;
    }
}

void referenceCoarseEvaluate(const SplinePair& s, int Mq, int Nq, double stepX, double stepY,
                             float* smallX, float* smallY) {
    double* d = static_cast<double*>(std::malloc((static_cast<size_t>(s.K) + 1) * sizeof(double)));
    for (int i = 0; i < Mq; ++i)
        for (int j = 0; j < Nq; ++j) {
            const double X = j * stepX, Y = i * stepY;
            dist2(s.ctrlX, s.ctrlY, s.K, X, Y, d);
            smallX[i * Nq + j] = static_cast<float>(tpsEval(s.coefX, d, 1, s.K, X, Y));
            smallY[i * Nq + j] = static_cast<float>(tpsEval(s.coefY, d, 1, s.K, X, Y));
        }
    std::free(d);
}

}  // namespace warpmatch
