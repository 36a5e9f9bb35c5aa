// Shared argument checks: what they accept and how they describe a refusal.
#include "MexArgs.h"
#include "MexHost.h"

#include <gtest/gtest.h>

namespace {

// Runs one check inside a host call; the check reads its argument from prhs[0].
mexhost::CallResult check(void (*fn)(int, mxArray**, int, const mxArray**), const mxArray* arg) {
    return mexhost::callEntry(fn, "argcheck", 0, {arg});
}

constexpr mexargs::Arg kLimit{3, "demo", mexargs::required("limit", "scalar")};
constexpr mexargs::Arg kPicture{0, "demo", mexargs::required("picture", "picture")};

void scalarCheck(int, mxArray**, int, const mxArray** prhs) { mexargs::realScalar(kLimit, prhs[0]); }

void imageCheck(int, mxArray**, int, const mxArray** prhs) { mexargs::requireImage2D(kPicture, prhs[0]); }

// Takes two or three arguments and gives one result.
void countCheck(int nlhs, mxArray** plhs, int nrhs, const mxArray**) {
    mexargs::checkCounts("demo", nrhs, 2, 3, nlhs, 1, "y = demo(a, b, c)");
    plhs[0] = mxCreateDoubleScalar(0);
}

}  // namespace

TEST(MexArgs, CountsAreRefusedBelowTheMinimumAndAboveTheMaxima) {
    auto a = mexhost::scalar(1);
    struct Case {
        int nrhs, nlhs;
        const char* id;
        const char* message;
    };
    const Case cases[] = {
        {1, 1, "demo:nargin", "demo needs 2 input arguments, got 1. Usage: y = demo(a, b, c)"},
        {4, 1, "demo:nargin", "demo takes at most 3 input arguments, got 4. Usage: y = demo(a, b, c)"},
        {2, 2, "demo:nargout", "demo returns at most 1 result, 2 requested. Usage: y = demo(a, b, c)"},
        {2, 1, "", ""},
        {3, 0, "", ""},
    };
    for (const Case& c : cases) {
        auto r = mexhost::callEntry(countCheck, "demo", c.nlhs, std::vector<const mxArray*>(c.nrhs, a.get()));
        EXPECT_EQ(r.errorId, c.id) << c.nrhs << " in, " << c.nlhs << " out";
        EXPECT_EQ(r.errorMessage, c.message);
    }
}

TEST(MexArgs, ImagesAreRealTwoDimensionalAndNotEmpty) {
    EXPECT_TRUE(check(imageCheck, mexhost::numeric(mxUINT8_CLASS, {4, 3}).get()).ok);
    struct Case {
        mexhost::ArrayPtr value;
        const char* message;
    };
    Case cases[] = {
        {mexhost::numeric(mxUINT8_CLASS, {4, 3, 3}),
         "argument 1 (picture) must be a 2-D grey-level matrix (convert a colour image to grey first), got a 4x3x3 "
         "uint8 array"},
        {mexhost::matrix(0, 3), "argument 1 (picture) must not be empty, got a 0x3 double array"},
        {mexhost::cells(2, 2), "argument 1 (picture) must be a real numeric array, got a 2x2 cell array"},
        {mexhost::sparseMatrix(2, 2), "argument 1 (picture) must be a real numeric array, got a 2x2 sparse double array"},
    };
    for (const Case& c : cases) {
        auto r = check(imageCheck, c.value.get());
        EXPECT_EQ(r.errorId, "demo:picture");
        EXPECT_EQ(r.errorMessage, c.message);
    }
}

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
