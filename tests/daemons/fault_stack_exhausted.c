/* Uses up its stack down to the last few pages and raises the stack overflow exception
   there, as the system does when a thread runs into the guard page at the end of its stack.
   (Wine ends such a thread without raising anything, so the daemon raises it itself.) */
#include <kestrune/daemon.h>

#include "report.h"

/* Left to the exception, like the pages the system keeps below the guard page. */
#define LEFT_OVER (12 * 1024)

static volatile ULONG_PTR lowest;

static void Descend(void) {
    volatile char frame[256];
    frame[0] = 1;
    if ((ULONG_PTR)&frame[0] > lowest) {
        Descend();
        frame[0]++; /* not a tail call: every level keeps its frame */
        return;
    }
    RaiseException(EXCEPTION_STACK_OVERFLOW, EXCEPTION_NONCONTINUABLE, 0, NULL);
}

void EntryPoint(void) {
    ULONG_PTR low = 0, high = 0;
    Report("entry");
    GetCurrentThreadStackLimits(&low, &high);
    /* The reservation's bottom two pages are the no-access and guard pages. */
    lowest = low + 2 * 4096 + LEFT_OVER;
    Descend();
    Report("survived");
}
