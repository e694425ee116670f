// Holding a daemon's thread still only where it holds none of the system's locks.
#pragma once

#include <windows.h>

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

// A thread suspended or ended while it holds a heap's lock, the loader lock or a lock of the
// window or drawing system leaves that lock held, and the host's own next allocation or library
// call then blocks for good. This suspends the thread and keeps it suspended only where the rule
// allows; otherwise it resumes it and looks again, for a few dozen milliseconds at most.
// previousCount receives the suspend count the thread had before.
HoldResult HoldAtSafePoint(HANDLE thread, HoldRule rule, DWORD* previousCount = nullptr);

// Starts the helper thread, once. Called before any daemon thread is held, since a new thread
// takes the loader lock itself.
bool StartLockProbe();

}  // namespace kestrune
