/* Does what ordinary daemons do on their first run in a process: hands work to the
   system's thread pool, sets a timer there, and reads the registry, then watches its
   state word. Whatever the system keeps from that for the process is not the daemon's. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;

static void CALLBACK Work(PTP_CALLBACK_INSTANCE instance, PVOID done) {
    (void)instance;
    SetEvent((HANDLE)done);
}

static DWORD WINAPI LegacyWork(LPVOID done) {
    SetEvent((HANDLE)done);
    return 0;
}

static void CALLBACK Timer(PVOID done, BOOLEAN fired) {
    (void)fired;
    SetEvent((HANDLE)done);
}

static void UseThreadPool(void) {
    HANDLE done = CreateEventW(NULL, FALSE, FALSE, NULL);
    HANDLE timer = NULL;
    if (!done) return;
    if (TrySubmitThreadpoolCallback(Work, done, NULL) && WaitForSingleObject(done, 10000) == WAIT_OBJECT_0)
        Report("pool-work");
    if (QueueUserWorkItem(LegacyWork, done, WT_EXECUTEDEFAULT) && WaitForSingleObject(done, 10000) == WAIT_OBJECT_0)
        Report("pool-legacy-work");
    if (CreateTimerQueueTimer(&timer, NULL, Timer, done, 1, 0, WT_EXECUTEONLYONCE)) {
        if (WaitForSingleObject(done, 10000) == WAIT_OBJECT_0) Report("pool-timer");
        DeleteTimerQueueTimer(NULL, timer, INVALID_HANDLE_VALUE);
    }
    CloseHandle(done);
}

static void ReadRegistry(void) {
    HKEY key = NULL;
    DWORD subkeys = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    if (RegQueryInfoKeyW(key, NULL, NULL, NULL, &subkeys, NULL, NULL, NULL, NULL, NULL, NULL, NULL) == ERROR_SUCCESS)
        Report("registry-read");
    RegCloseKey(key);
}

void EntryPoint(void) {
    Report("entry");
    UseThreadPool();
    ReadRegistry();
    while (state != StateWordStop) Sleep(10);
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
