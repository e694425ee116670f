// The tray menu: every daemon's own menu in table order, then the host's three items.
#include "core/owner.h"
#include "menu_fixture.h"
#include "ui/daemon_menus.h"
#include "ui/tray_menu.h"
#include "ui/ui_state.h"

namespace kestrune::test {
namespace {

using TrayMenuTest = WindowFixture;

const std::vector<std::wstring> HostItems = {L"Explore 21", L"About program... 22", L"Quit Kestrune 23"};

TEST_F(TrayMenuTest, WithoutDaemonMenusItHoldsTheThreeHostItemsAndNothingWhileQuitting) {
    ASSERT_NE(Run(L"cooperative"), nullptr);
    MenuOwner menu(BuildTrayMenu());
    ASSERT_TRUE(menu);
    ExpectItems(DescribeMenu(menu.get()), HostItems, __LINE__);
    EXPECT_EQ(ui.routing.MenuRouteCount, 0);

    app.quitting.store(1);
    EXPECT_EQ(BuildTrayMenu().get(), nullptr) << "no tray menu while the host shuts down";
    ShowTrayMenu();  // returns at once: nothing to track
    EXPECT_FALSE(IsBuildingMenu());
}

TEST_F(TrayMenuTest, SeveralDaemonMenusTakeRangesInTableOrderAndOverlapsGoHigher) {
    Daemon* wide = Run(L"routed_wide");
    Daemon* ids = Run(L"routed_ids");
    Daemon* paused = Run(L"routed_nested");
    ASSERT_TRUE(wide && ids && paused);
    ASSERT_NE(Run(L"cooperative"), nullptr);  // no EntryMenu: no entry, no separator of its own
    SetDaemonRequest(paused, RequestPause);
    ASSERT_TRUE(TickDaemon(paused));
    int nestedAsked = CountEvents(paused->path, "menu ");

    MenuOwner menu(BuildTrayMenu());
    ExpectItems(DescribeMenu(menu.get()),
                {L"routed_wide.dll > 3", L"routed_ids.dll > 3", L"routed_nested.dll grey > 0", L"----", L"Explore 21",
                 L"About program... 22", L"Quit Kestrune 23"},
                __LINE__);
    ExpectItems(DescribeMenu(SubmenuAt(menu.get(), 0)),
                {L"One 16201", L"Two hundred 16400", L"Two hundred and fifty 16450"}, __LINE__);
    ExpectItems(DescribeMenu(SubmenuAt(menu.get(), 1)), {L"One 16401", L"Two 16402", L"Three 16403"}, __LINE__);
    EXPECT_EQ(LastNumber(wide->path, "menu"), MenuPlacementTray);
    EXPECT_EQ(CountEvents(paused->path, "menu "), nestedAsked) << "a paused daemon is not asked";
    ASSERT_EQ(ui.routing.MenuRouteCount, 2);
    EXPECT_EQ(ui.routing.MenuRoutes[1].firstId, 16200);
    EXPECT_EQ(ui.routing.MenuRoutes[1].lastId, 16450);
    EXPECT_EQ(ui.routing.MenuRoutes[2].firstId, 16400);
    EXPECT_EQ(ui.routing.MenuRoutes[2].lastId, 16403);
    menu.reset();

    // The wide daemon's item 200 falls into the next daemon's range, which wins.
    RouteMenuCommand(16400);
    ASSERT_TRUE(WaitForEvent(ids->path, "command 0"));
    MenuOwner again(BuildTrayMenu());
    RouteMenuCommand(16450);
    ASSERT_TRUE(WaitForEvent(wide->path, "command 250"));
    MenuOwner third(BuildTrayMenu());
    RouteMenuCommand(16201);
    ASSERT_TRUE(WaitForEvent(wide->path, "command 1"));
    EXPECT_EQ(CountEvents(wide->path, "command "), 2);
    EXPECT_EQ(CountEvents(ids->path, "command "), 1);

    SetDaemonRequest(paused, RequestResume);
    ASSERT_TRUE(TickDaemon(paused));
}

}  // namespace
}  // namespace kestrune::test
