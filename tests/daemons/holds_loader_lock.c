/* At 255 it saves through an exporter library it loads only then, from exporter\bin\ below
   its own folder. That library's DllMain never returns (waits_in_dllmain.c): this thread
   keeps the loader lock for good. */
#include <wchar.h>

#include <kestrune/daemon.h>

#include "report.h"

static StateWord state;

static void SaveThroughExporter(void) {
    HMODULE self = NULL;
    wchar_t path[MAX_PATH + 64];
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCWSTR)(void*)&SaveThroughExporter, &self);
    DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    wchar_t* separator = wcsrchr(path, L'\\');
    if (!separator) return;
    wcscpy(separator + 1, L"exporter\\bin\\waits_in_dllmain.dll");
    Report("loading-exporter");
    HMODULE exporter = LoadLibraryW(path);
    Report(exporter ? "saved" : "no-exporter");
    if (exporter) FreeLibrary(exporter);
}

void EntryPoint(void) {
    Report("entry");
    while (state != StateWordStop) Sleep(10);
    Report("stop-seen");
    SaveThroughExporter();
    Report("return");
}

StateWord* EntryState(void) {
    return &state;
}
