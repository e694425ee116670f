/* Builds its menu once and hands the same one over on every call, though the host destroys each. */
#include "menu_window.h"
#include "report.h"

static StateWord state;
static HMENU built;

/* Defined first: EntryMenu sorts first, so it takes ordinal 1 and is the bound. */
KESTRUNE_EXPORT_ENTRY_MENU

int WINAPI EntryMenu(HMENU* menu, HWND* window, INT_PTR placement) {
    ReportNumber("menu", placement);
    if (!built) {
        built = CreatePopupMenu();
        AppendMenuW(built, MF_STRING, 1, L"Only");
    }
    *menu = built;
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
