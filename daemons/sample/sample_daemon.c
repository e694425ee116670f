/*
 * A sample Kestrune daemon: copy this folder and make it yours.
 *
 * It keeps a notes file, sample_daemon.txt, beside its DLL. Its menu, which Kestrune
 * shows in the daemon list's context menu and in the tray menu, writes the current
 * time into the file, switches a once-a-minute heartbeat line on and off, and empties
 * the file.
 *
 * What it shows:
 *   - EntryPoint runs the daemon on its own thread and returns when Kestrune writes
 *     StateWordStop into the state word that EntryState hands out;
 *   - the thread owns a message-only window and pumps its messages while it polls the
 *     state word, so the commands of the menu arrive on this thread as WM_COMMAND;
 *   - EntryMenu, called on Kestrune's main thread, builds a new menu on every call
 *     from the daemon's current state and never keeps the menu it hands over;
 *   - everything the daemon opened (window, timer, class) is released before it returns.
 *
 * Kestrune accepts EntryState, the state word and EntryMenu only at or above the export
 * with ordinal 1. sample_daemon.def gives EntryPoint ordinal 1, and EntryPoint is defined
 * before the other two exports (the build keeps functions in source order).
 */
#include <kestrune/daemon.h>

/* Identifiers of this daemon's menu items: its own, small numbers. */
enum { CmdWriteTime = 1, CmdHeartbeat = 2, CmdClearNotes = 3, CmdNoteCount = 4 };

enum { HeartbeatTimer = 1, HeartbeatPeriod = 60 * 1000, PollPeriod = 100 };

static const wchar_t WindowClass[] = L"KestruneSampleDaemon";

static StateWord state;
/* Written by the daemon's thread, read by EntryMenu on Kestrune's main thread. */
static HWND volatile commandWindow;
static volatile LONG heartbeatOn;
static volatile LONG notesWritten;

static HMODULE OwnModule(void) {
    HMODULE module = NULL;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCWSTR)(void*)&OwnModule, &module);
    return module;
}

/* "<folder of this DLL>\sample_daemon.txt" */
static BOOL NotesPath(wchar_t* path, DWORD size) {
    DWORD length = GetModuleFileNameW(OwnModule(), path, size);
    if (length == 0 || length >= size) return FALSE;
    while (length > 0 && path[length - 1] != L'\\' && path[length - 1] != L'/') --length;
    if (length + 32 >= size) return FALSE;
    lstrcpyW(path + length, L"sample_daemon.txt");
    return TRUE;
}

static void AppendNote(const char* what) {
    wchar_t path[MAX_PATH + 32];
    if (!NotesPath(path, MAX_PATH)) return;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[96];
    int length = wsprintfA(line, "%04u-%02u-%02u %02u:%02u:%02u %s\r\n", now.wYear, now.wMonth, now.wDay, now.wHour,
                           now.wMinute, now.wSecond, what);
    DWORD written = 0;
    WriteFile(file, line, (DWORD)length, &written, NULL);
    CloseHandle(file);
    InterlockedIncrement(&notesWritten);
}

static void ClearNotes(void) {
    wchar_t path[MAX_PATH + 32];
    if (NotesPath(path, MAX_PATH)) DeleteFileW(path);
    InterlockedExchange(&notesWritten, 0);
}

static void ToggleHeartbeat(HWND window) {
    if (heartbeatOn) {
        KillTimer(window, HeartbeatTimer);
        InterlockedExchange(&heartbeatOn, 0);
    } else if (SetTimer(window, HeartbeatTimer, HeartbeatPeriod, NULL)) {
        InterlockedExchange(&heartbeatOn, 1);
    }
}

/* Runs on the daemon's thread: the thread that created the window receives its messages. */
static LRESULT CALLBACK CommandWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case CmdWriteTime:
            AppendNote("note");
            break;
        case CmdHeartbeat:
            ToggleHeartbeat(window);
            break;
        case CmdClearNotes:
            ClearNotes();
            break;
        default:
            break;
        }
        return 0;
    case WM_TIMER:
        if (wParam == HeartbeatTimer) AppendNote("heartbeat");
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

static HWND CreateCommandWindow(void) {
    WNDCLASSEXW windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = CommandWindowProc;
    windowClass.hInstance = OwnModule();
    windowClass.lpszClassName = WindowClass;
    /* A class left behind by an earlier load that was unloaded by force is replaced. */
    if (!RegisterClassExW(&windowClass)) {
        UnregisterClassW(WindowClass, windowClass.hInstance);
        if (!RegisterClassExW(&windowClass)) return NULL;
    }
    return CreateWindowExW(0, WindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, windowClass.hInstance, NULL);
}

void EntryPoint(void) {
    HWND window = CreateCommandWindow();
    if (!window) return;
    commandWindow = window;
    /* Poll the state word, and handle the window's messages as they come. */
    while (state != StateWordStop) {
        MSG message;
        MsgWaitForMultipleObjects(0, NULL, FALSE, PollPeriod, QS_ALLINPUT);
        while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    commandWindow = NULL;
    if (heartbeatOn) KillTimer(window, HeartbeatTimer);
    heartbeatOn = 0;
    DestroyWindow(window);
    UnregisterClassW(WindowClass, OwnModule());
}

StateWord* EntryState(void) {
    return &state;
}

KESTRUNE_EXPORT_ENTRY_MENU

int WINAPI EntryMenu(HMENU* menu, HWND* window, INT_PTR placement) {
    (void)placement; /* the same menu in the context menu and in the tray menu */
    HWND target = commandWindow;
    if (!target) return 0; /* not ready yet, or on its way out: no menu */
    HMENU popup = CreatePopupMenu();
    if (!popup) return 0;
    wchar_t count[64];
    wsprintfW(count, L"Notes written: %ld", notesWritten);
    AppendMenuW(popup, MF_STRING, CmdWriteTime, L"Write the time to sample_daemon.txt");
    AppendMenuW(popup, MF_STRING | (heartbeatOn ? MF_CHECKED : MF_UNCHECKED), CmdHeartbeat, L"Heartbeat every minute");
    AppendMenuW(popup, MF_SEPARATOR, 0, NULL);
    AppendMenuW(popup, MF_STRING, CmdClearNotes, L"Clear the notes");
    AppendMenuW(popup, MF_STRING | MF_GRAYED, CmdNoteCount, count);
    /* The menu is Kestrune's from here on: it destroys it after showing it. */
    *menu = popup;
    *window = target;
    return 1;
}
