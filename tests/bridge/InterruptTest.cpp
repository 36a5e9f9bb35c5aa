// The bridge's interrupt poll against the embedded host's flag: it asks the
// host at most once per interval, and once told keeps the answer.
#include "Interrupt.h"
#include "MexHost.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

bool firstAnswer, lastAnswer;
double intervals;  // how many intervals the polling took

// Polls as fast as it can for a little over three intervals.
void pollHard(int, mxArray*[], int, const mxArray*[]) {
    InterruptPoll poll;
    ASSERT_TRUE(poll.available());
    const auto start = std::chrono::steady_clock::now();
    firstAnswer = poll.pending();
    const auto until = start + 3 * InterruptPoll::kInterval + InterruptPoll::kInterval / 2;
    while (std::chrono::steady_clock::now() < until) lastAnswer = poll.pending();
    lastAnswer = poll.pending();  // at least one interval after the first
    intervals = std::chrono::duration<double>(std::chrono::steady_clock::now() - start) / InterruptPoll::kInterval;
}

}  // namespace

TEST(InterruptPoll, AsksTheHostAtMostOncePerIntervalAndKeepsAYes) {
    auto quiet = mexhost::callEntry(pollHard, "poll", 0, {});
    EXPECT_TRUE(quiet.ok);
    EXPECT_FALSE(firstAnswer);
    EXPECT_FALSE(lastAnswer);
    EXPECT_GE(quiet.interruptPolls, 2u);
    EXPECT_LE(static_cast<double>(quiet.interruptPolls), intervals + 1);

    // The first ask is still no; the second says yes, and no third follows.
    mexhost::raiseInterruptAfterPolls(1);
    auto raised = mexhost::callEntry(pollHard, "poll", 0, {});
    EXPECT_TRUE(raised.ok);
    EXPECT_FALSE(firstAnswer);
    EXPECT_TRUE(lastAnswer);
    EXPECT_EQ(raised.interruptPolls, 2u);
}
