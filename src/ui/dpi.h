// Logical units (1/96 inch) and pixels, by the display's DPI read once at start.
#pragma once

namespace kestrune {

// The display's pixels per inch, read once at start.
struct DisplayDpi {
    int dpiX = 96;
    int dpiY = 96;
};

void ReadDisplayDpi();
int ScaleX(int logical);
int ScaleY(int logical);
// Pixels back to logical units, rounded to the nearest unit.
int UnscaleX(int pixels);

}  // namespace kestrune
