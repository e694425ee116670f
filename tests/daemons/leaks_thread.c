/* Starts a worker thread of its own and returns without ending it. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;
static volatile LONG workerEnds; /* never set */

static DWORD WINAPI Worker(LPVOID unused) {
    (void)unused;
    while (!workerEnds) Sleep(20);
    return 0;
}

void EntryPoint(void) {
    Report("entry");
    HANDLE worker = CreateThread(NULL, 0, Worker, NULL, 0, NULL);
    if (worker) CloseHandle(worker);
    while (state != StateWordStop) Sleep(10);
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
