/* Refuses to load: DllMain fails. */
#include <kestrune/daemon.h>

#include "report.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        Report("attach-refused");
        return FALSE;
    }
    return TRUE;
}

void EntryPoint(void) {
    Report("entry");
}
