// The loader's lock, looked at without waiting for it: a thread stuck in a library's
// initialisation holds it for good, and the host must not wait behind it.
#pragma once

#include <windows.h>

namespace kestrune {

// Looks up what the calls below need. It takes the loader's lock itself: the safe points call it
// before they hold any thread, and LoaderLockOwner answers 0 until it has run.
void PrepareLoaderLock();

// Takes the lock only if it is free at once; UnlockLoader gives it back.
bool TryLockLoader(ULONG_PTR& cookie);
// Waits for the lock: only for a thread that may wait for ever (the lock probe).
bool LockLoader(ULONG_PTR& cookie);
void UnlockLoader(ULONG_PTR cookie);

// Whether the lock can be had within patience milliseconds; it is given back at once.
bool IsLoaderLockFree(DWORD patience);

// Whether one thread has held the lock for all of patience milliseconds: a thread stuck in a
// library's initialisation, not the brief holds of threads that load and free libraries.
bool IsLoaderLockStuck(DWORD patience);

// The id of the thread that holds the lock, or 0. Reads one field: safe while a thread is held.
DWORD LoaderLockOwner();

}  // namespace kestrune
