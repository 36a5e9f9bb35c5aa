// driftfield through the embedded host, called as MATLAB calls it: results
// against the literal pass on the same plain data, the shapes of the
// results, and every refusal, each leaving no host memory behind.
#include "LiteralField.h"
#include "MexHost.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

using driftfield::LatticeView;
using driftfield::NodeResult;
using driftfield::Point;
using driftfield::ScoreMap;
using mexhost::ArrayPtr;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

bool close(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::fabs(a - b) <= 1e-12 + 1e-9 * std::max(std::fabs(a), std::fabs(b));
}

// A lattice in plain form (slot y*N + x) and the eleven arguments made from it.
struct Field {
    int M = 0, N = 0;
    std::vector<Point> P, Q;
    std::vector<unsigned char> fixed;
    int rows = 0, cols = 0;
    std::vector<double> map;  // column-major
    double windowHalf = 1, mode = 1, pairWeight = 0.8, dataWeight = 2.5, radius = 2.5, skipEval = 0, bandwidth = 1.1;

    Field(int m, int n, unsigned seed, double fixedShare = 0.25) : M(m), N(n) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> unit(0, 1);
        for (int y = 0; y < M; ++y)
            for (int x = 0; x < N; ++x) {
                const Point q{3.0 + 7.0 * x + unit(rng), 2.0 + 6.0 * y + unit(rng)};
                Q.push_back(q);
                P.push_back(Point{q.x + 3 * (unit(rng) - 0.5), q.y + 3 * (unit(rng) - 0.5)});
                fixed.push_back(unit(rng) < fixedShare);
            }
        rows = 6 * M + 4;
        cols = 7 * N + 3;
        map.resize(static_cast<size_t>(rows) * cols);
        for (double& v : map) v = unit(rng) < 0.03 ? kNaN : unit(rng);
    }

    static ArrayPtr cellsOf(const std::vector<Point>& pts, int M, int N) {
        ArrayPtr c = mexhost::cells(M, N);
        for (int y = 0; y < M; ++y)
            for (int x = 0; x < N; ++x) {
                const Point p = pts[y * N + x];
                mexhost::setCell(c.get(), y, x, mexhost::matrix(2, 1, {p.x, p.y}).get());
            }
        return c;
    }

    std::vector<ArrayPtr> args() const {
        std::vector<double> mask(static_cast<size_t>(M) * N);
        for (int y = 0; y < M; ++y)
            for (int x = 0; x < N; ++x) mask[y + x * M] = fixed[y * N + x] ? 1.0 : 0.0;
        std::vector<ArrayPtr> a;
        a.push_back(cellsOf(P, M, N));
        a.push_back(cellsOf(Q, M, N));
        a.push_back(mexhost::scalar(windowHalf));
        a.push_back(mexhost::scalar(mode));
        a.push_back(mexhost::scalar(pairWeight));
        a.push_back(mexhost::scalar(dataWeight));
        a.push_back(mexhost::scalar(radius));
        a.push_back(mexhost::matrix(rows, cols, map));
        a.push_back(mexhost::scalar(skipEval));
        a.push_back(mexhost::scalar(bandwidth));
        a.push_back(mexhost::matrix(M, N, mask));
        return a;
    }

    std::vector<NodeResult> literal() const {
        LatticeView v;
        v.rows = M;
        v.cols = N;
        v.positions = P.data();
        v.references = Q.data();
        v.fixed = fixed.data();
        const int a = static_cast<int>(windowHalf);
        return literal::refine(v, ScoreMap{map.data(), rows, cols}, radius, mode, pairWeight, dataWeight, bandwidth, a);
    }
};

std::vector<const mxArray*> raw(const std::vector<ArrayPtr>& a) {
    std::vector<const mxArray*> r;
    for (const ArrayPtr& p : a) r.push_back(p.get());
    return r;
}

struct Driftfield : ::testing::Test {
    mexhost::Plugin plugin{mexhost::pluginPath("driftfield")};

    mexhost::CallResult call(const std::vector<ArrayPtr>& a, int nlhs = 2) { return plugin.call(nlhs, raw(a)); }

    // Free nodes: [x; y] and score as the literal pass has them; fixed nodes
    // keep score 0 and their input cell.
    void expectLiteral(const Field& f, const mexhost::CallResult& r) {
        ASSERT_TRUE(r.ok) << r.errorId << ": " << r.errorMessage;
        EXPECT_FALSE(r.escaped);
        EXPECT_TRUE(r.leakFree());
        EXPECT_TRUE(r.output.empty());
        ASSERT_EQ(r.outputs.size(), 2u);
        const mxArray* S = r.outputs[0].get();
        const mxArray* C = r.outputs[1].get();
        ASSERT_TRUE(mxIsDouble(S));
        ASSERT_EQ(mxGetM(S), static_cast<size_t>(f.M));
        ASSERT_EQ(mxGetN(S), static_cast<size_t>(f.N));
        ASSERT_TRUE(mxIsCell(C));
        ASSERT_EQ(mxGetM(C), static_cast<size_t>(f.M));
        ASSERT_EQ(mxGetN(C), static_cast<size_t>(f.N));
        const std::vector<NodeResult> want = f.literal();
        const std::vector<double> scores = mexhost::values(S);
        for (int y = 0; y < f.M; ++y)
            for (int x = 0; x < f.N; ++x) {
                const size_t idx = y + static_cast<size_t>(x) * f.M;
                const int n = y * f.N + x;
                const mxArray* cell = mxGetCell(C, idx);
                ASSERT_TRUE(cell && mxIsDouble(cell) && mxGetNumberOfElements(cell) == 2);
                const double* v = mxGetPr(cell);
                if (f.fixed[n]) {
                    EXPECT_EQ(scores[idx], 0.0);
                    EXPECT_EQ(0, std::memcmp(v, &f.P[n], sizeof(Point)));
                } else {
                    EXPECT_EQ(mxGetM(cell), 2u);
                    EXPECT_TRUE(close(scores[idx], want[n].score)) << "node (" << y << "," << x << ") mode " << f.mode
                                                                   << ": " << scores[idx] << " vs " << want[n].score;
                    EXPECT_TRUE(close(v[0], want[n].x)) << v[0] << " vs " << want[n].x;
                    EXPECT_TRUE(close(v[1], want[n].y)) << v[1] << " vs " << want[n].y;
                }
            }
    }

    void expectInputBack(const Field& f, const std::vector<ArrayPtr>& a, const mexhost::CallResult& r) {
        ASSERT_TRUE(r.ok) << r.errorId << ": " << r.errorMessage;
        EXPECT_TRUE(r.leakFree());
        const std::vector<double> scores = mexhost::values(r.outputs[0].get());
        EXPECT_EQ(scores, std::vector<double>(static_cast<size_t>(f.M) * f.N, 0.0));
        const mxArray* C = r.outputs[1].get();
        for (size_t i = 0; i < static_cast<size_t>(f.M) * f.N; ++i) {
            const mxArray* in = mxGetCell(a[0].get(), i);
            const mxArray* out = mxGetCell(C, i);
            ASSERT_TRUE(out);
            EXPECT_EQ(mxGetClassID(out), mxGetClassID(in));
            EXPECT_EQ(mxGetM(out), mxGetM(in));
            EXPECT_EQ(mxGetN(out), mxGetN(in));
            ASSERT_EQ(mxGetNumberOfElements(out), mxGetNumberOfElements(in));
            EXPECT_EQ(0, std::memcmp(mxGetData(out), mxGetData(in), mxGetNumberOfElements(in) * mxGetElementSize(in)));
        }
    }
};

}  // namespace

TEST_F(Driftfield, ResultsMatchTheLiteralPassInEveryMode) {
    // 3x5: rows and columns differ, so a transposed index shows.
    for (double mode : {1.0, 0.0, 2.0, 1.5, 0.999, -4.0}) {
        Field f(3, 5, 17);
        f.mode = mode;
        f.windowHalf = 2;
        expectLiteral(f, call(f.args()));
    }
    // skipEval NaN is not 1: the evaluation runs.
    Field f(4, 3, 5);
    f.skipEval = kNaN;
    expectLiteral(f, call(f.args()));
}

TEST_F(Driftfield, SingleRowAndSingleColumn) {
    for (auto [M, N] : {std::pair{1, 6}, std::pair{6, 1}, std::pair{1, 1}}) {
        for (double mode : {1.0, 0.0}) {
            Field f(M, N, 23, 0.0);
            f.mode = mode;
            expectLiteral(f, call(f.args()));
        }
    }
}

TEST_F(Driftfield, SkipEvalAndAllFixedReturnTheInput) {
    Field f(3, 4, 9);
    std::vector<ArrayPtr> a = f.args();
    // Cells other than a double [x; y] come back as they went in.
    mexhost::setCell(a[0].get(), 1, 2, mexhost::numeric(mxINT16_CLASS, {1, 3}, {7, 8, 9}).get());
    a[8] = mexhost::scalar(1);
    expectInputBack(f, a, call(a));

    std::vector<ArrayPtr> b = f.args();
    b[10] = mexhost::matrix(3, 4, std::vector<double>(12, 1.0));
    expectInputBack(f, b, call(b));
    b[10] = mexhost::numeric(mxLOGICAL_CLASS, {3, 4}, std::vector<double>(12, 1.0));
    expectInputBack(f, b, call(b));
}

TEST_F(Driftfield, EmptyLattice) {
    for (auto [M, N] : {std::pair{0, 3}, std::pair{0, 0}, std::pair{2, 0}}) {
        Field f(M, N, 1);
        const mexhost::CallResult r = call(f.args());
        ASSERT_TRUE(r.ok) << r.errorMessage;
        EXPECT_TRUE(r.leakFree());
        EXPECT_EQ(mxGetM(r.outputs[0].get()), static_cast<size_t>(M));
        EXPECT_EQ(mxGetN(r.outputs[0].get()), static_cast<size_t>(N));
        EXPECT_TRUE(mxIsCell(r.outputs[1].get()));
        EXPECT_EQ(mxGetM(r.outputs[1].get()), static_cast<size_t>(M));
        EXPECT_EQ(mxGetN(r.outputs[1].get()), static_cast<size_t>(N));
    }
}

TEST_F(Driftfield, RadiusOneKeepsEveryFreeNode) {
    Field f(3, 3, 12);
    f.radius = 1;
    const mexhost::CallResult r = call(f.args());
    ASSERT_TRUE(r.ok) << r.errorMessage;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) {
            const int n = y * 3 + x;
            const size_t idx = y + x * 3;
            const double* v = mxGetPr(mxGetCell(r.outputs[1].get(), idx));
            EXPECT_EQ(v[0], f.P[n].x);
            EXPECT_EQ(v[1], f.P[n].y);
            EXPECT_EQ(mexhost::values(r.outputs[0].get())[idx], f.fixed[n] ? 0.0 : 1.0);
        }
}

TEST_F(Driftfield, VanishingBeliefKeepsThePositionWithScoreNaN) {
    // The two nodes sit 40 pixels further apart than their references, four
    // reference spacings: every kernel underflows, both beliefs vanish.
    Field f(1, 2, 3, 0.0);
    f.Q = {Point{10, 10}, Point{20, 10}};
    f.P = {Point{10, 10}, Point{60, 10}};
    f.pairWeight = 100;
    for (double mode : {1.0, 0.0, 2.0}) {
        f.mode = mode;
        const mexhost::CallResult r = call(f.args());
        ASSERT_TRUE(r.ok) << r.errorMessage;
        EXPECT_TRUE(r.leakFree());
        for (int n = 0; n < 2; ++n) {
            EXPECT_TRUE(std::isnan(mexhost::values(r.outputs[0].get())[n]));
            const double* v = mxGetPr(mxGetCell(r.outputs[1].get(), n));
            EXPECT_EQ(v[0], f.P[n].x);
            EXPECT_EQ(v[1], f.P[n].y);
        }
    }
}

TEST_F(Driftfield, OtherRealClassesAreReadByValue) {
    Field f(3, 4, 44);
    for (Point& p : f.P) p = Point{std::round(p.x), std::round(p.y)};
    for (double& v : f.map) v = std::isnan(v) ? 0 : std::round(v * 200);
    f.dataWeight = 0.01;
    f.radius = 2.5;
    f.pairWeight = 0.5;
    const std::vector<ArrayPtr> plain = f.args();
    const mexhost::CallResult want = call(plain);
    ASSERT_TRUE(want.ok) << want.errorMessage;

    std::vector<ArrayPtr> a = f.args();
    a[0] = mexhost::cells(3, 4);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            mexhost::setCell(a[0].get(), y, x,
                             mexhost::numeric(mxINT16_CLASS, {2, 1}, {f.P[y * 4 + x].x, f.P[y * 4 + x].y}).get());
    std::vector<double> mapValues = f.map;
    a[7] = mexhost::numeric(mxUINT8_CLASS, {static_cast<size_t>(f.rows), static_cast<size_t>(f.cols)}, mapValues);
    a[10] = mexhost::numeric(mxLOGICAL_CLASS, {3, 4}, mexhost::values(plain[10].get()));
    a[6] = mexhost::numeric(mxSINGLE_CLASS, {1, 1}, {2.5});
    a[4] = mexhost::numeric(mxSINGLE_CLASS, {1, 1}, {0.5});
    a[3] = mexhost::numeric(mxINT32_CLASS, {1, 1}, {1});
    const mexhost::CallResult got = call(a);
    ASSERT_TRUE(got.ok) << got.errorId << ": " << got.errorMessage;
    EXPECT_TRUE(got.leakFree());
    EXPECT_EQ(mexhost::values(got.outputs[0].get()), mexhost::values(want.outputs[0].get()));
    for (size_t i = 0; i < 12; ++i) {
        const mxArray* g = mxGetCell(got.outputs[1].get(), i);
        const mxArray* w = mxGetCell(want.outputs[1].get(), i);
        if (f.fixed[(i % 3) * 4 + i / 3]) {
            EXPECT_EQ(mxGetClassID(g), mxINT16_CLASS);  // a fixed node's cell is copied as it is
        } else {
            EXPECT_EQ(mexhost::values(g), mexhost::values(w));
        }
    }
}

TEST_F(Driftfield, ResultCount) {
    Field f(2, 3, 8);
    mexhost::CallResult one = call(f.args(), 1);
    ASSERT_TRUE(one.ok) << one.errorMessage;
    EXPECT_EQ(one.outputs.size(), 1u);
    EXPECT_TRUE(one.leakFree());
    mexhost::CallResult none = call(f.args(), 0);
    ASSERT_TRUE(none.ok) << none.errorMessage;
    EXPECT_GE(none.outputs.size(), 1u);
    EXPECT_TRUE(none.leakFree());
}

TEST_F(Driftfield, RefusalsNameTheArgumentAndLeaveNothingBehind) {
    struct Case {
        const char* what;
        std::function<void(Field&, std::vector<ArrayPtr>&)> change;
        const char* id;
        const char* mentions;
    };
    auto cell2 = [](double x, double y) { return mexhost::matrix(2, 1, {x, y}); };
    const std::vector<Case> cases = {
        {"10 inputs", [](Field&, std::vector<ArrayPtr>& a) { a.pop_back(); }, "driftfield:nargin", "11"},
        {"12 inputs", [](Field&, std::vector<ArrayPtr>& a) { a.push_back(mexhost::scalar(0)); }, "driftfield:nargin", "11"},
        {"positions not a cell", [](Field&, std::vector<ArrayPtr>& a) { a[0] = mexhost::matrix(3, 4); },
         "driftfield:positions", "argument 1"},
        {"positions 3-D", [](Field&, std::vector<ArrayPtr>& a) { a[0] = mexhost::cells(3, 4); a[0].reset(mxCreateCellArray(3, std::vector<mwSize>{3, 4, 2}.data())); },
         "driftfield:positions", "argument 1"},
        {"reference shape", [](Field&, std::vector<ArrayPtr>& a) { a[1] = mexhost::cells(4, 3); },
         "driftfield:reference", "argument 2"},
        {"reference not a cell", [](Field&, std::vector<ArrayPtr>& a) { a[1] = mexhost::scalar(1); },
         "driftfield:reference", "argument 2"},
        {"position of one element", [&](Field&, std::vector<ArrayPtr>& a) { mexhost::setCell(a[0].get(), 2, 1, mexhost::scalar(4).get()); },
         "driftfield:positions", "cell (3,2)"},
        {"empty position cell", [](Field&, std::vector<ArrayPtr>& a) { ArrayPtr c = mexhost::cells(3, 4); a[0] = std::move(c); },
         "driftfield:positions", "cell (1,1)"},
        {"complex position", [](Field&, std::vector<ArrayPtr>& a) { mexhost::setCell(a[0].get(), 0, 3, mexhost::complexMatrix(2, 1).get()); },
         "driftfield:positions", "cell (1,4)"},
        {"text reference", [](Field&, std::vector<ArrayPtr>& a) { mexhost::setCell(a[1].get(), 1, 1, mexhost::text("ab").get()); },
         "driftfield:reference", "cell (2,2)"},
        {"windowHalf a vector", [](Field&, std::vector<ArrayPtr>& a) { a[2] = mexhost::matrix(1, 2, {1, 2}); },
         "driftfield:windowHalf", "argument 3"},
        {"mode text", [](Field&, std::vector<ArrayPtr>& a) { a[3] = mexhost::text("x"); }, "driftfield:mode", "argument 4"},
        {"mode NaN", [](Field&, std::vector<ArrayPtr>& a) { a[3] = mexhost::scalar(kNaN); }, "driftfield:mode", "argument 4"},
        {"pairWeight complex", [](Field&, std::vector<ArrayPtr>& a) { a[4] = mexhost::complexMatrix(1, 1); },
         "driftfield:pairWeight", "argument 5"},
        {"pairWeight negative", [](Field&, std::vector<ArrayPtr>& a) { a[4] = mexhost::scalar(-1); },
         "driftfield:pairWeight", "argument 5"},
        {"pairWeight infinite", [](Field&, std::vector<ArrayPtr>& a) { a[4] = mexhost::scalar(kInf); },
         "driftfield:pairWeight", "argument 5"},
        {"dataWeight empty", [](Field&, std::vector<ArrayPtr>& a) { a[5] = mexhost::matrix(0, 0); },
         "driftfield:dataWeight", "argument 6"},
        {"dataWeight NaN", [](Field&, std::vector<ArrayPtr>& a) { a[5] = mexhost::scalar(kNaN); },
         "driftfield:dataWeight", "argument 6"},
        {"radius 0", [](Field&, std::vector<ArrayPtr>& a) { a[6] = mexhost::scalar(0); }, "driftfield:radius", "argument 7"},
        {"radius negative", [](Field&, std::vector<ArrayPtr>& a) { a[6] = mexhost::scalar(-2); }, "driftfield:radius", "argument 7"},
        {"radius squared underflows", [](Field&, std::vector<ArrayPtr>& a) { a[6] = mexhost::scalar(1e-170); }, "driftfield:radius", "argument 7"},
        {"radius infinite", [](Field&, std::vector<ArrayPtr>& a) { a[6] = mexhost::scalar(kInf); }, "driftfield:radius", "argument 7"},
        {"radius sparse", [](Field&, std::vector<ArrayPtr>& a) { a[6] = mexhost::sparseMatrix(1, 1); }, "driftfield:radius", "argument 7"},
        {"scoreMap complex", [](Field&, std::vector<ArrayPtr>& a) { a[7] = mexhost::complexMatrix(5, 5); },
         "driftfield:scoreMap", "argument 8"},
        {"scoreMap 3-D", [](Field&, std::vector<ArrayPtr>& a) { a[7] = mexhost::numeric(mxDOUBLE_CLASS, {4, 4, 2}); },
         "driftfield:scoreMap", "argument 8"},
        {"scoreMap a cell", [](Field&, std::vector<ArrayPtr>& a) { a[7] = mexhost::cells(2, 2); }, "driftfield:scoreMap", "argument 8"},
        {"skipEval a vector", [](Field&, std::vector<ArrayPtr>& a) { a[8] = mexhost::matrix(2, 1, {1, 1}); },
         "driftfield:skipEval", "argument 9"},
        {"bandwidth text", [](Field&, std::vector<ArrayPtr>& a) { a[9] = mexhost::text("h"); }, "driftfield:bandwidth", "argument 10"},
        {"fixedMask shape", [](Field&, std::vector<ArrayPtr>& a) { a[10] = mexhost::matrix(4, 3); },
         "driftfield:fixedMask", "argument 11"},
        {"fixedMask a cell", [](Field&, std::vector<ArrayPtr>& a) { a[10] = mexhost::cells(3, 4); },
         "driftfield:fixedMask", "argument 11"},
        {"free node at NaN", [&](Field&, std::vector<ArrayPtr>& a) { mexhost::setCell(a[0].get(), 0, 0, cell2(kNaN, 3).get()); },
         "driftfield:positions", "node (1,1)"},
        {"reference at infinity", [&](Field&, std::vector<ArrayPtr>& a) { mexhost::setCell(a[1].get(), 2, 3, cell2(4, kInf).get()); },
         "driftfield:reference", "(3,4)"},
        {"same reference", [&](Field& f, std::vector<ArrayPtr>& a) {
             const Point q = f.Q[1 * 4 + 2];
             mexhost::setCell(a[1].get(), 2, 2, cell2(q.x, q.y).get());
         }, "driftfield:sameReference", "(2,3) and (3,3)"},
        {"mean shift, windowHalf NaN", [](Field&, std::vector<ArrayPtr>& a) { a[3] = mexhost::scalar(2); a[2] = mexhost::scalar(kNaN); },
         "driftfield:windowHalf", "argument 3"},
        {"mean shift, bandwidth 0", [](Field&, std::vector<ArrayPtr>& a) { a[3] = mexhost::scalar(5); a[9] = mexhost::scalar(0); },
         "driftfield:bandwidth", "argument 10"},
        {"stores too large", [](Field&, std::vector<ArrayPtr>& a) { a[6] = mexhost::scalar(2000); }, "driftfield:tooLarge", "4 GiB"},
        {"radius past counting", [](Field&, std::vector<ArrayPtr>& a) { a[6] = mexhost::scalar(1e12); }, "driftfield:tooLarge", "4 GiB"},
    };
    for (const Case& c : cases) {
        Field f(3, 4, 77, 0.0);
        std::vector<ArrayPtr> a = f.args();
        c.change(f, a);
        const mexhost::CallResult r = call(a);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_FALSE(r.escaped) << c.what;
        EXPECT_EQ(r.errorId, c.id) << c.what << ": " << r.errorMessage;
        EXPECT_NE(r.errorMessage.find(c.mentions), std::string::npos) << c.what << ": " << r.errorMessage;
        EXPECT_TRUE(r.leakFree()) << c.what;
    }

    // One node: the stores are small (radius 3000 has about 28 million
    // offsets, 0.9 GB of stores), but the disc and every worker's buffers
    // grow with the disc too and take the call past the limit.
    Field one(1, 1, 5, 0.0);
    std::vector<ArrayPtr> single = one.args();
    single[6] = mexhost::scalar(3000);
    const mexhost::CallResult big = call(single);
    EXPECT_EQ(big.errorId, "driftfield:tooLarge") << big.errorMessage;
    EXPECT_TRUE(big.leakFree());

    Field f(2, 2, 1);
    mexhost::CallResult r = call(f.args(), 3);
    EXPECT_EQ(r.errorId, "driftfield:nargout");
    EXPECT_TRUE(r.leakFree());

    // Values only the mean shift uses are not checked for the other modes,
    // nor is anything that only guards the computation when it is skipped.
    Field g(3, 4, 77, 0.0);
    g.windowHalf = kNaN;
    g.bandwidth = 0;
    g.mode = 1;
    r = call(g.args());
    EXPECT_TRUE(r.ok) << r.errorMessage;
    g.skipEval = 1;
    g.mode = 3;
    g.radius = 2000;
    r = call(g.args());
    EXPECT_TRUE(r.ok) << r.errorMessage;
    EXPECT_TRUE(r.leakFree());
}

TEST_F(Driftfield, FixedNeighboursNeedNoDistinctReferences) {
    // The pairwise term only compares pairs with a free node.
    Field f(2, 3, 6, 0.0);
    f.fixed = {1, 1, 0, 1, 1, 0};
    f.Q[1] = f.Q[0];
    f.Q[3] = Point{kNaN, kNaN};
    f.P[0] = Point{kNaN, 1};
    expectLiteral(f, call(f.args()));
    f.Q[2] = f.Q[1];  // (1,3) is free and its left neighbour now shares its reference
    const mexhost::CallResult r = call(f.args());
    EXPECT_EQ(r.errorId, "driftfield:sameReference");
    EXPECT_TRUE(r.leakFree());
}

// A lattice whose sweeps take a good fraction of a second (radius 30: 2,821
// offsets per node, on every worker): the host interrupts it at once, after
// a few polls or after a delay, in each estimator.
TEST_F(Driftfield, InterruptStopsEveryWorkerAndReleasesEverything) {
    using namespace std::chrono_literals;
    struct Case {
        const char* what;
        double mode;
        void (*raise)();
    };
    const Case cases[] = {
        {"raised before the call", 1.0, [] { mexhost::raiseInterrupt(); }},
        {"after 3 polls", 0.0, [] { mexhost::raiseInterruptAfterPolls(3); }},
        {"after 40 ms", 2.0, [] { mexhost::raiseInterruptAfter(40ms); }},
    };
    Field f(20, 20, 8, 0.1);
    f.radius = 30;
    f.windowHalf = 2;
    const size_t arraysBefore = mexhost::liveArrays();
    for (const Case& c : cases) {
        f.mode = c.mode;
        const std::vector<ArrayPtr> a = f.args();
        const size_t withArgs = mexhost::liveArrays();
        c.raise();
        const mexhost::CallResult r = call(a);
        EXPECT_EQ(r.errorId, "driftfield:interrupted") << c.what << ": " << r.errorMessage;
        EXPECT_FALSE(r.escaped) << c.what;
        EXPECT_TRUE(r.leakFree()) << c.what;
        EXPECT_TRUE(r.outputs.empty()) << c.what;
        EXPECT_GE(r.interruptPolls, 1u) << c.what;
        EXPECT_EQ(r.offThreadPolls, 0u) << c.what;
        EXPECT_EQ(mexhost::liveArrays(), withArgs) << c.what;
    }
    EXPECT_EQ(mexhost::liveArrays(), arraysBefore);
    // The next call runs in full.
    Field small(3, 4, 9);
    expectLiteral(small, call(small.args()));
}

// This process's resident memory in kB: now (VmRSS) or at its peak since
// the last resetPeakResident (VmHWM).  Linux only, as the tests are.
long residentKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
    return -1;
}
void resetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Ctrl-C early in a call whose message stores take 400 MB (100x100 nodes,
// radius 20: 1,257 offsets each): the call must stop before it has filled
// them, since filling them alone takes longer than a user waits.  A set-up
// that asked nothing before building the disc, allocating and filling the
// stores and sampling the scores would touch all of it first.
TEST_F(Driftfield, InterruptEarlyStopsBeforeTheStoresAreFilled) {
    struct Case {
        const char* what;
        void (*raise)();
    };
    const Case cases[] = {
        {"raised before the call", [] { mexhost::raiseInterrupt(); }},
        {"after 1 poll", [] { mexhost::raiseInterruptAfterPolls(1); }},
        {"after 3 polls", [] { mexhost::raiseInterruptAfterPolls(3); }},
    };
    Field f(100, 100, 12, 0.1);
    f.radius = 20;
    const std::vector<ArrayPtr> a = f.args();
    for (const Case& c : cases) {
        resetPeakResident();
        const long before = residentKb("VmRSS:");
        c.raise();
        const mexhost::CallResult r = call(a);
        const long grew = residentKb("VmHWM:") - before;
        EXPECT_EQ(r.errorId, "driftfield:interrupted") << c.what << ": " << r.errorMessage;
        EXPECT_TRUE(r.leakFree()) << c.what;
        ASSERT_GT(before, 0) << "no VmRSS in /proc/self/status";
        EXPECT_LT(grew, 64 * 1024) << c.what << ": the resident set grew by " << grew << " kB";
    }
}

// What the help promises for a tiny mean-shift bandwidth: with a candidate
// grid the first update leaves whole pixels and no offset keeps any density,
// so every free node keeps its position with score NaN; with a = 0 (c stays
// on a whole pixel) or a bandwidth of 0.02 the nodes are scored.
TEST_F(Driftfield, TinyBandwidthLeavesNoDensityForTheMeanShift) {
    struct Case {
        int windowHalf;
        double bandwidth;
        bool vanishes;
    };
    for (const Case c : {Case{1, 1e-3, true}, Case{2, 1e-3, true}, Case{0, 1e-3, false}, Case{1, 0.02, false}}) {
        Field f(4, 5, 31, 0.1);
        f.mode = 2;
        f.radius = 5;
        f.windowHalf = c.windowHalf;
        f.bandwidth = c.bandwidth;
        const mexhost::CallResult r = call(f.args());
        ASSERT_TRUE(r.ok) << r.errorMessage;
        const std::vector<double> scores = mexhost::values(r.outputs[0].get());
        for (int y = 0; y < f.M; ++y)
            for (int x = 0; x < f.N; ++x) {
                const int n = y * f.N + x;
                if (f.fixed[n]) continue;
                const size_t idx = y + static_cast<size_t>(x) * f.M;
                const double* v = mxGetPr(mxGetCell(r.outputs[1].get(), idx));
                EXPECT_EQ(std::isnan(scores[idx]), c.vanishes) << "a " << c.windowHalf << " h " << c.bandwidth;
                if (c.vanishes) {
                    EXPECT_TRUE(v[0] == f.P[n].x && v[1] == f.P[n].y);
                }
            }
    }
}
