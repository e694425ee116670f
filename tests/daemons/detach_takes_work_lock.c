/* Works under a lock of its own nearly all the time, and its DllMain takes that lock at
   unloading so as not to tear down under work in hand. Has no state word: stopping it ends
   its thread by force. */
#include <kestrune/daemon.h>

#include "report.h"

static CRITICAL_SECTION workLock;
static volatile unsigned batches;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&workLock);
        Report("attach");
    }
    if (reason == DLL_PROCESS_DETACH) {
        /* Waits for the batch in hand to be finished. */
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
        unsigned value = batches;
        for (int i = 0; i < 1000; ++i) value = value * 1664525u + 1013904223u;
        /* Waits for its device with the batch in hand. */
        Sleep(2);
        batches = value;
        LeaveCriticalSection(&workLock);
    }
}
