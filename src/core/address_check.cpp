#include "core/address_check.h"

#include <windows.h>

#include <cstdint>

#include "fault/source_position.h"

namespace kestrune {
namespace {

constexpr DWORD ExecutableProtections =
    PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD WritableProtections = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

bool Describe(const void* address, MEMORY_BASIC_INFORMATION& info) {
    LN return address && VirtualQuery(address, &info, sizeof info) == sizeof info && info.State == MEM_COMMIT &&
        !(info.Protect & (PAGE_GUARD | PAGE_NOACCESS));
}

}  // namespace

bool IsExecutableCode(const void* address) {
    LN MEMORY_BASIC_INFORMATION info;
    LN return Describe(address, info) && info.Type == MEM_IMAGE && (info.Protect & ExecutableProtections) != 0;
}

bool IsWritableWord(const void* address) {
    LN MEMORY_BASIC_INFORMATION info;
    LN if (reinterpret_cast<uintptr_t>(address) % 4 != 0 || !Describe(address, info)) return false;
    // The word must not straddle the end of the region.
    LN auto end = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    LN return reinterpret_cast<uintptr_t>(address) + 4 <= end && (info.Protect & WritableProtections) != 0;
}

}  // namespace kestrune
