// A process with no host interrupt state (no MATLAB, Octave or embedded
// host): the poll finds nothing and never stops a call.
#include "Interrupt.h"

#include <gtest/gtest.h>

TEST(InterruptPoll, WithoutAHostNothingIsPending) {
    InterruptPoll poll;
    EXPECT_FALSE(poll.available());
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(poll.pending());
}
