// The plain-vector searches shared by CMexAndCpp and driftfield.
#include "VectorSearch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace vectorsearch;

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();
}  // namespace

TEST(VectorSearch, MaximumNearestAndSum) {
    const double v[4] = {3, 7, 7, 2};
    int index = -5;
    EXPECT_EQ(GetMax(v, 4, &index), 7.0);
    EXPECT_EQ(index, 1);
    const double low[2] = {-2000000, -3000000};
    index = 42;
    EXPECT_EQ(GetMax(low, 2, &index), -1000000.0);
    EXPECT_EQ(index, 42);
    EXPECT_EQ(GetMax(v, 0, &index), -1000000.0);
    EXPECT_EQ(index, 42);
    const double nans[3] = {kNaN, 1.0, kNaN};
    EXPECT_EQ(GetMax(nans, 3, &index), 1.0);
    EXPECT_EQ(index, 1);

    const double xs[3] = {3, 0, -3}, ys[3] = {4, 5, 4};
    EXPECT_EQ(findClosest(0, 0, xs, ys, 3), 0);
    EXPECT_EQ(findClosest(0, 4.9, xs, ys, 3), 1);
    const double far[1] = {100000}, zero[1] = {0};
    EXPECT_EQ(findClosest(0, 0, far, zero, 1), -1);
    EXPECT_EQ(findClosest(0, 0, xs, ys, 0), -1);
    EXPECT_EQ(findClosest(kNaN, 0, xs, ys, 3), -1);

    const double s[3] = {1, 2, 3.5};
    EXPECT_EQ(GetSum(s, 3), 6.5);
    EXPECT_EQ(GetSum(s, 0), 0.0);
    const double sn[2] = {1, kNaN};
    EXPECT_TRUE(std::isnan(GetSum(sn, 2)));
}
