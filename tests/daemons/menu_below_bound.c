/* EntryMenu lies below the export with ordinal 1 (see the .def file), so the host ignores it. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;

KESTRUNE_EXPORT_ENTRY_MENU

int WINAPI EntryMenu(HMENU* menu, HWND* window, INT_PTR placement) {
    (void)menu;
    (void)window;
    (void)placement;
    Report("menu");
    return 0;
}

/* Defined after EntryMenu and before EntryState: the bound lies between them. */
void Anchor(void) {
    Report("anchor");
}

void EntryPoint(void) {
    Report("entry");
    while (state != StateWordStop) Sleep(10);
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
