/* A thread-pool timer every 20 ms sets an event that a registered wait answers; both are
   left in place when it returns at 255. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;
static HANDLE workReady;
static volatile LONG ticks, handled;

static void CALLBACK Tick(PTP_CALLBACK_INSTANCE instance, PVOID unused, PTP_TIMER timer) {
    (void)instance;
    (void)unused;
    (void)timer;
    InterlockedIncrement(&ticks);
    SetEvent(workReady);
}

static void CALLBACK Handle(PVOID unused, BOOLEAN timedOut) {
    (void)unused;
    if (!timedOut) InterlockedIncrement(&handled);
}

void EntryPoint(void) {
    HANDLE wait = NULL;
    Report("entry");
    workReady = CreateEventW(NULL, FALSE, FALSE, NULL);
    if (!RegisterWaitForSingleObject(&wait, workReady, Handle, NULL, INFINITE, WT_EXECUTEDEFAULT)) Report("no-wait");
    PTP_TIMER timer = CreateThreadpoolTimer(Tick, NULL, NULL);
    if (timer) {
        ULARGE_INTEGER due;
        FILETIME start;
        due.QuadPart = (ULONGLONG) - (20 * 10000LL); /* 20 ms from now */
        start.dwLowDateTime = due.LowPart;
        start.dwHighDateTime = due.HighPart;
        SetThreadpoolTimer(timer, &start, 20, 0);
    } else {
        Report("no-timer");
    }
    while (state != StateWordStop) Sleep(10);
    Report("stop-seen");
    Report("return");
}

StateWord* EntryState(void) {
    /* A new run starts with a clear word, even in a library that stayed loaded. */
    state = 0;
    return &state;
}
