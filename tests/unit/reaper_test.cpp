// The reaper's ticks: how many daemons one tick visits and in which order, and that a
// daemon whose thread ends by itself still leaves through its next visit.
#include <windows.h>

#include <commctrl.h>

#include <vector>

#include "core/safe_point.h"
#include "host_fixture.h"
#include "ui/daemon_list.h"
#include "ui/daemon_rows.h"
#include "ui/main_window.h"
#include "ui/reaper.h"

namespace kestrune::test {
namespace {

class ReaperTest : public HostFixture {
protected:
    void TearDown() override {
        DestroyHostWindows();
        HostFixture::TearDown();
    }

    // Records that were never loaded or started: a pause request marks the ones visited
    // (paused set, request cleared) and a stop request finishes one at its visit.
    void FillTable(int count) {
        for (int i = 0; i < count; ++i) {
            Daemon* record = Keep(std::make_unique<Daemon>());
            record->path = folder.path() + L"r" + std::to_wstring(i) + L".dll";
            record->request = RequestPause;
        }
    }

    Daemon* At(int index) { return app.DaemonTable[static_cast<size_t>(index)].get(); }

    static bool Visited(const Daemon* record) { return record->Has(FlagPaused) && record->request == RequestNone; }
};

TEST_F(ReaperTest, TickUnderTheTimerFloorVisitsABatchInTableOrderAndFillsGapsFromTheEnd) {
    // 512 / 111 ms is under the floor: ceil(110 / 51) = 3 visits keep a pass under 512 ms.
    FillTable(110);
    Daemon* last = At(110);
    SetDaemonRequest(At(12), RequestStop);  // never started: finished at its visit
    // The first pause of a process starts the lock helper, which on a cold system can take
    // more than a tick's budget and would cut the batch short.
    ASSERT_TRUE(StartLockProbe());
    int position = 10;

    EXPECT_EQ(ReapDaemons(position), ReapResult::Removed);
    EXPECT_EQ(position, 13);
    ASSERT_EQ(LastDaemonIndex(), 109);
    EXPECT_TRUE(Visited(At(11)));
    EXPECT_EQ(At(12), last) << "the last entry moves into the freed slot";
    EXPECT_EQ(last->request, RequestPause) << "and waits until the position wraps";
    EXPECT_TRUE(Visited(At(13)));
    EXPECT_EQ(At(14)->request, RequestPause) << "three visits, no more";
    for (int i = 1; i <= 10; ++i) EXPECT_FALSE(Visited(At(i))) << i;

    EXPECT_EQ(ReapDaemons(position), ReapResult::Kept);
    EXPECT_EQ(position, 16);
    EXPECT_TRUE(Visited(At(14)) && Visited(At(15)) && Visited(At(16)));

    position = 107;  // the batch wraps around the end of the table
    EXPECT_EQ(ReapDaemons(position), ReapResult::Kept);
    EXPECT_EQ(position, 1);
    EXPECT_TRUE(Visited(At(108)) && Visited(At(109)) && Visited(At(1)));
}

TEST_F(ReaperTest, VisitsPerTickFollowTheCountTheTimeSinceTheLastTickAndQuitting) {
    struct Case {
        int daemons;
        bool quitting;
        uint32_t sinceLastTick;
        int visits;
    };
    const Case cases[] = {
        {50, false, 10, 1},                            // 512 / 51 = 10 ms: the designed period, one daemon a tick
        {50, false, 40, 1},                            // however late the tick
        {52, false, 10, 2},                            // 9 ms: two a tick, a pass of 26 ticks
        {1000, false, 10, 20},  {1000, false, 3, 20},  // an early tick still counts as one at the floor
        {1000, false, 30, 59},                         // a late one makes up for the time lost: 17 such ticks a pass
        {1000, false, 50, 100},                        // the batched period's tick: ten make a pass
        {2000, false, 10, 40},  {2000, false, 5000, 2000},  // after a long modal loop: one pass, no daemon twice
        {50, true, 10, 3},                                  // 4 ms ticks would make 2.5 visits in one 10 ms tick
        {50, true, 25, 7},      {2, true, 10, 2},           // no daemon twice in one tick
        {400, true, 10, 8},                                 // never fewer than while running
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.daemons << " daemons, " << c.sinceLastTick << " ms"
                                        << (c.quitting ? ", quitting" : ""));
        FillTable(c.daemons);
        app.quitting.store(c.quitting ? 1 : 0);
        int position = 0;
        ReapDaemons(position, c.sinceLastTick);
        int visited = 0;
        for (int i = 1; i <= LastDaemonIndex(); ++i) visited += Visited(At(i));
        EXPECT_EQ(visited, c.visits);
        EXPECT_EQ(position, c.visits);
        app.quitting.store(0);
        app.DaemonTable.resize(1);
    }
}

TEST_F(ReaperTest, DaemonThatEndsByItselfGetsItsFinalRowAndLeavesAtAVisit) {
    ASSERT_TRUE(CreateMainWindow(L"reaper under test"));
    ASSERT_TRUE(CreateDaemonList());
    std::wstring path = Place(L"returns_later");
    Daemon* daemon = Add(path);
    ASSERT_NE(daemon, nullptr);
    AddDaemonRow(daemon);
    StartDaemonThread(daemon, RequestNone);
    ASSERT_TRUE(WaitForEntry(path));

    int position = 0;
    EXPECT_EQ(ReapDaemons(position), ReapResult::Kept);
    // Visits with nothing to apply while the thread runs, then the one that finds it ended.
    ASSERT_TRUE(WaitUntil([&] { return ReapDaemons(position) == ReapResult::Removed; }, std::chrono::seconds(10)));
    EXPECT_TRUE(HasEvent(path, "return"));
    EXPECT_EQ(LastDaemonIndex(), 0);
    EXPECT_TRUE(WaitForLibraryFreed(path));
    EXPECT_EQ(RowCellText(0, ColumnStatus), L" \u2606");
    EXPECT_EQ(RowCellText(0, ColumnCpu), L"");
    EXPECT_EQ(RowCellText(0, ColumnPriority), L"");
}

}  // namespace
}  // namespace kestrune::test
