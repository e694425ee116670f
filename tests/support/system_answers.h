// Whether the process can still take the locks its main thread needs after a command.
#pragma once

#include <windows.h>

namespace kestrune::test {

// Allocates from the heaps, loads and frees a library and takes a screen device context, on a
// thread of its own: false when that did not finish within a few seconds, because a lock was
// left held by a thread that was suspended or ended inside it.
bool SystemAnswers();

// Called once when the helper has not finished after a while, with its thread and the step
// it stands in ("heap", "malloc", "LoadLibrary", ...), so that the caller can show who holds what.
using SlowAnswerReport = void (*)(HANDLE helper, const char* step);

// The same work, waited for up to limitMs: how long it took, or -1 when it had not finished.
// A helper that finishes late was starved; one that never finishes met a lock left held.
double SystemAnswerMs(DWORD limitMs, SlowAnswerReport report = nullptr, DWORD reportAfterMs = 0);

}  // namespace kestrune::test
