// The top-level windows the tests look for: a host's main window, its popup menus and boxes,
// windows other programs opened.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kestrune::test {

// Every top-level window, topmost first.
std::vector<HWND> TopLevelWindows();

DWORD OwnerProcess(HWND window);
std::wstring ClassNameOf(HWND window);
// The caption as the system keeps it (no message reaches the window, so a busy one answers too).
std::wstring TitleOf(HWND window);

// The visible top-level windows of a process (any process for 0), of one class when given.
std::vector<HWND> VisibleWindowsOf(DWORD processId, const wchar_t* className = nullptr);

}  // namespace kestrune::test
