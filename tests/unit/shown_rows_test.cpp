// The one-second refresh rewrites the rows the user can see; a row scrolled into view has
// its current figures after the next refresh. A list that stopped drawing while a hidden
// host quits draws again once the window is shown.
#include <windows.h>

#include <commctrl.h>

#include <vector>

#include "host_fixture.h"
#include "ui/close_sequence.h"
#include "ui/daemon_list.h"
#include "ui/daemon_rows.h"
#include "ui/main_window.h"
#include "ui/tray_icon.h"
#include "ui/ui_state.h"

namespace kestrune::test {
namespace {

DWORD WINAPI WaitForRelease(LPVOID event) {
    WaitForSingleObject(event, INFINITE);
    return 0;
}

class ShownRowsTest : public HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        ASSERT_TRUE(CreateMainWindow(L"shown rows under test"));
        ASSERT_TRUE(CreateDaemonList());
    }
    void TearDown() override {
        SetEvent(release_);
        for (size_t i = 1; i < app.DaemonTable.size(); ++i) {
            WaitForSingleObject(app.DaemonTable[i]->thread.get(), 10000);
        }
        DestroyHostWindows();
        HostFixture::TearDown();
        CloseHandle(release_);
    }

    // Running records of threads that wait for the test's end, with a row each.
    void AddRunningRows(int count) {
        for (int i = 0; i < count; ++i) {
            Daemon* record = Keep(std::make_unique<Daemon>());
            record->path = folder.path() + L"r" + std::to_wstring(i) + L".dll";
            record->fileName = FilePartOf(record->path);
            record->thread.reset(CreateThread(nullptr, 0, WaitForRelease, release_, 0, nullptr));
            record->flags = FlagStarted;
            AddDaemonRow(record);
        }
    }

    void SetEveryPriority(int priority) {
        for (size_t i = 1; i < app.DaemonTable.size(); ++i)
            SetThreadPriority(app.DaemonTable[i]->thread.get(), priority);
    }

    int ListMessage(UINT message, WPARAM wParam = 0) {
        return static_cast<int>(SendMessageW(DaemonList(), message, wParam, 0));
    }

    HANDLE release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

TEST_F(ShownRowsTest, RefreshRewritesShownRowsAndARowScrolledIntoViewAtTheNextRefresh) {
    constexpr int Rows = 80;
    AddRunningRows(Rows);
    ui.main.windowShown = 1;
    ShowWindow(ui.main.mainWindow.get(), SW_SHOWNORMAL);
    const int whole = ListMessage(LVM_GETCOUNTPERPAGE);
    ASSERT_GT(whole, 0);
    ASSERT_LT(whole + 1, Rows - 1) << "the last row must start out of view";
    ASSERT_EQ(ListMessage(LVM_GETTOPINDEX), 0);

    SetEveryPriority(THREAD_PRIORITY_LOWEST);
    RefreshDaemonList();
    for (int row = 0; row < whole; ++row) EXPECT_EQ(RowCellText(row, ColumnPriority), L"lowest") << row;
    EXPECT_EQ(RowCellText(Rows - 1, ColumnPriority), L"normal") << "out of view: not rewritten";

    ListMessage(LVM_ENSUREVISIBLE, Rows - 1);
    const int top = ListMessage(LVM_GETTOPINDEX);
    ASSERT_GT(top, 0);
    RefreshDaemonList();
    for (int row = top; row < Rows; ++row) EXPECT_EQ(RowCellText(row, ColumnPriority), L"lowest") << row;

    SetEveryPriority(THREAD_PRIORITY_HIGHEST);
    ListMessage(LVM_ENSUREVISIBLE, 0);
    RefreshDaemonList();
    EXPECT_EQ(RowCellText(0, ColumnPriority), L"highest") << "scrolled back: current again";
    EXPECT_EQ(RowCellText(Rows - 1, ColumnPriority), L"lowest");
}

// Rows written while a hidden host quits are not drawn; once the window is shown again
// during the close, a row written is drawn as before.
TEST_F(ShownRowsTest, ListDrawsAgainWhenAHiddenHostThatQuitsIsShown) {
    AddRunningRows(3);
    HWND list = DaemonList();
    RunCloseSequence();
    ShowFromTray();
    ASSERT_TRUE(IsWindowVisible(list));
    UpdateWindow(ui.main.mainWindow.get());
    ASSERT_FALSE(GetUpdateRect(list, nullptr, FALSE));
    RefreshDaemonRow(app.DaemonTable[1].get(), true);
    EXPECT_TRUE(GetUpdateRect(list, nullptr, FALSE)) << "the row's new look waits for no other change";
    app.quitting.store(0);
}

}  // namespace
}  // namespace kestrune::test
