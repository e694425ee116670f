// The About window: the built-in help text in a read-only text area.
#pragma once

#include <windows.h>

#include "core/owner.h"

namespace kestrune {

struct AboutState {
    HWND AboutText = nullptr;  // not owned: the text area, a child of the window, goes with it
    WindowOwner AboutWindow;   // none while it is closed
};

// Opens the window at (0, 0) with an inner area of width x height logical units, or
// activates the one already open (title and size are then left alone).
void ShowAboutWindow(const wchar_t* title, int width, int height);

}  // namespace kestrune
