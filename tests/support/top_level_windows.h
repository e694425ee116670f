// The top-level windows the tests look for: a host's main window, its popup menus and boxes,
// windows other programs opened.
#pragma once

#include <windows.h>

#include <initializer_list>
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

// Has each window, its children with it, paint what it has still to paint, and returns once
// it has: the window's own thread handles the WM_PAINT this sends before the call returns.
void PaintNow(std::initializer_list<HWND> windows);

}  // namespace kestrune::test
