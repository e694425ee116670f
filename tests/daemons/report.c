#include "report.h"

#include <stdio.h>
#include <string.h>

static HMODULE OwnModule(void) {
    HMODULE module = NULL;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCWSTR)(void*)&OwnModule, &module);
    return module;
}

static void AppendLine(const wchar_t* suffix, const char* text) {
    wchar_t path[MAX_PATH + 8];
    DWORD length = GetModuleFileNameW(OwnModule(), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    wcscpy(path + length, suffix);
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text, (DWORD)strlen(text), &written, NULL);
    CloseHandle(file);
}

/* Each event goes to "<path>.log", and with the performance counter's reading to "<path>.times",
   so that tests can order events of several daemons. */
void Report(const char* event) {
    char line[256];
    _snprintf(line, sizeof line - 1, "%s\n", event);
    line[sizeof line - 1] = 0;
    AppendLine(L".log", line);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    _snprintf(line, sizeof line - 1, "%s %lld\n", event, (long long)now.QuadPart);
    line[sizeof line - 1] = 0;
    AppendLine(L".times", line);
}

void ReportNumber(const char* event, long long number) {
    char line[200];
    _snprintf(line, sizeof line - 1, "%s %lld", event, number);
    line[sizeof line - 1] = 0;
    Report(line);
}
