/* Says it supplied a menu (1) but leaves the menu variable at 0. */
#include "menu_window.h"
#include "report.h"

static StateWord state;

/* Defined first: EntryMenu sorts first, so it takes ordinal 1 and is the bound. */
KESTRUNE_EXPORT_ENTRY_MENU

int WINAPI EntryMenu(HMENU* menu, HWND* window, INT_PTR placement) {
    (void)menu;
    ReportNumber("menu", placement);
    *window = MenuWindow();
    return 1;
}

void EntryPoint(void) {
    Report("entry");
    RunMenuWindow(&state);
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
