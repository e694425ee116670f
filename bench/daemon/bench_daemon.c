/* Counts its EntryPoint call in the shared block, signals when it is the last one, then
   waits for its state word like any cooperative daemon. */
#include <kestrune/daemon.h>

#include "bench_shared.h"

static StateWord state;

void EntryPoint(void) {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_WRITE, FALSE, BENCH_SHARED_NAME);
    if (mapping) {
        BenchShared *shared = (BenchShared *)MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(BenchShared));
        if (shared) {
            LONG entries = InterlockedIncrement(&shared->entries);
            if (entries == 1) {
                LARGE_INTEGER now;
                QueryPerformanceCounter(&now);
                shared->firstEntry = now.QuadPart;
            }
            if (entries == shared->target) {
                HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, BENCH_ALL_ENTERED_NAME);
                if (done) {
                    SetEvent(done);
                    CloseHandle(done);
                }
            }
            UnmapViewOfFile(shared);
        }
        CloseHandle(mapping);
    }
    while (state != StateWordStop) Sleep(20);
}

StateWord *EntryState(void) {
    return &state;
}
