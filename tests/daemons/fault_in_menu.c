/* EntryMenu, called on the host's main thread while a menu is built, writes to address 32. */
#include <kestrune/daemon.h>

#include "report.h"

/* Read at run time, so the compiler neither warns about nor folds the bad write. */
static volatile UINT_PTR target = 32;

static StateWord state;

void EntryPoint(void) {
    Report("entry");
    while (state != StateWordStop) Sleep(10);
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}

KESTRUNE_EXPORT_ENTRY_MENU

int WINAPI EntryMenu(HMENU* menu, HWND* window, INT_PTR placement) {
    (void)menu;
    (void)window;
    ReportNumber("menu", (long long)placement);
    *(volatile LONG*)target = 1;
    return 0;
}
