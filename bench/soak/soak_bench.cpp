// Runs the soak and the load of the real host at their full counts and prints the figures.
//   soak_bench soak [start/stop cycles] [force stops] [pause/resume pairs] [daemons]
//   soak_bench load [cooperative] [without a state word] [ignoring it]
//   soak_bench hung     a stop that hangs, waited out on the real host (about a minute)
// Defaults: 1000 200 500 10, and 500 250 250. The exit code is 0 when every check held.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "reliability_runs.h"

namespace {

using namespace kestrune::test;

int Argument(int argc, wchar_t** argv, int index, int fallback) {
    return index < argc ? static_cast<int>(std::wcstol(argv[index], nullptr, 10)) : fallback;
}

void Print(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int RunSoakCommand(int argc, wchar_t** argv) {
    SoakRun run;
    run.startStops = Argument(argc, argv, 2, run.startStops);
    run.forceStops = Argument(argc, argv, 3, run.forceStops);
    run.pauseResumes = Argument(argc, argv, 4, run.pauseResumes);
    run.daemons = Argument(argc, argv, 5, run.daemons);
    SoakFigures figures = RunSoak(run);
    Print(DescribeSoak(run, figures));
    bool clean = figures.ok && figures.threadsLeft.empty() && figures.modulesLeft.empty();
    return clean ? 0 : 1;
}

int RunLoadCommand(int argc, wchar_t** argv) {
    LoadRun run;
    run.cooperative = Argument(argc, argv, 2, run.cooperative);
    run.wordless = Argument(argc, argv, 3, run.wordless);
    run.ignoring = Argument(argc, argv, 4, run.ignoring);
    LoadFigures figures = RunLoad(run);
    Print(DescribeLoad(run, figures));
    return figures.ok ? 0 : 1;
}

int RunHungStopCommand() {
    HungStopFigures figures = RunHungStop();
    Print(DescribeHungStop(figures));
    return figures.ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"soak") return RunSoakCommand(argc, argv);
    if (command == L"load") return RunLoadCommand(argc, argv);
    if (command == L"hung") return RunHungStopCommand();
    std::fprintf(stderr,
                 "usage: soak_bench soak [cycles force pauses daemons] | load [cooperative wordless ignoring] | hung\n");
    return 2;
}
