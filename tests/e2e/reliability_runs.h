// Long runs of the real host: many daemons closed at once, and thousands of commands
// with the host's resources counted before and after. The tests run them short, the
// soak program in bench/soak at full length.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "process_census.h"

namespace kestrune::test {

// Daemons of three kinds, interleaved in the folder: cooperative ones, ones without a
// state word, and ones that ignore theirs.
struct LoadRun {
    int cooperative = 500;
    int wordless = 250;
    int ignoring = 250;
};

struct LoadFigures {
    bool ok = false;
    std::string failure;  // what went wrong first, when not ok
    int daemons = 0;
    double startSeconds = 0;        // host start until every EntryPoint had run
    double closeSeconds = 0;        // close request until the process had ended
    double firstPassSeconds = 0;    // first to last cooperative daemon seeing 255
    double boundSeconds = 0;        // what the reaper's rules allow for the close
    double tickMilliseconds = 0;    // time per reaper visit while quitting, as measured (first pass / visits)
    double boundAtTickSeconds = 0;  // the same bound at the measured time per visit
    DWORD exitCode = 1;
    int cooperativeReturned = 0;  // saw 255, returned and were unloaded
    int wordlessUnloaded = 0;
    int ignoringEnded = 0;  // ended by force after their grace, then unloaded
};

// The longest a close may take by the reaper's rules: a visit every 4 ms while quitting
// (a tick at the timer's floor makes the visits of the 4 ms ticks it stands for), or the
// time per visit measured. Every daemon has been visited after at most 2n visits (a pass,
// and the daemons that removals moved into passed slots); the last one that ignores its
// word then needs its 30 s and at most one pass over the m that ignore theirs.
double CloseBoundSeconds(int daemons, int ignoring, double tickSeconds = 0.004);

LoadFigures RunLoad(const LoadRun& run);

struct SoakRun {
    int startStops = 1000;
    int forceStops = 200;
    int pauseResumes = 500;
    int daemons = 10;  // cooperative daemons that take the commands in turn
};

struct SoakFigures {
    bool ok = false;
    std::string failure;
    double warmUpSeconds = 0;
    double cycleSeconds = 0;  // the start/stop cycles and pause/resume pairs
    double forceSeconds = 0;  // the force stops
    // With every daemon stopped: after the warm-up, after the cycles and pairs, and after
    // the force stops, which end threads by force (the platform keeps such a thread's stack).
    ProcessCensus before, afterCycles, after;
    std::vector<std::wstring> threadsLeft;  // "id, started in <module>"
    // The system's pool workers (they start in ntdll) come, go and are replaced as it likes, and
    // the host waits on that pool: they are counted apart from the host's own threads.
    int poolWorkersNew = 0;
    int poolWorkersNewInCycles = 0;  // of them, those that came during the cycles and pairs
    int ownThreadsBefore = 0;
    int ownThreadsAfter = 0;
    std::vector<std::wstring> modulesLeft;
    DWORD exitCode = 1;
};

SoakFigures RunSoak(const SoakRun& run);

// What the host may hold more after the commands than before, all daemons stopped both
// times: the system's handle caches and the heap's page-sized steps, nothing per command
// (a handle, thread or module kept per start would show at once). A thread ended by force
// keeps its stack (the platform's doing, measured by soak_bench terminate): the force
// stops' private bytes are reported, not held to the margin.
constexpr long long SoakHandleMargin = 2;
constexpr long long SoakPrivateBytesMargin = 256 * 1024;
// The system's thread pool may grow by a worker when a moment needs one more; Wine commits a
// thread's whole stack (1 MiB) and its thread block. The worker stays in the pool for reuse.
constexpr long long SoakPoolWorkerBytes = 1024 * 1024 + 64 * 1024;

// The private-bytes margin over the cycles and pairs, with the pool's new workers.
long long CyclesPrivateBytesMargin(const SoakFigures& figures);

// Handles within their margin over both parts, no window more, private bytes within theirs
// over the cycles and pairs.
bool IsWithinSoakMargins(const SoakFigures& figures);

// A daemon that sees 255 and hangs in its cleanup, stopped through the host's command and
// waited for honestly: ended after its grace while the host answers, another daemon keeps
// running and "Start" loads the hung one again.
struct HungStopFigures {
    bool ok = false;
    std::string failure;
    double endedSeconds = 0;  // the stop command until the hung daemon was unloaded
    int answeredChecks = 0;   // round trips to the host's window during the grace, all answered
    bool otherRanOn = false;  // the other daemon's processor time grew during the grace
    DWORD exitCode = 1;
};

HungStopFigures RunHungStop();

// Daemons that spend their time inside locks of the system's libraries (heap, C runtime,
// loader, window system; instances of each), paused, resumed and force-stopped through the
// host's commands, with the host's window asked to answer within a second after every command.
struct BusyRun {
    int rounds = 100;      // each round gives every daemon one pause/resume pair
    int forceRounds = 20;  // each gives every daemon one force stop and a start; every other
                           // one pauses them first, and every fourth only asks for the pause
    int instances = 5;     // daemons of each kind
    // The kinds, by test daemon: the heap's, the C runtime's, the loader's, the window system's.
    std::vector<std::wstring> kinds = {L"loops_heap", L"loops_malloc", L"loops_loader", L"loops_window"};
};

struct BusyFigures {
    bool ok = false;
    std::string failure;
    int commands = 0;  // commands given, each followed by the answer check
    int pairsPerKind = 0;
    int forceStopsPerKind = 0;
    double pairSeconds = 0;   // the pauses and resumes
    double forceSeconds = 0;  // the force stops and starts
    double closeSeconds = 0;  // close request until the process had ended
    DWORD exitCode = 1;
};

BusyFigures RunBusy(const BusyRun& run);

// The figures as lines of text for a report.
std::vector<std::string> DescribeLoad(const LoadRun& run, const LoadFigures& figures);
std::vector<std::string> DescribeSoak(const SoakRun& run, const SoakFigures& figures);
std::vector<std::string> DescribeHungStop(const HungStopFigures& figures);
std::vector<std::string> DescribeBusy(const BusyRun& run, const BusyFigures& figures);

}  // namespace kestrune::test
