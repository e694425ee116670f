// Whether the process can still take the locks its main thread needs after a command.
#pragma once

namespace kestrune::test {

// Allocates from the heaps, loads and frees a library and takes a screen device context, on a
// thread of its own: false when that did not finish within a few seconds, because a lock was
// left held by a thread that was suspended or ended inside it.
bool SystemAnswers();

}  // namespace kestrune::test
