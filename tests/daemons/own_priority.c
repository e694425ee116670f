/* Gives its own thread priority 3, which only a thread of a real-time process may take:
   it moves the process to the real-time class for that one call and back to normal.
   The thread keeps 3 afterwards. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;

void EntryPoint(void) {
    HANDLE self = GetCurrentThread();
    Report("entry");
    BOOL raised = SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS);
    BOOL set = raised && SetThreadPriority(self, 3);
    SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
    ReportNumber(set ? "own-priority" : "refused", GetThreadPriority(self));
    while (state != StateWordStop) Sleep(10);
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
