// A loaded daemon's life: its thread, its pending request, the graceful stop.
#pragma once

#include <windows.h>

#include "core/daemon_record.h"

namespace kestrune {

void SetDaemonRequest(Daemon* daemon, int32_t request);

// Starts the daemon's thread unless the host is quitting.
void StartDaemonThread(Daemon* daemon, int32_t request);

// What a tick did. Zero when the daemon was unloaded, so that a tick tested as a condition
// reads "still loaded".
enum TickResult : int {
    TickUnloaded = 0,  // the record is gone and must leave the table
    TickKept = 1,      // nothing the row shows has changed
    TickChanged = 2,   // a request was applied: the row is due for a rewrite
};

// Called with a finished daemon just before it is unloaded, while its record is still in the table.
using BeforeUnload = void (*)(Daemon* daemon);

// Applies the pending request and decides whether the daemon, a record of the table, has
// finished; a finished daemon is handed to beforeUnload, when given, taken out of the table
// (TakeOutOfTable says why) and unloaded.
TickResult TickDaemon(Daemon* daemon, BeforeUnload beforeUnload = nullptr);

bool WriteStateWord(Daemon* daemon, LONG value);

// The session is ending: the daemon is ended at the first point where no lock the host needs
// is held, without waiting first for its thread to stand in its own code.
void HastenEnd(Daemon* daemon);

// The main thread's allowance for pauses still looking for their safe point, back to its start.
void ResetPauseAllowance();

// Lifts up to 256 suspensions, whoever made them.
void ResumeThreadFully(HANDLE thread);

// Milliseconds between now and the stop request, in the wrapping arithmetic of
// the stored 32-bit time, so a host that has run for weeks still grants the grace.
int32_t MillisecondsSinceStopRequest(const Daemon& daemon);
// The same for a clock reading and a stamp of its low 32 bits.
int32_t MillisecondsSinceStamp(uint64_t now, int32_t stamp);

}  // namespace kestrune
