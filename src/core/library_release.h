// What becomes of a daemon's library when the daemon has ended: it is freed only once none of
// its code can run any more. A library whose code may still run stays mapped for the rest of
// the process, since freeing it would make the next run of that code fault (a worker thread the
// daemon left running, an armed timer, a registered wait), and a later start of the daemon
// loads it again.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/owner.h"

namespace kestrune {

enum class LibraryFate {
    Freed,           // freed at once: there was no room to close its code off first
    Quarantined,     // nothing of it is seen running: its code is closed off for a while, then freed
    KeptRunning,     // a thread of the process runs or returns into its code
    KeptTouched,     // something ran its code during the quarantine
    KeptAfterForce,  // the daemon was ended by force: its teardown is never run by the host
    AlreadyGone,     // its own code freed it (FreeLibraryAndExitThread)
};

// How long a quarantine lasts: a timer or a wait of the library that fires at least this often
// is caught.
constexpr uint64_t QuarantinePeriod = 1000;

// Releases the library of a daemon that has ended. endedByForce: its thread was ended by the
// host, wherever it stood, so its locks may be left held. Windows of the host's thread that the
// library made go first, unless it was ended by force (their teardown is its code too).
LibraryFate ReleaseDaemonLibrary(ModuleOwner library, bool endedByForce);

// Frees the libraries whose quarantine has lasted period and that nothing touched; keeps the
// touched ones. Called from the reaper's ticks.
void ReviewQuarantine(uint64_t period = QuarantinePeriod);

// Whether a library waits in quarantine.
bool HasQuarantinedLibraries();

// A daemon started again while its library waits in quarantine: the start's load holds the
// library now, so the quarantine ends and gives up its claim (or keeps it, when touched).
void TakeBackFromQuarantine(HMODULE module);

// At the end of the process: the code of libraries in quarantine is made accessible again and
// they are left loaded for the process's own end.
void EndEveryQuarantine();

// True when the host keeps a library because its code may run or because its daemon was ended
// by force: the process then ends without running any library's teardown, which could wait for
// a lock an ended thread left held.
bool KeepsLibrariesItCannotTearDown();

// Libraries kept since the process began, for the checker's report.
uint32_t KeptLibraryCount();

}  // namespace kestrune
