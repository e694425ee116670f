// Daemon-supplied menus: the call of EntryMenu, the renumbering, the route table and
// the command that reaches the daemon's own thread, with well-behaved and faulty daemons.
#include <cstdint>

#include "core/commands.h"
#include "core/owner.h"
#include "menu_fixture.h"
#include "ui/context_menu.h"
#include "ui/daemon_menus.h"
#include "ui/tray_menu.h"
#include "ui/ui_state.h"

// Calls probe and returns how far the stack pointer moved across the call: a callee that
// pops arguments its caller also pops, or none that it should, shows up here.
extern "C" intptr_t MeasureStackShift(void (*probe)());

#if defined(__i386__)
__asm__(
    ".text\n"
    ".globl _MeasureStackShift\n"
    "_MeasureStackShift:\n"
    "    pushl %ebx\n"
    "    movl 8(%esp), %eax\n"
    "    movl %esp, %ebx\n"
    "    call *%eax\n"
    "    movl %esp, %eax\n"
    "    subl %ebx, %eax\n"
    "    movl %ebx, %esp\n"
    "    popl %ebx\n"
    "    ret\n");
#elif defined(__x86_64__)
__asm__(
    ".text\n"
    ".globl MeasureStackShift\n"
    "MeasureStackShift:\n"
    "    pushq %rbx\n"
    "    subq $32, %rsp\n"
    "    movq %rsp, %rbx\n"
    "    call *%rcx\n"
    "    movq %rsp, %rax\n"
    "    subq %rbx, %rax\n"
    "    movq %rbx, %rsp\n"
    "    addq $32, %rsp\n"
    "    popq %rbx\n"
    "    ret\n");
#endif

namespace kestrune::test {
namespace {

class DaemonMenusTest : public WindowFixture {
protected:
    // Builds the context menu for daemon's row and returns the daemon's submenu position.
    MenuOwner BuildFor(const Daemon* daemon) {
        SelectDaemon(daemon);
        return MenuOwner(BuildDaemonContextMenu());
    }

    static std::wstring Range(int k) {
        const MenuRoute& route = ui.routing.MenuRoutes[static_cast<size_t>(k)];
        return std::to_wstring(route.firstId) + L".." + std::to_wstring(route.lastId);
    }
};

TEST_F(DaemonMenusTest, ContextMenuShiftsIdsAndTheChosenOneReachesTheDaemonThread) {
    Daemon* daemon = Run(L"routed_ids");
    ASSERT_NE(daemon, nullptr);
    const std::wstring& path = daemon->path;
    MenuOwner menu = BuildFor(daemon);
    ASSERT_EQ(FindItem(menu.get(), L"routed_ids.dll"), 2) << "between Open folder and the first separator";
    ExpectItems(DescribeMenu(SubmenuAt(menu.get(), 2)), {L"One 16001", L"Two 16002", L"Three 16003"}, __LINE__);
    ASSERT_EQ(ui.routing.MenuRouteCount, 1);
    EXPECT_EQ(Range(1), L"16000..16003");
    HWND window = ui.routing.MenuRoutes[1].window;
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(LastNumber(path, "menu"), MenuPlacementContext);
    EXPECT_EQ(LastNumber(path, "menu-arguments-zeroed"), 1);
    menu.reset();

    RouteMenuCommand(16002);
    EXPECT_EQ(ui.routing.MenuRouteCount, 0);
    EXPECT_EQ(ui.routing.MenuRoutes.size(), 1u);
    ASSERT_TRUE(WaitForEvent(path, "command 2"));
    long long windowThread = LastNumber(path, "window-thread");
    EXPECT_EQ(LastNumber(path, "command-thread"), windowThread) << "received on the thread that owns the window";
    EXPECT_NE(windowThread, static_cast<long long>(GetCurrentThreadId()));
    EXPECT_EQ(static_cast<DWORD>(windowThread), GetThreadId(daemon->thread.get())) << "the daemon's own thread";
    EXPECT_EQ(WaitingCommands(), 0);
}

TEST_F(DaemonMenusTest, NestedItemsAndSeparatorsShiftWhilePopupItemsKeepTheirIds) {
    Daemon* daemon = Run(L"routed_nested");
    ASSERT_NE(daemon, nullptr);
    MenuOwner menu = BuildFor(daemon);
    HMENU own = SubmenuAt(menu.get(), 2);
    ExpectItems(DescribeMenu(own), {L"One 16001", L"More > 4"}, __LINE__);
    MENUITEMINFOW popupItem{};
    popupItem.cbSize = sizeof popupItem;
    popupItem.fMask = MIIM_ID;
    ASSERT_TRUE(GetMenuItemInfoW(own, 1, TRUE, &popupItem));
    EXPECT_EQ(popupItem.wID, 77u);
    HMENU more = SubmenuAt(own, 1);
    ExpectItems(DescribeMenu(more), {L"Two 16002", L"----", L"Deeper > 1", L"Three 16003"}, __LINE__);
    MENUITEMINFOW separator{};
    separator.cbSize = sizeof separator;
    separator.fMask = MIIM_ID;
    ASSERT_TRUE(GetMenuItemInfoW(more, 1, TRUE, &separator));
    EXPECT_EQ(separator.wID, 16000u) << "separators are shifted too";
    ExpectItems(DescribeMenu(SubmenuAt(more, 2)), {L"Four 16004"}, __LINE__);
    ASSERT_EQ(ui.routing.MenuRouteCount, 1);
    EXPECT_EQ(Range(1), L"16000..16004");
    menu.reset();
    RouteMenuCommand(16004);
    EXPECT_TRUE(WaitForEvent(daemon->path, "command 4"));
}

TEST_F(DaemonMenusTest, MenuWithoutCommandItemsGivesARangeOfItsBaseAlone) {
    Daemon* daemon = Run(L"routed_no_commands");
    ASSERT_NE(daemon, nullptr);
    MenuOwner menu = BuildFor(daemon);
    ExpectItems(DescribeMenu(SubmenuAt(menu.get(), 2)), {L"Nothing here > 0"}, __LINE__);
    ASSERT_EQ(ui.routing.MenuRouteCount, 1);
    EXPECT_EQ(Range(1), L"16000..16000");
}

TEST_F(DaemonMenusTest, DismissedMenusStayRoutedUntilTheNextCommandAndTheNewestWins) {
    Daemon* daemon = Run(L"routed_ids");
    ASSERT_NE(daemon, nullptr);
    const std::wstring path = daemon->path;
    BuildFor(daemon);  // shown and dismissed: no command follows
    BuildFor(daemon);
    ASSERT_EQ(ui.routing.MenuRouteCount, 2);
    EXPECT_EQ(Range(1), L"16000..16003");
    EXPECT_EQ(Range(2), L"16000..16003");

    // A host command empties the table and posts nothing.
    ASSERT_TRUE(RunMenuItemHandler(CmdPauseResume));
    RouteMenuCommand(CmdPauseResume);
    EXPECT_EQ(ui.routing.MenuRouteCount, 0);
    SetDaemonRequest(daemon, RequestNone);

    BuildFor(daemon);
    BuildFor(daemon);
    ui.routing.MenuRoutes[1].window = GetDesktopWindow();  // the older entry must not be the one used
    RouteMenuCommand(16003);
    EXPECT_EQ(ui.routing.MenuRouteCount, 0);
    ASSERT_TRUE(WaitForEvent(path, "command 3"));
    // Messages to one window arrive in order: a stray earlier post would show before this one.
    BuildFor(daemon);
    RouteMenuCommand(16001);
    ASSERT_TRUE(WaitForEvent(path, "command 1"));
    EXPECT_EQ(CountEvents(path, "command "), 2);

    RouteMenuCommand(16002);  // no entry left: dropped
    EXPECT_EQ(ui.routing.MenuRouteCount, 0);
}

TEST_F(DaemonMenusTest, DecliningDaemonGetsAGreyedStandInAndNoRoute) {
    Daemon* daemon = Run(L"routed_declines");
    ASSERT_NE(daemon, nullptr);
    MenuOwner menu = BuildFor(daemon);
    EXPECT_EQ(DescribeItem(menu.get(), 2), L"routed_declines.dll grey > 0");
    EXPECT_EQ(LastNumber(daemon->path, "menu"), MenuPlacementContext) << "it was asked";
    EXPECT_EQ(ui.routing.MenuRouteCount, 0);
}

// A command carries 16 bits: an identifier that would pass them once moved could land on a
// host command, so such a menu is never shown, in either menu.
TEST_F(DaemonMenusTest, MenuWhoseIdsWouldPassSixteenBitsGetsAGreyedStandIn) {
    Daemon* daemon = Run(L"routed_huge");
    ASSERT_NE(daemon, nullptr);
    MenuOwner menu = BuildFor(daemon);
    EXPECT_EQ(DescribeItem(menu.get(), 2), L"routed_huge.dll grey > 0");
    EXPECT_EQ(ui.routing.MenuRouteCount, 0);
    MenuOwner tray(BuildTrayMenu());
    EXPECT_EQ(DescribeItem(tray.get(), 0), L"routed_huge.dll grey > 0");
    EXPECT_EQ(ui.routing.MenuRouteCount, 0);
}

// Only 1 means a menu: any other result leaves the stand-in, and the menu handed over anyway
// is destroyed rather than leaked.
TEST_F(DaemonMenusTest, ResultOtherThanOneDestroysTheMenuHandedOver) {
    Daemon* daemon = Run(L"routed_returns_two");
    ASSERT_NE(daemon, nullptr);
    MenuOwner menu = BuildFor(daemon);
    EXPECT_EQ(DescribeItem(menu.get(), 2), L"routed_returns_two.dll grey > 0");
    long long handed = LastNumber(daemon->path, "menu-handle");
    ASSERT_GT(handed, 0);
    EXPECT_FALSE(IsMenu(reinterpret_cast<HMENU>(static_cast<INT_PTR>(handed))));
    EXPECT_EQ(ui.routing.MenuRouteCount, 0);
}

// Faulty daemons one after another, each stopped before the next starts.
TEST_F(DaemonMenusTest, FaultyMenusAndWindowsNeverPostAstray) {
    // A top-level window of this thread: HWND_BROADCAST would reach it, a null window
    // would post to this thread's queue; both show up as waiting WM_COMMAND messages.
    ASSERT_NE(ui.main.mainWindow.get(), nullptr);
    struct Case {
        const wchar_t* name;
        bool attached;
    } cases[] = {
        {L"routed_null_menu", false},  {L"routed_not_a_menu", false}, {L"routed_dead_window", true},
        {L"routed_null_window", true}, {L"routed_broadcast", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << testing::PrintToString(std::wstring(c.name)));
        Daemon* daemon = Run(c.name);
        ASSERT_NE(daemon, nullptr);
        std::wstring path = daemon->path;
        std::wstring caption = std::wstring(c.name) + L".dll";
        MenuOwner menu = BuildFor(daemon);
        ASSERT_NE(menu.get(), nullptr);
        EXPECT_EQ(LastNumber(path, "menu"), MenuPlacementContext);
        if (c.attached) {
            EXPECT_EQ(DescribeItem(menu.get(), 2), caption + L" > 3");
            EXPECT_EQ(ui.routing.MenuRouteCount, 1);
        } else {
            EXPECT_EQ(DescribeItem(menu.get(), 2), caption + L" grey > 0") << "a handle that is no menu is refused";
            EXPECT_EQ(ui.routing.MenuRouteCount, 0);
        }
        menu.reset();
        RouteMenuCommand(16002);
        EXPECT_EQ(ui.routing.MenuRouteCount, 0);
        EXPECT_EQ(WaitingCommands(), 0) << "nothing posted to this thread or its windows";
        EXPECT_EQ(CountEvents(path, "command "), 0);
        ASSERT_TRUE(StopAndUnload(daemon));
    }
}

// A thread of this process that owns a window until told to finish.
struct WindowThread {
    HWND* window;
    HANDLE ready, done;
};

DWORD WINAPI RunWindowThread(LPVOID parameter) {
    auto* shared = static_cast<WindowThread*>(parameter);
    *shared->window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    SetEvent(shared->ready);
    WaitForSingleObject(shared->done, INFINITE);
    DestroyWindow(*shared->window);
    return 0;
}

TEST_F(DaemonMenusTest, OnlyExistingWindowsOfThisProcessReceiveCommands) {
    HWND dead = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(DestroyWindow(dead));
    HWND elsewhere = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (!elsewhere) elsewhere = GetDesktopWindow();
    DWORD elsewhereProcess = 0;
    GetWindowThreadProcessId(elsewhere, &elsewhereProcess);
    ASSERT_NE(elsewhereProcess, GetCurrentProcessId()) << "a window of another process is needed";

    HWND onOtherThread = nullptr;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    WindowThread shared{&onOtherThread, ready, done};
    HandleOwner thread(CreateThread(nullptr, 0, RunWindowThread, &shared, 0, nullptr));
    WaitForSingleObject(ready, 10000);

    EXPECT_FALSE(CanReceiveDaemonCommand(nullptr));
    EXPECT_FALSE(CanReceiveDaemonCommand(HWND_BROADCAST));
    EXPECT_FALSE(CanReceiveDaemonCommand(dead));
    EXPECT_FALSE(CanReceiveDaemonCommand(elsewhere));
    EXPECT_TRUE(CanReceiveDaemonCommand(onOtherThread));
    EXPECT_TRUE(CanReceiveDaemonCommand(ui.main.mainWindow.get()));

    SetEvent(done);
    WaitForSingleObject(thread.get(), 10000);
    CloseHandle(ready);
    CloseHandle(done);
}

// The 32-bit host calls EntryMenu with the callee-cleans convention and three arguments.
Daemon* probeDaemon = nullptr;
void MergeManyTimes() {
    for (int i = 0; i < 64; ++i) {
        MenuOwner popup(BeginPopupMenu(DispatchMenuCommand));
        MergeDaemonMenu(popup.get(), probeDaemon, i % 2, DaemonMenuBase);
        EndPopupMenu();
    }
}

TEST_F(DaemonMenusTest, StdcallEntryMenuLeavesTheStackBalanced) {
    Daemon* daemon = Run(L"routed_ids");
    ASSERT_NE(daemon, nullptr);
    probeDaemon = daemon;
    EXPECT_EQ(MeasureStackShift(MergeManyTimes), 0);
    EXPECT_EQ(CountEvents(daemon->path, "menu-arguments-zeroed 1"), 64);
    EXPECT_EQ(CountEvents(daemon->path, "menu 1"), 32) << "the placement arrives as the third argument";
    EXPECT_EQ(ui.routing.MenuRouteCount, 64);
    EXPECT_EQ(Range(64), L"16000..16003");
    RouteMenuCommand(16003);
    EXPECT_TRUE(WaitForEvent(daemon->path, "command 3"));
}

}  // namespace
}  // namespace kestrune::test
