/* Stops when asked, but its way out leaves its work lock held; its DllMain takes that lock at
   unloading, so the detach waits for good. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;
static CRITICAL_SECTION workLock;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&workLock);
        Report("attach");
    }
    if (reason == DLL_PROCESS_DETACH) {
        Report("detach-waits");
        EnterCriticalSection(&workLock);
        LeaveCriticalSection(&workLock);
        DeleteCriticalSection(&workLock);
        Report("detach");
    }
    return TRUE;
}

void EntryPoint(void) {
    Report("entry");
    for (;;) {
        EnterCriticalSection(&workLock);
        if (state == StateWordStop) break; /* returns with the lock in hand */
        LeaveCriticalSection(&workLock);
        Sleep(10);
    }
    Report("stop-seen");
    Report("return");
}

StateWord* EntryState(void) {
    /* A new run starts with a clear word, even in a library that stayed loaded. */
    state = 0;
    return &state;
}
