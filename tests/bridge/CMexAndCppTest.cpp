// Element, cell, search, sum and arithmetic operations of CMexAndCpp.
#include "CMexAndCpp.h"
#include "MexHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {
const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();
}  // namespace

TEST(CMexAndCpp, ElementsAreColumnMajorAndNaNReadsAsPointOne) {
    // 3 by 4 matrix holding its own linear index.
    std::vector<double> v(12);
    for (int i = 0; i < 12; ++i) v[i] = i;
    v[5] = NaN;
    v[6] = Inf;
    auto a = mexhost::matrix(3, 4, v);
    EXPECT_EQ(CMexAndCpp::GetMA(a.get(), 1, 2), 7.0);
    EXPECT_EQ(CMexAndCpp::GetMA(a.get(), 1, 2, 5, 0), 11.0);  // caller's row count
    EXPECT_EQ(CMexAndCpp::GetMA(a.get(), 2, 1), 0.1);
    EXPECT_EQ(CMexAndCpp::GetMA(a.get(), 0, 2), Inf);

    CMexAndCpp::SetMA(a.get(), 2, 3, NaN);
    EXPECT_TRUE(std::isnan(mxGetPr(a.get())[11]));  // writes never substitute
    CMexAndCpp::SetMA(a.get(), 1, 1, 42.0, 2, 0);
    EXPECT_EQ(mxGetPr(a.get())[3], 42.0);
}

TEST(CMexAndCpp, SetMCStoresCopiesAndReplacesThePreviousOne) {
    auto c = mexhost::cells(2, 2);
    auto v = mexhost::matrix(1, 2, {1, 2});
    auto w = mexhost::matrix(1, 1, {9});
    const size_t live = mexhost::liveArrays();
    CMexAndCpp::SetMC(c.get(), 1, 1, v.get());
    mxArray* first = CMexAndCpp::GetMC(c.get(), 1, 1);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, v.get());
    EXPECT_EQ(mxGetCell(c.get(), 3), first);
    CMexAndCpp::SetMC(c.get(), 1, 1, w.get());
    EXPECT_EQ(mexhost::liveArrays(), live + 1);  // the first copy was destroyed
    EXPECT_EQ(mexhost::values(CMexAndCpp::GetMC(c.get(), 1, 1)), std::vector<double>{9});
    EXPECT_EQ(CMexAndCpp::GetMC(c.get(), 0, 1), nullptr);
    EXPECT_EQ(mexhost::values(v.get()), (std::vector<double>{1, 2}));
}

TEST(CMexAndCpp, MaximumSearchKeepsTheFirstAndOnlyWritesOnImprovement) {
    const double a[] = {3, 7, 7, 2};
    int index = -5;
    EXPECT_EQ(CMexAndCpp::GetMax(a, 4, &index), 7.0);
    EXPECT_EQ(index, 1);

    const double low[] = {-2000000, -3000000};
    index = 42;
    EXPECT_EQ(CMexAndCpp::GetMax(low, 2, &index), -1000000.0);
    EXPECT_EQ(index, 42);
    EXPECT_EQ(CMexAndCpp::GetMax(a, 0, &index), -1000000.0);
    EXPECT_EQ(index, 42);
    const double nan[] = {NaN, 1};
    EXPECT_EQ(CMexAndCpp::GetMax(nan, 2, &index), 1.0);
    EXPECT_EQ(index, 1);

    // Rows (5, 9) and (9, 1): the scan runs row by row, so (0, 1) wins over
    // (1, 0), which comes first in memory.
    auto m = mexhost::matrix(2, 2, {5, 9, 9, 1});
    int row = -1, col = -1;
    EXPECT_EQ(CMexAndCpp::GetMax(m.get(), &row, &col), 9.0);
    EXPECT_EQ(row, 0);
    EXPECT_EQ(col, 1);

    auto nans = mexhost::matrix(2, 2, {NaN, NaN, NaN, NaN});
    row = col = -1;
    EXPECT_EQ(CMexAndCpp::GetMax(nans.get(), &row, &col), 0.1);
    EXPECT_EQ(row, 0);
    EXPECT_EQ(col, 0);
}

TEST(CMexAndCpp, ClosestPointTiesAndBounds) {
    const double xs[] = {3, 0, -3};
    const double ys[] = {4, 5, 4};
    EXPECT_EQ(CMexAndCpp::findClosest(0, 0, xs, ys, 3), 0);
    EXPECT_EQ(CMexAndCpp::findClosest(-3, 4.5, xs, ys, 3), 2);
    const double far[] = {100000};
    const double zero[] = {0};
    EXPECT_EQ(CMexAndCpp::findClosest(0, 0, far, zero, 1), -1);
    EXPECT_EQ(CMexAndCpp::findClosest(0, 0, xs, ys, 0), -1);

    // Array form: the points are the columns of a row vector; a column vector
    // therefore offers only its first point.
    auto rowX = mexhost::matrix(1, 3, {9, 1, NaN});
    auto rowY = mexhost::matrix(1, 3, {9, 1, NaN});
    EXPECT_EQ(CMexAndCpp::findClosest(0.1, 0.1, rowX.get(), rowY.get()), 2);  // NaN read as 0.1
    auto colX = mexhost::matrix(3, 1, {9, 0, 0});
    auto colY = mexhost::matrix(3, 1, {9, 0, 0});
    EXPECT_EQ(CMexAndCpp::findClosest(0, 0, colX.get(), colY.get()), 0);
}

TEST(CMexAndCpp, SumsAndArithmetic) {
    const double v[] = {1, NaN};
    EXPECT_TRUE(std::isnan(CMexAndCpp::GetSum(v, 2)));
    EXPECT_EQ(CMexAndCpp::GetSum(v, 0), 0.0);
    auto m = mexhost::matrix(1, 2, {1, NaN});
    EXPECT_DOUBLE_EQ(CMexAndCpp::GetSum(m.get()), 1.1);

    // Row-by-row order fixes the rounding: rows (1e16, 1) and (-1e16, 1).
    auto order = mexhost::matrix(2, 2, {1e16, -1e16, 1, 1});
    EXPECT_EQ(CMexAndCpp::GetSum(order.get()), (1e16 + 1 - 1e16) + 1);

    auto a = mexhost::matrix(1, 2, {NaN, 4});
    auto b = mexhost::matrix(1, 2, {2, NaN});
    mexhost::ArrayPtr q(CMexAndCpp::division(a.get(), b.get()));
    EXPECT_EQ(mexhost::values(q.get()), (std::vector<double>{0.05, 40}));
    mexhost::ArrayPtr h(CMexAndCpp::division(a.get(), 0.5));
    EXPECT_EQ(mexhost::values(h.get()), (std::vector<double>{0.2, 8}));
    mexhost::ArrayPtr p(CMexAndCpp::multiplication(a.get(), b.get()));
    EXPECT_EQ(mexhost::values(p.get()), (std::vector<double>{0.2, 0.4}));
    // The second operand is indexed with its own row count.
    auto tall = mexhost::matrix(2, 2, {10, -1, 100, -1});
    mexhost::ArrayPtr t(CMexAndCpp::multiplication(a.get(), tall.get()));
    EXPECT_EQ(mexhost::values(t.get()), (std::vector<double>{1, 400}));

    double x[] = {2, 4};
    double y[] = {3, 5};
    double out[2];
    CMexAndCpp::multiplication(x, y, out, 2);
    EXPECT_EQ(out[1], 20.0);
    CMexAndCpp::Selfmultiplication(x, y, 2);
    EXPECT_EQ(y[0], 6.0);
    CMexAndCpp::division(x, 4, 2);
    EXPECT_EQ(x[1], 1.0);
}
