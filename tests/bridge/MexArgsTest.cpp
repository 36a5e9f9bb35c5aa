// Shared argument checks: what they accept and how they describe a refusal.
#include "MexArgs.h"
#include "MexHost.h"

#include <gtest/gtest.h>

namespace {

// Runs one check inside a host call; the check reads its argument from prhs[0].
mexhost::CallResult check(void (*fn)(int, mxArray**, int, const mxArray**), const mxArray* arg) {
    return mexhost::callEntry(fn, "argcheck", 0, {arg});
}

void scalarCheck(int, mxArray**, int, const mxArray** prhs) {
    mexargs::realScalar(prhs[0], "demo:scalar", 4, "limit");
}

void countCheck(int nlhs, mxArray**, int nrhs, const mxArray**) {
    mexargs::checkCounts("demo", nrhs, 2, nlhs, 1, "y = demo(a, b)");
}

}  // namespace

TEST(MexArgs, ScalarsByValueAndRefusals) {
    EXPECT_TRUE(check(scalarCheck, mexhost::numeric(mxUINT8_CLASS, {1, 1}, {7}).get()).ok);
    EXPECT_TRUE(check(scalarCheck, mexhost::numeric(mxLOGICAL_CLASS, {1, 1}, {1}).get()).ok);

    auto r = check(scalarCheck, mexhost::complexMatrix(1, 1).get());
    EXPECT_EQ(r.errorId, "demo:scalar");
    EXPECT_EQ(r.errorMessage, "argument 4 (limit) must be a real numeric scalar, got a 1x1 complex double array");
    EXPECT_EQ(check(scalarCheck, mexhost::matrix(1, 2).get()).errorId, "demo:scalar");
    EXPECT_EQ(check(scalarCheck, mexhost::text("x").get()).errorId, "demo:scalar");
    EXPECT_EQ(check(scalarCheck, mexhost::sparseMatrix(1, 1).get()).errorId, "demo:scalar");
    EXPECT_EQ(check(scalarCheck, mexhost::cells(1, 1).get()).errorId, "demo:scalar");

    EXPECT_EQ(mexhost::callEntry(countCheck, "demo", 1, {nullptr}).errorId, "demo:nargin");
    auto a = mexhost::scalar(1);
    EXPECT_EQ(mexhost::callEntry(countCheck, "demo", 2, {a.get(), a.get()}).errorId, "demo:nargout");
}

TEST(MexArgs, DoubleCopiesKeepShapeAndValues) {
    auto i16 = mexhost::numeric(mxINT16_CLASS, {2, 2, 2}, {-3, 5, 300, 0, 1, 2, 3, 4});
    mexhost::ArrayPtr d(mexargs::toDouble(i16.get()));
    EXPECT_TRUE(mxIsDouble(d.get()));
    EXPECT_EQ(mxGetNumberOfDimensions(d.get()), 3u);
    EXPECT_EQ(mexhost::values(d.get()), (std::vector<double>{-3, 5, 300, 0, 1, 2, 3, 4}));
    auto single = mexhost::numeric(mxSINGLE_CLASS, {1, 1}, {0.1});
    EXPECT_EQ(mexargs::elementValue(single.get(), 0), static_cast<double>(0.1f));
}
