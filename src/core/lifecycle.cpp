#include "lifecycle.h"

#include <cstdlib>

#include "application.h"
#include "clock.h"
#include "loader.h"
#include "priority.h"
#include "../ui/daemon_rows.h"

namespace kestrune {
namespace {

constexpr DWORD DaemonStackSize = 4096;

bool IsPriorityRequest(int32_t request) {
    // Widened, so that no request value can overflow the subtraction.
    switch (static_cast<int64_t>(request) - RequestPriorityBase) {
    case THREAD_PRIORITY_IDLE:
    case THREAD_PRIORITY_LOWEST:
    case THREAD_PRIORITY_BELOW_NORMAL:
    case THREAD_PRIORITY_NORMAL:
    case THREAD_PRIORITY_ABOVE_NORMAL:
    case THREAD_PRIORITY_HIGHEST:
    case THREAD_PRIORITY_TIME_CRITICAL:
        return true;
    default:
        return false;
    }
}

int32_t LowBitsOfClock() {
    return static_cast<int32_t>(static_cast<uint32_t>(ClockMilliseconds()));
}

// Returns false when the daemon is finished by the request.
bool ApplyStopRequest(Daemon* daemon) {
    if (daemon->Has(FlagStopping)) return true;  // the first request's grace runs on
    if (!daemon->Has(FlagStarted)) return false;
    bool keep = true;
    if (daemon->Has(FlagPaused)) {
        daemon->flags &= ~FlagPaused;
        ResumeThreadFully(daemon->thread.get());
    }
    if (!daemon->stateWordAddress) {
        keep = false;
    } else {
        WriteStateWord(daemon, StateWordStop);
        daemon->stopRequestTime = LowBitsOfClock();
    }
    daemon->flags |= FlagStopping;
    return keep;
}

void ApplyPauseRequest(Daemon* daemon) {
    daemon->flags |= FlagPaused;
    HANDLE thread = daemon->thread.get();
    if (!IsThreadAlive(thread)) return;
    // A thread the host pauses is never suspended more than once by the host.
    DWORD previous = SuspendThread(thread);
    if (previous != static_cast<DWORD>(-1) && previous >= 1) ResumeThread(thread);
}

bool HasFinished(const Daemon& daemon) {
    if (daemon.Has(FlagStarted) && !IsThreadAlive(daemon.thread.get())) return true;
    if (daemon.Has(FlagStopping) && std::llabs(MillisecondsSinceStopRequest(daemon)) > StopGracePeriod) return true;
    return false;
}

}  // namespace

bool IsThreadAlive(HANDLE thread) {
    return thread != nullptr && WaitForSingleObject(thread, 0) != WAIT_OBJECT_0;
}

void SetDaemonRequest(Daemon* daemon, int32_t request) {
    if (daemon) daemon->request = request;
}

void StartDaemonThread(Daemon* daemon, int32_t request) {
    if (!daemon || IsQuitting()) return;
    daemon->request = request;
    daemon->thread.reset(CreateThread(nullptr, DaemonStackSize, DaemonThreadMain, daemon, 0, nullptr));
    if (IsThreadAlive(daemon->thread.get())) daemon->flags |= FlagStarted;
}

bool TickDaemon(Daemon* daemon) {
    bool keep = true;
    const int32_t request = daemon->request;
    switch (request) {
    case RequestStop:
        keep = ApplyStopRequest(daemon);
        break;
    case RequestForceStop:
        keep = false;
        break;
    case RequestPause:
        ApplyPauseRequest(daemon);
        break;
    case RequestResume:
        daemon->flags &= ~FlagPaused;
        ResumeThreadFully(daemon->thread.get());
        break;
    default:
        if (IsPriorityRequest(request)) SetDaemonPriority(daemon->thread.get(), request - RequestPriorityBase);
        break;
    }
    if (keep && HasFinished(*daemon)) keep = false;
    if (keep) {
        if (request != RequestNone) RefreshDaemonRow(daemon, false);
        daemon->request = RequestNone;
        return true;
    }
    RefreshDaemonRow(daemon, true);
    UnloadDaemon(daemon);
    return false;
}

bool WriteStateWord(Daemon* daemon, LONG value) {
    if (!daemon || !daemon->stateWordAddress) return false;
    *daemon->stateWordAddress = value;
    return true;
}

void ResumeThreadFully(HANDLE thread) {
    if (!IsThreadAlive(thread)) return;
    for (int counter = 255;; --counter) {
        if (ResumeThread(thread) == 0 || counter == 0) break;
    }
}

int32_t MillisecondsSinceStopRequest(const Daemon& daemon) {
    return static_cast<int32_t>(static_cast<uint32_t>(ClockMilliseconds()) -
                                static_cast<uint32_t>(daemon.stopRequestTime));
}

}  // namespace kestrune
