/* Makes its menu's window inside EntryMenu, so on the host's thread, once: a message-only
   window of an ANSI class, never destroyed. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;
static HWND window;
static const char ClassName[] = "KestruneTestAnsiWindow";

static LRESULT CALLBACK AnsiWindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        ReportNumber("command", LOWORD(wParam));
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

/* Defined first: EntryMenu sorts first, so it takes ordinal 1 and is the bound. */
KESTRUNE_EXPORT_ENTRY_MENU

int WINAPI EntryMenu(HMENU* menu, HWND* window_out, INT_PTR placement) {
    ReportNumber("menu", placement);
    if (!window) {
        HMODULE self = NULL;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           (LPCSTR)(void*)&AnsiWindowProcedure, &self);
        WNDCLASSA windowClass = {0};
        windowClass.lpfnWndProc = AnsiWindowProcedure;
        windowClass.hInstance = self;
        windowClass.lpszClassName = ClassName;
        RegisterClassA(&windowClass);
        window = CreateWindowExA(0, ClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, self, NULL);
    }
    *menu = CreatePopupMenu();
    AppendMenuA(*menu, MF_STRING, 1, "Refresh");
    *window_out = window;
    return 1;
}

void EntryPoint(void) {
    Report("entry");
    while (state != StateWordStop) Sleep(10);
    Report("stop-seen");
    Report("return");
}

StateWord* EntryState(void) {
    /* A new run starts with a clear word, even in a library that stayed loaded. */
    state = 0;
    return &state;
}
