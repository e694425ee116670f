/* Its EntryMenu writes through a null pointer. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;

/* Defined first: EntryMenu sorts first, so it takes ordinal 1 and is the bound. */
KESTRUNE_EXPORT_ENTRY_MENU

int WINAPI EntryMenu(HMENU* menu, HWND* window, INT_PTR placement) {
    (void)menu;
    (void)window;
    ReportNumber("menu", placement);
    volatile int* nowhere = NULL;
    *nowhere = 1;
    return 0;
}

void EntryPoint(void) {
    Report("entry");
    while (state != StateWordStop) Sleep(10);
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
