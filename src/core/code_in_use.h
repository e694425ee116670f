// Threads of this process that still run, or will return into, a library's code.
#pragma once

#include <windows.h>

#include <vector>

#include "image_range.h"

namespace kestrune {

// The threads, other than those in passOver, that began in image, stand in it now, or hold a
// return address into it on their stack: freeing the library under any of them would make it
// run unmapped code. The calling thread is looked at only when asked: its own stack holds old
// return addresses of calls it made into the library (its initialisation, EntryState) in slots
// its later frames leave unwritten, and the reaper calls from the event loop, where none of a
// daemon's code can be below it.
std::vector<DWORD> ThreadsUsingImage(const ImageRange& image, const std::vector<DWORD>& passOver, bool withThisThread);

}  // namespace kestrune
