// Closing the host: every daemon asked to stop, and the bounded wait for them when
// the user's session ends.
#pragma once

#include <cstdint>

namespace kestrune {

// How long the end of the session waits for daemons to return after 255. The system
// shows its "programs are still running" screen about 5 s after it asks a program to
// end; 4 s leaves room for finishing the rest by force before that.
constexpr uint32_t EndSessionAllowance = 4000;

struct CloseState {
    bool sessionEnding = false;  // EndSession answers sent messages while it waits: never twice at once
};

// Stores RequestStop in every daemon, sets quitting and lets the reaper tick every 4 ms.
void RunCloseSequence();

// The session is ending and the process may be ended as soon as this returns: runs the
// close sequence and reaper passes back to back until every daemon has ended or the
// allowance has run out, then finishes the rest as after their grace. Nested inside a
// daemon's own code (its menu being built) nothing is unloaded: every daemon is asked
// and waited for, and the reaper unloads them later if the process lives on.
void EndSession(uint32_t allowance = EndSessionAllowance);

// At the exit: the libraries of daemons that returned at the close wait out their quarantine
// and are freed, their teardown run as if the host ran on, within the close's bound.
void FinishQuarantines();

}  // namespace kestrune
