/* Reports the error mode its loading thread runs under, and unloading. */
#include <kestrune/daemon.h>

#include "report.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) ReportNumber("error-mode", (long long)GetThreadErrorMode());
    if (reason == DLL_PROCESS_DETACH) Report("detach");
    return TRUE;
}

void EntryPoint(void) {
    Report("entry");
}
