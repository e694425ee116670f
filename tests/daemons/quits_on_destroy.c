/* Makes its menu's window inside EntryMenu, so on the host's thread, once, after the usual
   skeleton: its WM_DESTROY posts WM_QUIT. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;
static HWND window;
static const wchar_t ClassName[] = L"KestruneTestQuitsOnDestroy";

static LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        ReportNumber("command", LOWORD(wParam));
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

/* Defined first: EntryMenu sorts first, so it takes ordinal 1 and is the bound. */
KESTRUNE_EXPORT_ENTRY_MENU

int WINAPI EntryMenu(HMENU* menu, HWND* window_out, INT_PTR placement) {
    ReportNumber("menu", placement);
    if (!window) {
        HMODULE self = NULL;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           (LPCWSTR)(void*)&WindowProcedure, &self);
        WNDCLASSEXW windowClass = {0};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = WindowProcedure;
        windowClass.hInstance = self;
        windowClass.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
        windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
        windowClass.lpszClassName = ClassName;
        RegisterClassExW(&windowClass);
        window = CreateWindowExW(0, ClassName, L"Quits on destroy", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                 200, 100, NULL, NULL, self, NULL);
    }
    *menu = CreatePopupMenu();
    AppendMenuW(*menu, MF_STRING, 1, L"Refresh");
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
    return &state;
}
