#include "core/return_address.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

constexpr BYTE CallRelative = 0xE8;   // call with a 32-bit displacement
constexpr BYTE IndirectGroup = 0xFF;  // its /2 is a call through a register or memory
constexpr size_t LongestCall = 7;

bool IsRexPrefix(BYTE value) {
    LN return sizeof(void*) == 8 && value >= 0x40 && value <= 0x4F;
}

// Whether an FF /2 call, with a ModRM byte and what it implies, is exactly length bytes long.
bool IsIndirectCall(const BYTE* bytes, size_t length) {
    LN if (bytes[0] != IndirectGroup || ((bytes[1] >> 3) & 7) != 2) return false;
    LN const BYTE mode = bytes[1] >> 6;
    LN const BYTE memory = bytes[1] & 7;
    LN const bool sib = memory == 4 && mode != 3;
    LN size_t expected = 2 + (sib ? 1 : 0);
    LN if (mode == 1) expected += 1;
    LN if (mode == 2 || (mode == 0 && memory == 5)) expected += 4;
    LN return length == expected;
}

}  // namespace

bool ReadOwnMemory(uintptr_t address, void* buffer, SIZE_T size) {
    LN SIZE_T read = 0;
    LN return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(address), buffer, size, &read) &&
        read == size;
}

bool IsReturnAddress(uintptr_t address) {
    LN BYTE bytes[LongestCall];
    LN if (address < sizeof bytes || !ReadOwnMemory(address - sizeof bytes, bytes, sizeof bytes)) return false;
    LN const BYTE* end = bytes + sizeof bytes;
    LN if (end[-5] == CallRelative) return true;
    LN for (size_t length = 2; length <= LongestCall; ++length) {
        LN const BYTE* start = end - length;
        LN if (IsIndirectCall(start, length)) return true;
        LN if (length >= 3 && IsRexPrefix(start[0]) && IsIndirectCall(start + 1, length - 1)) return true;
    }
    LN return false;
}

}  // namespace kestrune
