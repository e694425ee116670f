/*
 * my_daemon: the smallest Kestrune daemon with a menu. Rename it and make it yours.
 *
 * EntryPoint runs on a thread of its own until Kestrune writes StateWordStop into the
 * state word that EntryState hands out. The thread owns a message-only window and pumps
 * its messages, so the commands of the menu that EntryMenu builds arrive here as WM_COMMAND.
 * "Say hello" appends a line to my_daemon.log beside the DLL.
 */
#include <kestrune/daemon.h>

enum { CmdSayHello = 1 }; /* the menu's own identifiers: keep them below 200 */

static StateWord state;
static HWND volatile commandWindow; /* written by the daemon's thread, read by EntryMenu */
static const wchar_t WindowClass[] = L"MyDaemonCommands";

static HMODULE OwnModule(void) {
    HMODULE module = NULL;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCWSTR)(void*)&OwnModule, &module);
    return module;
}

static void SayHello(void) {
    wchar_t path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameW(OwnModule(), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    lstrcpyW(path + length - 4, L".log"); /* my_daemon.dll -> my_daemon.log */
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, "hello\r\n", 7, &written, NULL);
    CloseHandle(file);
}

static LRESULT CALLBACK CommandWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == CmdSayHello) {
        SayHello();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void EntryPoint(void) {
    WNDCLASSW windowClass = {0};
    windowClass.lpfnWndProc = CommandWindowProc;
    windowClass.hInstance = OwnModule();
    windowClass.lpszClassName = WindowClass;
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, WindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, windowClass.hInstance, NULL);
    commandWindow = window;
    while (state != StateWordStop) {
        MSG message;
        MsgWaitForMultipleObjects(0, NULL, FALSE, 100, QS_ALLINPUT);
        while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    /* Everything the daemon made goes before it returns: the DLL is unloaded next. */
    commandWindow = NULL;
    if (window) DestroyWindow(window);
    UnregisterClassW(WindowClass, windowClass.hInstance);
}

StateWord* EntryState(void) {
    state = 0; /* a new run starts with a clear word, even if Kestrune kept this copy loaded */
    return &state;
}

/* Called on Kestrune's main thread: a new menu every time, handed over to Kestrune. */
int WINAPI EntryMenu(HMENU* menu, HWND* window, INT_PTR placement) {
    (void)placement;
    if (!commandWindow) return 0;
    HMENU popup = CreatePopupMenu();
    if (!popup) return 0;
    AppendMenuW(popup, MF_STRING, CmdSayHello, L"Say hello");
    *menu = popup;
    *window = commandWindow;
    return 1;
}
