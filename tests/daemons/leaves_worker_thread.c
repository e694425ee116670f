/* Counts on a worker thread of its own, and returns at 255 without ending it. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;
static volatile LONG counted;
static volatile LONG workerStop; /* never set */

static DWORD WINAPI Count(LPVOID unused) {
    (void)unused;
    while (!workerStop) {
        InterlockedIncrement(&counted);
        Sleep(10);
    }
    return 0;
}

void EntryPoint(void) {
    Report("entry");
    HANDLE worker = CreateThread(NULL, 0, Count, NULL, 0, NULL);
    if (worker) CloseHandle(worker);
    while (state != StateWordStop) Sleep(10);
    Report("stop-seen");
    Report("return");
}

StateWord* EntryState(void) {
    /* A new run starts with a clear word, even in a library that stayed loaded. */
    state = 0;
    return &state;
}
