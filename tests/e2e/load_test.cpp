// A hundred daemons of every kind closed at once on the real host; the full thousand
// runs in bench/soak.
#include <cstdio>

#include <gtest/gtest.h>

#include "reliability_runs.h"

namespace kestrune::test {
namespace {

TEST(LoadTest, HundredDaemonsCloseWithExitCodeZeroAndEveryCooperativeOneReturned) {
    const LoadRun run{50, 25, 25};
    LoadFigures figures = RunLoad(run);
    for (const std::string& line : DescribeLoad(run, figures)) std::printf("%s\n", line.c_str());
    RecordProperty("CloseMilliseconds", static_cast<int>(figures.closeSeconds * 1000));
    RecordProperty("BoundMilliseconds", static_cast<int>(figures.boundSeconds * 1000));
    ASSERT_TRUE(figures.ok) << figures.failure;
    EXPECT_EQ(figures.exitCode, 0u);
    EXPECT_EQ(figures.cooperativeReturned, run.cooperative) << "every cooperative daemon saw 255 and returned";
    EXPECT_EQ(figures.wordlessUnloaded, run.wordless);
    EXPECT_EQ(figures.ignoringEnded, run.ignoring) << "ended by force after their grace, and unloaded";
}

}  // namespace
}  // namespace kestrune::test
