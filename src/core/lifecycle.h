// A loaded daemon's life: its thread, its pending request, the graceful stop.
#pragma once

#include <windows.h>

#include "daemon_record.h"

namespace kestrune {

// A thread is alive while waiting on it with a zero time-out does not find it signalled.
bool IsThreadAlive(HANDLE thread);

void SetDaemonRequest(Daemon* daemon, int32_t request);

// Starts the daemon's thread unless the host is quitting.
void StartDaemonThread(Daemon* daemon, int32_t request);

// Applies the pending request and decides whether the daemon has finished. False
// means it has been unloaded: the record is gone and must leave the table.
bool TickDaemon(Daemon* daemon);

bool WriteStateWord(Daemon* daemon, LONG value);

// The session is ending: the daemon is ended at the first point where no lock the host needs
// is held, without waiting first for its thread to stand in its own code.
void HastenEnd(Daemon* daemon);

// Lifts up to 256 suspensions, whoever made them.
void ResumeThreadFully(HANDLE thread);

// Milliseconds between now and the stop request, in the wrapping arithmetic of
// the stored 32-bit time, so a host that has run for weeks still grants the grace.
int32_t MillisecondsSinceStopRequest(const Daemon& daemon);
// The same for a clock reading and a stamp of its low 32 bits.
int32_t MillisecondsSinceStamp(uint64_t now, int32_t stamp);

}  // namespace kestrune
