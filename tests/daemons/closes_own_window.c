/* A daemon with a menu, whose thread destroys the menu's window while the host shows the
   menu. "<path>.close" makes it destroy the window and make another (reported as
   "window-replaced"); "<path>.quit" makes it destroy the window and return. Every
   WM_COMMAND that reaches a window of this daemon is reported as "command <id>". */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;
static HWND volatile commandWindow;
static wchar_t closeSignal[MAX_PATH + 8];
static wchar_t quitSignal[MAX_PATH + 8];

static LRESULT CALLBACK CommandWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) ReportNumber("command", (long long)wParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

static HWND CreateCommandWindow(void) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    if (window) SetWindowLongPtrW(window, GWLP_WNDPROC, (LONG_PTR)CommandWindowProc);
    return window;
}

static void MakeSignalPaths(void) {
    HMODULE self = NULL;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCWSTR)(void*)&CommandWindowProc, &self);
    DWORD length = GetModuleFileNameW(self, closeSignal, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    lstrcpyW(quitSignal, closeSignal);
    lstrcpyW(closeSignal + length, L".close");
    lstrcpyW(quitSignal + length, L".quit");
}

/* Takes the signal file away and tells whether it was there. */
static BOOL TakeSignal(const wchar_t* signal) {
    if (GetFileAttributesW(signal) == INVALID_FILE_ATTRIBUTES) return FALSE;
    DeleteFileW(signal);
    return TRUE;
}

void EntryPoint(void) {
    MakeSignalPaths();
    commandWindow = CreateCommandWindow();
    Report("entry");
    while (state != StateWordStop) {
        MSG message;
        MsgWaitForMultipleObjects(0, NULL, FALSE, 20, QS_ALLINPUT);
        while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        if (TakeSignal(closeSignal)) {
            HWND old = commandWindow;
            DestroyWindow(old);
            Report("window-destroyed");
            commandWindow = CreateCommandWindow();
            ReportNumber("window-replaced", commandWindow && commandWindow != old);
        }
        if (TakeSignal(quitSignal)) {
            DestroyWindow(commandWindow);
            commandWindow = NULL;
            Report("window-destroyed");
            break;
        }
    }
    if (commandWindow) DestroyWindow(commandWindow);
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}

KESTRUNE_EXPORT_ENTRY_MENU

int WINAPI EntryMenu(HMENU* menu, HWND* window, INT_PTR placement) {
    HMENU own = CreatePopupMenu();
    (void)placement;
    AppendMenuW(own, MF_STRING, 1, L"One");
    AppendMenuW(own, MF_STRING, 2, L"Two");
    AppendMenuW(own, MF_STRING, 3, L"Three");
    *menu = own;
    *window = commandWindow;
    return 1;
}
