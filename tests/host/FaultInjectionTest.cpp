// Every way a valid call of each plug-in can fail: each host allocation in
// turn, each image the library makes, each worker thread, each malloc block
// and each operator new.  MATLAB unwinds a failing host call without running
// destructors, so the plug-in must hold nothing of its own at that moment;
// and whatever ends a call, nothing may stay alive after it.
#include "LabelDisc.h"
#include "Messages.h"
#include "MexHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <vector>

namespace {

// Armed by the operator-new test: the n-th operator new from now throws.
std::atomic<long> newCountdown{0};

}  // namespace

void* operator new(std::size_t n) {
    long left = newCountdown.load();
    while (left > 0 && !newCountdown.compare_exchange_weak(left, left - 1)) {}
    if (left == 1) throw std::bad_alloc();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return operator new(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

// The operator-new test calls the plug-in through this entry, which arms the
// countdown only while the plug-in runs (the host's own call loop allocates
// too) and notes whether the armed allocation came.
mexhost::MexFunction armedTarget = nullptr;
long armedAt = 0;
bool armedSpent = false;

void armedEntry(int nlhs, mxArray** plhs, int nrhs, const mxArray** prhs) {
    struct Disarm {
        ~Disarm() {
            armedSpent = newCountdown == 0;
            newCountdown = 0;
        }
    } disarm;
    newCountdown = armedAt;
    armedTarget(nlhs, plhs, nrhs, prhs);
}

using mexhost::ArrayPtr;
const char* const kHostOutOfMemory = "regmex:host:outOfMemory";

ArrayPtr ramp(size_t M, size_t N, double step) {
    std::vector<double> v(M * N);
    for (size_t i = 0; i < v.size(); ++i) v[i] = std::fmod(37.0 * static_cast<double>(i) * step, 251.0);
    return mexhost::matrix(M, N, v);
}

ArrayPtr lattice(int M, int N, double jitter) {
    ArrayPtr c = mexhost::cells(M, N);
    for (int y = 0; y < M; ++y)
        for (int x = 0; x < N; ++x)
            mexhost::setCell(c.get(), y, x, mexhost::matrix(2, 1, {6.0 + 8 * x + jitter * (y % 2), 5.0 + 7 * y}).get());
    return c;
}

// One valid call of a plug-in.
struct Call {
    std::string what;
    std::string plugin;
    int nlhs;
    std::vector<ArrayPtr> args;
    std::vector<const mxArray*> list() const {
        std::vector<const mxArray*> v;
        for (const ArrayPtr& a : args) v.push_back(a.get());
        return v;
    }
};

std::vector<Call> validCalls() {
    std::vector<Call> calls;
    auto add = [&](std::string what, std::string plugin, int nlhs, std::vector<ArrayPtr> args) {
        calls.push_back(Call{std::move(what), std::move(plugin), nlhs, std::move(args)});
    };
    std::vector<ArrayPtr> t;
    t.push_back(ramp(40, 30, 1));
    t.push_back(mexhost::scalar(-1));
    t.push_back(ramp(7, 5, 3));
    add("tmatch without region", "tmatch", 1, std::move(t));
    t.clear();
    t.push_back(ramp(40, 30, 1));
    t.push_back(mexhost::matrix(1, 4, {3, 4, 20, 15}));
    t.push_back(ramp(7, 5, 3));
    add("tmatch with region", "tmatch", 1, std::move(t));

    const std::string camera = std::string(REGMEX_DATA_DIR) + "/camera.png";
    for (double limit : {10.0, 2500.0}) {
        std::vector<ArrayPtr> g;
        g.push_back(mexhost::text(camera));
        g.push_back(mexhost::scalar(5));
        g.push_back(mexhost::scalar(0.01));
        g.push_back(mexhost::scalar(limit));
        g.push_back(mexhost::scalar(limit == 10.0 ? 1 : 0));
        // A limit of 2500 needs more than the first point buffer: the file is
        // read again after the buffer is replaced.
        add(limit == 10.0 ? "gridcorners adaptive" : "gridcorners with a second buffer", "gridcorners", 1,
            std::move(g));
    }

    const int K = 25;
    std::vector<double> coefX(K + 3, 0.0), coefY(K + 3, 0.0), cx(K), cy(K), tx(K), ty(K);
    coefX[K] = 0.5, coefX[K + 1] = 1, coefY[K] = -0.25, coefY[K + 2] = 1;
    for (int k = 0; k < K; ++k) {
        coefX[k] = 1e-4 * (k % 3), coefY[k] = -1e-4 * (k % 2);
        cx[k] = 2 + (k % 5) * 3.5, cy[k] = 2 + (k / 5) * 3.5, tx[k] = cx[k] + 0.3, ty[k] = cy[k] - 0.2;
    }
    std::vector<ArrayPtr> w;
    w.push_back(mexhost::matrix(K + 3, 1, coefX));
    w.push_back(mexhost::matrix(K + 3, 1, coefY));
    w.push_back(mexhost::matrix(K, 1, cx));
    w.push_back(mexhost::numeric(mxSINGLE_CLASS, {size_t(K), 1}, cy));  // read through a double copy
    w.push_back(mexhost::matrix(K, 1, tx));
    w.push_back(mexhost::matrix(K, 1, ty));
    w.push_back(ramp(20, 20, 0.01));
    w.push_back(ramp(20, 20, 0.02));
    w.push_back(ramp(20, 20, 1));
    add("warpmatch with K = 25 and composition", "warpmatch", 4, std::move(w));

    for (double mode : {0.0, 1.0, 2.0}) {
        std::vector<ArrayPtr> d;
        d.push_back(lattice(3, 3, 1.5));
        d.push_back(lattice(3, 3, 0.0));
        for (double v : {1.0, mode, 0.8, 2.5, 2.5}) d.push_back(mexhost::scalar(v));
        d.push_back(ramp(30, 32, 0.003));
        d.push_back(mexhost::scalar(0));
        d.push_back(mexhost::scalar(1.1));
        d.push_back(mexhost::matrix(3, 3, {1, 0, 0, 0, 0, 0, 0, 0, 0}));
        add("driftfield mode " + std::to_string(static_cast<int>(mode)), "driftfield", 2, std::move(d));
    }
    return calls;
}

struct FaultInjection : ::testing::Test {
    std::map<std::string, std::unique_ptr<mexhost::Plugin>> plugins;

    const mexhost::Plugin& plugin(const std::string& name) {
        auto& p = plugins[name];
        if (!p) p = std::make_unique<mexhost::Plugin>(mexhost::pluginPath(name));
        return *p;
    }

    // A seam the plug-in exports for the embedded host.
    void arm(const mexhost::Plugin& p, const char* seam, int n) {
        auto fn = reinterpret_cast<void (*)(int)>(p.symbol(seam));
        ASSERT_NE(fn, nullptr) << seam;
        fn(n);
    }

    // What every ending of a call must leave: no image, malloc block, host
    // array or host block alive, and nothing held at a host call.
    void expectNothingAlive(const mexhost::Plugin& p, const mexhost::CallResult& r, size_t arrays, size_t blocks,
                            const std::string& what) {
        EXPECT_FALSE(r.escaped) << what << ": " << r.errorMessage;
        EXPECT_EQ(r.heldAtHostCall, 0u) << what;
        EXPECT_EQ(r.leakedResources, 0u) << what;
        EXPECT_EQ(p.liveImages(), 0u) << what;
        EXPECT_EQ(p.liveBlocks(), 0u) << what;
        EXPECT_EQ(mexhost::liveArrays(), arrays) << what;
        EXPECT_EQ(mexhost::liveBlocks(), blocks) << what;
    }

    // Runs the call with fault n = 1, 2, ... armed until it succeeds; every
    // failure must carry one of the identifiers.  Returns the failures seen.
    int untilSuccess(const Call& c, const std::function<void(int)>& armFault,
                     const std::vector<std::string>& ids, int limit = 2000) {
        const mexhost::Plugin& p = plugin(c.plugin);
        const size_t arrays = mexhost::liveArrays(), blocks = mexhost::liveBlocks();
        for (int n = 1; n <= limit; ++n) {
            armFault(n);
            mexhost::CallResult r = p.call(c.nlhs, c.list());
            const std::string what = c.what + ", fault " + std::to_string(n);
            if (r.ok) {
                armFault(0);
                EXPECT_TRUE(r.leakFree()) << what;
                return n - 1;
            }
            EXPECT_NE(std::find(ids.begin(), ids.end(), r.errorId), ids.end())
                << what << ": " << r.errorId << ": " << r.errorMessage;
            expectNothingAlive(p, r, arrays, blocks, what);
        }
        ADD_FAILURE() << c.what << " still fails after " << limit << " faults";
        armFault(0);
        return limit;
    }
};

}  // namespace

TEST_F(FaultInjection, EachHostAllocationInTurnFailsCleanly) {
    for (const Call& c : validCalls()) {
        mexhost::CallResult plain = plugin(c.plugin).call(c.nlhs, c.list());
        ASSERT_TRUE(plain.ok) << c.what << ": " << plain.errorId << ": " << plain.errorMessage;
        ASSERT_TRUE(plain.leakFree()) << c.what;
        const int failures = untilSuccess(c, mexhost::failNextCallAllocation, {kHostOutOfMemory});
        EXPECT_EQ(static_cast<size_t>(failures), plain.hostAllocations) << c.what;
        std::printf("%-40s %3d host allocations\n", c.what.c_str(), failures);
    }
}

TEST_F(FaultInjection, EachLibraryImageInTurnFailsAsTheLibrarysError) {
    for (const Call& c : validCalls()) {
        if (c.plugin == "driftfield") continue;  // makes no images
        const mexhost::Plugin& p = plugin(c.plugin);
        // gridcorners tells running out of memory apart from other failures.
        const std::string id = c.plugin == "gridcorners" ? "gridcorners:outOfMemory" : c.plugin + ":opencv";
        const int failures = untilSuccess(c, [&](int n) { arm(p, "regmexFailImageCreation", n); }, {id});
        // warpmatch works inside its results' own memory: no library image.
        if (c.plugin == "warpmatch")
            EXPECT_EQ(failures, 0) << c.what;
        else
            EXPECT_GT(failures, 0) << c.what;
        std::printf("%-40s %3d images\n", c.what.c_str(), failures);
    }
}

TEST_F(FaultInjection, WarpmatchThreadsAndBlocksFailWithItsOwnIdentifiers) {
    std::vector<Call> calls = validCalls();
    const Call& w = *std::find_if(calls.begin(), calls.end(), [](const Call& c) { return c.plugin == "warpmatch"; });
    const mexhost::Plugin& p = plugin("warpmatch");
    struct Case {
        const char* seam;
        const char* id;
        int expected;  // K = 25: two workers; outX and outY
    };
    // Its threads: EachWorkerStartInTurnIsRefused.
    for (const Case& c : {Case{"regmexFailAllocation", "warpmatch:outOfMemory", 2}}) {
        EXPECT_EQ(untilSuccess(w, [&](int n) { arm(p, c.seam, n); }, {c.id}), c.expected) << c.seam;
    }
}

// Each worker start of a call in turn refused, as a system out of threads
// refuses one: every loop carries on without that worker and gives the
// plain call's results, except warpmatch's point inversion, whose design
// starts its partition's workers or fails (K = 25: two workers).
TEST_F(FaultInjection, EachWorkerStartInTurnIsRefused) {
    for (const Call& c : validCalls()) {
        const mexhost::Plugin& p = plugin(c.plugin);
        auto refused = reinterpret_cast<int (*)()>(p.symbol("regmexRefusedThreadStarts"));
        ASSERT_NE(refused, nullptr) << c.what;
        const mexhost::CallResult plain = p.call(c.nlhs, c.list());
        ASSERT_TRUE(plain.ok) << c.what << ": " << plain.errorMessage;
        const std::vector<double> expected = mexhost::values(plain.outputs[0].get());
        const size_t arrays = mexhost::liveArrays(), blocks = mexhost::liveBlocks();
        int failed = 0, n = 1;
        for (;; ++n) {
            ASSERT_LT(n, 1000) << c.what;
            const int before = refused();
            arm(p, "regmexFailThreadCreation", n);
            const mexhost::CallResult r = p.call(c.nlhs, c.list());
            arm(p, "regmexFailThreadCreation", 0);
            if (refused() == before) break;  // fewer than n starts: each has been refused once
            const std::string what = c.what + ", start " + std::to_string(n);
            if (r.ok) {
                EXPECT_EQ(mexhost::values(r.outputs[0].get()), expected) << what;
                EXPECT_TRUE(r.leakFree()) << what;
            } else {
                EXPECT_EQ(r.errorId, "warpmatch:thread") << what << ": " << r.errorMessage;
                ++failed;
                expectNothingAlive(p, r, arrays, blocks, what);
            }
        }
        EXPECT_EQ(failed, c.plugin == "warpmatch" ? 2 : 0) << c.what;
        std::printf("%-40s %3d worker starts\n", c.what.c_str(), n - 1);
    }
}

// Operator new fails in turn: in the core (the label disc, the message
// stores, the worker threads) it must become the plug-in's own error, in a
// host function the host's.
TEST_F(FaultInjection, EachOperatorNewInTurnFailsCleanly) {
    for (const Call& c : validCalls()) {
        if (c.plugin != "driftfield") continue;
        const mexhost::Plugin& p = plugin(c.plugin);
        armedTarget = reinterpret_cast<mexhost::MexFunction>(p.symbol("mexFunction"));
        ASSERT_NE(armedTarget, nullptr);
        std::map<std::string, int> seen;
        const size_t arrays = mexhost::liveArrays(), blocks = mexhost::liveBlocks();
        for (armedAt = 1;; ++armedAt) {
            const long n = armedAt;
            mexhost::CallResult r = mexhost::callEntry(armedEntry, c.plugin, c.nlhs, c.list());
            if (r.ok && !armedSpent) break;  // every allocation of the call has failed once
            ASSERT_LT(n, 100000) << c.what;
            if (r.ok) continue;              // a failure the call can do without
            ++seen[r.errorId];
            EXPECT_TRUE(r.errorId == "driftfield:outOfMemory" || r.errorId == kHostOutOfMemory)
                << c.what << ", new " << n << ": " << r.errorId << ": " << r.errorMessage;
            expectNothingAlive(p, r, arrays, blocks, c.what + ", new " + std::to_string(n));
        }
        EXPECT_GT(seen["driftfield:outOfMemory"], 0) << c.what;
        std::printf("%-40s %3d operator new (%d core, %d host)\n", c.what.c_str(),
                    seen["driftfield:outOfMemory"] + seen[kHostOutOfMemory], seen["driftfield:outOfMemory"],
                    seen[kHostOutOfMemory]);
    }
}

// In the core, a worker that cannot be started (its thread's state cannot be
// allocated) leaves its lines to the others: the results are those of a
// full run, and an allocation the pass needs fails as std::bad_alloc, never
// as std::terminate on workers left running.
TEST_F(FaultInjection, MessagePassingSurvivesEveryFailedAllocation) {
    using namespace driftfield;
    const int M = 6, N = 6;
    std::vector<Point> P, Q;
    std::vector<unsigned char> fixed(M * N, 0);
    for (int y = 0; y < M; ++y)
        for (int x = 0; x < N; ++x) {
            Q.push_back(Point{5.0 + 6 * x, 4.0 + 6 * y});
            P.push_back(Point{5.5 + 6 * x, 4.0 + 6 * y - 0.5 * (x % 2)});
        }
    std::vector<double> values(40 * 42);
    for (size_t i = 0; i < values.size(); ++i) values[i] = std::fmod(0.37 * static_cast<double>(i), 1.0);
    const LatticeView lattice{M, N, P.data(), Q.data(), fixed.data()};
    const ScoreMap map{values.data(), 40, 42};
    FieldParams params;
    params.pairWeight = 0.8;
    params.dataWeight = 2.5;
    const LabelDisc disc = buildLabelDisc(2.5);
    std::vector<NodeResult> want(M * N);
    passMessages(lattice, map, disc, params, want.data(), 4);
    int failed = 0;
    for (long n = 1;; ++n) {
        std::vector<NodeResult> got(M * N, NodeResult{0, 0, 0});
        newCountdown = n;
        bool threw = false;
        try {
            passMessages(lattice, map, disc, params, got.data(), 4);
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        const bool spent = newCountdown == 0;
        newCountdown = 0;
        if (!spent) break;
        failed += threw;
        if (threw) continue;
        for (int i = 0; i < M * N; ++i) {
            EXPECT_TRUE(got[i].x == want[i].x && got[i].y == want[i].y && got[i].score == want[i].score)
                << "allocation " << n << ", node " << i;
        }
    }
    EXPECT_GT(failed, 0);
}
