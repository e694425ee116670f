// Daemons that live inside the system's locks (heap, C runtime, loader, window system), as
// ordinary daemons do: pausing and force-stopping them never leaves the host's window
// unanswered. The full counts run in bench/soak.
#include <cstdio>

#include <gtest/gtest.h>

#include "reliability_runs.h"

namespace kestrune::test {
namespace {

TEST(BusyDaemonsTest, PausesAndForceStopsKeepTheWindowAnswering) {
    // Fewer daemons on the emulated 32-bit host, where each busy thread is slow and large.
    const BusyRun run = sizeof(void*) == 8 ? BusyRun{10, 2, 2} : BusyRun{8, 2, 1};
    BusyFigures figures = RunBusy(run);
    for (const std::string& line : DescribeBusy(run, figures)) std::printf("%s\n", line.c_str());
    EXPECT_TRUE(figures.ok) << figures.failure;
    EXPECT_EQ(figures.pairsPerKind, run.rounds * run.instances);
    EXPECT_EQ(figures.forceStopsPerKind, run.forceRounds * run.instances);
}

}  // namespace
}  // namespace kestrune::test
