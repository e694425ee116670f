#include "menu_window.h"

#include "report.h"

static HWND window;
static const wchar_t ClassName[] = L"KestruneTestMenuWindow";

static HINSTANCE OwnInstance(void) {
    HMODULE module = NULL;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCWSTR)(void*)&OwnInstance, &module);
    return module;
}

static LRESULT CALLBACK MenuWindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) ReportNumber("command", LOWORD(wParam));
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND MenuWindow(void) {
    return window;
}

void RunMenuWindow(StateWord* state) {
    WNDCLASSW windowClass = {0};
    windowClass.lpfnWndProc = MenuWindowProcedure;
    windowClass.hInstance = OwnInstance();
    windowClass.lpszClassName = ClassName;
    RegisterClassW(&windowClass);
    HWND made = CreateWindowExW(0, ClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, OwnInstance(), NULL);
    window = made;
    Report(made ? "window" : "no-window");
    while (*state != StateWordStop) {
        MSG message;
        while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
    window = NULL;
    if (made) DestroyWindow(made);
    UnregisterClassW(ClassName, OwnInstance());
}
