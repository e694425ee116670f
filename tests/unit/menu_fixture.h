// A real main window with its daemon list in the test process, daemons with rows, and
// a readable picture of a built menu.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "core/lifecycle.h"
#include "host_fixture.h"
#include "ui/daemon_list.h"
#include "ui/daemon_rows.h"
#include "ui/main_window.h"
#include "ui/menu_builder.h"

namespace kestrune::test {

// One item of a menu as the user would see it: "Text id", then "grey", "check" and,
// for a popup, "> n" with the number of its items. A separator reads "----".
inline std::wstring DescribeItem(HMENU menu, UINT position) {
    wchar_t text[256] = {};
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_FTYPE | MIIM_STRING;
    item.dwTypeData = text;
    item.cch = 255;
    if (!GetMenuItemInfoW(menu, position, TRUE, &item)) return L"<no item>";
    if (item.fType & MFT_SEPARATOR) return L"----";
    std::wstring look = text;
    if (!item.hSubMenu) look += L" " + std::to_wstring(item.wID);
    if (item.fState & MFS_GRAYED) look += L" grey";
    if (item.fState & MFS_CHECKED) look += L" check";
    if (item.hSubMenu) look += L" > " + std::to_wstring(GetMenuItemCount(item.hSubMenu));
    return look;
}

inline std::vector<std::wstring> DescribeMenu(HMENU menu) {
    std::vector<std::wstring> items;
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) items.push_back(DescribeItem(menu, static_cast<UINT>(i)));
    return items;
}

inline HMENU SubmenuAt(HMENU menu, int position) {
    return GetSubMenu(menu, position);
}

// The first item of menu whose text starts with prefix, or -1.
inline int FindItem(HMENU menu, const std::wstring& prefix) {
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        if (DescribeItem(menu, static_cast<UINT>(i)).compare(0, prefix.size(), prefix) == 0) return i;
    }
    return -1;
}

// Compares two item lists and shows both in full when they differ.
inline void ExpectItems(const std::vector<std::wstring>& actual, const std::vector<std::wstring>& expected, int line) {
    SCOPED_TRACE(testing::Message() << "menu checked at line " << line);
    std::wstring shown, wanted;
    for (const auto& item : actual) shown += L"  " + item + L"\n";
    for (const auto& item : expected) wanted += L"  " + item + L"\n";
    EXPECT_EQ(actual, expected) << "actual:\n"
                                << testing::PrintToString(shown) << "\nexpected:\n"
                                << testing::PrintToString(wanted);
}

class WindowFixture : public HostFixture {
protected:
    void SetUp() override {
        HostFixture::SetUp();
        ASSERT_TRUE(CreateMainWindow(L"menus under test"));
        ASSERT_TRUE(CreateDaemonList());
    }
    void TearDown() override {
        StopDaemonsGently();
        DestroyHostWindows();
        records_.clear();
        HostFixture::TearDown();
        MSG message;  // nothing of one test may reach the next
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    // Daemons that watch their state word are asked to return, so that few are terminated:
    // under qemu terminating a thread sometimes takes the 32-bit process down.
    static void StopDaemonsGently() {
        for (size_t i = 1; i < app.DaemonTable.size(); ++i) {
            Daemon* daemon = app.DaemonTable[i].get();
            if (!daemon || !IsThreadAlive(daemon->thread.get())) continue;
            ResumeThreadFully(daemon->thread.get());
            if (WriteStateWord(daemon, StateWordStop)) WaitForSingleObject(daemon->thread.get(), 5000);
        }
    }

    // Loads, lists and starts a test daemon and waits until it runs.
    Daemon* Run(const std::wstring& name, std::wstring relative = {}) {
        std::wstring path = Place(name, relative);
        Daemon* daemon = Add(path);
        if (!daemon) return nullptr;
        AddDaemonRow(daemon);
        StartDaemonThread(daemon, RequestNone);
        if (!WaitForEntry(path) || !WaitUntilHoldable(daemon)) return nullptr;
        return daemon;
    }

    // A row for a library that is not loaded.
    int RowFor(const std::wstring& path) {
        Daemon* record = records_.emplace_back(std::make_unique<Daemon>()).get();
        record->path = path;
        record->fileName = FilePartOf(path);
        AddDaemonRow(record);
        return FindRowByPath(path);
    }

    void Select(int row) {
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = row >= 0 ? LVIS_SELECTED | LVIS_FOCUSED : 0;
        if (row < 0) {
            SendMessageW(DaemonList(), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
            return;
        }
        SendMessageW(DaemonList(), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    }

    void SelectDaemon(const Daemon* daemon) { Select(FindRowByPath(daemon->path)); }

    // Ticks until the daemon has finished, left the table and been unloaded, as the reaper does.
    bool TickUntilGone(Daemon* daemon) {
        for (int i = 0; i < 2000; ++i) {
            if (!TickDaemon(daemon)) return true;
            Sleep(10);
        }
        return false;
    }

    // Asks a cooperative daemon to stop and unloads it once it has returned.
    bool StopAndUnload(Daemon* daemon) {
        SetDaemonRequest(daemon, RequestStop);
        return TickUntilGone(daemon);
    }

    // The WM_COMMAND messages waiting in this thread's queue, for any window or none.
    static int WaitingCommands() {
        int count = 0;
        MSG message;
        while (PeekMessageW(&message, nullptr, WM_COMMAND, WM_COMMAND, PM_REMOVE)) ++count;
        return count;
    }

private:
    std::vector<DaemonOwner> records_;
};

}  // namespace kestrune::test
