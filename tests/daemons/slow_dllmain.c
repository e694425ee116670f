/* Takes three seconds to load. */
#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        Sleep(3000);
        Report("attach");
    }
    if (reason == DLL_PROCESS_DETACH) Report("detach");
    return TRUE;
}

void EntryPoint(void) {
    Report("entry");
    while (state != StateWordStop) Sleep(10);
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
