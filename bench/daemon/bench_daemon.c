/* The benchmark daemon, copied as d00000.dll, d00001.dll, ...: counts its EntryPoint call
   in the shared block and signals when it is the last one, then waits for its state word
   like any cooperative daemon. The daemon whose number is the block's probe reads its
   word about every millisecond and renews the heartbeat meanwhile, so that a benchmark
   sees when it is paused (the heartbeat stops) and when it read 255. */
#include <kestrune/daemon.h>

#include "bench_shared.h"

static StateWord state;

extern IMAGE_DOS_HEADER __ImageBase;

static LONGLONG Now(void) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

/* The number in this library's file name: 42 for d00042.dll, -2 without digits. */
static LONG OwnNumber(void) {
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW((HMODULE)&__ImageBase, path, MAX_PATH);
    DWORD start = length;
    while (start > 0 && path[start - 1] != L'\\' && path[start - 1] != L'/') --start;
    LONG number = 0;
    BOOL digits = FALSE;
    for (DWORD i = start; i < length && path[i] != L'.'; ++i) {
        if (path[i] >= L'0' && path[i] <= L'9') {
            number = number * 10 + (path[i] - L'0');
            digits = TRUE;
        }
    }
    return digits ? number : -2;
}

static void CountEntry(BenchShared* shared) {
    LONGLONG now = Now();
    LONG entries = InterlockedIncrement(&shared->entries);
    if (entries == 1) shared->firstEntry = now;
    if (entries == shared->target) {
        shared->lastEntry = now;
        HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, BENCH_ALL_ENTERED_NAME);
        if (done) {
            SetEvent(done);
            CloseHandle(done);
        }
    }
}

void EntryPoint(void) {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, BENCH_SHARED_NAME);
    BenchShared* shared =
        mapping ? (BenchShared*)MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(BenchShared)) : NULL;
    if (!shared) {
        while (state != StateWordStop) Sleep(20);
        if (mapping) CloseHandle(mapping);
        return;
    }
    CountEntry(shared);
    LONG self = OwnNumber();
    for (;;) {
        BOOL probe = shared->probe == self;
        if (state == StateWordStop) {
            if (probe) shared->stopSeen = Now();
            break;
        }
        if (probe) {
            shared->probeThread = (LONG)GetCurrentThreadId();
            shared->heartbeat = Now();
            Sleep(1);
        } else {
            Sleep(shared->pollMilliseconds > 0 ? (DWORD)shared->pollMilliseconds : 20);
        }
    }
    InterlockedIncrement(&shared->returned);
    UnmapViewOfFile(shared);
    CloseHandle(mapping);
}

StateWord* EntryState(void) {
    return &state;
}
