/* What the benchmark programs and the benchmark daemon share: a named block in which the
   daemons count their EntryPoint calls, and one daemon at a time (the probe) keeps a
   heartbeat and notes when it sees its stop request. */
#pragma once

#include <windows.h>

#define BENCH_SHARED_NAME L"Local\\KestruneBenchShared"
#define BENCH_ALL_ENTERED_NAME L"Local\\KestruneBenchAllEntered"
#define BENCH_QUIT_NAME L"Local\\KestruneBenchQuit"

/* No daemon is the probe. */
#define BENCH_NO_PROBE (-1)

typedef struct BenchShared {
    volatile LONG target;           /* EntryPoint calls to wait for */
    volatile LONG entries;          /* EntryPoint calls so far */
    volatile LONGLONG firstEntry;   /* performance counter at the first EntryPoint call */
    volatile LONGLONG lastEntry;    /* performance counter at the call that reached target */
    volatile LONG pollMilliseconds; /* how often an ordinary daemon reads its state word (0: 20) */
    volatile LONG probe;            /* number of the daemon that keeps the heartbeat */
    volatile LONGLONG heartbeat;    /* performance counter, renewed by the probe about every millisecond */
    volatile LONGLONG stopSeen;     /* performance counter when the probe read 255 */
    volatile LONG returned;         /* EntryPoint calls that have returned */
    volatile LONG probeThread;      /* the probe's thread id */
} BenchShared;
