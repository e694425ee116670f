// Threads of this process that still run, or will return into, a library's code.
#pragma once

#include <windows.h>

#include <vector>

#include "core/image_range.h"

namespace kestrune {

// The threads, other than those in passOver, that began in image, stand in it now, or (on x64,
// whose images carry unwind data) have a frame of it on their stack: freeing the library under
// any of them would make it run unmapped code. A 32-bit thread's frames cannot be told from the
// old return addresses its stack keeps (every thread ran each library's DllMain as it started),
// so there the calling thread is looked at only when asked, and then every return address on its
// stack counts: the end of the session asks, where keeping a library in doubt costs nothing.
std::vector<DWORD> ThreadsUsingImage(const ImageRange& image, const std::vector<DWORD>& passOver, bool withThisThread);

}  // namespace kestrune
