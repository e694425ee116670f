/* Starts a thread through the C runtime, whose threads begin in the runtime's DLL, not in
   this one; that thread starts another the same way. Both are left running. */
#include <process.h>

#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;
static volatile LONG workersEnd; /* never set */

static void __cdecl Grandchild(void* unused) {
    (void)unused;
    while (!workersEnd) Sleep(20);
}

static unsigned __stdcall Child(void* unused) {
    (void)unused;
    if (_beginthread(Grandchild, 0, NULL) != (uintptr_t)-1) Report("grandchild");
    while (!workersEnd) Sleep(20);
    return 0;
}

void EntryPoint(void) {
    Report("entry");
    HANDLE child = (HANDLE)_beginthreadex(NULL, 0, Child, NULL, 0, NULL);
    if (child) CloseHandle(child);
    while (state != StateWordStop) Sleep(10);
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
