// Runs the soak and the load of the real host at their full counts and prints the figures.
//   soak_bench soak [start/stop cycles] [force stops] [pause/resume pairs] [daemons]
//   soak_bench load [cooperative] [without a state word] [ignoring it]
//   soak_bench hung     a stop that hangs, waited out on the real host (about a minute)
//   soak_bench busy [pause rounds] [force rounds] [daemons of each kind] [one kind]   daemons
//                        inside the system's locks, paused and force-stopped with the window
//                        checked after every command (default 100 20 5: 500 pairs, 100 force
//                        stops a kind; one kind: a test daemon's name, loops_heap say)
//   soak_bench terminate [threads]   what the system keeps of a thread ended by force,
//                        measured in this program without the host (default 200)
// Defaults: 1000 200 500 10, and 500 250 250. The exit code is 0 when every check held.
#include <windows.h>

#include <algorithm>
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
    bool clean = figures.ok && figures.threadsLeft.empty() && figures.ownThreadsAfter == figures.ownThreadsBefore &&
                 figures.modulesLeft.empty() && IsWithinSoakMargins(figures);
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

int RunBusyCommand(int argc, wchar_t** argv) {
    BusyRun run;
    run.rounds = Argument(argc, argv, 2, run.rounds);
    run.forceRounds = Argument(argc, argv, 3, run.forceRounds);
    run.instances = Argument(argc, argv, 4, run.instances);
    if (argc > 5) run.kinds = {argv[5]};
    BusyFigures figures = RunBusy(run);
    Print(DescribeBusy(run, figures));
    return figures.ok ? 0 : 1;
}

int RunHungStopCommand() {
    HungStopFigures figures = RunHungStop();
    Print(DescribeHungStop(figures));
    return figures.ok ? 0 : 1;
}

DWORD WINAPI SleepForever(void*) {
    for (;;) Sleep(10);
}

DWORD WINAPI ReturnAtOnce(void*) {
    return 0;
}

// Runs count threads that return and count that are ended by force, and gives what this
// process holds more after each kind: the host's force stops are compared with it.
void RunThreads(int count, LPTHREAD_START_ROUTINE procedure, bool terminate) {
    for (int i = 0; i < count; ++i) {
        HANDLE thread = CreateThread(nullptr, 0, procedure, nullptr, 0, nullptr);
        if (!thread) continue;
        if (terminate) {
            Sleep(20);  // running in its loop, as a daemon would be
            TerminateThread(thread, 1);
        }
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    Sleep(500);
}

int RunTerminateCommand(int argc, wchar_t** argv) {
    const int count = std::max(1, Argument(argc, argv, 2, 200));
    const DWORD self = GetCurrentProcessId();
    RunThreads(3, ReturnAtOnce, false);  // what the first thread and census set up for good
    TakeCensus(self);
    ProcessCensus start = TakeCensus(self);
    RunThreads(count, ReturnAtOnce, false);
    ProcessCensus returned = TakeCensus(self);
    RunThreads(count, SleepForever, true);
    ProcessCensus terminated = TakeCensus(self);
    std::printf("terminate: %d threads that return, then %d ended by force, in a program without the host\n", count,
                count);
    std::printf("  that return:      %s\n", DescribeCensusChange(start, returned).c_str());
    std::printf("  ended by force:   %s\n", DescribeCensusChange(returned, terminated).c_str());
    std::printf("  private bytes per thread ended by force: %+lld KiB\n",
                PrivateBytesChange(returned, terminated) / 1024 / count);
    std::fflush(stdout);
    return start.taken && terminated.taken ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"soak") return RunSoakCommand(argc, argv);
    if (command == L"load") return RunLoadCommand(argc, argv);
    if (command == L"hung") return RunHungStopCommand();
    if (command == L"busy") return RunBusyCommand(argc, argv);
    if (command == L"terminate") return RunTerminateCommand(argc, argv);
    std::fprintf(stderr,
                 "usage: soak_bench soak [cycles force pauses daemons] | load [cooperative wordless ignoring] | hung"
                 " | terminate [threads] | busy [rounds forceRounds daemons]\n");
    return 2;
}
