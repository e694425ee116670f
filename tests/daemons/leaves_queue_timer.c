/* Ticks on a timer-queue timer every 20 ms, and returns at 255 with the timer still armed. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;
static volatile LONG ticks;

static void CALLBACK Tick(PVOID unused, BOOLEAN fired) {
    (void)unused;
    (void)fired;
    InterlockedIncrement(&ticks);
}

void EntryPoint(void) {
    HANDLE timer = NULL;
    Report("entry");
    if (!CreateTimerQueueTimer(&timer, NULL, Tick, NULL, 20, 20, WT_EXECUTEDEFAULT)) Report("no-timer");
    while (state != StateWordStop) Sleep(10);
    Report("stop-seen");
    Report("return");
}

StateWord* EntryState(void) {
    /* A new run starts with a clear word, even in a library that stayed loaded. */
    state = 0;
    return &state;
}
