// A daemon that sees 255 but never finishes cleaning up: ended after its grace through
// the real reaper and commands, while the other daemons and the host go on.
#include <functional>

#include "menu_fixture.h"
#include "ui/daemon_commands.h"
#include "ui/reaper.h"

namespace kestrune::test {
namespace {

const std::wstring WhiteStar = L" \u2606";

class HungStopTest : public WindowFixture {
protected:
    // Reaper steps, as the timer would run them, until condition holds (at most 200 steps).
    bool ReapUntil(const std::function<bool()>& condition) {
        for (int step = 0; step < 200; ++step) {
            if (condition()) return true;
            ReapOneDaemon(position_);
            Sleep(5);
        }
        return condition();
    }

    void ReapSteps(int steps) {
        for (int step = 0; step < steps; ++step) ReapOneDaemon(position_);
    }

private:
    int position_ = 0;
};

TEST_F(HungStopTest, SeveralDaemonsTheHungOneIsEndedAfterItsGraceTheOthersRunOnAndItStartsAgain) {
    Daemon* hung = Run(L"hangs_on_stop");
    Daemon* other = Run(L"busy");
    ASSERT_TRUE(hung && other);
    const std::wstring hungPath = hung->path, otherPath = other->path;
    const int hungRow = FindRowByPath(hungPath);

    Select(hungRow);
    ExecuteDaemonCommand(CmdStop);
    ASSERT_TRUE(ReapUntil([&] { return HasEvent(hungPath, "stop-seen"); }));
    ASSERT_TRUE(hung->Has(FlagStopping));
    ReapSteps(40);
    ASSERT_EQ(FindDaemonByPath(hungPath), hung) << "still within its grace";

    // 30 s and a moment have passed since the request.
    hung->stopRequestTime = static_cast<int32_t>(static_cast<uint32_t>(hung->stopRequestTime) - 30001u);
    ASSERT_TRUE(ReapUntil([&] { return FindDaemonByPath(hungPath) == nullptr; }));
    EXPECT_FALSE(HasEvent(hungPath, "return")) << "its thread was ended, not asked again";
    EXPECT_FALSE(HasEvent(hungPath, "detach")) << "ended by force, its teardown never runs";
    EXPECT_TRUE(IsModuleLoaded(hungPath)) << "and its library stays";
    EXPECT_EQ(RowCellText(hungRow, ColumnStatus), WhiteStar);

    ASSERT_EQ(LastDaemonIndex(), 1);
    EXPECT_TRUE(IsThreadAlive(other->thread.get())) << "the other daemon runs on";
    EXPECT_NE(*other->stateWordAddress, StateWordStop) << "and was asked nothing";
    EXPECT_FALSE(IsQuitting());

    // The terminated daemon starts again from the library that stayed (no second attach).
    Select(hungRow);
    ExecuteDaemonCommand(CmdStart);
    Daemon* again = FindDaemonByPath(hungPath);
    ASSERT_NE(again, nullptr);
    // A fresh record (the heap may hand back the old one's address): not left stopping.
    EXPECT_TRUE(again->Has(FlagStarted));
    EXPECT_FALSE(again->Has(FlagStopping));
    ASSERT_TRUE(WaitUntil([&] { return CountEvents(hungPath, "entry") == 2; }));
    EXPECT_EQ(CountEvents(hungPath, "attach"), 1);
    ASSERT_TRUE(WaitForEntry(hungPath));
    SetDaemonRequest(again, RequestForceStop);
    EXPECT_TRUE(ReapUntil([&] { return FindDaemonByPath(hungPath) == nullptr; }));
}

}  // namespace
}  // namespace kestrune::test
