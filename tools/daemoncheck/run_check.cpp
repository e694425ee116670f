#include "check.h"
#include "core/clock.h"
#include "core/code_quarantine.h"
#include "core/library_release.h"
#include "core/lifecycle.h"
#include "process_probe.h"
#include "quit_watch.h"

namespace daemoncheck {
namespace {

using kestrune::Daemon;

std::wstring Milliseconds(uint64_t value) {
    return std::to_wstring(value) + L" ms";
}

// How long a library may stay in quarantine past its period before the checker stops waiting:
// the host frees it only once the loader's lock is free.
constexpr uint64_t QuarantineAllowance = 10000;
// The host's reaper reviews the quarantine at its ticks.
constexpr DWORD ReviewPeriod = 50;

// Stops a daemon that has a state word: 255, the wait, then the host's verdict. False when
// the daemon returned at once and the tick that wrote 255 already unloaded it.
bool StopThroughStateWord(Check& check) {
    Daemon* daemon = check.daemon;
    kestrune::SetDaemonRequest(daemon, kestrune::RequestStop);
    bool loaded = kestrune::TickDaemon(daemon);  // writes 255 and stamps the request
    uint64_t written = kestrune::ClockMilliseconds();
    if (!loaded) {
        Report(check.findings, Level::Ok, "stop", L"returned at once when 255 was written into its state word");
        return false;
    }
    bool ended = WaitPumping(daemon->thread.get(), check.options.waitMilliseconds);
    uint64_t elapsed = kestrune::ClockMilliseconds() - written;
    if (ended) {
        Report(check.findings, Level::Ok, "stop",
               L"returned " + Milliseconds(elapsed) + L" after 255 was written into its state word");
        return true;
    }
    const bool waitedFullGrace = check.options.waitMilliseconds >= static_cast<DWORD>(kestrune::StopGracePeriod);
    // A shorter wait cannot tell a slow cleanup from a daemon that never returns: say only what was seen.
    Report(check.findings, Level::Fail, "stop",
           L"still running " + Milliseconds(elapsed) + L" after 255 was written into its state word: " +
               (waitedFullGrace ? L"the host ends it by force now, terminating its thread, and keeps its library, "
                                  L"whose DllMain detach never runs; on Quit it holds up the host's exit that long"
                                : L"unless it returns within 30 s of the stop, the host ends it by force then, "
                                  L"terminating its thread, and keeps its library, whose DllMain detach never runs; "
                                  L"on Quit it holds up the host's exit until it returns (--wait 30000 shows which)"));
    check.threadTerminated = true;
    kestrune::SetDaemonRequest(daemon, kestrune::RequestForceStop);
    return true;
}

// The host's Stop for a daemon whose thread still runs but that has no state word.
void StopByForce(Check& check) {
    Report(check.findings, Level::Info, "stop",
           L"no state word: Stop ends it by force: the host terminates its thread wherever it stands and keeps its "
           L"library mapped, so its DllMain detach never runs in the host");
    check.threadTerminated = true;
    kestrune::SetDaemonRequest(check.daemon, kestrune::RequestStop);
}

// Ticks as the host's reaper does until the record is gone: an end by force waits for a point
// where the thread holds no lock.
void TickUntilUnloaded(Daemon* daemon) {
    while (kestrune::TickDaemon(daemon) != kestrune::TickUnloaded) PumpMessages(ReviewPeriod);
}

// What the host made of the library once the record is gone: kept at once, or closed off and
// reviewed at the reaper's ticks until it is freed or kept because something ran its code.
kestrune::LibraryFate AwaitLibraryFate(const Check& check, uint32_t keptBefore) {
    using kestrune::LibraryFate;
    if (kestrune::KeptLibraryCount() > keptBefore)
        return check.threadTerminated ? LibraryFate::KeptAfterForce : LibraryFate::KeptRunning;
    if (!kestrune::IsInQuarantine(check.module)) return LibraryFate::Freed;
    const uint64_t deadline = kestrune::ClockMilliseconds() + kestrune::QuarantinePeriod + QuarantineAllowance;
    while (kestrune::IsInQuarantine(check.module) && kestrune::ClockMilliseconds() < deadline) {
        PumpMessages(ReviewPeriod);
        kestrune::ReviewQuarantine();
    }
    if (kestrune::IsInQuarantine(check.module)) return LibraryFate::Quarantined;
    return kestrune::KeptLibraryCount() > keptBefore ? LibraryFate::KeptTouched : LibraryFate::Freed;
}

}  // namespace

void StartAndSettle(Check& check) {
    Daemon* daemon = check.daemon;
    kestrune::StartDaemonThread(daemon, kestrune::RequestNone);
    uint64_t started = kestrune::ClockMilliseconds();
    check.daemonThreadId = GetThreadId(daemon->thread.get());
    if (!daemon->Has(kestrune::FlagStarted)) {
        Report(check.findings, Level::Warn, "run",
               L"EntryPoint had already returned when the host looked at its thread: the host keeps the daemon "
               L"loaded but not started, never asks it for a menu, and unloads it only on Stop or Quit");
        return;
    }
    Report(check.findings, Level::Ok, "run",
           L"EntryPoint runs on a thread of its own (thread " + std::to_wstring(check.daemonThreadId) + L")");
    if (WaitPumping(daemon->thread.get(), check.options.settleMilliseconds)) {
        Report(check.findings, Level::Info, "run",
               L"EntryPoint returned by itself " + Milliseconds(kestrune::ClockMilliseconds() - started) +
                   L" after it started, without a stop request: the host unloads the daemon at its next check");
    }
}

void StopAndUnload(Check& check) {
    Daemon* daemon = check.daemon;
    if (!daemon) return;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(daemon->entryPointAddress)), &check.pin);
    // The daemon's windows die with its thread: their classes are noted while they still exist.
    CollectDaemonClasses(check, kestrune::probe::ProcessWindows(GetCurrentProcessId()));
    NoteMainThreadWindows(check);
    const uint32_t keptBefore = kestrune::KeptLibraryCount();
    const LONG quitsBefore = QuitRequestsOnMainThread();
    bool loaded = true;
    if (!daemon->Has(kestrune::FlagStarted)) {
        kestrune::SetDaemonRequest(daemon, kestrune::RequestStop);
    } else if (!kestrune::IsThreadAlive(daemon->thread.get())) {
        // Returned by itself: the next tick finds the thread gone.
    } else if (daemon->stateWordAddress) {
        loaded = StopThroughStateWord(check);
    } else {
        StopByForce(check);
    }
    if (loaded) TickUntilUnloaded(daemon);
    check.daemon = nullptr;  // the host's unloading has released the record
    check.quitsAtUnload = QuitRequestsOnMainThread() - quitsBefore;
    check.fate = AwaitLibraryFate(check, keptBefore);
}

}  // namespace daemoncheck
