/* Exports EntryState and EntryMenu but no EntryPoint: it is no daemon. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;

KESTRUNE_EXPORT_ENTRY_MENU

/* Defined first, so EntryState lies above this ordinal-1 export and only the missing EntryPoint keeps it uncalled. */
int WINAPI EntryMenu(HMENU* menu, HWND* window, INT_PTR placement) {
    (void)menu;
    (void)window;
    (void)placement;
    Report("menu");
    return 0;
}

StateWord* EntryState(void) {
    Report("state");
    return &state;
}
