// The host's main-thread processor time per second, hidden in the tray and with its
// window shown, against the bare loader of the same daemons running a timer of the
// reaper's period that checks one daemon thread per tick.
//   refresh_bench.exe [--rounds R] [--seconds S] [--shown-seconds T] [--host PATH] [--label L]
//                     [--csv FILE] N...
// The three are measured in turn, R times, in alternating order. A shown window refreshes
// once a second, so shown minus hidden is the cost of one refresh with its painting.
// The wineserver's own processor time over each interval is recorded beside it. For each
// count it prints the hidden host's time over the bare loader's, summed over the rounds,
// and the shown host's time per second.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_common.h"
#include "host_remote.h"
#include "staging.h"

using namespace bench;

namespace {

struct Interval {
    double mainMs = -1;
    double serverMs = -1;
};

Interval Measure(HANDLE thread, int seconds) {
    Interval interval;
    double before = ThreadCpuMilliseconds(thread), serverBefore = WineserverCpuMilliseconds();
    Sleep(static_cast<DWORD>(seconds) * 1000);
    double after = ThreadCpuMilliseconds(thread), serverAfter = WineserverCpuMilliseconds();
    if (before >= 0 && after >= 0) interval.mainMs = after - before;
    if (serverBefore >= 0 && serverAfter >= 0) interval.serverMs = serverAfter - serverBefore;
    return interval;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Arguments arguments = ParseArguments(argc, argv);
    std::vector<int> counts = arguments.counts.empty() ? std::vector<int>{100, 250, 500, 1000, 2000} : arguments.counts;
    int rounds = arguments.Number(L"rounds", 3);
    int seconds = arguments.Number(L"seconds", 60);
    int shownSeconds = arguments.Number(L"shown-seconds", 20);
    std::wstring hostProgram, label = L"current";
    for (const auto& option : arguments.options) {
        if (option.first == L"host") hostProgram = option.second;
        if (option.first == L"label") label = option.second;
    }

    Bench bench;
    if (!OpenBench(bench)) return 2;
    // The daemons look at their state words once a second, so their own wake-ups stay small.
    bench.shared->pollMilliseconds = 1000;
    Csv csv = OpenCsv(arguments, "label,daemons,round,mode,seconds,main_thread_ms,wineserver_ms,load");
    for (int count : counts) {
        StagedFolder stage = StageDaemons(count, hostProgram);
        HostRun host = StartHost(bench, stage, count);
        BareRun bare = StartBare(bench, stage, count, BareMode::Ticks);
        HANDLE hostThread = OpenMainThread(*host.host);
        if (!hostThread || !bare.process.hThread) {
            std::fprintf(stderr, "%d daemons: the host or the bare loader did not start\n", count);
            return 3;
        }
        Sleep(3000);  // past the start-up's own work
        const char* modes[] = {"host_hidden", "bare_ticks", "host_shown"};
        double sums[3] = {0, 0, 0};
        for (int round = 0; round < rounds; ++round) {
            for (int step = 0; step < 3; ++step) {
                int mode = round % 2 == 0 ? step : 2 - step;
                Interval interval;
                if (mode == 2) {
                    ShowHost(*host.host);
                    Sleep(2000);  // the refresh and painting that showing brings
                    interval = Measure(hostThread, shownSeconds);
                    HideHost(*host.host);
                    Sleep(1000);
                } else {
                    interval = Measure(mode == 0 ? hostThread : bare.process.hThread, seconds);
                }
                WriteCsv(csv, "%ls,%d,%d,%s,%d,%.1f,%.1f,%.2f", label.c_str(), count, round, modes[mode],
                         mode == 2 ? shownSeconds : seconds, interval.mainMs, interval.serverMs, LoadAverage());
                sums[mode] += interval.mainMs;
            }
        }
        std::fprintf(stderr,
                     "%d daemons: hidden host %.0f ms, bare loader %.0f ms in %d s, ratio %.2f; "
                     "shown host %.1f ms per second\n",
                     count, sums[0], sums[1], rounds * seconds, sums[1] > 0 ? sums[0] / sums[1] : -1.0,
                     sums[2] / (rounds * shownSeconds));
        CloseHandle(hostThread);
        EndBare(bench, bare);
        CloseHost(host);
        RemoveStage(stage);
    }
    CloseCsv(csv);
    CloseBench(bench);
    return 0;
}
