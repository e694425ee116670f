// The daemon list control: creation, size, the one-second refresh and per-cell colours.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "core/owner.h"
#include "ui/daemon_rows.h"

namespace kestrune {

struct DaemonListState {
    FontOwner listFont;  // the list keeps using the font it was given, so it lives as long as the list
    RowIndex rowIndex;
    bool drawingHeld = false;  // redrawing switched off while a hidden host quits
};

// Creates the daemon list control with its five columns inside the main window.
bool CreateDaemonList();

// Keeps the list at client width - 16 by 464, leaving its position alone.
void ResizeDaemonList();

// Samples and rewrites the row of every running daemon while the window is shown.
void RefreshDaemonList();

// A host that quits while its window is hidden rewrites every row once or twice, and under
// Wine every cell written to a list that draws costs a round trip to the window system:
// nobody sees those rows, so the list stops drawing until the window is shown again.
void HoldListDrawing();
void ReleaseListDrawing();

// Colours the status cell from the colour stored with its row.
LRESULT DrawDaemonListItem(NMLVCUSTOMDRAW* draw);

}  // namespace kestrune
