// From a command to the daemon seeing it, through the real command path: a row is selected
// in the host's list and the menu command is posted to its window, as when the user
// chooses the item. The probe daemon notes when it reads 255; a pause and a resume are
// seen in its thread's suspend count. Then the time from a close request to the end of
// the process.
//   latency_bench.exe [--trials T] [--closes C] [--timer-period 1] [--poll MS] [--csv FILE] N...
// With --timer-period 1 the benchmark asks for a 1 ms system timer period (timeBeginPeriod)
// for the whole run, to see whether the platform's timer resolution changes the figures.
// Each close is timed until every daemon had returned from EntryPoint ("close_returned")
// and until the process had ended ("close"), with the host's main-thread processor time
// meanwhile ("close_main_thread_cpu"). Beside it: the platform's removal of a
// notification-area icon of the benchmark's own ("icon_removal"), the last thing the host
// does before it ends, and the bare loader's cooperative close of the same daemons
// ("bare_close": 255 into every word, every thread waited for, every library freed).
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench_common.h"
#include "host_remote.h"
#include "process_probe.h"
#include "staging.h"
#include "test_daemons.h"

using namespace bench;
using kestrune::probe::ThreadSuspendCount;
using kestrune::test::HostProcess;

namespace {

constexpr LONGLONG NeverSeen = 0;
constexpr DWORD TrialTimeout = 120000;

// Polls about every millisecond until condition holds; the performance counter then, or -1.
template <typename Condition>
LONGLONG PollUntil(Condition condition, DWORD timeoutMs) {
    LONGLONG start = Now();
    while (MillisecondsSince(start) < timeoutMs) {
        if (condition()) return Now();
        Sleep(1);
    }
    return -1;
}

// Makes daemon i the probe and waits until it keeps its heartbeat; its thread, or null.
HANDLE MakeProbe(Bench& bench, int i) {
    bench.shared->probe = i;
    bench.shared->probeThread = 0;
    LONGLONG asked = Now();
    if (PollUntil([&] { return bench.shared->heartbeat > asked && bench.shared->probeThread != 0; }, 30000) < 0) {
        return nullptr;
    }
    return OpenThread(THREAD_QUERY_INFORMATION, FALSE, static_cast<DWORD>(bench.shared->probeThread));
}

int RowOf(const HostProcess& host, int i) {
    std::wstring name = L"\\" + DaemonName(i);
    std::wstring path = host.Cell(i, 4);
    if (path.size() >= name.size() && path.compare(path.size() - name.size(), name.size(), name) == 0) return i;
    return host.RowEndingWith(name);
}

double Since(LONGLONG start, LONGLONG seen) {
    return seen < 0 || seen == NeverSeen ? -1 : Milliseconds(seen - start);
}

// A latency and the machine's load average when it was taken.
struct Sample {
    double milliseconds;
    double load;
};
using Samples = std::vector<Sample>;

void Add(Samples& samples, double milliseconds) {
    samples.push_back({milliseconds, LoadAverage()});
}

struct Trials {
    Samples pause, resume, stop, unload, close, closeReturned, closeMainThread, iconRemoval, bareClose;
};

// Asks the host to close as the user would: the milliseconds until count more daemons had
// returned from EntryPoint, then until the process had ended, and the processor time its
// main thread used meanwhile.
void CloseAndTime(Bench& bench, HostRun& run, int count, Trials& trials) {
    double returned = -1, ended = -1, mainThread = -1;
    HANDLE thread = run.host ? OpenMainThread(*run.host) : nullptr;
    if (thread) {
        LONG before = bench.shared->returned;
        double cpu = ThreadCpuMilliseconds(thread);
        LONGLONG begin = Now();
        run.host->RequestClose();
        while (ended < 0 && MillisecondsSince(begin) < 900000) {
            if (returned < 0 && bench.shared->returned - before >= count) returned = MillisecondsSince(begin);
            if (run.host->WaitForExit(std::chrono::milliseconds(1))) ended = MillisecondsSince(begin);
        }
        if (ended >= 0 && cpu >= 0) mainThread = ThreadCpuMilliseconds(thread) - cpu;
        CloseHandle(thread);
    }
    Add(trials.closeReturned, returned);
    Add(trials.close, ended);
    Add(trials.closeMainThread, mainThread);
}

// Pauses and resumes daemon i; the two latencies go to trials.
void PauseAndResume(Bench& bench, HostProcess& host, int i, std::mt19937& random, Trials& trials) {
    HANDLE thread = MakeProbe(bench, i);
    int row = RowOf(host, i);
    if (!thread || row < 0 || !SelectRow(host, row)) {
        Add(trials.pause, -1);
        if (thread) CloseHandle(thread);
        return;
    }
    std::uniform_int_distribution<int> pauseBefore(0, 200);
    Sleep(static_cast<DWORD>(pauseBefore(random)));
    LONGLONG asked = Now();
    PostCommand(host, CmdPauseResume);
    LONGLONG paused = PollUntil([&] { return ThreadSuspendCount(thread) > 0; }, TrialTimeout);
    Add(trials.pause, Since(asked, paused));
    Sleep(static_cast<DWORD>(pauseBefore(random)));
    asked = Now();
    PostCommand(host, CmdPauseResume);
    LONGLONG resumed = PollUntil([&] { return ThreadSuspendCount(thread) == 0; }, TrialTimeout);
    Add(trials.resume, Since(asked, resumed));
    CloseHandle(thread);
}

// Stops daemon i, waits until its row shows it unloaded, and starts it again.
void StopAndStart(Bench& bench, HostProcess& host, int i, std::mt19937& random, Trials& trials) {
    HANDLE thread = MakeProbe(bench, i);
    if (thread) CloseHandle(thread);
    int row = RowOf(host, i);
    if (!thread || row < 0 || !SelectRow(host, row)) {
        Add(trials.stop, -1);
        return;
    }
    std::uniform_int_distribution<int> pauseBefore(0, 200);
    Sleep(static_cast<DWORD>(pauseBefore(random)));
    bench.shared->stopSeen = NeverSeen;
    LONGLONG asked = Now();
    PostCommand(host, CmdStop);
    PollUntil([&] { return bench.shared->stopSeen != NeverSeen; }, TrialTimeout);
    Add(trials.stop, Since(asked, bench.shared->stopSeen));
    // The row turns to a grey white star once the reaper has unloaded the daemon.
    LONGLONG unloaded = -1;
    LONGLONG start = Now();
    while (unloaded < 0 && MillisecondsSince(start) < TrialTimeout) {
        if (host.Cell(row, 1) == L" \u2606") unloaded = Now();
        Sleep(5);
    }
    Add(trials.unload, Since(asked, unloaded));
    PostCommand(host, CmdStart);
    if (HANDLE restarted = MakeProbe(bench, i)) CloseHandle(restarted);
}

// Adds an icon to the notification area for a window of this program and times its removal.
double IconRemovalMilliseconds() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"KestruneLatencyBenchIcon";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = window;
    icon.uFlags = NIF_ICON | NIF_MESSAGE;
    icon.uCallbackMessage = WM_APP;
    icon.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));
    double removal = -1;
    if (window && Shell_NotifyIconW(NIM_ADD, &icon)) {
        LONGLONG start = Now();
        if (Shell_NotifyIconW(NIM_DELETE, &icon)) removal = MillisecondsSince(start);
    }
    if (window) DestroyWindow(window);
    return removal;
}

void Report(Csv& csv, int count, int timerPeriod, const char* kind, const Samples& samples) {
    std::vector<double> values;
    for (const Sample& sample : samples) {
        WriteCsv(csv, "%d,%d,%s,%.2f,%.2f", count, timerPeriod, kind, sample.milliseconds, sample.load);
        values.push_back(sample.milliseconds);
    }
    Summary summary = Summarise(values);
    std::fprintf(stderr, "%d daemons, %s: median %.1f ms, 90th percentile %.1f ms, max %.1f ms (%zu trials)\n", count,
                 kind, summary.median, summary.p90, summary.max, summary.count);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Arguments arguments = ParseArguments(argc, argv);
    std::vector<int> counts = arguments.counts.empty() ? std::vector<int>{1, 10, 100, 1000, 2000} : arguments.counts;
    int trialCount = arguments.Number(L"trials", 20);
    int closes = arguments.Number(L"closes", 3);
    int timerPeriod = arguments.Number(L"timer-period", 0);
    using PeriodFunction = UINT(WINAPI*)(UINT);
    HMODULE winmm = LoadLibraryW(L"winmm.dll");
    auto begin = reinterpret_cast<PeriodFunction>(reinterpret_cast<void*>(GetProcAddress(winmm, "timeBeginPeriod")));
    auto end = reinterpret_cast<PeriodFunction>(reinterpret_cast<void*>(GetProcAddress(winmm, "timeEndPeriod")));
    if (timerPeriod > 0 && begin) begin(static_cast<UINT>(timerPeriod));

    Bench bench;
    if (!OpenBench(bench)) return 2;
    bench.shared->pollMilliseconds = arguments.Number(L"poll", 100);
    Csv csv = OpenCsv(arguments, "daemons,timer_period,kind,milliseconds,load");
    for (int count : counts) {
        std::mt19937 random(static_cast<unsigned>(count));
        std::uniform_int_distribution<int> pick(0, count - 1);
        StagedFolder stage = StageDaemons(count);
        HostRun run = StartHost(bench, stage, count);
        if (!run.host->MainWindow() || !BindCommands(*run.host)) {
            std::fprintf(stderr, "%d daemons: the host did not start or its context menu did not open\n", count);
            return 3;
        }
        Trials trials;
        for (int trial = 0; trial < trialCount; ++trial) {
            PauseAndResume(bench, *run.host, pick(random), random, trials);
            StopAndStart(bench, *run.host, pick(random), random, trials);
        }
        bench.shared->probe = BENCH_NO_PROBE;
        Report(csv, count, timerPeriod, "pause", trials.pause);
        Report(csv, count, timerPeriod, "resume", trials.resume);
        Report(csv, count, timerPeriod, "stop", trials.stop);
        Report(csv, count, timerPeriod, "unload", trials.unload);
        for (int close = 0; close < closes; ++close) {
            if (close > 0) run = StartHost(bench, stage, count);
            Sleep(2000);
            CloseAndTime(bench, run, count, trials);
            Add(trials.iconRemoval, IconRemovalMilliseconds());
            BareRun bare = StartBare(bench, stage, count, BareMode::Close);
            Sleep(2000);
            Add(trials.bareClose, CloseBare(bench, bare));
        }
        Report(csv, count, timerPeriod, "close_returned", trials.closeReturned);
        Report(csv, count, timerPeriod, "close", trials.close);
        Report(csv, count, timerPeriod, "close_main_thread_cpu", trials.closeMainThread);
        Report(csv, count, timerPeriod, "icon_removal", trials.iconRemoval);
        Report(csv, count, timerPeriod, "bare_close", trials.bareClose);
        RemoveStage(stage);
    }
    CloseCsv(csv);
    CloseBench(bench);
    if (timerPeriod > 0 && end) end(static_cast<UINT>(timerPeriod));
    return 0;
}
