#include "ui/dpi.h"

#include <windows.h>

#include "core/owner.h"
#include "ui/ui_state.h"

#include "fault/source_position.h"

namespace kestrune {
void ReadDisplayDpi() {
    LN const ScreenDcOwner screen = TakeScreenDc();
    LN if (!screen) return;
    LN ui.display.dpiX = GetDeviceCaps(screen.get(), LOGPIXELSX);
    LN ui.display.dpiY = GetDeviceCaps(screen.get(), LOGPIXELSY);
    LN if (ui.display.dpiX <= 0) ui.display.dpiX = 96;
    LN if (ui.display.dpiY <= 0) ui.display.dpiY = 96;
}

int ScaleX(int logical) {
    LN return MulDiv(logical, ui.display.dpiX, 96);
}

int ScaleY(int logical) {
    LN return MulDiv(logical, ui.display.dpiY, 96);
}

int UnscaleX(int pixels) {
    LN return MulDiv(pixels, 96, ui.display.dpiX);
}

}  // namespace kestrune
