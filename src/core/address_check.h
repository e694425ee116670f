// What the host asks of an address a daemon hands it before it calls or writes there.
#pragma once

namespace kestrune {

// Committed memory of a loaded image that may be executed.
bool IsExecutableCode(const void* address);

// A committed, writable, 4-byte-aligned 32-bit word.
bool IsWritableWord(const void* address);

}  // namespace kestrune
