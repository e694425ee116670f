#include "dpi.h"

#include <windows.h>
#include "fault/source_position.h"

namespace kestrune {
namespace {

int dpiX = 96;
int dpiY = 96;

}  // namespace

void ReadDisplayDpi() {
    LN HDC screen = GetDC(nullptr);
    LN if (!screen) return;
    LN dpiX = GetDeviceCaps(screen, LOGPIXELSX);
    LN dpiY = GetDeviceCaps(screen, LOGPIXELSY);
    LN ReleaseDC(nullptr, screen);
    LN if (dpiX <= 0) dpiX = 96;
    LN if (dpiY <= 0) dpiY = 96;
}

int ScaleX(int logical) {
    LN return MulDiv(logical, dpiX, 96);
}

int ScaleY(int logical) {
    LN return MulDiv(logical, dpiY, 96);
}

int UnscaleX(int pixels) {
    LN return MulDiv(pixels, 96, dpiX);
}

int UnscaleY(int pixels) {
    LN return MulDiv(pixels, 96, dpiY);
}

}  // namespace kestrune
