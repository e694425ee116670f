#include "top_level_windows.h"

namespace kestrune::test {
namespace {

BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter) {
    reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

DWORD OwnerProcess(HWND window) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    return owner;
}

std::wstring ClassNameOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring TitleOf(HWND window) {
    wchar_t title[MAX_PATH] = {};
    InternalGetWindowText(window, title, MAX_PATH);
    return title;
}

std::vector<HWND> VisibleWindowsOf(DWORD processId, const wchar_t* className) {
    std::vector<HWND> found;
    for (HWND window : TopLevelWindows()) {
        if (processId != 0 && OwnerProcess(window) != processId) continue;
        if (!IsWindowVisible(window)) continue;
        if (className && ClassNameOf(window) != className) continue;
        found.push_back(window);
    }
    return found;
}

void PaintNow(std::initializer_list<HWND> windows) {
    for (HWND window : windows) UpdateWindow(window);
}

}  // namespace kestrune::test
