/* Its menu uses identifiers from 200 on, which run into the next daemon's range in the tray menu. */
#include "menu_window.h"
#include "report.h"

static StateWord state;

/* Defined first: EntryMenu sorts first, so it takes ordinal 1 and is the bound. */
KESTRUNE_EXPORT_ENTRY_MENU

int WINAPI EntryMenu(HMENU* menu, HWND* window, INT_PTR placement) {
    ReportNumber("menu", placement);
    *menu = CreatePopupMenu();
    AppendMenuW(*menu, MF_STRING, 1, L"Low");
    AppendMenuW(*menu, MF_STRING, 250, L"High");
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
