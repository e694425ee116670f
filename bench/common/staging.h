// A folder with the programs under test and wild_magic\ holding copies of the benchmark
// daemon, the shared block the daemons report to, and starting programs from the folder.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "bench_shared.h"
#include "host_process.h"

namespace bench {

struct StagedFolder {
    std::wstring folder;  // ends in "\"
    int count = 0;        // daemons in wild_magic\ (d00000.dll, d00001.dll, ...)
};

// Copies kestrune.exe (or hostProgram), bare_loader.exe and count daemons into a new folder
// in the temporary folder. Every copy is a file of its own: the system would map hard links
// of one file as one module.
StagedFolder StageDaemons(int count, const std::wstring& hostProgram = {});
void RemoveStage(const StagedFolder& stage);
// The daemon file name of number i.
std::wstring DaemonName(int i);

// The named block the daemons count themselves in, and the events around it.
struct Bench {
    kestrune::HandleOwner mapping;
    BenchShared* shared = nullptr;
    kestrune::HandleOwner allEntered;
    kestrune::HandleOwner quit;
};
bool OpenBench(Bench& bench);
void CloseBench(Bench& bench);
// Zeroes the counts for a start expecting target EntryPoint calls; keeps the poll period.
void ResetCounts(Bench& bench, int target);

// The real host, started from its staged folder, with the times its daemons reported.
struct HostRun {
    std::unique_ptr<kestrune::test::HostProcess> host;
    LONGLONG begin = 0;
    double allEnteredMs = -1;  // until the last EntryPoint call began
    double firstEntryMs = -1;  // until the first one began: loading is over by then
};
// Starts the host and waits (up to timeoutMs) until expected EntryPoint calls have begun
// and its window exists. expected 0 waits for the window only.
HostRun StartHost(Bench& bench, const StagedFolder& stage, int expected, DWORD timeoutMs = 900000);
// Asks the host to close as the user would and waits for the process to end.
// Gives the milliseconds from the request to the end, or -1.
double CloseHost(HostRun& run, DWORD timeoutMs = 900000);

// The bare loader: loads the same libraries and starts their threads, nothing else.
// With Ticks, it also runs a message loop with a timer of the reaper's period that
// checks one daemon thread per tick. With Close, the quit event makes it write 255 into
// every state word, wait for every thread and free every library before it ends.
enum class BareMode { Wait, Ticks, Close };
struct BareRun {
    PROCESS_INFORMATION process{};
    LONGLONG begin = 0;
    double allEnteredMs = -1;
    double firstEntryMs = -1;
};
BareRun StartBare(Bench& bench, const StagedFolder& stage, int expected, BareMode mode, DWORD timeoutMs = 900000);
void EndBare(Bench& bench, BareRun& run);
// Sets the quit event and waits for the bare loader to end: the milliseconds, or -1.
double CloseBare(Bench& bench, BareRun& run, DWORD timeoutMs = 900000);

}  // namespace bench
