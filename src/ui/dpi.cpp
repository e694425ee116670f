#include "dpi.h"

#include <windows.h>

namespace kestrune {
namespace {

int dpiX = 96;
int dpiY = 96;

}  // namespace

void ReadDisplayDpi() {
    HDC screen = GetDC(nullptr);
    if (!screen) return;
    dpiX = GetDeviceCaps(screen, LOGPIXELSX);
    dpiY = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (dpiX <= 0) dpiX = 96;
    if (dpiY <= 0) dpiY = 96;
}

int ScaleX(int logical) {
    return MulDiv(logical, dpiX, 96);
}

int ScaleY(int logical) {
    return MulDiv(logical, dpiY, 96);
}

int UnscaleX(int pixels) {
    return MulDiv(pixels, 96, dpiX);
}

int UnscaleY(int pixels) {
    return MulDiv(pixels, 96, dpiY);
}

}  // namespace kestrune
