/* Offers a menu with a submenu and a separator; its message-only window runs on its own thread. */
#include "menu_window.h"
#include "report.h"

static StateWord state;

/* Defined first: EntryMenu sorts first, so it takes ordinal 1 and is the bound. */
KESTRUNE_EXPORT_ENTRY_MENU

int WINAPI EntryMenu(HMENU* menu, HWND* window, INT_PTR placement) {
    ReportNumber("menu", placement);
    if (!MenuWindow()) return 0;
    HMENU more = CreatePopupMenu();
    AppendMenuW(more, MF_STRING, 3, L"Third");
    AppendMenuW(more, MF_STRING | MF_GRAYED, 199, L"Last");
    *menu = CreatePopupMenu();
    AppendMenuW(*menu, MF_STRING, 1, L"First");
    AppendMenuW(*menu, MF_STRING | MF_CHECKED, 2, L"Second");
    AppendMenuW(*menu, MF_SEPARATOR, 0, NULL);
    AppendMenuW(*menu, MF_POPUP, (UINT_PTR)more, L"More");
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
