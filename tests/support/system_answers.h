// Whether the process can still take the locks its main thread needs after a command.
#pragma once

#include <windows.h>

namespace kestrune::test {

// Allocates from the heaps, loads and frees a library and takes a screen device context, on a
// thread of its own: false when that did not finish within a few seconds, because a lock was
// left held by a thread that was suspended or ended inside it.
bool SystemAnswers();

// The same work, waited for up to limitMs: how long it took, or -1 when it had not finished.
// A helper that finishes late was starved; one that never finishes met a lock left held.
double SystemAnswerMs(DWORD limitMs);

}  // namespace kestrune::test
