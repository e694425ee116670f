// A short soak of the real host through its own commands: its resources come back to
// where they were. The full counts run in bench/soak.
#include <cstdio>

#include <gtest/gtest.h>

#include "reliability_runs.h"

namespace kestrune::test {
namespace {

TEST(SoakTest, CommandsLeaveNoHandleThreadOrModuleAndStartsAndPausesNoMemoryBehind) {
    const SoakRun run{50, 10, 25, 5};
    SoakFigures figures = RunSoak(run);
    for (const std::string& line : DescribeSoak(run, figures)) std::printf("%s\n", line.c_str());
    ASSERT_TRUE(figures.ok) << figures.failure;
    ASSERT_TRUE(figures.before.handleTableRead && figures.after.handleTableRead) << "no handle count to compare";
    EXPECT_LE(HandleChange(figures.before, figures.afterCycles), SoakHandleMargin);
    EXPECT_LE(HandleChange(figures.afterCycles, figures.after), SoakHandleMargin) << "over the force stops";
    EXPECT_LE(PrivateBytesChange(figures.before, figures.afterCycles), CyclesPrivateBytesMargin(figures))
        << figures.poolWorkersNewInCycles << " new workers of the system's pool";
    EXPECT_EQ(figures.afterCycles.windows, figures.before.windows) << "a window kept per command";
    EXPECT_EQ(figures.after.windows, figures.before.windows) << "a window kept per force stop";
    EXPECT_EQ(figures.ownThreadsAfter, figures.ownThreadsBefore);
    EXPECT_TRUE(figures.threadsLeft.empty());
    EXPECT_TRUE(figures.modulesLeft.empty());
    RecordProperty("PrivateBytesPerForceStop",
                   static_cast<int>(PrivateBytesChange(figures.afterCycles, figures.after) / run.forceStops));
}

}  // namespace
}  // namespace kestrune::test
