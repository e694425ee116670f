/* Defines EntryMenu without WINAPI, so on 32-bit x86 it leaves its arguments on the
   caller's stack. Declared here rather than through kestrune/daemon.h, which would not allow it. */
#include <windows.h>

#include "report.h"

static volatile LONG state;

/* From menu_window.c, whose header would bring in kestrune/daemon.h. */
HWND MenuWindow(void);
void RunMenuWindow(volatile LONG* state);

__declspec(dllexport) void EntryPoint(void) {
    Report("entry");
    RunMenuWindow(&state);
    Report("return");
}

__declspec(dllexport) volatile LONG* EntryState(void) {
    return &state;
}

int EntryMenu(HMENU* menu, HWND* window, INT_PTR placement);

int EntryMenu(HMENU* menu, HWND* window, INT_PTR placement) {
    ReportNumber("menu", placement);
    *window = MenuWindow();
    *menu = CreatePopupMenu();
    AppendMenuW(*menu, MF_STRING, 1, L"Only");
    return 1;
}
