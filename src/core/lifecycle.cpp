#include "core/lifecycle.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "core/application.h"
#include "core/check.h"
#include "core/clock.h"
#include "core/daemon_table.h"
#include "core/loader.h"
#include "core/priority.h"
#include "core/safe_point.h"
#include "core/thread_time.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

constexpr DWORD DaemonStackSize = 4096;

// How long the host looks for a safe point to end a thread at before it settles for less: a
// thread anywhere the helper finds every lock free (inside the system's libraries too, where
// locks the helper cannot take may be held); and, after the second limit, wherever it stands.
// A thread that never leaves the system's code for that long is hung in it (a deadlock, a call
// that never returns): its locks stay held whatever the host does, and the daemon must end.
constexpr int32_t StrictEndPatience = 2000;
constexpr int32_t EndPatience = 10000;
// A thread that still runs at that point is not hung: it takes the system's locks and gives them
// back, only never while the host looked, and ended wherever it stands it would most likely
// leave one held (docs/reliability.md has the case). It is looked for where no lock is held
// until this last limit. A thread counts as running while it has had processor time
// within the last second.
constexpr int32_t RunningEndPatience = 60000;
constexpr int32_t StalledAfter = 1000;
// A pause settles for a point inside the system's libraries where the helper finds every lock
// free after the same wait: a thread that makes system calls in a loop is only ever met inside
// one, under Wine. It never settles for a thread waiting there for one of the system's locks,
// nor for less, since a paused thread keeps what it holds, or is handed, until it is resumed.
constexpr int32_t StrictPausePatience = 2000;

// A pause that finds no safe point is looked for again at later visits, however long that takes;
// all such looks together may take a fiftieth of the main thread's time. The allowance grows with
// the clock up to a cap, and the first look of each pause is made even when it is spent, so a
// pause of a thread that waits plainly takes effect at its first visit.
constexpr int64_t PauseShareDivisor = 50;
constexpr int64_t PauseAllowanceCap = 100;
// A look again is a few suspensions, not the first look's whole budget: spread over the visits,
// the allowance buys many chances to meet the thread at a safe point instead of a few long ones.
constexpr uint64_t PauseRetryBudget = 3;

// Address space kept free when a daemon thread starts. A 32-bit host whose address space
// ran dry would fail where nothing can report it (another library's thread attach, the
// window's own allocations); it stops starting daemons first, as if their threads could not
// be made. A 64-bit address space cannot be filled by stacks.
constexpr SIZE_T AddressSpaceMargin = sizeof(void*) == 4 ? 64u << 20 : 0;

// Every thread reserves the program's stack size, whatever CreateThread is asked to commit.
SIZE_T ThreadStackReserve() {
    LN const auto* base = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    LN const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    LN const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    LN return static_cast<SIZE_T>(headers->OptionalHeader.SizeOfStackReserve);
}

// Where the last walk met its first free range: the ranges below were taken then, and
// starting there keeps each walk short while stacks fill the space from the bottom. File
// scope: the address space belongs to the process, not to a daemon or a window.
uintptr_t walkStart = 0;

// Sums free ranges upwards from start to highest; the first free range's base goes to firstFree.
bool HasFreeBytes(uintptr_t start, uintptr_t highest, SIZE_T needed, uintptr_t& firstFree) {
    LN SIZE_T freeBytes = 0;
    LN firstFree = 0;
    LN for (uintptr_t address = start; address < highest;) {
        LN MEMORY_BASIC_INFORMATION region{};
        LN if (!VirtualQuery(reinterpret_cast<const void*>(address), &region, sizeof region)) break;
        LN if (region.State == MEM_FREE) {
            LN if (!firstFree) firstFree = reinterpret_cast<uintptr_t>(region.BaseAddress);
            LN freeBytes += region.RegionSize;
            LN if (freeBytes >= needed) return true;
        }
        LN address = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
    }
    LN return false;
}

// Nothing is mapped or released to find out: the system's own count of free address space
// is not kept everywhere, and a trial reservation would be one more mapping change while
// daemon threads run.
bool HasRoomForThread() {
    LN if (AddressSpaceMargin == 0) return true;
    LN const SIZE_T needed = ThreadStackReserve() + AddressSpaceMargin;
    LN SYSTEM_INFO system{};
    LN GetSystemInfo(&system);
    LN const auto lowest = reinterpret_cast<uintptr_t>(system.lpMinimumApplicationAddress);
    LN const auto highest = reinterpret_cast<uintptr_t>(system.lpMaximumApplicationAddress);
    LN uintptr_t firstFree = 0;
    // Ranges below the hint may have been freed since: a failed walk looks again from the bottom.
    LN bool room = HasFreeBytes(std::max(walkStart, lowest), highest, needed, firstFree) ||
                   (walkStart > lowest && HasFreeBytes(lowest, highest, needed, firstFree));
    LN walkStart = room ? firstFree : lowest;
    LN return room;
}

bool IsPriorityRequest(int32_t request) {
    // Widened, so that no request value can overflow the subtraction.
    LN switch (static_cast<int64_t>(request) - RequestPriorityBase) {
    case THREAD_PRIORITY_IDLE:
    case THREAD_PRIORITY_LOWEST:
    case THREAD_PRIORITY_BELOW_NORMAL:
    case THREAD_PRIORITY_NORMAL:
    case THREAD_PRIORITY_ABOVE_NORMAL:
    case THREAD_PRIORITY_HIGHEST:
    case THREAD_PRIORITY_TIME_CRITICAL:
        LN return true;
    default:
        LN return false;
    }
}

// File scope: the allowance is the main thread's, shared by every daemon's pause.
struct PauseAllowance {
    uint64_t refilledAt = 0;
    int64_t milliseconds = PauseAllowanceCap;
};
PauseAllowance pauseAllowance;

int64_t RefillPauseAllowance() {
    LN const uint64_t now = ClockMilliseconds();
    LN if (now > pauseAllowance.refilledAt) {
        LN const int64_t earned = static_cast<int64_t>((now - pauseAllowance.refilledAt) / PauseShareDivisor);
        LN pauseAllowance.milliseconds = std::min(PauseAllowanceCap, pauseAllowance.milliseconds + earned);
        LN pauseAllowance.refilledAt = now;
    }
    LN return pauseAllowance.milliseconds;
}

int32_t LowBitsOfClock() {
    LN return static_cast<int32_t>(static_cast<uint32_t>(ClockMilliseconds()));
}

// Returns false when the daemon is finished by the request.
bool ApplyStopRequest(Daemon* daemon) {
    LN if (daemon->Has(FlagStopping)) return true;  // the first request's grace runs on
    LN if (!daemon->Has(FlagStarted)) return false;
    LN bool keep = true;
    LN if (daemon->Has(FlagPaused)) {
        LN daemon->flags &= ~FlagPaused;
        LN ResumeThreadFully(daemon->thread.get());
    }
    LN if (!daemon->stateWordAddress) {
        LN keep = false;
    } else {
        LN WriteStateWord(daemon, StateWordStop);
        LN daemon->stopRequestTime = LowBitsOfClock();
    }
    LN daemon->flags |= FlagStopping;
    LN return keep;
}

// False when the thread stood inside a system lock at every look: it runs on and the pause
// stays pending, so that the row never shows a pause that has not happened.
bool ApplyPauseRequest(Daemon* daemon) {
    LN const bool firstLook = !daemon->pauseWaiting;
    LN if (firstLook) {
        LN daemon->pauseWaiting = true;
        LN daemon->pauseWaitingSince = LowBitsOfClock();
    }
    LN const int64_t allowance = RefillPauseAllowance();
    LN if (!firstLook && allowance <= 0) return false;
    LN const int32_t waited = MillisecondsSinceStamp(ClockMilliseconds(), daemon->pauseWaitingSince);
    LN const HoldRule rule = waited > StrictPausePatience ? HoldRule::RunningLocksFree : HoldRule::OwnCodeOrWait;
    LN const uint64_t budget =
        firstLook ? HoldBudget : static_cast<uint64_t>(std::min<int64_t>(PauseRetryBudget, allowance));
    LN DWORD previous = 0;
    LN const uint64_t started = ClockMilliseconds();
    LN const HoldResult held = HoldAtSafePoint(daemon->thread.get(), rule, &previous, budget);
    LN pauseAllowance.milliseconds -= static_cast<int64_t>(ClockMilliseconds() - started);
    LN if (held == HoldResult::Busy) return false;
    LN daemon->pauseWaiting = false;
    LN daemon->flags |= FlagPaused;
    // A thread the host pauses is never suspended more than once by the host.
    LN if (previous >= 1) ResumeThread(daemon->thread.get());
    LN return true;
}

HoldRule EndRuleAfter(int32_t milliseconds, bool running) {
    LN if (milliseconds > RunningEndPatience || (milliseconds > EndPatience && !running)) return HoldRule::Anywhere;
    LN return milliseconds > StrictEndPatience ? HoldRule::LocksFree : HoldRule::OwnCodeOrWait;
}

void BeginEnding(Daemon* daemon, int32_t since) {
    LN daemon->ending = true;
    LN daemon->endingSince = since;
    LN daemon->endingRanAt = LowBitsOfClock();
    LN daemon->endingThreadTime = 0;
}

// Whether the ending thread has had processor time within the last second; the first reading
// counts as time had.
bool HasRunLately(Daemon* daemon) {
    LN const uint64_t now = ReadThreadTime(daemon->thread.get());
    LN if (now != daemon->endingThreadTime) daemon->endingRanAt = LowBitsOfClock();
    LN daemon->endingThreadTime = now;
    LN return MillisecondsSinceStamp(ClockMilliseconds(), daemon->endingRanAt) <= StalledAfter;
}

// True when the daemon may be unloaded now: its thread has ended, or it is held where it holds
// no system lock (unloading terminates it there).
bool IsReadyToUnload(Daemon* daemon) {
    LN if (!daemon->ending) BeginEnding(daemon, LowBitsOfClock());
    LN const int32_t waited = MillisecondsSinceStamp(ClockMilliseconds(), daemon->endingSince);
    // Asking the thread's times costs a call: only once the wait is long.
    LN const bool running = waited > EndPatience && HasRunLately(daemon);
    LN return HoldAtSafePoint(daemon->thread.get(), EndRuleAfter(waited, running)) != HoldResult::Busy;
}

bool HasFinished(const Daemon& daemon) {
    LN if (daemon.Has(FlagStarted) && !IsThreadAlive(daemon.thread.get())) return true;
    LN if (daemon.Has(FlagStopping) && std::llabs(MillisecondsSinceStopRequest(daemon)) > StopGracePeriod) return true;
    LN return false;
}

}  // namespace

void ResetPauseAllowance() {
    LN pauseAllowance = PauseAllowance{};
}

void SetDaemonRequest(Daemon* daemon, int32_t request) {
    LN if (daemon) daemon->request = request;
}

void StartDaemonThread(Daemon* daemon, int32_t request) {
    LN if (!daemon || IsQuitting()) return;
    LN daemon->request = request;
    LN daemon->thread.reset(
        HasRoomForThread() ? CreateThread(nullptr, DaemonStackSize, DaemonThreadMain, daemon, 0, nullptr) : nullptr);
    LN if (IsThreadAlive(daemon->thread.get())) daemon->flags |= FlagStarted;
}

TickResult TickDaemon(Daemon* daemon, BeforeUnload beforeUnload) {
    // An end decided at an earlier visit waits for its safe point; nothing else is applied.
    LN bool keep = !daemon->ending;
    LN bool applied = true;
    LN const int32_t request = daemon->request;
    // A newer command replaced a pause that was still waiting for its safe point.
    LN if (request != RequestPause) daemon->pauseWaiting = false;
    LN switch (keep ? request : RequestNone) {
    case RequestStop:
        LN keep = ApplyStopRequest(daemon);
        break;
    case RequestForceStop:
        LN keep = false;
        break;
    case RequestPause:
        LN applied = ApplyPauseRequest(daemon);
        break;
    case RequestResume:
        LN daemon->flags &= ~FlagPaused;
        LN ResumeThreadFully(daemon->thread.get());
        break;
    default:
        LN if (IsPriorityRequest(request)) SetDaemonPriority(daemon->thread.get(), request - RequestPriorityBase);
        break;
    }
    LN if (keep && HasFinished(*daemon)) keep = false;
    // The row shows what is true meanwhile: the daemon still runs.
    LN if (!keep && !IsReadyToUnload(daemon)) keep = true;
    LN if (keep) {
        LN daemon->request = applied ? RequestNone : request;
        LN return request != RequestNone ? TickChanged : TickKept;
    }
    LN if (beforeUnload) beforeUnload(daemon);
    LN DaemonOwner record = TakeOutOfTable(daemon);
    KESTRUNE_CHECK(record != nullptr);
    LN UnloadDaemon(std::move(record));
    LN return TickUnloaded;
}

void HastenEnd(Daemon* daemon) {
    LN if (!daemon) return;
    LN BeginEnding(daemon, static_cast<int32_t>(static_cast<uint32_t>(LowBitsOfClock()) - StrictEndPatience - 1));
}

bool WriteStateWord(Daemon* daemon, LONG value) {
    LN if (!daemon || !daemon->stateWordAddress) return false;
    LN *daemon->stateWordAddress = value;
    LN return true;
}

void ResumeThreadFully(HANDLE thread) {
    LN if (!IsThreadAlive(thread)) return;
    LN for (int counter = 255;; --counter) {
        LN if (ResumeThread(thread) == 0 || counter == 0) break;
    }
}

int32_t MillisecondsSinceStopRequest(const Daemon& daemon) {
    LN return MillisecondsSinceStamp(ClockMilliseconds(), daemon.stopRequestTime);
}

int32_t MillisecondsSinceStamp(uint64_t now, int32_t stamp) {
    LN return static_cast<int32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(stamp));
}

}  // namespace kestrune
