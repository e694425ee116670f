#include <algorithm>

#include "check.h"
#include "core/lifecycle.h"

namespace daemoncheck {
namespace {

// The host gives each daemon 200 identifiers in the tray menu; more reach into the next daemon's range.
constexpr UINT TrayRangeSize = 200;
// Walks no deeper or wider than this, so a damaged menu cannot keep the checker busy.
constexpr int MaximumDepth = 16;
constexpr int MaximumItems = 4096;

struct MenuFacts {
    int commands = 0;  // items that are not submenus, separators included: the host renumbers all of them
    UINT highestId = 0;
    bool truncated = false;
};

std::wstring ItemCaption(HMENU menu, int position) {
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_STRING;
    if (!GetMenuItemInfoW(menu, position, TRUE, &item)) return {};
    std::wstring caption(item.cch + 1, L'\0');
    item.dwTypeData = caption.data();
    item.cch = static_cast<UINT>(caption.size());
    if (!GetMenuItemInfoW(menu, position, TRUE, &item)) return {};
    caption.resize(item.cch);
    return caption;
}

// Prints the menu as an indented tree and gathers its identifiers, by position as the host's renumbering walks it.
void WalkMenu(HMENU menu, int depth, MenuFacts& facts, int& budget) {
    const std::wstring indent(8 + 4 * depth, L' ');
    for (int position = 0;; ++position) {
        MENUITEMINFOW item{};
        item.cbSize = sizeof item;
        item.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_FTYPE | MIIM_STATE;
        if (!GetMenuItemInfoW(menu, position, TRUE, &item)) return;
        if (--budget < 0) {
            facts.truncated = true;
            return;
        }
        std::wstring state = (item.fState & MFS_DISABLED) ? L" (greyed)" : L"";
        if (item.fState & MFS_CHECKED) state += L" (checked)";
        if (item.hSubMenu) {
            WriteLine(indent + L">      \"" + ItemCaption(menu, position) + L"\"" + state);
            if (depth + 1 >= MaximumDepth) {
                facts.truncated = true;
                continue;
            }
            WalkMenu(item.hSubMenu, depth + 1, facts, budget);
            continue;
        }
        ++facts.commands;
        facts.highestId = std::max(facts.highestId, item.wID);
        std::wstring id = std::to_wstring(item.wID);
        id.resize(std::max<size_t>(id.size(), 6), L' ');
        if (item.fType & MFT_SEPARATOR) {
            WriteLine(indent + id + L" separator");
        } else {
            WriteLine(indent + id + L" \"" + ItemCaption(menu, position) + L"\"" + state);
        }
    }
}

// Calls EntryMenu as the host does. On 32-bit x86 the stack pointer is compared
// around the call: a stdcall function with three arguments removes 12 bytes, and
// any other count means a calling convention the host does not use.
int CallEntryMenu(EntryMenuFunction entryMenu, HMENU* menu, HWND* window, INT_PTR placement, long& leftBytes) {
    leftBytes = 0;
#if defined(__i386__)
    int result = 0;
    long left = 0;
    void* windowArgument = window;  // in edx, which the call may change
    __asm__ volatile(
        "movl %%esp, %%esi\n\t"
        "pushl %[placement]\n\t"
        "pushl %%edx\n\t"
        "pushl %[menu]\n\t"
        "call *%[function]\n\t"
        "movl %%esi, %%ecx\n\t"
        "subl %%esp, %%ecx\n\t"
        "movl %%esi, %%esp\n\t"
        : "=a"(result), "=c"(left), "+d"(windowArgument)
        : [function] "b"(entryMenu), [menu] "D"(menu), [placement] "m"(placement)
        : "esi", "memory", "cc");
    leftBytes = left;
    return result;
#else
    return entryMenu(menu, window, placement);
#endif
}

const wchar_t* PlacementName(INT_PTR placement) {
    return placement == MenuPlacementContext ? L"placement 0 (context menu)" : L"placement 1 (tray menu)";
}

void JudgeWindow(Check& check, HWND window, HWND previous) {
    if (window && window == previous) {
        Report(check.findings, Level::Info, "menu window", L"the same window as for placement 0");
        return;
    }
    if (!window) {
        Report(check.findings, Level::Fail, "menu window",
               L"none named: the host posts the menu's commands to no window, so they are lost");
        return;
    }
    if (!IsWindow(window)) {
        Report(check.findings, Level::Fail, "menu window", Hex(window) + L" is no window: its commands are lost");
        return;
    }
    CollectDaemonClasses(check, {window});
    DWORD process = 0;
    DWORD owner = GetWindowThreadProcessId(window, &process);
    std::wstring what = WindowKind(window) + L" window of class \"" + WindowClassName(window) + L"\"";
    if (process != GetCurrentProcessId()) {
        Report(check.findings, Level::Warn, "menu window", what + L" of another process");
    } else if (owner == check.daemonThreadId) {
        Report(check.findings, Level::Ok, "menu window",
               what + L", owned by the daemon's thread, which receives the commands");
    } else if (owner == GetCurrentThreadId()) {
        Report(check.findings, Level::Fail, "menu window",
               what +
                   L", owned by the host's main thread (made inside EntryMenu?): its commands run the daemon's "
                   L"code on the host's own loop, and the host destroys the window when it unloads the daemon");
    } else {
        Report(check.findings, Level::Warn, "menu window",
               what + L", owned by thread " + std::to_wstring(owner) +
                   L", not the daemon's thread: that thread must run a message loop for the commands");
    }
}

// Asks for one placement's menu; returns the menu handed over, to be destroyed by the caller.
HMENU AskForMenu(Check& check, INT_PTR placement, HWND& window) {
    EntryMenuFunction entryMenu = check.daemon->entryMenuAddress;
    HMENU menu = nullptr;
    window = nullptr;
    long leftBytes = 0;
    int result = CallEntryMenu(entryMenu, &menu, &window, placement, leftBytes);
    if (leftBytes != 0) {
        Report(check.findings, Level::Fail, "menu",
               std::wstring(PlacementName(placement)) + L": EntryMenu left " + std::to_wstring(leftBytes) +
                   L" bytes on the stack: it is not stdcall with three arguments, and the host's stack is corrupted "
                   L"(declare it WINAPI as in kestrune/daemon.h)");
    }
    if (result != 1) {
        Report(check.findings, Level::Info, "menu",
               std::wstring(PlacementName(placement)) + L": EntryMenu returned " + std::to_wstring(result) +
                   L", no menu: the host shows a greyed entry" +
                   (menu ? L" and destroys the menu handle left behind" : L""));
        // As the host does with whatever handle was left in the variable.
        if (menu && IsMenu(menu)) DestroyMenu(menu);
        window = nullptr;
        return nullptr;
    }
    if (!menu) {
        Report(check.findings, Level::Fail, "menu",
               std::wstring(PlacementName(placement)) + L": EntryMenu returned 1 but no menu");
        return nullptr;
    }
    if (!IsMenu(menu)) {
        Report(check.findings, Level::Fail, "menu",
               std::wstring(PlacementName(placement)) + L": EntryMenu returned 1 with " + Hex(menu) +
                   L", which is not a menu");
        return nullptr;
    }
    Report(check.findings, Level::Info, "menu",
           std::wstring(PlacementName(placement)) + L": EntryMenu returned 1 and this menu:");
    MenuFacts facts;
    int budget = MaximumItems;
    WalkMenu(menu, 0, facts, budget);
    if (facts.truncated) Report(check.findings, Level::Warn, "menu", L"too large or too deep to list whole");
    if (facts.commands == 0) {
        Report(check.findings, Level::Warn, "menu", L"it has no command items");
    } else if (facts.highestId >= TrayRangeSize) {
        Report(check.findings, Level::Fail, "menu ids",
               L"identifiers reach " + std::to_wstring(facts.highestId) +
                   L": in the tray menu each daemon has identifiers 0 to 199, and higher ones overlap the next "
                   L"daemon's range, whose daemon then receives those commands");
    } else {
        Report(check.findings, Level::Ok, "menu ids",
               L"identifiers up to " + std::to_wstring(facts.highestId) + L", inside the 0 to 199 of its range");
    }
    return menu;
}

}  // namespace

void CollectDaemonClasses(Check& check, const std::vector<HWND>& windows) {
    for (HWND window : windows) {
        if (reinterpret_cast<HMODULE>(GetClassLongPtrW(window, GCLP_HMODULE)) != check.module) continue;
        std::wstring name = WindowClassName(window);
        auto& classes = check.daemonClasses;
        if (std::find(classes.begin(), classes.end(), name) == classes.end()) classes.push_back(name);
    }
}

void CheckMenus(Check& check) {
    kestrune::Daemon* daemon = check.daemon;
    if (!daemon || !daemon->entryMenuAddress) return;
    // The host asks only a running daemon that is neither paused nor stopping.
    if (!daemon->Has(kestrune::FlagStarted) || !kestrune::IsThreadAlive(daemon->thread.get())) {
        Report(check.findings, Level::Info, "menu", L"not asked: the daemon is not running");
        return;
    }
    HWND contextWindow = nullptr, trayWindow = nullptr;
    check.stage = Stage::AskingForMenus;
    kestrune::MenuOwner contextMenu(AskForMenu(check, MenuPlacementContext, contextWindow));
    if (contextMenu) JudgeWindow(check, contextWindow, nullptr);
    kestrune::MenuOwner trayMenu(AskForMenu(check, MenuPlacementTray, trayWindow));
    if (trayMenu) JudgeWindow(check, trayWindow, contextMenu ? contextWindow : nullptr);
    if (contextMenu && contextMenu.get() == trayMenu.get()) {
        trayMenu.release();
        Report(check.findings, Level::Fail, "menu",
               L"EntryMenu handed over the same menu twice: the host destroys every menu after use, so it must "
               L"build a new one on every call");
    }
    check.stage = Stage::Running;
    // Both menus are destroyed here, as the host destroys them with its popup.
}

}  // namespace daemoncheck
