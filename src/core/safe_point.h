// Holding a daemon's thread still only where it holds none of the system's locks.
#pragma once

#include <windows.h>

#include <cstdint>

namespace kestrune {

enum class HoldResult {
    Held,      // suspended once more, standing where the rule allows
    Busy,      // it stood where the rule forbids each time it was looked at: it runs on as before
    NotAlive,  // it has ended, or cannot be suspended
};

// Where a thread may be held, from the strictest to none.
enum class HoldRule {
    // In its own code, or waiting in a plain wait, with the helper finding every lock free.
    OwnCodeOrWait,
    // Also inside the system's libraries, as long as it runs there and the helper finds every
    // lock free: not while it waits there for one of their locks, which it may be handed at any
    // moment, whether or not the helper knows that lock.
    RunningLocksFree,
    // Wherever it stands, as long as the helper finds every lock free: also inside the system's
    // libraries and their calls, where locks the helper cannot take may be held.
    LocksFree,
    // Wherever it stands.
    Anywhere,
};

// How long one hold keeps looking for a safe point before it gives up for this visit. Each
// look costs a suspension and a resumption; a thread that is inside the system most of the
// time (loading libraries in a loop, say) is met in its own code within a few dozen looks.
constexpr uint64_t HoldBudget = 30;

// A thread suspended or ended while it holds a heap's lock, the loader lock or a lock of the
// window or drawing system leaves that lock held, and the host's own next allocation or library
// call then blocks for good. This suspends the thread and keeps it suspended only where the rule
// allows; otherwise it resumes it and looks again, for budget milliseconds at most (at least one
// look; a look that waits for the helper's round may run up to 20 ms past the budget).
// previousCount receives the suspend count the thread had before.
HoldResult HoldAtSafePoint(HANDLE thread, HoldRule rule, DWORD* previousCount = nullptr, uint64_t budget = HoldBudget);

// Starts the helper thread, once, and waits for its first round. Called before any daemon
// thread is held, since a new thread takes the loader lock itself: the host calls it at start,
// before its daemons start, so that no visit of a daemon waits for it.
bool StartLockProbe();

// A daemon's image, known as code that is not the system's from its load on, and forgotten when
// it is freed (another image may be mapped there later).
void LearnDaemonImage(HMODULE module);
void ForgetDaemonImage(HMODULE module);

}  // namespace kestrune
