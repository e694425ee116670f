// Windows of the host's own thread whose code lies in a daemon's library.
#pragma once

#include <windows.h>

namespace kestrune {

// A daemon may make windows on the host's thread (in EntryMenu, the natural place to receive
// its menu's commands), or subclass one of the host's. Once its library is freed, the next
// message to such a window would run unmapped code. Before the library goes: a window of the
// daemon's own class is destroyed (its class unregistered), and a window of another class whose
// procedure was replaced by the daemon's gets its class procedure back.
void ReleaseWindowsOfLibrary(HMODULE library);

// True when a timer message would call a procedure that is no longer code of a loaded image.
bool IsOrphanedTimer(const MSG& message);

}  // namespace kestrune
