// The host's windows at the exit: each destroyed once, in order, the list's font after the list.
#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "menu_fixture.h"
#include "ui/about_window.h"
#include "ui/daemon_rows.h"
#include "ui/main_window.h"
#include "ui/ui_state.h"

namespace kestrune::test {
namespace {

// Every watched window's WM_DESTROY in the order it came, and whether the list's font was
// still a font when the list went. File scope: a window procedure is given no record.
struct Teardown {
    std::map<HWND, std::pair<std::string, WNDPROC>> watched;
    std::vector<std::string> destroyed;
    HFONT listFont = nullptr;
    bool fontAliveAtListEnd = false;
};
Teardown teardown;

LRESULT CALLBACK RecordDestroy(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto watched = teardown.watched.find(window);
    if (watched == teardown.watched.end()) return DefWindowProcW(window, message, wParam, lParam);
    const auto& [name, previous] = watched->second;
    if (message == WM_DESTROY) {
        teardown.destroyed.push_back(name);
        if (name == "list") teardown.fontAliveAtListEnd = GetObjectType(teardown.listFont) == OBJ_FONT;
    }
    return CallWindowProcW(previous, window, message, wParam, lParam);
}

class WindowTeardownTest : public WindowFixture {
protected:
    void TearDown() override {
        WindowFixture::TearDown();
        teardown = Teardown{};
    }

    static void Watch(HWND window, const std::string& name) {
        ASSERT_TRUE(IsWindow(window)) << name;
        LONG_PTR previous = SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordDestroy));
        teardown.watched[window] = {name, reinterpret_cast<WNDPROC>(previous)};
    }
};

TEST_F(WindowTeardownTest, TheExitDestroysEachWindowOnceInOrderAndTheFontAfterTheList) {
    ShowAboutWindow(L"About Kestrune", 800, 600);
    const HWND about = ui.about.AboutWindow.get();
    const HWND main = ui.main.mainWindow.get();
    const HWND list = DaemonList();
    teardown.listFont = ui.list.listFont.get();
    ASSERT_NE(teardown.listFont, nullptr) << "the list has a font of its own";
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)), teardown.listFont);
    ASSERT_NO_FATAL_FAILURE(Watch(about, "about"));
    ASSERT_NO_FATAL_FAILURE(Watch(ui.about.AboutText, "about text"));
    ASSERT_NO_FATAL_FAILURE(Watch(main, "main"));
    ASSERT_NO_FATAL_FAILURE(Watch(list, "list"));

    DestroyHostWindows();
    const std::vector<std::string> expected = {"about", "about text", "main", "list"};
    EXPECT_EQ(teardown.destroyed, expected) << "children go after their parent, each window once";
    EXPECT_TRUE(teardown.fontAliveAtListEnd) << "the list draws with its font until it is gone";
    EXPECT_EQ(GetObjectType(teardown.listFont), 0u) << "and then the font is released";
    for (HWND window : {about, main, list}) EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(ui.about.AboutWindow);
    EXPECT_EQ(ui.about.AboutText, nullptr);
    EXPECT_FALSE(ui.main.mainWindow);
}

// A window destroyed by another path than its owner (the About window's own close, a daemon's
// code on the host's thread) leaves its owner empty, so that the exit does not destroy it again.
TEST_F(WindowTeardownTest, AWindowDestroyedElsewhereLeavesItsOwnerEmpty) {
    ShowAboutWindow(L"About Kestrune", 800, 600);
    const HWND about = ui.about.AboutWindow.get();
    SendMessageW(about, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(about));
    EXPECT_FALSE(ui.about.AboutWindow);
    EXPECT_EQ(ui.about.AboutText, nullptr);

    const HWND main = ui.main.mainWindow.get();
    ASSERT_TRUE(DestroyWindow(main));
    EXPECT_FALSE(IsWindow(main));
    EXPECT_FALSE(ui.main.mainWindow) << "the owner let the destroyed window go";
    EXPECT_EQ(DaemonList(), nullptr);
}

}  // namespace
}  // namespace kestrune::test
