#include <windows.h>

#include <commctrl.h>

#include "core/clock.h"
#include "core/lifecycle.h"
#include "host_fixture.h"
#include "ui/daemon_list.h"
#include "ui/daemon_rows.h"
#include "ui/main_window.h"
#include "ui/ui_state.h"

namespace kestrune::test {
namespace {

constexpr COLORREF Grey = RGB(170, 170, 170);
constexpr COLORREF DarkRed = RGB(170, 0, 0);
constexpr COLORREF Blue = RGB(0, 0, 187);
constexpr COLORREF Green = RGB(0, 170, 0);
constexpr COLORREF Olive = RGB(170, 170, 0);

// A real main window with its list, in this process.
class DaemonRowsTest : public HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        ASSERT_TRUE(CreateMainWindow(L"rows under test"));
        ASSERT_TRUE(CreateDaemonList());
    }
    void TearDown() override {
        DestroyHostWindows();
        records_.clear();
        HostFixture::TearDown();
    }

    // A record that was never loaded: enough for the cells that depend on flags alone.
    Daemon* Record(const std::wstring& path) {
        Daemon* record = records_.emplace_back(std::make_unique<Daemon>()).get();
        record->path = path;
        record->fileName = FilePartOf(path);
        return record;
    }

    int Rows() { return static_cast<int>(SendMessageW(DaemonList(), LVM_GETITEMCOUNT, 0, 0)); }

    COLORREF Colour(int row) {
        LVITEMW item{};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        SendMessageW(DaemonList(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        return static_cast<COLORREF>(item.lParam);
    }

    void ExpectRow(int row, const std::wstring& status, COLORREF colour, const std::wstring& cpu,
                   const std::wstring& priority, int line) {
        SCOPED_TRACE(testing::Message() << "checked at line " << line);
        EXPECT_EQ(RowCellText(row, ColumnStatus), status);
        EXPECT_EQ(Colour(row), colour) << std::hex << "colour 0x" << Colour(row);
        EXPECT_EQ(RowCellText(row, ColumnCpu), cpu);
        EXPECT_EQ(RowCellText(row, ColumnPriority), priority);
    }

private:
    std::vector<DaemonOwner> records_;
};

TEST_F(DaemonRowsTest, RowsAreKeyedByPathRegardlessOfCase) {
    Daemon* a = Record(L"C:\\app\\wild_magic\\a.dll");
    Daemon* b = Record(L"C:\\app\\wild_magic\\sub\\b.dll");
    AddDaemonRow(a);
    AddDaemonRow(b);
    AddDaemonRow(Record(L"C:\\APP\\WILD_MAGIC\\A.DLL"));
    AddDaemonRow(nullptr);
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(RowCellText(0, ColumnName), L"a.dll");
    EXPECT_EQ(RowCellText(0, ColumnPath), a->path);
    EXPECT_EQ(RowCellText(1, ColumnName), L"b.dll");
    EXPECT_EQ(FindRowByPath(L"c:\\App\\Wild_Magic\\Sub\\B.dll"), 1);
    EXPECT_EQ(FindRowByPath(L"C:/app/wild_magic/a.dll"), -1);
    EXPECT_EQ(FindRowByPath(L""), -1);
    ExpectRow(0, L" \u2606", Grey, L"", L"", __LINE__);  // loaded, not started
}

TEST_F(DaemonRowsTest, FindRowByPathSeesRowsAppendedBehindItsBack) {
    AddDaemonRow(Record(L"C:\\w\\a.dll"));
    ASSERT_EQ(FindRowByPath(L"C:\\w\\a.dll"), 0);
    auto insertRow = [&](const std::wstring& path) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = Rows();
        item.pszText = const_cast<wchar_t*>(L"x");
        int row = static_cast<int>(SendMessageW(DaemonList(), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        item.iSubItem = ColumnPath;
        item.pszText = const_cast<wchar_t*>(path.c_str());
        SendMessageW(DaemonList(), LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
        return row;
    };
    insertRow(L"C:\\w\\b.dll");
    insertRow(L"C:\\W\\B.DLL");
    EXPECT_EQ(FindRowByPath(L"c:\\w\\b.dll"), 1) << "the first of two rows with the same path";

    insertRow(L"C:\\w\\d.dll");
    EXPECT_EQ(FindRowByPath(L"C:\\w\\D.dll"), 3);
    EXPECT_EQ(FindRowByPath(L"C:\\w\\e.dll"), -1);
}

TEST_F(DaemonRowsTest, FindRowByPathSeesRowsRewrittenBehindItsBack) {
    const std::wstring longPath = L"C:\\w\\" + std::wstring(300, L'x') + L".dll";
    AddDaemonRow(Record(L"C:\\w\\a.dll"));
    AddDaemonRow(Record(L"C:\\w\\b.dll"));
    AddDaemonRow(Record(longPath));
    ASSERT_EQ(FindRowByPath(L"C:\\w\\b.dll"), 1);
    ASSERT_EQ(FindRowByPath(longPath), 2) << "a path longer than MAX_PATH";
    auto rewrite = [&](int row, const std::wstring& path) {
        LVITEMW item{};
        item.iSubItem = ColumnPath;
        item.pszText = const_cast<wchar_t*>(path.c_str());
        SendMessageW(DaemonList(), LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    };
    rewrite(0, L"C:\\W\\A.DLL");
    EXPECT_EQ(FindRowByPath(L"c:\\w\\a.dll"), 0) << "only the letter case changed";
    rewrite(0, L"C:\\w\\a.dll.bak");
    EXPECT_EQ(FindRowByPath(L"C:\\w\\a.dll"), -1) << "a longer cell that starts with the path";
    rewrite(0, L"C:\\w\\a.dl");
    EXPECT_EQ(FindRowByPath(L"C:\\w\\a.dll"), -1) << "a shorter cell";
    EXPECT_EQ(FindRowByPath(L"C:\\w\\B.dll"), 1);
    rewrite(1, L"C:\\W\\B.DLL");
    EXPECT_EQ(FindRowByPath(L"C:\\w\\b.dll"), 1) << "a path asked for before, now in another case";
    rewrite(1, L"C:\\w\\c.dll");
    EXPECT_EQ(FindRowByPath(L"C:\\w\\b.dll"), -1) << "a path asked for before, now gone";
    rewrite(2, longPath + L"x");
    EXPECT_EQ(FindRowByPath(longPath), -1) << "one character more than a long path";
    EXPECT_EQ(FindRowByPath(longPath + L"X"), 2);
}

TEST_F(DaemonRowsTest, StatusFollowsTheFlagsInOrderOfPrecedence) {
    Daemon* d = Record(L"C:\\w\\d.dll");
    AddDaemonRow(d);
    StateWord word = 0;
    struct Case {
        uint32_t flags;
        StateWord* stateWord;
        bool final;
        const wchar_t* status;
        COLORREF colour;
    } cases[] = {
        {FlagStarted, &word, false, L" \u2605", Green},
        {FlagStarted, nullptr, false, L" \u2605", Olive},
        {FlagStarted | FlagPaused, &word, false, L" \u2605\u2606", Blue},
        {FlagStarted | FlagStopping | FlagPaused, &word, false, L" \u2193", DarkRed},
        {FlagStarted | FlagStopping, &word, true, L" \u2606", Grey},
        {0, nullptr, false, L" \u2606", Grey},
    };
    for (const Case& c : cases) {
        d->flags = c.flags;
        d->stateWordAddress = c.stateWord;
        RefreshDaemonRow(d, c.final);
        EXPECT_EQ(RowCellText(0, ColumnStatus), c.status) << "flags " << c.flags << " final " << c.final;
        EXPECT_EQ(Colour(0), c.colour) << "flags " << c.flags << " final " << c.final;
    }
}

TEST_F(DaemonRowsTest, CountdownShowsTheShareOfTheGraceLeft) {
    Daemon* d = Record(L"C:\\w\\d.dll");
    AddDaemonRow(d);
    d->flags = FlagStarted | FlagStopping;
    auto stampAgo = [&](uint32_t milliseconds) {
        d->stopRequestTime = static_cast<int32_t>(static_cast<uint32_t>(ClockMilliseconds()) - milliseconds);
        RefreshDaemonRow(d, false);
        return RowCellText(0, ColumnStatus);
    };
    EXPECT_EQ(stampAgo(100), L" \u2193") << "under 1 % of the grace: the arrow alone";
    EXPECT_EQ(stampAgo(15000), L" \u219350");
    EXPECT_EQ(stampAgo(29000), L" \u21933");
    EXPECT_EQ(stampAgo(1000), L" \u219397");
    d->stopRequestTime = 0;  // no stop time was written
    RefreshDaemonRow(d, false);
    EXPECT_EQ(RowCellText(0, ColumnStatus), L" \u2193");
}

TEST_F(DaemonRowsTest, RunningDaemonShowsCpuAndLowerCasePriorityUntilItsThreadEnds) {
    std::wstring path = Place(L"cooperative");
    Daemon* daemon = Add(path);
    ASSERT_NE(daemon, nullptr);
    AddDaemonRow(daemon);
    StartDaemonThread(daemon, RequestNone);
    ASSERT_TRUE(WaitForEntry(path));

    daemon->lastThreadTime = 125000000;  // 12.5 s
    SetThreadPriority(daemon->thread.get(), THREAD_PRIORITY_TIME_CRITICAL);
    RefreshDaemonRow(daemon, false);
    ExpectRow(0, L" \u2605", Green, L"00:00:12.500", L"time critical", __LINE__);

    RefreshDaemonRow(daemon, true);
    ExpectRow(0, L" \u2606", Grey, L"", L"", __LINE__);

    WriteStateWord(daemon, StateWordStop);
    ASSERT_TRUE(WaitUntil([&] { return !IsThreadAlive(daemon->thread.get()); }));
    RefreshDaemonRow(daemon, false);
    ExpectRow(0, L" \u2605", Green, L"", L"", __LINE__);  // flags still say started; the cells empty
}

// One daemon thread at a time: the first one has ended before the second starts.
TEST_F(DaemonRowsTest, OneSecondRefreshRewritesTheRowsOfRunningDaemonsOnlyWhileShown) {
    std::wstring endedPath = Place(L"cooperative", L"ended.dll");
    std::wstring runningPath = Place(L"cooperative", L"running.dll");
    Daemon* ended = Add(endedPath);
    Daemon* running = Add(runningPath);
    ASSERT_NE(ended, nullptr);
    ASSERT_NE(running, nullptr);
    AddDaemonRow(ended);
    AddDaemonRow(running);
    int endedRow = FindRowByPath(endedPath), runningRow = FindRowByPath(runningPath);

    StartDaemonThread(ended, RequestNone);
    ASSERT_TRUE(WaitForEntry(endedPath));
    ended->lastThreadTime = 20000000;  // 2 s
    RefreshDaemonRow(ended, false);
    WriteStateWord(ended, StateWordStop);
    ASSERT_TRUE(WaitUntil([&] { return !IsThreadAlive(ended->thread.get()); }));

    StartDaemonThread(running, RequestNone);
    ASSERT_TRUE(WaitForEntry(runningPath));
    SetThreadPriority(running->thread.get(), THREAD_PRIORITY_LOWEST);
    running->lastThreadTime = 1;  // a sample replaces it

    ui.main.windowShown = 0;
    RefreshDaemonList();
    ExpectRow(runningRow, L" \u2606", Grey, L"", L"", __LINE__);  // hidden: nothing is sampled or written
    EXPECT_EQ(running->lastThreadTime, 1u);

    ui.main.windowShown = 1;
    ShowWindow(ui.main.mainWindow.get(), SW_SHOWNORMAL);
    RefreshDaemonList();
    EXPECT_NE(running->lastThreadTime, 1u) << "sampled from the thread";
    ExpectRow(runningRow, L" \u2605", Green, FormatCpuTime(running->lastThreadTime), L"lowest", __LINE__);
    // The ended daemon's row keeps what it showed while its thread ran.
    ExpectRow(endedRow, L" \u2605", Green, L"00:00:02.000", L"normal", __LINE__);
    EXPECT_EQ(ended->lastThreadTime, 20000000u);

    ShowWindow(ui.main.mainWindow.get(), SW_MINIMIZE);
    SetThreadPriority(running->thread.get(), THREAD_PRIORITY_HIGHEST);
    RefreshDaemonList();
    EXPECT_EQ(RowCellText(runningRow, ColumnPriority), L"lowest") << "minimised: nothing is written";
}

// The list draws each cell on its own: the row's colour, kept in the item, is the status
// cell's only, and a cell drawn after it must not inherit it.
TEST(DaemonListDrawTest, OnlyTheStatusCellTakesTheRowColour) {
    NMLVCUSTOMDRAW draw{};
    draw.nmcd.dwDrawStage = CDDS_PREPAINT;
    EXPECT_EQ(DrawDaemonListItem(&draw), CDRF_NOTIFYITEMDRAW);
    draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
    EXPECT_EQ(DrawDaemonListItem(&draw), CDRF_NOTIFYSUBITEMDRAW);
    draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT | CDDS_SUBITEM;
    draw.nmcd.lItemlParam = static_cast<LPARAM>(Blue);
    for (int column : {ColumnName, ColumnStatus, ColumnCpu, ColumnPriority, ColumnPath, ColumnStatus, ColumnName}) {
        draw.iSubItem = column;
        DrawDaemonListItem(&draw);
        EXPECT_EQ(draw.clrText, column == ColumnStatus ? Blue : CLR_DEFAULT) << "column " << column;
    }
}

TEST(CpuTextTest, FormatsHoursMinutesSecondsAndMilliseconds) {
    constexpr uint64_t Second = 10000000;
    struct Case {
        uint64_t time;
        const wchar_t* text;
    } cases[] = {
        {0, L"00:00:00.000"},
        {125 * Second / 10, L"00:00:12.500"},
        {(3 * 3600 + 4 * 60 + 5) * Second + Second / 4, L"03:04:05.250"},
        {(99 * 3600 + 59 * 60 + 59) * Second + Second / 2, L"99:59:59.500"},
        {100 * 3600 * Second, L"100:00:00 +"},
        {1234 * 3600 * Second + 61 * Second, L"123:01:01 +"},
        {Second - 1000, L"00:00:00.999"},  // .9999 s: the field keeps three digits
        {1, L"00:00:00.000"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatCpuTime(c.time), c.text) << c.time;
}

}  // namespace
}  // namespace kestrune::test
