/* What the benchmark programs and the benchmark daemon share: a named block counting EntryPoint calls. */
#pragma once

#include <windows.h>

#define BENCH_SHARED_NAME L"Local\\KestruneBenchShared"
#define BENCH_ALL_ENTERED_NAME L"Local\\KestruneBenchAllEntered"
#define BENCH_QUIT_NAME L"Local\\KestruneBenchQuit"

typedef struct BenchShared {
    volatile LONG target;   /* EntryPoint calls to wait for */
    volatile LONG entries;  /* EntryPoint calls so far */
    volatile LONGLONG firstEntry; /* performance counter at the first EntryPoint call */
} BenchShared;
