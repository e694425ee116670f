/* Ends in the middle of the host's list refresh. Its thread hooks the host's daemon list
   (same process); the first time, with the host's window shown, that the host writes a
   cell of this daemon's row, the hook takes itself out, lets the thread return and waits,
   on the host's thread, until the thread has ended; then the host's write goes on. */
#include <windows.h>

#include <commctrl.h>

#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;
static volatile LONG asked;
static HANDLE ownThread;
static HWND list;
static WNDPROC original;
static wchar_t ownPath[MAX_PATH];

static HWND HostMainWindow(void) {
    HWND window = NULL;
    while ((window = FindWindowExW(NULL, window, L"KestruneMainWindow", NULL)) != NULL) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId()) return window;
    }
    return NULL;
}

static BOOL IsOwnRow(int row) {
    wchar_t path[MAX_PATH];
    LVITEMW item;
    ZeroMemory(&item, sizeof item);
    item.iSubItem = 4;
    item.pszText = path;
    item.cchTextMax = MAX_PATH;
    if (!CallWindowProcW(original, list, LVM_GETITEMTEXTW, (WPARAM)row, (LPARAM)&item)) return FALSE;
    return lstrcmpiW(path, ownPath) == 0;
}

static LRESULT CALLBACK ListHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC next = original;
    if (message == LVM_SETITEMTEXTW && !asked && IsWindowVisible(GetParent(window)) && IsOwnRow((int)wParam)) {
        SetWindowLongPtrW(window, GWLP_WNDPROC, (LONG_PTR)original);
        ReportNumber("ending-in-refresh-column", ((const LVITEMW*)lParam)->iSubItem);
        asked = 1;
        ReportNumber("thread-ended", WaitForSingleObject(ownThread, 10000) == WAIT_OBJECT_0);
        CloseHandle(ownThread);
    }
    return CallWindowProcW(next, window, message, wParam, lParam);
}

void EntryPoint(void) {
    HMODULE self = NULL;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCWSTR)(void*)&ListHook, &self);
    GetModuleFileNameW(self, ownPath, MAX_PATH);
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &ownThread, SYNCHRONIZE, FALSE, 0);
    HWND main = HostMainWindow();
    list = main ? GetDlgItem(main, 52) : NULL;
    if (list) original = (WNDPROC)SetWindowLongPtrW(list, GWLP_WNDPROC, (LONG_PTR)ListHook);
    Report(original ? "entry" : "no-list");
    while (!asked && state != StateWordStop) Sleep(5);
    /* Asked to stop first: the hook must not outlive the library. */
    if (!asked && original) SetWindowLongPtrW(list, GWLP_WNDPROC, (LONG_PTR)original);
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
