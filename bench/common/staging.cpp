#include "staging.h"

#include <cwchar>

#include "bench_common.h"
#include "temp_folder.h"

namespace bench {
namespace {

using kestrune::test::HostProcess;

// Waits for the event while the counts are read from shared memory.
bool WaitForEntries(Bench& bench, int expected, DWORD timeoutMs) {
    if (expected <= 0) return true;
    return WaitForSingleObject(bench.allEntered.get(), timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace

std::wstring DaemonName(int i) {
    wchar_t name[32];
    std::swprintf(name, 32, L"d%05d.dll", i);
    return name;
}

StagedFolder StageDaemons(int count, const std::wstring& hostProgram) {
    static int serial = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    StagedFolder stage;
    stage.count = count;
    stage.folder = std::wstring(temp) + L"kestrune-bench-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                   std::to_wstring(++serial) + L"\\";
    kestrune::test::CreateFolders(stage.folder + L"wild_magic\\");
    std::wstring source = ProgramFolder();
    std::wstring host = hostProgram.empty() ? source + L"kestrune.exe" : hostProgram;
    CopyFileW(host.c_str(), (stage.folder + L"kestrune.exe").c_str(), FALSE);
    CopyFileW((source + L"bare_loader.exe").c_str(), (stage.folder + L"bare_loader.exe").c_str(), FALSE);
    std::wstring daemon = source + L"..\\bench-daemons\\bench_daemon.dll";
    for (int i = 0; i < count; ++i) {
        CopyFileW(daemon.c_str(), (stage.folder + L"wild_magic\\" + DaemonName(i)).c_str(), FALSE);
    }
    return stage;
}

void RemoveStage(const StagedFolder& stage) {
    kestrune::test::RemoveTree(stage.folder);
}

bool OpenBench(Bench& bench) {
    bench.mapping.reset(
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(BenchShared), BENCH_SHARED_NAME));
    if (bench.mapping) {
        bench.shared =
            static_cast<BenchShared*>(MapViewOfFile(bench.mapping.get(), FILE_MAP_WRITE, 0, 0, sizeof(BenchShared)));
    }
    bench.allEntered.reset(CreateEventW(nullptr, TRUE, FALSE, BENCH_ALL_ENTERED_NAME));
    bench.quit.reset(CreateEventW(nullptr, TRUE, FALSE, BENCH_QUIT_NAME));
    if (!bench.shared || !bench.allEntered || !bench.quit) return false;
    bench.shared->probe = BENCH_NO_PROBE;
    return true;
}

void CloseBench(Bench& bench) {
    if (bench.shared) UnmapViewOfFile(bench.shared);
    bench = Bench{};
}

void ResetCounts(Bench& bench, int target) {
    bench.shared->target = target;
    bench.shared->entries = 0;
    bench.shared->returned = 0;
    bench.shared->firstEntry = 0;
    bench.shared->lastEntry = 0;
    ResetEvent(bench.allEntered.get());
    ResetEvent(bench.quit.get());
}

HostRun StartHost(Bench& bench, const StagedFolder& stage, int expected, DWORD timeoutMs) {
    HostRun run;
    ResetCounts(bench, expected);
    run.host = std::make_unique<HostProcess>(stage.folder, false);
    run.begin = Now();
    if (!run.host->Start()) return run;
    if (WaitForEntries(bench, expected, timeoutMs) && expected > 0) {
        run.allEnteredMs = Milliseconds(bench.shared->lastEntry - run.begin);
        run.firstEntryMs = Milliseconds(bench.shared->firstEntry - run.begin);
    }
    run.host->WaitForMainWindow(std::chrono::milliseconds(timeoutMs));
    return run;
}

double CloseHost(HostRun& run, DWORD timeoutMs) {
    if (!run.host || !run.host->MainWindow()) return -1;
    LONGLONG begin = Now();
    run.host->RequestClose();
    if (!run.host->WaitForExit(std::chrono::milliseconds(timeoutMs))) return -1;
    return MillisecondsSince(begin);
}

BareRun StartBare(Bench& bench, const StagedFolder& stage, int expected, BareMode mode, DWORD timeoutMs) {
    BareRun run;
    ResetCounts(bench, expected);
    std::wstring program = stage.folder + L"bare_loader.exe";
    const wchar_t* option = mode == BareMode::Ticks ? L" --ticks" : mode == BareMode::Close ? L" --close" : L"";
    std::wstring commandLine = L"\"" + program + L"\"" + option;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    run.begin = Now();
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, stage.folder.c_str(),
                        &startup, &run.process)) {
        return run;
    }
    if (WaitForEntries(bench, expected, timeoutMs) && expected > 0) {
        run.allEnteredMs = Milliseconds(bench.shared->lastEntry - run.begin);
        run.firstEntryMs = Milliseconds(bench.shared->firstEntry - run.begin);
    }
    return run;
}

double CloseBare(Bench& bench, BareRun& run, DWORD timeoutMs) {
    if (!run.process.hProcess) return -1;
    LONGLONG begin = Now();
    SetEvent(bench.quit.get());
    double ended =
        WaitForSingleObject(run.process.hProcess, timeoutMs) == WAIT_OBJECT_0 ? MillisecondsSince(begin) : -1;
    EndBare(bench, run);
    return ended;
}

void EndBare(Bench& bench, BareRun& run) {
    if (!run.process.hProcess) return;
    const kestrune::HandleOwner process(run.process.hProcess), thread(run.process.hThread);
    SetEvent(bench.quit.get());
    PostThreadMessageW(run.process.dwThreadId, WM_QUIT, 0, 0);
    if (WaitForSingleObject(process.get(), 120000) != WAIT_OBJECT_0) TerminateProcess(process.get(), 1);
    run.process = PROCESS_INFORMATION{};
}

}  // namespace bench
