/* A library whose DllMain starts a thread and waits until it is ready. A new thread cannot
   start while the loader lock is held, and DllMain runs under it: DllMain never returns. */
#include <windows.h>

#include "report.h"

static HANDLE ready;

static DWORD WINAPI Prepare(LPVOID unused) {
    (void)unused;
    SetEvent(ready);
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        Report("attach");
        ready = CreateEventW(NULL, TRUE, FALSE, NULL);
        HANDLE preparer = CreateThread(NULL, 0, Prepare, NULL, 0, NULL);
        if (preparer) CloseHandle(preparer);
        WaitForSingleObject(ready, INFINITE);
        Report("ready");
    }
    if (reason == DLL_PROCESS_DETACH) Report("detach");
    return TRUE;
}

__declspec(dllexport) int ExportState(void) {
    return 1;
}
