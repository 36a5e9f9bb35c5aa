// The embedded host: ownership, reclamation and error reporting of a call.
#include "MexHost.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

using mexhost::callEntry;

TEST(Host, ReclaimsAndCountsWhatACallLeavesBehind) {
    const size_t arraysBefore = mexhost::liveArrays();
    const size_t blocksBefore = mexhost::liveBlocks();
    auto r = callEntry(
        [](int, mxArray* plhs[], int, const mxArray*[]) {
            mxMalloc(16);                                  // leaked block
            void* freed = mxMalloc(8);
            mxFree(freed);
            mxCreateDoubleMatrix(2, 2, mxREAL);            // leaked array
            mxDestroyArray(mxCreateDoubleMatrix(1, 1, mxREAL));
            mxArray* cell = mxCreateCellMatrix(1, 2);
            mxSetCell(cell, 0, mxCreateDoubleScalar(3));   // owned by the returned cell
            plhs[0] = cell;
        },
        "leaky", 1, {});
    ASSERT_TRUE(r.ok) << r.errorMessage;
    EXPECT_EQ(r.leakedBlocks, 1u);
    EXPECT_EQ(r.leakedArrays, 1u);
    ASSERT_EQ(r.outputs.size(), 1u);
    EXPECT_EQ(mxGetScalar(mxGetCell(r.outputs[0].get(), 0)), 3.0);
    EXPECT_EQ(mxGetCell(r.outputs[0].get(), 1), nullptr);
    r.outputs.clear();
    EXPECT_EQ(mexhost::liveArrays(), arraysBefore);
    EXPECT_EQ(mexhost::liveBlocks(), blocksBefore);
}

TEST(Host, ErrorEndsTheCallAndDiscardsItsResults) {
    auto r = callEntry(
        [](int, mxArray* plhs[], int, const mxArray*[]) {
            plhs[0] = mxCreateDoubleMatrix(3, 3, mxREAL);
            mexErrMsgIdAndTxt("demo:bad", "argument %d is %s", 2, "wrong");
        },
        "failing", 1, {});
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.escaped);
    EXPECT_EQ(r.errorId, "demo:bad");
    EXPECT_EQ(r.errorMessage, "argument 2 is wrong");
    EXPECT_TRUE(r.outputs.empty());
    EXPECT_EQ(r.leakedArrays, 1u);  // the result made before the error

    auto escaped = callEntry([](int, mxArray*[], int, const mxArray*[]) { throw std::runtime_error("boom"); },
                             "throwing", 0, {});
    EXPECT_TRUE(escaped.escaped);
    EXPECT_EQ(escaped.errorMessage, "boom");

    auto unassigned = callEntry([](int, mxArray*[], int, const mxArray*[]) {}, "silent", 1, {});
    EXPECT_FALSE(unassigned.ok);
    EXPECT_EQ(unassigned.errorId, "regmex:host:unassignedOutput");
}

TEST(Host, ArgumentsAreReadOnlyAndPrintingIsCaptured) {
    auto arg = mexhost::matrix(1, 2, {1, 2});
    auto r = callEntry(
        [](int, mxArray*[], int, const mxArray* prhs[]) {
            mexPrintf("value %g\n", mxGetPr(prhs[0])[1]);
            mxGetPr(prhs[0])[0] = 7;
        },
        "writer", 0, {arg.get()});
    EXPECT_EQ(r.output, "value 2\n");
    EXPECT_EQ(r.errorId, "regmex:host:argumentChanged");
}

TEST(Host, CellsOwnTheirContentAndDuplicatesAreDeep) {
    auto c = mexhost::cells(2, 1);
    auto v = mexhost::matrix(2, 1, {4, 5});
    mexhost::setCell(c.get(), 1, 0, v.get());
    mexhost::setCell(c.get(), 1, 0, v.get());  // replaces (and destroys) the first copy
    mxArray* dup = mxDuplicateArray(c.get());
    ASSERT_NE(mxGetCell(dup, 1), mxGetCell(c.get(), 1));
    EXPECT_EQ(mexhost::values(mxGetCell(dup, 1)), (std::vector<double>{4, 5}));
    const size_t live = mexhost::liveArrays();
    mxDestroyArray(dup);
    EXPECT_EQ(mexhost::liveArrays(), live - 2);

    // Replacing a cell's content inside a call without destroying it loses the
    // old array: the host counts it as leaked.
    auto r = callEntry(
        [](int, mxArray* plhs[], int, const mxArray*[]) {
            mxArray* cell = mxCreateCellMatrix(1, 1);
            mxSetCell(cell, 0, mxCreateDoubleScalar(1));
            mxSetCell(cell, 0, mxCreateDoubleScalar(2));
            plhs[0] = cell;
        },
        "overwrite", 1, {});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.leakedArrays, 1u);

    auto bad = callEntry([](int, mxArray*[], int, const mxArray* prhs[]) { mxGetCell(prhs[0], 5); },
                         "badindex", 0, {c.get()});
    EXPECT_EQ(bad.errorId, "regmex:host:badIndex");
}

TEST(Host, ClassesShapesAndThirtyTwoBitNames) {
    auto u8 = mexhost::numeric(mxUINT8_CLASS, {2, 3, 4}, {7, 300});
    EXPECT_EQ(mxGetM(u8.get()), 2u);
    EXPECT_EQ(mxGetN(u8.get()), 12u);
    EXPECT_EQ(mxGetNumberOfDimensions_700(u8.get()), 3);
    EXPECT_EQ(mxGetDimensions_700(u8.get())[2], 4);
    EXPECT_EQ(mxGetPr(u8.get()), nullptr);  // not double data
    EXPECT_EQ(mxGetScalar(u8.get()), 7.0);
    EXPECT_TRUE(mxIsNumeric(u8.get()));
    EXPECT_EQ(static_cast<const uint8_t*>(mxGetData(u8.get()))[1], 255);  // saturated, as MATLAB does
    auto i8 = mexhost::numeric(mxINT8_CLASS, {1, 3}, {-1e300, 2.5, NAN});
    const auto* i8v = static_cast<const int8_t*>(mxGetData(i8.get()));
    EXPECT_EQ(i8v[0], -128);
    EXPECT_EQ(i8v[1], 3);
    EXPECT_EQ(i8v[2], 0);
    EXPECT_FALSE(mxIsDouble(u8.get()));

    // Trailing singleton dimensions are dropped, as MATLAB does.
    auto page = mexhost::numeric(mxDOUBLE_CLASS, {2, 3, 1});
    EXPECT_EQ(mxGetNumberOfDimensions(page.get()), 2u);

    auto s = mexhost::text("photo.png");
    char buf[6];
    EXPECT_EQ(mxGetString_700(s.get(), buf, sizeof buf), 1);  // truncated
    EXPECT_STREQ(buf, "photo");
    char whole[16];
    EXPECT_EQ(mxGetString(s.get(), whole, sizeof whole), 0);
    EXPECT_STREQ(whole, "photo.png");

    EXPECT_TRUE(mxIsSparse(mexhost::sparseMatrix(2, 2).get()));
    EXPECT_TRUE(mxIsComplex(mexhost::complexMatrix(2, 2).get()));
    EXPECT_TRUE(std::isnan(mxGetNaN()));

    auto r = callEntry(
        [](int, mxArray* plhs[], int, const mxArray*[]) {
            plhs[0] = mxCreateCellMatrix_700(1, 1);
            mxSetCell_700(plhs[0], 0, mxCreateDoubleMatrix_700(2, 1, mxREAL));
        },
        "seven", 1, {});
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.leakFree());
    EXPECT_EQ(mxGetM(mxGetCell_700(r.outputs[0].get(), 0)), 2u);
}

// The interrupt flag as plug-ins poll it: armed before a call in each way,
// answered poll by poll, and dropped when the call ends.
TEST(Host, InterruptFlagAnswersPollsAsArmedAndIsDroppedAtTheEnd) {
    using namespace std::chrono_literals;
    static std::vector<bool> answers;
    struct Case {
        const char* what;
        void (*arm)();
        std::vector<bool> expected;  // five polls
    };
    const Case cases[] = {
        {"not raised", [] {}, {false, false, false, false, false}},
        {"raised", [] { mexhost::raiseInterrupt(); }, {true, true, true, true, true}},
        {"after 2 polls", [] { mexhost::raiseInterruptAfterPolls(2); }, {false, false, true, true, true}},
        {"after no delay", [] { mexhost::raiseInterruptAfter(0ms); }, {true, true, true, true, true}},
        {"after an hour", [] { mexhost::raiseInterruptAfter(1h); }, {false, false, false, false, false}},
        {"raised, then cleared", [] { mexhost::raiseInterrupt(); mexhost::clearInterrupt(); },
         {false, false, false, false, false}},
    };
    for (const Case& c : cases) {
        answers.clear();
        c.arm();
        auto r = callEntry(
            [](int, mxArray*[], int, const mxArray*[]) {
                for (int i = 0; i < 5; ++i) answers.push_back(regmexHostInterruptPending());
                std::thread([] { regmexHostInterruptPending(); }).join();
            },
            "polling", 0, {});
        EXPECT_TRUE(r.ok) << c.what;
        EXPECT_EQ(answers, c.expected) << c.what;
        EXPECT_EQ(r.interruptPolls, 6u) << c.what;
        EXPECT_EQ(r.offThreadPolls, 1u) << c.what;
        EXPECT_FALSE(mexhost::interruptRaised()) << c.what;
    }
}
