// Finding a message box of a process, reading it and answering it, as a user would.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>

namespace kestrune::test {

// A visible dialog box (class #32770) of process with exactly this title, or null after timeout.
HWND WaitForMessageBox(DWORD processId, const std::wstring& title,
                       std::chrono::milliseconds timeout = std::chrono::seconds(60));

// The box's message: the text of its static control.
std::wstring MessageBoxText(HWND box);

// True when the box holds a button with this identifier (IDYES, IDNO, IDOK, ...).
bool HasButton(HWND box, int id);

// Clicks the button with this identifier; false when the box has none.
bool PressButton(HWND box, int id);

}  // namespace kestrune::test
