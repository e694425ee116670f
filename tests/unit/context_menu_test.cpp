// The daemon list's context menu, built for real daemons in each state and read back
// item by item before it is destroyed.
#include "core/commands.h"
#include "core/owner.h"
#include "core/priority.h"
#include "menu_fixture.h"
#include "ui/context_menu.h"
#include "ui/daemon_menus.h"
#include "ui/ui_state.h"

namespace kestrune::test {
namespace {

using ContextMenuTest = WindowFixture;

const std::vector<std::wstring> NotLoadedTail = {
    L"----", L"Priority grey > 0", L"----",         L"Pause 15 grey", L"Pause all 16 grey",
    L"----", L"Stop [F] 17 grey",  L"Stop 18 grey",
};

std::vector<std::wstring> Join(std::vector<std::wstring> head, const std::vector<std::wstring>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// The priority submenu with the check mark on the item of checked, or none for 0.
std::vector<std::wstring> PriorityItems(int checked) {
    std::vector<std::wstring> items = {
        L"Time critical 14", L"Highest 13", L"Above normal 12", L"----", L"Normal 11", L"----",
        L"Below normal 10",  L"Lowest 9",   L"Idle 8",
    };
    for (auto& item : items) {
        if (checked != 0 && item.size() > 3 && item.ends_with(L" " + std::to_wstring(checked))) item += L" check";
    }
    return items;
}

TEST_F(ContextMenuTest, RowWithoutDaemonOffersStartAndOpenFolderOnlyWhenTheFileHasBytes) {
    std::wstring present = Place(L"only_entry", L"present.dll");
    std::wstring empty = folder.Make(L"empty.dll");
    ASSERT_TRUE(WriteFileBytes(empty, ""));
    std::wstring missing = folder.path() + L"missing.dll";
    std::wstring onFolder = folder.Make(L"folder.dll\\");
    CreateFolders(onFolder);
    struct Case {
        std::wstring path;
        const wchar_t* openFolder;
    } cases[] = {
        {present, L"Open folder 7"},
        {empty, L"Open folder 7 grey"},
        {missing, L"Open folder 7 grey"},
        {onFolder.substr(0, onFolder.size() - 1), L"Open folder 7 grey"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << testing::PrintToString(c.path));
        Select(RowFor(c.path));
        MenuOwner menu(BuildDaemonContextMenu());
        ASSERT_TRUE(menu);
        ExpectItems(DescribeMenu(menu.get()), Join({L"Start 6", c.openFolder}, NotLoadedTail), __LINE__);
    }

    Select(-1);
    MenuOwner unselected(BuildDaemonContextMenu());
    ExpectItems(DescribeMenu(unselected.get()), Join({L"Start 6", L"Open folder 7 grey"}, NotLoadedTail), __LINE__);

    app.quitting.store(1);
    Select(RowFor(present));
    MenuOwner quitting(BuildDaemonContextMenu());
    ExpectItems(DescribeMenu(quitting.get()), Join({L"Start 6 grey", L"Open folder 7"}, NotLoadedTail), __LINE__);
    EXPECT_EQ(ui.routing.MenuRouteCount, 0);
    EXPECT_FALSE(IsBuildingMenu()) << "the builder lets go of a finished menu";
}

TEST_F(ContextMenuTest, RunningDaemonWithoutItsOwnMenuChecksItsCurrentPriority) {
    Daemon* daemon = Run(L"cooperative");
    ASSERT_NE(daemon, nullptr);
    SelectDaemon(daemon);
    const std::vector<std::wstring> running = {
        L"Start 6 grey", L"Open folder 7", L"----", L"Priority > 9", L"----",
        L"Pause 15",     L"Pause all 16",  L"----", L"Stop [F] 17",  L"Stop 18",
    };
    MenuOwner menu(BuildDaemonContextMenu());
    ExpectItems(DescribeMenu(menu.get()), running, __LINE__);
    ExpectItems(DescribeMenu(SubmenuAt(menu.get(), 3)), PriorityItems(CmdPriorityNormal), __LINE__);

    struct Case {
        int priority;
        int checkedItem;
    } cases[] = {
        {THREAD_PRIORITY_IDLE, 8},          {THREAD_PRIORITY_LOWEST, 9},   {THREAD_PRIORITY_BELOW_NORMAL, 10},
        {THREAD_PRIORITY_ABOVE_NORMAL, 12}, {THREAD_PRIORITY_HIGHEST, 13}, {THREAD_PRIORITY_TIME_CRITICAL, 14},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(SetThreadPriority(daemon->thread.get(), c.priority));
        MenuOwner again(BuildDaemonContextMenu());
        ExpectItems(DescribeMenu(SubmenuAt(again.get(), 3)), PriorityItems(c.checkedItem), __LINE__);
    }

    // A thread whose priority cannot be read reports THREAD_PRIORITY_ERROR_RETURN, a value
    // outside the seven, as a thread of a real-time process may report 3 to 6 or -7.
    HANDLE limited = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), daemon->thread.get(), GetCurrentProcess(), &limited, SYNCHRONIZE,
                                FALSE, 0));
    HandleOwner full(daemon->thread.release());
    daemon->thread.reset(limited);
    ASSERT_EQ(GetDaemonPriority(daemon->thread.get()), THREAD_PRIORITY_ERROR_RETURN);
    MenuOwner unreadable(BuildDaemonContextMenu());
    ExpectItems(DescribeMenu(SubmenuAt(unreadable.get(), 3)), PriorityItems(0), __LINE__);
    daemon->thread.reset(full.release());
}

TEST_F(ContextMenuTest, PausedDaemonOffersResumeAndIsNotAskedForItsMenu) {
    Daemon* daemon = Run(L"routed_ids");
    ASSERT_NE(daemon, nullptr);
    SelectDaemon(daemon);
    {
        MenuOwner menu(BuildDaemonContextMenu());
        ExpectItems(DescribeMenu(menu.get()),
                    {L"Start 6 grey", L"Open folder 7", L"routed_ids.dll > 3", L"----", L"Priority > 9", L"----",
                     L"Pause 15", L"Pause all 16", L"----", L"Stop [F] 17", L"Stop 18"},
                    __LINE__);
    }
    ASSERT_EQ(CountEvents(daemon->path, "menu "), 1);

    SetDaemonRequest(daemon, RequestPause);
    ASSERT_TRUE(TickDaemon(daemon));
    ASSERT_TRUE(daemon->Has(FlagPaused));
    MenuOwner paused(BuildDaemonContextMenu());
    ExpectItems(DescribeMenu(paused.get()),
                {L"Start 6 grey", L"Open folder 7", L"routed_ids.dll grey > 0", L"----", L"Priority > 9", L"----",
                 L"Resume 15", L"Resume all 16", L"----", L"Stop [F] 17", L"Stop 18"},
                __LINE__);
    EXPECT_EQ(CountEvents(daemon->path, "menu "), 1) << "a paused daemon is not asked";
    EXPECT_EQ(CountEvents(daemon->path, "menu-arguments-zeroed 1"), 1);

    SetDaemonRequest(daemon, RequestResume);
    ASSERT_TRUE(TickDaemon(daemon));
}

TEST_F(ContextMenuTest, StoppingDaemonKeepsOnlyPriorityAndForceStop) {
    Daemon* daemon = Run(L"returns_on_signal");
    ASSERT_NE(daemon, nullptr);
    SelectDaemon(daemon);
    SetDaemonRequest(daemon, RequestStop);
    ASSERT_TRUE(TickDaemon(daemon));
    ASSERT_TRUE(daemon->Has(FlagStopping));
    MenuOwner menu(BuildDaemonContextMenu());
    ExpectItems(DescribeMenu(menu.get()),
                {L"Start 6 grey", L"Open folder 7", L"----", L"Priority > 9", L"----", L"Pause 15 grey",
                 L"Pause all 16 grey", L"----", L"Stop [F] 17", L"Stop 18 grey"},
                __LINE__);
    ASSERT_TRUE(WriteFileBytes(daemon->path + L".quit", ""));  // it ignores its state word
    EXPECT_TRUE(WaitForEvent(daemon->path, "return"));
}

TEST_F(ContextMenuTest, StartedDaemonWhoseThreadEndedShowsNormalChecked) {
    Daemon* daemon = Run(L"returns_later");
    ASSERT_NE(daemon, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return !IsThreadAlive(daemon->thread.get()); }));
    ASSERT_EQ(GetThreadPriority(daemon->thread.get()), THREAD_PRIORITY_HIGHEST)
        << "the ended thread still reports the priority it ended at";
    SelectDaemon(daemon);
    MenuOwner menu(BuildDaemonContextMenu());
    ExpectItems(DescribeMenu(menu.get()),
                {L"Start 6 grey", L"Open folder 7", L"----", L"Priority > 9", L"----", L"Pause 15", L"Pause all 16",
                 L"----", L"Stop [F] 17", L"Stop 18"},
                __LINE__);
    ExpectItems(DescribeMenu(SubmenuAt(menu.get(), 3)), PriorityItems(CmdPriorityNormal), __LINE__);
}

TEST_F(ContextMenuTest, ChosenItemRunsTheDispatcherOnceAndOnlyForHostIdentifiers) {
    Daemon* daemon = Run(L"cooperative");
    ASSERT_NE(daemon, nullptr);
    SelectDaemon(daemon);
    MenuOwner menu(BuildDaemonContextMenu());
    menu.reset();  // the command arrives after the popup is gone

    EXPECT_TRUE(RunMenuItemHandler(CmdPriorityHighest));
    EXPECT_EQ(daemon->request, RequestPriorityBase + THREAD_PRIORITY_HIGHEST);
    EXPECT_TRUE(RunMenuItemHandler(CmdStop));
    EXPECT_EQ(daemon->request, RequestStop);
    EXPECT_FALSE(RunMenuItemHandler(DaemonMenuBase + 1)) << "daemon items are routed, not dispatched";
    EXPECT_FALSE(RunMenuItemHandler(4));

    SetDaemonRequest(daemon, RequestNone);
    for (int id : {5, 19, 20, 24, 25, 0, -1}) DispatchMenuCommand(id);
    EXPECT_EQ(daemon->request, RequestNone);
    EXPECT_EQ(ui.about.AboutWindow.get(), nullptr);
}

}  // namespace
}  // namespace kestrune::test
