#include "core/image_range.h"

#include <algorithm>

#include "fault/source_position.h"

namespace kestrune {

ImageRange RangeOfImage(HMODULE module) {
    LN const auto* base = reinterpret_cast<const BYTE*>(module);
    LN const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    LN const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    LN const auto begin = reinterpret_cast<uintptr_t>(base);
    LN return {begin, begin + headers->OptionalHeader.SizeOfImage};
}

std::vector<uintptr_t> ExportAddresses(HMODULE module) {
    LN std::vector<uintptr_t> addresses;
    LN const auto* base = reinterpret_cast<const BYTE*>(module);
    LN const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    LN const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    LN const IMAGE_DATA_DIRECTORY& directory = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    LN if (directory.VirtualAddress == 0 || directory.Size == 0) return addresses;
    LN const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    LN const auto* functions = reinterpret_cast<const DWORD*>(base + exports->AddressOfFunctions);
    LN for (DWORD i = 0; i < exports->NumberOfFunctions; ++i) {
        LN const DWORD rva = functions[i];
        // A forwarder's address names a string inside the export directory.
        LN const bool forwarder = rva >= directory.VirtualAddress && rva < directory.VirtualAddress + directory.Size;
        LN if (rva != 0 && !forwarder && rva < headers->OptionalHeader.SizeOfImage) {
            LN addresses.push_back(reinterpret_cast<uintptr_t>(base) + rva);
        }
    }
    LN std::sort(addresses.begin(), addresses.end());
    LN return addresses;
}

bool IsInsideImage(const ImageRange& range, uintptr_t address) {
    LN return address >= range.begin && address < range.end;
}

}  // namespace kestrune
