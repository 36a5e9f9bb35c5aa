// The product's message pass and node evaluation against the literal
// pair-by-pair version, on random inputs.
#include "Belief.h"
#include "LabelDisc.h"
#include "LiteralField.h"
#include "Messages.h"
#include "ScoreSampling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <thread>
#include <vector>

using namespace driftfield;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Relative 1e-9, absolute 1e-12 near zero; NaN only matches NaN.
bool close(double a, double b, double scale = 1.0) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    if (std::isinf(a) || std::isinf(b)) return a == b;
    return std::fabs(a - b) <= 1e-12 * scale + 1e-9 * std::max(std::fabs(a), std::fabs(b));
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Scene {
    int M = 0, N = 0;
    std::vector<Point> P, Q;
    std::vector<unsigned char> fixed;
    int rows = 0, cols = 0;
    std::vector<double> map;

    LatticeView lattice() const {
        LatticeView v;
        v.rows = M;
        v.cols = N;
        v.positions = P.data();
        v.references = Q.data();
        v.fixed = fixed.data();
        return v;
    }
    ScoreMap scoreMap() const { return ScoreMap{map.data(), rows, cols}; }
};

// A lattice with spacing about `spacing`, positions displaced from the
// references, some nodes fixed, a map with NaN elements, values above 1 and
// nodes at and beyond its edges.
Scene randomScene(std::mt19937& rng, int M, int N, double spacing, double fixedShare) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Scene s;
    s.M = M;
    s.N = N;
    const double x0 = -3.0 + 6.0 * unit(rng), y0 = -3.0 + 6.0 * unit(rng);
    for (int y = 0; y < M; ++y)
        for (int x = 0; x < N; ++x) {
            const Point q{x0 + x * spacing + unit(rng), y0 + y * spacing + unit(rng)};
            s.Q.push_back(q);
            s.P.push_back(Point{q.x + 4.0 * (unit(rng) - 0.5), q.y + 4.0 * (unit(rng) - 0.5)});
            s.fixed.push_back(unit(rng) < fixedShare ? 1 : 0);
        }
    s.cols = static_cast<int>(N * spacing * (0.6 + 0.5 * unit(rng))) + 2;
    s.rows = static_cast<int>(M * spacing * (0.6 + 0.5 * unit(rng))) + 2;
    s.map.resize(static_cast<size_t>(s.rows) * s.cols);
    for (double& v : s.map) {
        const double u = unit(rng);
        v = u < 0.04 ? kNaN : u < 0.08 ? 1.0 + unit(rng) : unit(rng);
    }
    return s;
}

struct Setting {
    double radius, mode, lambda, beta, h;
    int a;
};

FieldParams paramsOf(const Setting& st) {
    FieldParams p;
    p.maxProduct = st.mode == 1.0;
    const int selector = static_cast<int>(st.mode);
    p.estimator = selector == 1 ? Estimator::ArgMax : selector == 0 ? Estimator::WeightedMean : Estimator::MeanShift;
    p.pairWeight = st.lambda;
    p.dataWeight = st.beta;
    p.bandwidth = st.h;
    p.windowHalf = st.a;
    return p;
}

std::vector<NodeResult> product(const Scene& s, const Setting& st, int threads) {
    std::vector<NodeResult> out(s.P.size(), NodeResult{kNaN, kNaN, kNaN});
    const LabelDisc disc = buildLabelDisc(st.radius);
    passMessages(s.lattice(), s.scoreMap(), disc, paramsOf(st), out.data(), threads);
    return out;
}

// The literal results of a scene, with the beliefs behind them.
struct Literal {
    std::vector<NodeResult> results;
    literal::Beliefs beliefs;
};

Literal literalOf(const Scene& s, const Setting& st) {
    Literal l;
    l.results = literal::refine(s.lattice(), s.scoreMap(), st.radius, st.mode, st.lambda, st.beta, st.h, st.a,
                                &l.beliefs);
    return l;
}

struct Tally {
    int nodes = 0;
    int ties = 0;  // equal up to rounding, resolved differently
    int bad = 0;
};

// Compares the free nodes.  Where the literal belief itself has two offsets
// equal up to rounding, either choice is right: arg-max may pick any offset
// whose literal belief equals the maximum within 1e-9, the weighted mean may
// report the belief of any offset as near the mean as the nearest within
// 1e-9.
Tally compare(const Scene& s, const Setting& st, const std::vector<NodeResult>& got, const Literal& lit) {
    const LabelDisc disc = buildLabelDisc(st.radius);
    const int selector = static_cast<int>(st.mode);
    Tally t;
    for (size_t n = 0; n < s.P.size(); ++n) {
        if (s.fixed[n]) continue;
        ++t.nodes;
        const NodeResult g = got[n], w = lit.results[n];
        const bool samePosition = close(g.x, w.x, std::fabs(w.x)) && close(g.y, w.y, std::fabs(w.y));
        if (samePosition && close(g.score, w.score)) continue;
        const std::vector<double>& b = lit.beliefs[n];
        bool tie = false;
        if (selector == 1 && close(g.score, w.score)) {
            const double top = *std::max_element(b.begin(), b.end());
            for (int i = 0; i < disc.count(); ++i)
                if (std::fabs(disc.xs[i] - (g.x - s.P[n].x)) < 1e-6 && std::fabs(disc.ys[i] - (g.y - s.P[n].y)) < 1e-6)
                    tie = b[i] >= top * (1 - 1e-9);
        } else if (selector == 0 && samePosition) {
            const double mx = w.x - s.P[n].x, my = w.y - s.P[n].y;
            double nearest = 1e300;
            for (int i = 0; i < disc.count(); ++i) nearest = std::min(nearest, std::hypot(mx - disc.xs[i], my - disc.ys[i]));
            for (int i = 0; i < disc.count(); ++i)
                tie = tie || (std::hypot(mx - disc.xs[i], my - disc.ys[i]) <= nearest + 1e-9 && close(g.score, b[i]));
        }
        if (tie) {
            ++t.ties;
            continue;
        }
        if (++t.bad <= 3)
            ADD_FAILURE() << "node " << n << " of " << s.M << "x" << s.N << " r " << st.radius << " mode " << st.mode
                          << " lambda " << st.lambda << " beta " << st.beta << " h " << st.h << " a " << st.a
                          << ": product (" << g.x << ", " << g.y << ", " << g.score << ") literal (" << w.x << ", "
                          << w.y << ", " << w.score << ")";
    }
    return t;
}

}  // namespace

TEST(Messages, SeparableMessageMatchesPairByPair) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int compared = 0;
    for (double r : {1.0, 1.5, 2.5, 3.0, 4.2, 6.0, 8.5}) {
        const LabelDisc disc = buildLabelDisc(r);
        MessageScratch scratch(disc);
        std::vector<double> phi(disc.count()), m(disc.count());
        for (double lambda : {0.0, 0.4, 3.0, 40.0, 1e4}) {
            for (int trial = 0; trial < 12; ++trial) {
                Scene s = randomScene(rng, 1, 2, 6 + 10 * unit(rng), 0.0);
                if (trial % 4 == 3) {  // large coordinates: the additions round
                    for (Point* p : {&s.P[0], &s.P[1], &s.Q[0], &s.Q[1]}) {
                        p->x += 1000.37;
                        p->y += 3071.1;
                    }
                }
                const double beta = trial % 3 == 0 ? 0.0 : 5 * unit(rng);
                const ScoreMap map = s.scoreMap();
                discLikelihoods(map, disc, s.P[1], beta, phi.data());
                for (double mode : {1.0, 0.0, 0.999, 1.5}) {
                    for (bool senderFixed : {false, true}) {
                        pairMessage(senderFixed, disc, s.P[0], s.P[1], s.Q[0], s.Q[1], phi.data(), mode == 1.0,
                                    lambda, scratch, m.data());
                        const std::vector<double> want =
                            literal::pairMessage(senderFixed, disc, s.P[0], s.P[1], s.Q[0], s.Q[1], map, mode, lambda, beta);
                        double scale = 0;
                        for (double v : want) scale = std::max(scale, std::fabs(v));
                        for (int i = 0; i < disc.count(); ++i)
                            ASSERT_TRUE(close(m[i], want[i], scale))
                                << "r " << r << " lambda " << lambda << " mode " << mode << " fixed " << senderFixed
                                << " i " << i << ": " << m[i] << " vs " << want[i];
                        if (mode == 1.0 && lambda == 0.0 && !senderFixed) {  // the maximum is exact
                            for (int i = 0; i < disc.count(); ++i) ASSERT_TRUE(sameBits(m[i], want[i]));
                        }
                        ++compared;
                    }
                }
            }
        }
    }
    EXPECT_GT(compared, 2000);
}

TEST(Messages, NonFiniteLikelihoodsTakeThePairByPairForm) {
    // Infinite map values make infinite (or, with beta = 0, NaN) likelihoods;
    // the message must then be the literal one exactly, NaN for NaN.
    const LabelDisc disc = buildLabelDisc(3.0);
    MessageScratch scratch(disc);
    std::vector<double> values(20 * 20, 0.5);
    values[11 * 20 + 8] = std::numeric_limits<double>::infinity();  // column 11, row 8
    values[12 * 20 + 9] = -std::numeric_limits<double>::infinity();
    const ScoreMap map{values.data(), 20, 20};
    const Point pR{9.2, 9.7}, pS{12.6, 9.1}, qR{9, 10}, qS{13, 10};
    std::vector<double> phi(disc.count()), m(disc.count());
    for (double beta : {0.0, 2.0}) {
        discLikelihoods(map, disc, pS, beta, phi.data());
        for (double lambda : {0.0, 1.0, 400.0}) {
            for (double mode : {1.0, 0.0}) {
                pairMessage(false, disc, pR, pS, qR, qS, phi.data(), mode == 1.0, lambda, scratch, m.data());
                const std::vector<double> want = literal::pairMessage(false, disc, pR, pS, qR, qS, map, mode, lambda, beta);
                int nonFinite = 0;
                for (int i = 0; i < disc.count(); ++i) {
                    EXPECT_TRUE(sameBits(m[i], want[i])) << "beta " << beta << " lambda " << lambda << " i " << i;
                    nonFinite += !std::isfinite(want[i]);
                }
                if (mode == 0.0) {
                    EXPECT_GT(nonFinite, 0);
                }
            }
        }
    }
}

TEST(Messages, FieldMatchesLiteralOnRandomLattices) {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const std::vector<double> radii = {1.0, 1.5, 2.0, 2.5, 3.3};
    const std::vector<double> modes = {1.0, 0.0, 0.999, 1.5, 2.0, -3.0};
    const std::vector<double> lambdas = {0.0, 0.7, 5.0, 200.0};
    const std::vector<int> halves = {-1, 0, 1, 2, 3, 5, 6};
    int nodes = 0, ties = 0, nonFinite = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const int M = 1 + static_cast<int>(unit(rng) * 5), N = 1 + static_cast<int>(unit(rng) * 5);
        const Scene s = randomScene(rng, M, N, 5 + 6 * unit(rng), trial % 5 == 0 ? 0.0 : 0.3);
        Setting st;
        st.radius = radii[trial % radii.size()];
        st.mode = modes[(trial / 5) % modes.size()];
        st.lambda = lambdas[(trial / 3) % lambdas.size()];
        st.beta = trial % 7 == 0 ? 0.0 : 6 * unit(rng);
        st.h = 0.5 + 2.5 * unit(rng);
        st.a = halves[trial % halves.size()];
        const Literal want = literalOf(s, st);
        const Tally t = compare(s, st, product(s, st, 2), want);
        EXPECT_EQ(t.bad, 0);
        nodes += t.nodes;
        ties += t.ties;
        for (size_t n = 0; n < s.P.size(); ++n) nonFinite += !s.fixed[n] && std::isnan(want.results[n].score);
    }
    EXPECT_GT(nodes, 1500);
    EXPECT_LE(ties, nodes / 100);
    std::printf("%d free nodes compared, %d ties resolved differently, %d without a finite estimate\n", nodes, ties,
                nonFinite);
}

TEST(Messages, LargePairWeightAndNodesOffTheMap) {
    // Sharp kernels (most factors underflow), and a lattice half off the map.
    std::mt19937 rng(99);
    int nodes = 0, ties = 0, vanished = 0;
    for (int trial = 0; trial < 60; ++trial) {
        Scene s = randomScene(rng, 3, 4, 7, 0.2);
        if (trial % 2) {
            for (Point& p : s.P) p.x -= 14;
        }
        const double radius = trial % 3 == 0 ? 1.0 : trial % 3 == 1 ? 2.5 : 4.0;
        Setting st{radius, trial % 2 ? 1.0 : 0.0, trial % 4 < 2 ? 1e3 : 1e5, 3.0, 1.0, 1};
        const Literal want = literalOf(s, st);
        const Tally t = compare(s, st, product(s, st, 2), want);
        EXPECT_EQ(t.bad, 0);
        nodes += t.nodes;
        ties += t.ties;
        for (size_t n = 0; n < s.P.size(); ++n) vanished += !s.fixed[n] && std::isnan(want.results[n].score);
    }
    EXPECT_GT(vanished, 0);  // beliefs that underflowed everywhere were compared too
    EXPECT_LE(ties, nodes / 20);
    // Off the map the likelihoods are a constant 0.5: plateaus of equal
    // belief, whose maximum rounding decides.
    std::printf("%d free nodes compared, %d ties resolved differently, %d without a finite estimate\n", nodes, ties,
                vanished);
}

TEST(Messages, ResultsDoNotDependOnTheWorkerCount) {
    std::mt19937 rng(8);
    const Scene s = randomScene(rng, 9, 7, 8, 0.15);
    for (double mode : {1.0, 0.0, 2.0}) {
        const Setting st{4.0, mode, 1.5, 2.0, 1.2, 2};
        const std::vector<NodeResult> one = product(s, st, 1);
        for (int threads : {2, 3, 7, 8, 40}) {
            const std::vector<NodeResult> many = product(s, st, threads);
            for (size_t n = 0; n < s.P.size(); ++n) {
                if (s.fixed[n]) continue;
                EXPECT_TRUE(sameBits(one[n].x, many[n].x) && sameBits(one[n].y, many[n].y) &&
                            sameBits(one[n].score, many[n].score))
                    << "mode " << mode << " threads " << threads << " node " << n;
            }
        }
    }
}

TEST(Messages, ExactTiesResolveAsTheLiteralDoes) {
    std::mt19937 rng(31);
    // L = 1: every free node keeps its position, score 1.
    {
        const Scene s = randomScene(rng, 4, 5, 6, 0.2);
        for (double mode : {1.0, 0.0, 2.0}) {
            const Setting st{1.0, mode, 3.0, 2.0, 1.0, 1};
            const std::vector<NodeResult> got = product(s, st, 2);
            const std::vector<NodeResult> want =
                literal::refine(s.lattice(), s.scoreMap(), st.radius, st.mode, st.lambda, st.beta, st.h, st.a);
            for (size_t n = 0; n < s.P.size(); ++n) {
                if (s.fixed[n]) continue;
                EXPECT_EQ(got[n].x, s.P[n].x);
                EXPECT_EQ(got[n].y, s.P[n].y);
                EXPECT_EQ(got[n].score, 1.0);
                EXPECT_EQ(want[n].score, 1.0);
            }
        }
    }
    // lambda = 0 on a map of plateaus: the beliefs are full of exact ties,
    // which arg-max must break at the same offsets as the literal pass.
    for (int trial = 0; trial < 20; ++trial) {
        Scene s = randomScene(rng, 3, 4, 6, 0.2);
        for (size_t i = 0; i < s.map.size(); ++i) s.map[i] = (i / 7) % 3 == 0 ? 0.25 : 0.75;
        for (double mode : {1.0, 1.5}) {
            const Setting st{2.5, mode, 0.0, trial % 2 ? 0.0 : 2.0, 1.0, 1};
            const std::vector<NodeResult> got = product(s, st, 2);
            const std::vector<NodeResult> want =
                literal::refine(s.lattice(), s.scoreMap(), st.radius, st.mode, st.lambda, st.beta, st.h, st.a);
            for (size_t n = 0; n < s.P.size(); ++n) {
                if (s.fixed[n]) continue;
                EXPECT_EQ(got[n].x, want[n].x) << "trial " << trial << " node " << n;
                EXPECT_EQ(got[n].y, want[n].y) << "trial " << trial << " node " << n;
            }
        }
    }
}

TEST(Messages, FixedNodeCutsItsLine) {
    // In a single row a fixed node splits the line: moving the nodes left of
    // it changes their results and nothing right of it.
    std::mt19937 rng(4);
    Scene s = randomScene(rng, 1, 7, 8, 0.0);
    s.fixed[3] = 1;
    Scene t = s;
    for (int i = 0; i < 3; ++i) t.P[i].x -= 1.3;
    for (double mode : {1.0, 0.0}) {
        const Setting st{3.0, mode, 0.8, 3.0, 1.0, 1};
        const std::vector<NodeResult> a = product(s, st, 1), b = product(t, st, 1);
        for (int n = 4; n < 7; ++n)
            EXPECT_TRUE(sameBits(a[n].x, b[n].x) && sameBits(a[n].y, b[n].y) && sameBits(a[n].score, b[n].score)) << n;
        bool leftChanged = false;
        for (int n = 0; n < 3; ++n) leftChanged = leftChanged || !sameBits(a[n].score, b[n].score);
        EXPECT_TRUE(leftChanged);
    }
}

// The stop hook is asked on the calling thread only; once it says yes no
// worker starts another node, and the pass ends unfinished.  With one thread
// the calling thread asks before its first line and again before its first
// step; with more, the others may take every line before it asks.
TEST(Messages, StopAskedOnTheCallingThreadEndsThePassEarly) {
    std::mt19937 rng(21);
    const Scene s = randomScene(rng, 12, 12, 8, 0.1);
    const Setting st{6.0, 0.0, 1.5, 2.0, 1.2, 2};
    const LabelDisc disc = buildLabelDisc(st.radius);
    const std::vector<NodeResult> full = product(s, st, 1);
    for (int threads : {1, 2, 4}) {
        for (int yesAt : {0, 1, 2}) {
            std::vector<NodeResult> out(s.P.size(), NodeResult{kNaN, kNaN, kNaN});
            int asked = 0;
            bool offThread = false;
            const std::thread::id caller = std::this_thread::get_id();
            const bool finished = passMessages(s.lattice(), s.scoreMap(), disc, paramsOf(st), out.data(), threads,
                                               [&] {
                                                   offThread = offThread || std::this_thread::get_id() != caller;
                                                   return ++asked == yesAt;
                                               });
            const std::string what = std::to_string(threads) + " threads, yes at " + std::to_string(yesAt);
            EXPECT_FALSE(offThread) << what;
            EXPECT_GE(asked, 1) << what;
            EXPECT_LE(asked, yesAt > 0 ? yesAt : asked) << what << ": asked again after the yes";
            EXPECT_EQ(finished, yesAt == 0 || asked < yesAt) << what;
            size_t evaluated = 0;
            for (size_t n = 0; n < out.size(); ++n) {
                if (s.fixed[n] || (std::isnan(out[n].score) && std::isnan(out[n].x))) continue;
                ++evaluated;
                if (finished) {
                    EXPECT_TRUE(sameBits(full[n].x, out[n].x) && sameBits(full[n].score, out[n].score)) << n;
                }
            }
            // Nodes are evaluated in the last sweep, which a stop before the
            // first step never reaches.
            if (threads == 1 && yesAt > 0) {
                EXPECT_FALSE(finished) << what;
                EXPECT_EQ(evaluated, 0u) << what;
            }
        }
    }
}
