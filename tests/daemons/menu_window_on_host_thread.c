/* Makes its menu's window inside EntryMenu, so on the caller's thread, and never destroys it. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;
static HWND window;
static const wchar_t ClassName[] = L"KestruneTestStrayWindow";

static LRESULT CALLBACK StrayWindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

/* Defined first: EntryMenu sorts first, so it takes ordinal 1 and is the bound. */
KESTRUNE_EXPORT_ENTRY_MENU

int WINAPI EntryMenu(HMENU* menu, HWND* window_out, INT_PTR placement) {
    ReportNumber("menu", placement);
    if (!window) {
        HMODULE self = NULL;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           (LPCWSTR)(void*)&StrayWindowProcedure, &self);
        WNDCLASSW windowClass = {0};
        windowClass.lpfnWndProc = StrayWindowProcedure;
        windowClass.hInstance = self;
        windowClass.lpszClassName = ClassName;
        RegisterClassW(&windowClass);
        window = CreateWindowExW(0, ClassName, L"stray", WS_OVERLAPPED, 0, 0, 10, 10, NULL, NULL, self, NULL);
    }
    *menu = CreatePopupMenu();
    AppendMenuW(*menu, MF_STRING, 1, L"Only");
    *window_out = window;
    return 1;
}

void EntryPoint(void) {
    Report("entry");
    while (state != StateWordStop) Sleep(10);
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
