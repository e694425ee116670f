#include "reliability_runs.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cwctype>
#include <functional>
#include <thread>
#include <utility>

#include "host_process.h"
#include "message_box.h"
#include "row_status.h"
#include "temp_folder.h"
#include "test_daemons.h"

namespace kestrune::test {
namespace {

using Clock = std::chrono::steady_clock;

bool IsPoolWorkerStart(std::wstring module) {
    for (wchar_t& c : module) c = static_cast<wchar_t>(std::towlower(c));
    return module.ends_with(L"\\ntdll.dll");
}

// The host's threads other than the system's pool workers, whose number the system varies.
int CountOwnThreads(const ProcessCensus& census) {
    int own = 0;
    for (const CensusThread& thread : census.threads) own += !IsPoolWorkerStart(thread.startModule);
    return own;
}

// Command identifiers of the host's context menu, and the positions of its items for a
// daemon without a menu of its own (separators not counted).
enum Command { CmdStart = 6, CmdPauseResume = 15, CmdForceStop = 17, CmdStop = 18 };
enum ContextItem { ItemStart = 0, ItemPause = 3, ItemForceStop = 5, ItemStop = 6 };

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow += c < 128 ? static_cast<char>(c) : '?';
    return narrow;
}

std::wstring DaemonName(const wchar_t* prefix, int index) {
    wchar_t name[32];
    swprintf(name, 32, L"%ls%04d.dll", prefix, index);
    return name;
}

// Polls until every daemon has reported event in full at least as often as expected says
// (an "entry" so counted is one the daemon has settled past, see WaitForEntry).
bool WaitForCounts(const std::vector<std::wstring>& paths, const std::string& event, const std::vector<int>& expected,
                   std::chrono::milliseconds timeout) {
    std::vector<size_t> pending;
    for (size_t i = 0; i < paths.size(); ++i) pending.push_back(i);
    return WaitUntil(
        [&] {
            std::erase_if(pending, [&](size_t i) { return CountFullReports(paths[i], event) >= expected[i]; });
            return pending.empty();
        },
        timeout);
}

bool IsLoadedIn(const ProcessCensus& census, const std::wstring& path) {
    std::wstring name = path.substr(path.rfind(L'\\'));
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towlower(c));
    for (std::wstring module : census.modules) {
        for (wchar_t& c : module) c = static_cast<wchar_t>(std::towlower(c));
        if (module.ends_with(name)) return true;
    }
    return false;
}

// The host's figures once the daemons' libraries it holds and its threads stay the same for
// longer than the quarantine a returned daemon's library waits out before it is freed (one
// ended by force keeps its library), and the host has answered a round trip: the reaper runs
// on its window's thread, so the visit that unloaded the last one has then put everything of
// it away. A thread of the system's pool that starts or ends while counted has its memory
// counted without itself, so the count is taken again until the threads held still.
ProcessCensus CensusOnceUnloaded(HostProcess& host, const std::vector<std::wstring>& paths) {
    auto stateOf = [&](const ProcessCensus& census) {
        std::vector<bool> loaded;
        for (const std::wstring& path : paths) loaded.push_back(IsLoadedIn(census, path));
        return std::make_pair(loaded, census.threads);
    };
    auto last = stateOf(TakeCensus(host.ProcessId()));
    for (int attempt = 0; attempt < 10; ++attempt) {
        auto since = Clock::now();
        WaitUntil([&] {
            auto now = stateOf(TakeCensus(host.ProcessId()));
            if (now != last) {
                last = now;
                since = Clock::now();
            }
            return Clock::now() - since > std::chrono::milliseconds(1500);
        });
        host.Sync();
        ProcessCensus census = TakeCensus(host.ProcessId());
        if (census.threads == last.second) return census;
        last = stateOf(census);
    }
    return {};
}

// The daemons of a soak, commanded through the host's own commands on their rows.
class SoakDriver {
public:
    SoakDriver(HostProcess& host, std::vector<std::wstring> paths)
        : host_(host), paths_(std::move(paths)), entries_(paths_.size(), 1) {}

    bool FindRows() {
        for (const std::wstring& path : paths_) rows_.push_back(host_.RowEndingWith(path.substr(path.rfind(L'\\'))));
        return std::find(rows_.begin(), rows_.end(), -1) == rows_.end();
    }

    // The first item of each kind chosen from the real context menu, on the first daemon.
    // Which step failed, for the report: "" when every one acted.
    std::string UseTheRealMenu() {
        if (!Choose(ItemPause) || !WaitForStatus(1, PausedStars)) return "Pause";
        if (!Choose(ItemPause) || !WaitForStatus(1, BlackStar)) return "Resume";
        if (!Choose(ItemStop) || !Ended(1)) return "Stop";
        if (!Choose(ItemStart) || !Started(1)) return "Start after Stop";
        if (!Choose(ItemForceStop) || !AnswerForceStop(0) || !Ended(1)) return "Stop [F]";
        if (!Choose(ItemStart) || !Started(1)) return "Start after Stop [F]";
        return "";
    }

    bool StopFirst(int n) {
        for (int i = 0; i < n; ++i) {
            if (!Command(i, CmdStop)) return false;
        }
        return Ended(n);
    }

    bool StartFirst(int n) {
        for (int i = 0; i < n; ++i) {
            if (!Command(i, CmdStart)) return false;
        }
        return Started(n);
    }

    bool ForceStopFirst(int n) {
        for (int i = 0; i < n; ++i) {
            if (!host_.SelectRow(rows_[static_cast<size_t>(i)])) return false;
            host_.PostCommand(CmdForceStop);
            ++commands_;
            if (!AnswerForceStop(i) || !Answered()) return false;
        }
        return Ended(n);
    }

    bool PauseOrResumeFirst(int n, const std::wstring& status) {
        return AskPauseOrResumeFirst(n) && WaitForStatus(n, status);
    }

    // The command alone: a pause may still wait for its safe point when the next command comes.
    bool AskPauseOrResumeFirst(int n) {
        for (int i = 0; i < n; ++i) {
            if (!Command(i, CmdPauseResume)) return false;
        }
        return true;
    }

    // Every command is followed by a round trip that must come back within a second.
    void CheckAnswers() { checkAnswers_ = true; }
    bool Unanswered() const { return unanswered_; }
    const std::string& Failure() const { return failure_; }
    int Commands() const { return commands_; }

private:
    bool Command(int i, int id) {
        ++commands_;
        if (host_.SelectRow(rows_[static_cast<size_t>(i)]) && host_.SendCommand(id) && Answered()) return true;
        return Stalled("command " + std::to_string(id) + " on daemon " + std::to_string(i));
    }

    bool Answered() {
        if (!checkAnswers_) return true;
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(host_.MainWindow(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result)) return true;
        unanswered_ = true;
        return false;
    }

    bool Choose(int item) {
        if (!host_.OpenContextMenu(rows_[0])) return false;
        ChooseMenuItem(item);
        return host_.WaitForNoPopupMenu();
    }

    bool AnswerForceStop(int i) {
        const std::wstring& path = paths_[static_cast<size_t>(i)];
        HWND box = WaitForMessageBox(host_.ProcessId(), L"Kestrune\\\\" + path.substr(path.rfind(L'\\') + 1));
        return box && PressButton(box, IDYES) && WaitUntil([&] { return !IsWindow(box); });
    }

    // The first n daemons' rows show them ended and the visits that unloaded them are over (the
    // final row is written first). Their libraries are freed a moment later when they returned,
    // and kept when they were ended by force.
    bool Ended(int n) {
        if (!WaitForStatus(n, WhiteStar)) {
            Answered();  // a frozen host is named as such
            return false;
        }
        return Answered() && host_.Sync();
    }

    // The first n daemons run once more, and their rows say so: a row still showing the last
    // run's end would pass the next Ended at once, before the stop was even seen.
    bool Started(int n) {
        for (int i = 0; i < n; ++i) ++entries_[static_cast<size_t>(i)];
        return WaitFor(n, "entry", entries_) && WaitForStatus(n, BlackStar);
    }

    bool WaitFor(int n, const std::string& event, const std::vector<int>& expected) {
        std::vector<std::wstring> paths(paths_.begin(), paths_.begin() + n);
        if (!WaitForCounts(paths, event, expected, std::chrono::seconds(60))) {
            Answered();  // a frozen host is named as such
            std::string counts;
            for (int i = 0; i < n; ++i) {
                const size_t at = static_cast<size_t>(i);
                counts +=
                    " " + std::to_string(CountFullReports(paths_[at], event)) + "/" + std::to_string(expected[at]);
            }
            return Stalled("\"" + event + "\" seen/expected:" + counts);
        }
        return Answered();
    }

    // Names what a failed step waited for, with the rows as they show now.
    bool Stalled(const std::string& what) {
        failure_ = what + "; rows:";
        for (int row : rows_) failure_ += " [" + NarrowCell(host_.Cell(row, 1, std::chrono::seconds(1))) + "]";
        if (unanswered_) failure_ += "; the window did not answer";
        const std::vector<std::string> events = ReadEvents(paths_[0]);
        failure_ += "; the first daemon's last events:";
        for (size_t i = events.size() > 8 ? events.size() - 8 : 0; i < events.size(); ++i) failure_ += " " + events[i];
        return false;
    }

    static std::string NarrowCell(const std::wstring& cell) {
        if (cell == BlackStar) return "running";
        if (cell == WhiteStar) return "ended";
        if (cell == PausedStars) return "paused";
        return Narrow(cell);
    }

    bool WaitForStatus(int n, const std::wstring& status) {
        const bool shown = WaitUntil(
            [&] {
                // A frozen host would hold the row reads below for good.
                if (checkAnswers_ && !Answered()) return true;
                for (int i = 0; i < n; ++i) {
                    if (host_.Cell(rows_[static_cast<size_t>(i)], 1) != status) return false;
                }
                return true;
            },
            std::chrono::seconds(60));
        return (shown && !unanswered_) ||
               Stalled("the first " + std::to_string(n) + " rows to show " + NarrowCell(status));
    }

    HostProcess& host_;
    std::vector<std::wstring> paths_;
    std::vector<int> rows_;
    std::vector<int> entries_;  // "entry" lines each daemon's log should hold by now
    bool checkAnswers_ = false;
    bool unanswered_ = false;
    int commands_ = 0;
    std::string failure_;
};

// Runs steps in rounds of at most batch daemons until count commands have been given.
bool InRounds(int count, int batch, const std::function<bool(int)>& round) {
    for (int done = 0; done < count;) {
        int n = std::min(batch, count - done);
        if (!round(n)) return false;
        done += n;
    }
    return true;
}

std::string Line(const char* format, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

}  // namespace

bool IsWithinSoakMargins(const SoakFigures& figures) {
    return HandleChange(figures.before, figures.afterCycles) <= SoakHandleMargin &&
           HandleChange(figures.afterCycles, figures.after) <= SoakHandleMargin &&
           figures.after.windows == figures.before.windows && figures.afterCycles.windows == figures.before.windows &&
           PrivateBytesChange(figures.before, figures.afterCycles) <= CyclesPrivateBytesMargin(figures);
}

long long CyclesPrivateBytesMargin(const SoakFigures& figures) {
    return SoakPrivateBytesMargin + figures.poolWorkersNewInCycles * SoakPoolWorkerBytes;
}

double CloseBoundSeconds(int daemons, int ignoring, double tickSeconds) {
    constexpr double GraceSeconds = 30.0;
    return (2.0 * daemons + ignoring) * tickSeconds + GraceSeconds;
}

LoadFigures RunLoad(const LoadRun& run) {
    LoadFigures figures;
    figures.daemons = run.cooperative + run.wordless + run.ignoring;
    figures.boundSeconds = CloseBoundSeconds(figures.daemons, run.ignoring);
    auto fail = [&](const std::string& why) {
        figures.failure = why;
        return figures;
    };
    TempFolder folder;
    HostProcess host(folder);
    std::vector<std::wstring> cooperative, wordless, ignoring, all;
    // Kinds interleaved as cooperative, wordless, cooperative, ignoring while each lasts.
    const wchar_t* pattern[] = {L"cooperative", L"only_entry", L"cooperative", L"ignores_word"};
    int left[] = {run.cooperative, run.wordless, run.ignoring};
    for (int i = 0, turn = 0; static_cast<int>(all.size()) < figures.daemons; ++turn) {
        int kind = turn % 4 == 1 ? 1 : turn % 4 == 3 ? 2 : 0;
        if (left[kind] == 0) continue;
        --left[kind];
        std::wstring path = host.AddDaemon(pattern[turn % 4], DaemonName(L"d", i++));
        (kind == 0 ? cooperative : kind == 1 ? wordless : ignoring).push_back(path);
        all.push_back(path);
    }

    auto started = Clock::now();
    if (!host.Start() || !host.WaitForMainWindow()) return fail("the host did not start");
    // Every daemon settled in its loop before any is terminated.
    if (!WaitForCounts(all, "entry", std::vector<int>(all.size(), 1), std::chrono::minutes(5))) {
        return fail("not every daemon's EntryPoint ran");
    }
    figures.startSeconds = SecondsSince(started);

    auto closed = Clock::now();
    host.RequestClose();
    auto timeout =
        std::chrono::milliseconds(static_cast<long long>(figures.boundSeconds * 2000)) + std::chrono::minutes(2);
    if (!host.WaitForExit(timeout, &figures.exitCode)) return fail("the host did not end after the close request");
    figures.closeSeconds = SecondsSince(closed);

    long long first = LLONG_MAX, last = 0;
    for (const std::wstring& path : cooperative) {
        if (HasEvent(path, "stop-seen") && HasEvent(path, "return") && HasEvent(path, "detach")) {
            ++figures.cooperativeReturned;
        }
        long long seen = EventTime(path, "stop-seen");
        if (seen >= 0) {
            first = std::min(first, seen);
            last = std::max(last, seen);
        }
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    if (last >= first) figures.firstPassSeconds = static_cast<double>(last - first) / frequency.QuadPart;
    if (figures.daemons > 1) figures.tickMilliseconds = figures.firstPassSeconds * 1000.0 / (figures.daemons - 1);
    figures.boundAtTickSeconds =
        CloseBoundSeconds(figures.daemons, run.ignoring, std::max(0.004, figures.tickMilliseconds / 1000.0));
    // Ended by force, their libraries stay until the process ends, with no teardown run.
    for (const std::wstring& path : wordless) figures.wordlessUnloaded += !HasEvent(path, "detach");
    for (const std::wstring& path : ignoring) {
        figures.ignoringEnded += !HasEvent(path, "return") && !HasEvent(path, "detach");
    }
    if (figures.exitCode != 0) return fail("exit code " + std::to_string(figures.exitCode));
    if (figures.cooperativeReturned != run.cooperative) return fail("a cooperative daemon did not see 255 and return");
    if (figures.wordlessUnloaded != run.wordless) return fail("a daemon without a state word was not unloaded");
    if (figures.ignoringEnded != run.ignoring) return fail("a daemon that ignores its word was not ended and unloaded");
    figures.ok = true;
    return figures;
}

SoakFigures RunSoak(const SoakRun& run) {
    SoakFigures figures;
    auto fail = [&](const std::string& why) {
        figures.failure = why;
        return figures;
    };
    TempFolder folder;
    HostProcess host(folder);
    std::vector<std::wstring> paths;
    for (int i = 0; i < run.daemons; ++i) paths.push_back(host.AddDaemon(L"cooperative", DaemonName(L"s", i)));

    auto warmUp = Clock::now();
    if (!host.Start() || !host.WaitForMainWindow()) return fail("the host did not start");
    if (!WaitForCounts(paths, "entry", std::vector<int>(paths.size(), 1), std::chrono::minutes(2))) {
        return fail("not every daemon's EntryPoint ran");
    }
    host.PressTrayIcon();
    if (!WaitUntil([&] { return host.IsWindowShown(); }) || !host.Sync()) return fail("the window was not shown");
    SoakDriver daemons(host, paths);
    if (!daemons.FindRows()) return fail("a daemon has no row");
    // Everything the counted part does, done once, so that what the system sets up for
    // good the first time (menus, the message box, loading) is not counted.
    if (const std::string step = daemons.UseTheRealMenu(); !step.empty()) {
        return fail("\"" + step + "\" chosen from the context menu did not act");
    }
    const int all = run.daemons;
    if (!daemons.StopFirst(all) || !daemons.StartFirst(all) || !daemons.ForceStopFirst(all) ||
        !daemons.StartFirst(all) || !daemons.PauseOrResumeFirst(all, PausedStars) ||
        !daemons.PauseOrResumeFirst(all, BlackStar) || !daemons.StopFirst(all)) {
        return fail("the warm-up round did not complete: " + daemons.Failure());
    }
    figures.before = CensusOnceUnloaded(host, paths);
    figures.ownThreadsBefore = CountOwnThreads(figures.before);
    figures.warmUpSeconds = SecondsSince(warmUp);

    auto counted = Clock::now();
    if (!daemons.StartFirst(all)) return fail("the daemons did not start again");
    if (!InRounds(run.startStops, all, [&](int n) { return daemons.StopFirst(n) && daemons.StartFirst(n); })) {
        return fail("a start/stop cycle did not complete: " + daemons.Failure());
    }
    if (!InRounds(run.pauseResumes, all, [&](int n) {
            return daemons.PauseOrResumeFirst(n, PausedStars) && daemons.PauseOrResumeFirst(n, BlackStar);
        })) {
        return fail("a pause/resume pair did not complete: " + daemons.Failure());
    }
    if (!daemons.StopFirst(all)) return fail("the daemons did not stop after the cycles");
    figures.cycleSeconds = SecondsSince(counted);
    figures.afterCycles = CensusOnceUnloaded(host, paths);
    for (const CensusThread& thread : ThreadsAdded(figures.before, figures.afterCycles)) {
        figures.poolWorkersNewInCycles += IsPoolWorkerStart(thread.startModule);
    }

    auto forced = Clock::now();
    if (!daemons.StartFirst(all)) return fail("the daemons did not start again");
    if (!InRounds(run.forceStops, all, [&](int n) { return daemons.ForceStopFirst(n) && daemons.StartFirst(n); })) {
        return fail("a force stop did not complete: " + daemons.Failure());
    }
    if (!daemons.StopFirst(all)) return fail("the daemons did not stop at the end");
    figures.forceSeconds = SecondsSince(forced);
    figures.after = CensusOnceUnloaded(host, paths);
    figures.ownThreadsAfter = CountOwnThreads(figures.after);
    for (const CensusThread& thread : ThreadsAdded(figures.before, figures.after)) {
        if (IsPoolWorkerStart(thread.startModule)) {
            ++figures.poolWorkersNew;
        } else {
            figures.threadsLeft.push_back(std::to_wstring(thread.identity.id) + L", started in " + thread.startModule);
        }
    }
    figures.modulesLeft = ModulesAdded(figures.before, figures.after);

    host.RequestClose();
    if (!host.WaitForExit(std::chrono::seconds(60), &figures.exitCode)) return fail("the host did not end");
    if (figures.exitCode != 0) return fail("exit code " + std::to_string(figures.exitCode));
    if (!figures.before.taken || !figures.afterCycles.taken || !figures.after.taken)
        return fail("the host's resources could not be counted");
    figures.ok = true;
    return figures;
}

HungStopFigures RunHungStop() {
    HungStopFigures figures;
    auto fail = [&](const std::string& why) {
        figures.failure = why;
        return figures;
    };
    TempFolder folder;
    HostProcess host(folder);
    const std::wstring hung = host.AddDaemon(L"hangs_on_stop");
    const std::wstring busy = host.AddDaemon(L"busy");
    if (!host.Start() || !host.WaitForMainWindow() || !WaitForEntry(hung) || !WaitForEntry(busy)) {
        return fail("the host or its daemons did not start");
    }
    host.PressTrayIcon();
    if (!WaitUntil([&] { return host.IsWindowShown(); })) return fail("the window was not shown");
    const int hungRow = host.RowEndingWith(L"\\hangs_on_stop.dll"), busyRow = host.RowEndingWith(L"\\busy.dll");
    // "Start" must have been offered by a menu before its command is taken.
    if (!host.OpenContextMenu(hungRow)) return fail("no context menu");
    PressKeys({VK_ESCAPE});
    if (!host.WaitForNoPopupMenu() || !host.SelectRow(hungRow) || !host.SendCommand(CmdStop)) {
        return fail("the stop command was not taken");
    }
    auto stopped = Clock::now();
    if (!WaitForEvent(hung, "stop-seen")) return fail("the hung daemon never saw 255");
    std::wstring busyTime = host.Cell(busyRow, 2);
    while (host.Cell(hungRow, 1) != WhiteStar) {
        if (SecondsSince(stopped) > 90) return fail("the hung daemon was never ended");
        if (!host.Sync()) return fail("the host stopped answering during the grace");
        ++figures.answeredChecks;
        // One round trip a second through the grace; the end is seen as soon as it comes.
        WaitForEvent(hung, "detach", std::chrono::seconds(1));
    }
    figures.endedSeconds = SecondsSince(stopped);
    figures.otherRanOn = host.Cell(busyRow, 2) != busyTime && IsWindow(host.MainWindow());
    if (HasEvent(hung, "return")) return fail("the hung daemon returned, so it did not hang");
    if (!figures.otherRanOn) return fail("the other daemon's time stood still");
    if (!host.SelectRow(hungRow) || !host.SendCommand(CmdStart) ||
        !WaitUntil([&] { return CountFullReports(hung, "entry") == 2; })) {
        return fail("the hung daemon did not start again");
    }
    host.RequestClose();  // the new one hangs too: the close waits out its grace as well
    if (!host.WaitForExit(std::chrono::seconds(120), &figures.exitCode)) return fail("the host did not end");
    if (figures.exitCode != 0) return fail("exit code " + std::to_string(figures.exitCode));
    figures.ok = true;
    return figures;
}

std::vector<std::string> DescribeLoad(const LoadRun& run, const LoadFigures& figures) {
    return {
        Line("load: %d daemons (%d cooperative, %d without a state word, %d ignoring it)", figures.daemons,
             run.cooperative, run.wordless, run.ignoring),
        Line("  all running %.1f s after the host started", figures.startSeconds),
        Line("  close took %.1f s, exit code %lu", figures.closeSeconds, static_cast<unsigned long>(figures.exitCode)),
        Line("  255 reached the cooperative daemons over %.2f s: about %.1f ms a visit", figures.firstPassSeconds,
             figures.tickMilliseconds),
        Line("  bound: %.1f s at a visit every 4 ms, %.1f s at the time per visit measured", figures.boundSeconds,
             figures.boundAtTickSeconds),
        Line("  returned %d/%d, wordless unloaded %d/%d, ignoring ended after their grace %d/%d",
             figures.cooperativeReturned, run.cooperative, figures.wordlessUnloaded, run.wordless,
             figures.ignoringEnded, run.ignoring),
        figures.ok ? std::string("  ok") : "  FAILED: " + figures.failure,
    };
}

std::vector<std::string> DescribeSoak(const SoakRun& run, const SoakFigures& figures) {
    std::vector<std::string> lines = {
        Line("soak: %d start/stop cycles, %d pause/resume pairs, %d force stops over %d daemons", run.startStops,
             run.pauseResumes, run.forceStops, run.daemons),
        Line("  warm-up %.1f s, cycles and pairs %.1f s, force stops %.1f s", figures.warmUpSeconds,
             figures.cycleSeconds, figures.forceSeconds),
        "  before:             " + DescribeCensus(figures.before),
        "  after cycles/pairs: " + DescribeCensus(figures.afterCycles),
        "  after force stops:  " + DescribeCensus(figures.after),
        "  change over cycles and pairs: " + DescribeCensusChange(figures.before, figures.afterCycles),
        "  change over force stops:      " + DescribeCensusChange(figures.afterCycles, figures.after),
    };
    if (run.forceStops > 0) {
        lines.push_back(Line("  private bytes per force stop: %+lld KiB",
                             PrivateBytesChange(figures.afterCycles, figures.after) / 1024 / run.forceStops));
    }
    lines.push_back(
        Line("  margins (handles %+lld each part, no window, private bytes %+lld KiB over cycles and "
             "pairs): %s",
             SoakHandleMargin, CyclesPrivateBytesMargin(figures) / 1024,
             IsWithinSoakMargins(figures) ? "held" : "EXCEEDED"));
    lines.push_back(Line(
        "  the host's own threads %d before, %d after; new workers of the system's pool: %d in the "
        "cycles and pairs, %d in all",
        figures.ownThreadsBefore, figures.ownThreadsAfter, figures.poolWorkersNewInCycles, figures.poolWorkersNew));
    // Which thread is which, where a figure went wrong.
    if (!IsWithinSoakMargins(figures) || figures.ownThreadsAfter != figures.ownThreadsBefore) {
        const std::pair<const char*, const ProcessCensus*> censuses[] = {
            {"before", &figures.before}, {"after cycles/pairs", &figures.afterCycles}, {"after", &figures.after}};
        for (const auto& [name, census] : censuses) {
            lines.push_back(Line("  threads %s:", name));
            for (const std::string& thread : DescribeThreads(*census)) lines.push_back("    " + thread);
        }
    }
    lines.push_back(figures.threadsLeft.empty() ? "  threads left behind: none" : "  threads left behind:");
    for (const std::wstring& thread : figures.threadsLeft) lines.push_back("    " + Narrow(thread));
    lines.push_back(figures.modulesLeft.empty() ? "  modules left behind: none" : "  modules left behind:");
    for (const std::wstring& module : figures.modulesLeft) lines.push_back("    " + Narrow(module));
    lines.push_back(figures.ok ? std::string("  ok") : "  FAILED: " + figures.failure);
    return lines;
}

// Whatever the daemons do, the close ends within this.
constexpr double ClosesWithinSeconds = 32.0;

BusyFigures RunBusy(const BusyRun& run) {
    BusyFigures figures;
    TempFolder folder;
    HostProcess host(folder);
    std::vector<std::wstring> paths;
    for (int i = 0; i < run.instances; ++i) {
        for (const std::wstring& kind : run.kinds) paths.push_back(host.AddDaemon(kind, DaemonName(kind.c_str(), i)));
    }
    const int all = static_cast<int>(paths.size());
    SoakDriver daemons(host, paths);
    auto fail = [&](const std::string& why) {
        figures.failure = daemons.Unanswered()
                              ? Line("the window did not answer within 1 s after command %d", daemons.Commands())
                              : why;
        figures.commands = daemons.Commands();
        return figures;
    };
    if (!host.Start() || !host.WaitForMainWindow()) return fail("the host did not start");
    if (!WaitForCounts(paths, "entry", std::vector<int>(paths.size(), 1), std::chrono::minutes(2))) {
        return fail("not every daemon's EntryPoint ran");
    }
    host.PressTrayIcon();
    if (!WaitUntil([&] { return host.IsWindowShown(); }) || !host.Sync()) return fail("the window was not shown");
    if (!daemons.FindRows()) return fail("a daemon has no row");
    daemons.CheckAnswers();
    // The host runs a command's handler once a menu has offered its item.
    if (const std::string step = daemons.UseTheRealMenu(); !step.empty()) {
        return fail("\"" + step + "\" chosen from the context menu did not act");
    }

    auto paired = Clock::now();
    for (int round = 0; round < run.rounds; ++round) {
        if (!daemons.PauseOrResumeFirst(all, PausedStars) || !daemons.PauseOrResumeFirst(all, BlackStar)) {
            return fail(Line("pause/resume round %d did not complete", round + 1));
        }
        figures.pairsPerKind += run.instances;
    }
    figures.pairSeconds = SecondsSince(paired);
    auto forced = Clock::now();
    for (int round = 0; round < run.forceRounds; ++round) {
        // Every other force stop meets the daemons paused, and every fourth just after their
        // pause was asked for, when it may still wait for its safe point.
        const bool paused = round % 2 == 1 && !daemons.PauseOrResumeFirst(all, PausedStars);
        const bool pausing = round % 4 == 2 && !daemons.AskPauseOrResumeFirst(all);
        if (paused || pausing || !daemons.ForceStopFirst(all) || !daemons.StartFirst(all)) {
            return fail(Line("force-stop round %d did not complete: ", round + 1) + daemons.Failure());
        }
        figures.forceStopsPerKind += run.instances;
    }
    figures.forceSeconds = SecondsSince(forced);
    // The close meets the daemons paused, as a user's quit may.
    if (!daemons.PauseOrResumeFirst(all, PausedStars)) return fail("the pause before the close: " + daemons.Failure());
    figures.commands = daemons.Commands();
    const auto closed = Clock::now();
    host.RequestClose();
    if (!host.WaitForExit(std::chrono::seconds(60), &figures.exitCode)) return fail("the host did not end");
    figures.closeSeconds = SecondsSince(closed);
    if (figures.exitCode != 0) return fail("exit code " + std::to_string(figures.exitCode));
    if (figures.closeSeconds > ClosesWithinSeconds) return fail(Line("the close took %.1f s", figures.closeSeconds));
    figures.ok = true;
    return figures;
}

std::vector<std::string> DescribeBusy(const BusyRun& run, const BusyFigures& figures) {
    return {
        Line("busy daemons: %d of each of %d kinds", run.instances, static_cast<int>(run.kinds.size())),
        Line("  %d pause/resume pairs and %d force stops per kind, %d commands, each answered within 1 s",
             figures.pairsPerKind, figures.forceStopsPerKind, figures.commands),
        Line("  pairs %.1f s, force stops and starts %.1f s, the close of the paused daemons %.1f s",
             figures.pairSeconds, figures.forceSeconds, figures.closeSeconds),
        figures.ok ? std::string("  ok") : "  FAILED: " + figures.failure,
    };
}

std::vector<std::string> DescribeHungStop(const HungStopFigures& figures) {
    return {
        "hung stop: a daemon that sees 255 and never finishes, stopped from its row",
        Line("  ended %.1f s after the stop command; the host answered %d round trips meanwhile, the other daemon "
             "%s; exit code %lu after a second stop and close",
             figures.endedSeconds, figures.answeredChecks, figures.otherRanOn ? "ran on" : "stood still",
             static_cast<unsigned long>(figures.exitCode)),
        figures.ok ? std::string("  ok") : "  FAILED: " + figures.failure,
    };
}

}  // namespace kestrune::test
