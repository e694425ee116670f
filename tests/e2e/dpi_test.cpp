// Sizes in 1/96 inch: the host's window, list and About window at 96 and at 144 DPI
// (Wine's LogPixels setting).
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include "host_process.h"
#include "test_daemons.h"
#include "top_level_windows.h"

namespace kestrune::test {
namespace {

// Sets Wine's display DPI for processes started from now on, and puts the old value back.
class DisplayDpi {
public:
    explicit DisplayDpi(DWORD dpi) {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                        &key_, nullptr);
        DWORD size = sizeof old_;
        hadOld_ = RegQueryValueExW(key_, L"LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&old_), &size) ==
                  ERROR_SUCCESS;
        RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    }
    ~DisplayDpi() {
        if (hadOld_) {
            RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old_), sizeof old_);
        } else {
            RegDeleteValueW(key_, L"LogPixels");
        }
        RegCloseKey(key_);
    }
    DisplayDpi(const DisplayDpi&) = delete;
    DisplayDpi& operator=(const DisplayDpi&) = delete;

private:
    HKEY key_ = nullptr;
    DWORD old_ = 0;
    bool hadOld_ = false;
};

int Scaled(int logical, int dpi) {
    return MulDiv(logical, dpi, 96);
}

// The outer size of the main window around a client area, with the frame the window has
// (its metrics follow the host's DPI, not this process's).
SIZE Outer(HWND window, int width, int height) {
    RECT outer{}, client{};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    return {width + (outer.right - outer.left) - client.right, height + (outer.bottom - outer.top) - client.bottom};
}

void CheckSizesAt(int dpi) {
    SCOPED_TRACE(testing::Message() << dpi << " DPI");
    DisplayDpi setting(static_cast<DWORD>(dpi));
    TempFolder folder;
    HostProcess host(folder);
    host.AddDaemon(L"cooperative");
    ASSERT_TRUE(host.Start());
    HWND window = host.WaitForMainWindow();
    ASSERT_NE(window, nullptr);
    host.PressTrayIcon();
    ASSERT_TRUE(WaitUntil([&] { return host.IsWindowShown(); }, 30s));

    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, Scaled(640, dpi));
    EXPECT_EQ(client.bottom, Scaled(480, dpi));

    HWND list = host.List();
    RECT listRect{};
    GetWindowRect(list, &listRect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&listRect), 2);
    EXPECT_EQ(listRect.left, Scaled(8, dpi));
    EXPECT_EQ(listRect.top, Scaled(8, dpi));
    EXPECT_EQ(listRect.right - listRect.left, Scaled(640 - 16, dpi));
    EXPECT_EQ(listRect.bottom - listRect.top, Scaled(464, dpi));
    const int widths[] = {184, 48, 78, 80, 512};
    for (int column = 0; column < 5; ++column) {
        EXPECT_EQ(SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0), Scaled(widths[column], dpi))
            << "column " << column;
    }

    // The width limits hold in logical units: 640 to 960, the height fixed at 480.
    MINMAXINFO limits = host.MinMaxInfo();
    SIZE smallest = Outer(window, Scaled(640, dpi), Scaled(480, dpi));
    SIZE largest = Outer(window, Scaled(960, dpi), Scaled(480, dpi));
    EXPECT_EQ(limits.ptMinTrackSize.x, smallest.cx);
    EXPECT_EQ(limits.ptMinTrackSize.y, smallest.cy);
    EXPECT_EQ(limits.ptMaxTrackSize.x, largest.cx);
    EXPECT_EQ(limits.ptMaxTrackSize.y, largest.cy);

    // Taken now: at its widest it would not fit the test screen at 144 DPI.
    PaintNow({window});
    SaveScreenshot(L"main-window-" + std::to_wstring(dpi) + L"dpi", window);

    // Widening follows the list; the list keeps its 8-unit margins.
    RECT outer{};
    GetWindowRect(window, &outer);
    SetWindowPos(window, nullptr, 0, 0, largest.cx, largest.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_TRUE(host.Sync());
    GetWindowRect(list, &listRect);
    GetClientRect(window, &client);
    EXPECT_EQ(listRect.right - listRect.left, Scaled(MulDiv(client.right, 96, dpi) - 16, dpi));

    // The About window's inner 800 x 600 scales too, and its text fills it.
    ASSERT_NE(host.OpenTrayMenu(), nullptr);
    ChooseMenuItem(1);  // Explore, About program..., Quit Kestrune
    HWND about = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::vector<HWND> found = VisibleWindowsOf(host.ProcessId(), L"KestruneAboutWindow");
            about = found.empty() ? nullptr : found.front();
            return about != nullptr;
        },
        30s));
    GetClientRect(about, &client);
    EXPECT_EQ(client.right, Scaled(800, dpi));
    EXPECT_EQ(client.bottom, Scaled(600, dpi));
    HWND text = GetWindow(about, GW_CHILD);
    ASSERT_NE(text, nullptr);
    RECT textRect{};
    GetWindowRect(text, &textRect);
    EXPECT_EQ(textRect.right - textRect.left, client.right);
    EXPECT_EQ(textRect.bottom - textRect.top, client.bottom);
    PaintNow({about});
    SaveScreenshot(L"about-window-" + std::to_wstring(dpi) + L"dpi", about);

    host.RequestClose();
    ASSERT_TRUE(host.WaitForExit(60s));
}

TEST(DpiTest, SizesScaleWithTheDisplayDpi) {
    CheckSizesAt(96);
    CheckSizesAt(144);
}

}  // namespace
}  // namespace kestrune::test
