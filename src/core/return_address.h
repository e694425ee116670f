// Whether a value found on a thread's stack is a return address: the bytes before it are a call.
#pragma once

#include <windows.h>

#include <cstdint>

namespace kestrune {

// Reads only what can be read: address may be any value found on a stack.
bool IsReturnAddress(uintptr_t address);

// Reads memory of this process without faulting where it cannot be read.
bool ReadOwnMemory(uintptr_t address, void* buffer, SIZE_T size);

}  // namespace kestrune
