/* Waits for work on a condition variable under a lock of its own; each 100 ms time-out
   brings it back to look at its word. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;
static SRWLOCK queueLock = SRWLOCK_INIT;
static CONDITION_VARIABLE workQueued = CONDITION_VARIABLE_INIT;
static int pending;

void EntryPoint(void) {
    Report("entry");
    AcquireSRWLockExclusive(&queueLock);
    while (state != StateWordStop) {
        if (pending > 0) {
            --pending;
        } else {
            SleepConditionVariableSRW(&workQueued, &queueLock, 100, 0);
        }
    }
    ReleaseSRWLockExclusive(&queueLock);
    Report("stop-seen");
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
