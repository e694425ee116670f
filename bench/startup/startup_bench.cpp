// Start-up of the real host against the bare loader of the same daemons, in one run:
// the time from process creation until every daemon's EntryPoint has begun.
//   startup_bench.exe [--repeat R] [--host PATH] [--csv FILE] N...
// Host and bare loader run alternately, R times per count; every run is one CSV row.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "bench_common.h"
#include "staging.h"

using namespace bench;

int wmain(int argc, wchar_t** argv) {
    Arguments arguments = ParseArguments(argc, argv);
    std::vector<int> counts = arguments.counts.empty() ? std::vector<int>{1, 10, 100, 1000, 2000} : arguments.counts;
    int repeat = arguments.Number(L"repeat", 5);
    std::wstring hostProgram;
    for (const auto& option : arguments.options) {
        if (option.first == L"host") hostProgram = option.second;
    }

    Bench bench;
    if (!OpenBench(bench)) return 2;
    bench.shared->pollMilliseconds = 250;
    Csv csv = OpenCsv(arguments, "daemons,round,program,all_entered_ms,first_entry_ms,load");
    for (int count : counts) {
        StagedFolder stage = StageDaemons(count, hostProgram);
        std::vector<double> host, bare;
        for (int round = 0; round < repeat; ++round) {
            // Alternate the order, so neither side always runs on a warmer file cache.
            for (int side = 0; side < 2; ++side) {
                bool isHost = (side + round) % 2 == 0;
                if (isHost) {
                    HostRun run = StartHost(bench, stage, count);
                    WriteCsv(csv, "%d,%d,host,%.1f,%.1f,%.2f", count, round, run.allEnteredMs, run.firstEntryMs,
                             LoadAverage());
                    host.push_back(run.allEnteredMs);
                    CloseHost(run);
                } else {
                    BareRun run = StartBare(bench, stage, count, BareMode::Wait);
                    WriteCsv(csv, "%d,%d,bare,%.1f,%.1f,%.2f", count, round, run.allEnteredMs, run.firstEntryMs,
                             LoadAverage());
                    bare.push_back(run.allEnteredMs);
                    EndBare(bench, run);
                }
            }
        }
        double h = Median(host), b = Median(bare);
        std::fprintf(stderr, "start-up with %d daemons: host %.1f ms, bare loader %.1f ms, ratio %.3f\n", count, h, b,
                     h / b);
        RemoveStage(stage);
    }
    CloseCsv(csv);
    CloseBench(bench);
    return 0;
}
