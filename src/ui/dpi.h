// Logical units (1/96 inch) and pixels, by the display's DPI read once at start.
#pragma once

namespace kestrune {

void ReadDisplayDpi();
int ScaleX(int logical);
int ScaleY(int logical);
// Pixels back to logical units, rounded to the nearest unit.
int UnscaleX(int pixels);
int UnscaleY(int pixels);

}  // namespace kestrune
