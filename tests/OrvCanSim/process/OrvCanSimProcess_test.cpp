// OrvCanSim as a process: its end on a signal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/SimProcess.h"

namespace orv::test {
namespace {

using ::testing::HasSubstr;

TEST(OrvCanSimProcess, SigintEndsItCleanly) {
    SimProcess sim({"--puc", "12", "--gateway", "0:0"});
    EXPECT_EQ(sim.Stop(SIGINT), 0);
    EXPECT_THAT(sim.Log(), testing::AllOf(HasSubstr("SIGINT"), HasSubstr("ended")));
}

}  // namespace
}  // namespace orv::test
