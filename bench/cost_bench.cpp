// What each loaded daemon costs the host process, against the bare loader of the same
// daemons: committed and reserved memory (a walk of the address space), handles (the
// system's handle table) and threads.
//   cost_bench.exe [--settle S] [--csv FILE] N...
// And how many daemons a host can hold: with --capacity N the host is started with N
// daemons, more than it can hold; once its rows and EntryPoint calls stop growing, the
// benchmark counts rows by state, closes the host as the user would and notes how it ended.
//   cost_bench.exe --capacity N [--quiet-seconds S] [--csv FILE]
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_common.h"
#include "host_remote.h"
#include "staging.h"
#include "test_daemons.h"

using namespace bench;

namespace {

constexpr double Kilobyte = 1024.0;

// The figures of one process.
struct Figures {
    AddressSpace space;
    long handles = -1;
    long threads = -1;
    double workingSetKb = -1;
};

Figures Take(HANDLE process, DWORD processId) {
    Figures figures;
    figures.space = WalkAddressSpace(process);
    figures.handles = CountHandles(processId);
    figures.threads = CountThreads(processId);
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(process, &counters, sizeof counters))
        figures.workingSetKb = counters.WorkingSetSize / Kilobyte;
    return figures;
}

void WriteFigures(Csv& csv, const char* program, int count, const Figures& f) {
    WriteCsv(csv, "%s,%d,%.0f,%.0f,%.0f,%.0f,%.0f,%zu,%ld,%ld,%.0f,%.2f", program, count,
             f.space.privateCommitted / Kilobyte, f.space.imageCommitted / Kilobyte, f.space.mappedCommitted / Kilobyte,
             f.space.reserved / Kilobyte, f.space.used / Kilobyte, f.space.regions, f.handles, f.threads,
             f.workingSetKb, LoadAverage());
}

HANDLE OpenForQueries(DWORD processId) {
    return OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
}

int MeasureCosts(const Arguments& arguments) {
    std::vector<int> counts = arguments.counts.empty() ? std::vector<int>{0, 100, 500, 1000, 2000} : arguments.counts;
    DWORD settle = static_cast<DWORD>(arguments.Number(L"settle", 5)) * 1000;
    Bench bench;
    if (!OpenBench(bench)) return 2;
    bench.shared->pollMilliseconds = 1000;
    Csv csv = OpenCsv(arguments,
                      "program,daemons,private_kb,image_kb,mapped_kb,reserved_kb,used_kb,regions,handles,threads,"
                      "working_set_kb,load");
    for (int count : counts) {
        StagedFolder stage = StageDaemons(count);
        HostRun host = StartHost(bench, stage, count);
        Sleep(settle);
        if (HANDLE process = OpenForQueries(host.host->ProcessId())) {
            WriteFigures(csv, "host", count, Take(process, host.host->ProcessId()));
            CloseHandle(process);
        }
        CloseHost(host);
        BareRun bare = StartBare(bench, stage, count, BareMode::Wait);
        Sleep(settle);
        if (HANDLE process = OpenForQueries(bare.process.dwProcessId)) {
            WriteFigures(csv, "bare", count, Take(process, bare.process.dwProcessId));
            CloseHandle(process);
        }
        EndBare(bench, bare);
        RemoveStage(stage);
    }
    CloseCsv(csv);
    CloseBench(bench);
    return 0;
}

int MeasureCapacity(const Arguments& arguments, int count) {
    DWORD quiet = static_cast<DWORD>(arguments.Number(L"quiet-seconds", 120)) * 1000;
    Bench bench;
    if (!OpenBench(bench)) return 2;
    bench.shared->pollMilliseconds = 1000;
    Csv csv = OpenCsv(arguments,
                      "daemons,rows,running,not_started,other_rows,entries,threads,used_kb,reserved_kb,private_kb,"
                      "host_running_before_close,close_ms,exit_code,other_windows");
    StagedFolder stage = StageDaemons(count);
    std::fprintf(stderr, "staged %d daemons\n", count);
    HostRun run = StartHost(bench, stage, 0);
    auto& host = *run.host;
    // Loading adds rows, then the threads start: wait until neither has moved for a while.
    int rows = -1;
    long entries = -1;
    LONGLONG lastChange = Now();
    while (host.IsRunning() && MillisecondsSince(lastChange) < quiet) {
        int nowRows = host.RowCount();
        long nowEntries = bench.shared->entries;
        if (nowRows != rows || nowEntries != entries) {
            rows = nowRows;
            entries = nowEntries;
            lastChange = Now();
            std::fprintf(stderr, "%.0f s: %d rows, %ld EntryPoint calls\n", MillisecondsSince(run.begin) / 1000, rows,
                         entries);
        }
        Sleep(5000);
    }
    bool running = host.IsRunning();
    int started = 0, notStarted = 0, other = 0;
    // The 32-bit host runs emulated here, where another process cannot read its memory
    // reliably: its running daemons are those whose EntryPoint ran, the rest are not started.
    if (running && sizeof(void*) == 4) {
        started = static_cast<int>(bench.shared->entries);
        notStarted = rows - started;
    }
    for (int row = 0; running && sizeof(void*) == 8 && row < rows; ++row) {
        std::wstring status = host.Cell(row, 1);
        if (status == L" \u2605") {
            ++started;
        } else if (status == L" \u2606") {
            ++notStarted;
        } else {
            ++other;
        }
    }
    Figures figures;
    if (HANDLE process = running ? OpenForQueries(host.ProcessId()) : nullptr) {
        figures = Take(process, host.ProcessId());
        CloseHandle(process);
    }
    int otherWindows = running ? host.OtherVisibleWindows() : -1;
    double closeMs = running ? CloseHost(run, 3600000) : -1;
    DWORD exitCode = 0;
    GetExitCodeProcess(host.Process(), &exitCode);
    WriteCsv(csv, "%d,%d,%d,%d,%d,%ld,%ld,%.0f,%.0f,%.0f,%d,%.0f,%lu,%d", count, rows, started, notStarted, other,
             static_cast<long>(bench.shared->entries), figures.threads, figures.space.used / Kilobyte,
             figures.space.reserved / Kilobyte, figures.space.privateCommitted / Kilobyte, running ? 1 : 0, closeMs,
             exitCode, otherWindows);
    RemoveStage(stage);
    CloseCsv(csv);
    CloseBench(bench);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Arguments arguments = ParseArguments(argc, argv);
    int capacity = arguments.Number(L"capacity", 0);
    return capacity > 0 ? MeasureCapacity(arguments, capacity) : MeasureCosts(arguments);
}
