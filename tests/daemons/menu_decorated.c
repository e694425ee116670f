/* Exports a stdcall EntryMenu without KESTRUNE_EXPORT_ENTRY_MENU, so on 32-bit x86 its
   export is named EntryMenu@12 and the host finds no EntryMenu. Declared here rather
   than through kestrune/daemon.h, whose declaration carries no dllexport. */
#include <windows.h>

#include "report.h"

static volatile LONG state;

/* From menu_window.c, whose header would bring in kestrune/daemon.h. */
HWND MenuWindow(void);
void RunMenuWindow(volatile LONG* state);

/* Defined first: it takes ordinal 1, the bound. */
__declspec(dllexport) int WINAPI EntryMenu(HMENU* menu, HWND* window, INT_PTR placement) {
    ReportNumber("menu", placement);
    *menu = CreatePopupMenu();
    AppendMenuW(*menu, MF_STRING, 1, L"Only");
    *window = MenuWindow();
    return 1;
}

__declspec(dllexport) void EntryPoint(void) {
    Report("entry");
    RunMenuWindow(&state);
    Report("return");
}

__declspec(dllexport) volatile LONG* EntryState(void) {
    return &state;
}
