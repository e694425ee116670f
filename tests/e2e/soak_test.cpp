// A short soak of the real host through its own commands: its resources come back to
// where they were. The full counts run in bench/soak.
#include <gtest/gtest.h>

#include <cstdio>

#include "reliability_runs.h"

namespace kestrune::test {
namespace {

// What the host may hold more after the commands than before, all daemons stopped both
// times: the system's handle caches and the heap's page-sized steps, nothing per command
// (a handle, thread or module kept per start would show at once).
constexpr long long HandleMargin = 2;
constexpr long long PrivateBytesMargin = 256 * 1024;

TEST(SoakTest, CommandsLeaveNoHandleThreadOrModuleAndStartsAndPausesNoMemoryBehind) {
    const SoakRun run{50, 10, 25, 5};
    SoakFigures figures = RunSoak(run);
    for (const std::string& line : DescribeSoak(run, figures)) std::printf("%s\n", line.c_str());
    ASSERT_TRUE(figures.ok) << figures.failure;
    ASSERT_TRUE(figures.before.handleTableRead && figures.after.handleTableRead) << "no handle count to compare";
    EXPECT_LE(HandleChange(figures.before, figures.afterCycles), HandleMargin);
    EXPECT_LE(HandleChange(figures.afterCycles, figures.after), HandleMargin) << "over the force stops";
    EXPECT_LE(PrivateBytesChange(figures.before, figures.afterCycles), PrivateBytesMargin);
    EXPECT_EQ(figures.after.threads.size(), figures.before.threads.size());
    EXPECT_TRUE(figures.threadsLeft.empty());
    EXPECT_TRUE(figures.modulesLeft.empty());
    // A thread ended by force keeps its stack (the platform's doing, not the host's): the
    // force stops' private bytes are reported, not held to the margin.
    RecordProperty("PrivateBytesPerForceStop",
                   static_cast<int>(PrivateBytesChange(figures.afterCycles, figures.after) / run.forceStops));
}

}  // namespace
}  // namespace kestrune::test
