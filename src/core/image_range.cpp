#include "image_range.h"

#include "fault/source_position.h"

namespace kestrune {

ImageRange RangeOfImage(HMODULE module) {
    LN const auto* base = reinterpret_cast<const BYTE*>(module);
    LN const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    LN const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    LN const auto begin = reinterpret_cast<uintptr_t>(base);
    LN return {begin, begin + headers->OptionalHeader.SizeOfImage};
}

bool IsInsideImage(const ImageRange& range, uintptr_t address) {
    LN return address >= range.begin && address < range.end;
}

}  // namespace kestrune
