#include "pe_edit.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace kestrune::test {
namespace {

template <typename T>
T* At(std::string& image, size_t offset) {
    return offset + sizeof(T) <= image.size() ? reinterpret_cast<T*>(image.data() + offset) : nullptr;
}

struct Headers {
    IMAGE_FILE_HEADER* file = nullptr;
    size_t optional = 0;  // file offset of the optional header
    bool wide = false;    // PE32+
};

bool ReadHeaders(std::string& image, Headers& headers) {
    auto* dos = At<IMAGE_DOS_HEADER>(image, 0);
    if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
    size_t nt = static_cast<size_t>(dos->e_lfanew);
    auto* signature = At<DWORD>(image, nt);
    if (!signature || *signature != IMAGE_NT_SIGNATURE) return false;
    headers.file = At<IMAGE_FILE_HEADER>(image, nt + 4);
    headers.optional = nt + 4 + sizeof(IMAGE_FILE_HEADER);
    auto* magic = At<WORD>(image, headers.optional);
    if (!headers.file || !magic) return false;
    headers.wide = *magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    return true;
}

IMAGE_DATA_DIRECTORY* ExportDirectory(std::string& image, const Headers& headers) {
    size_t offset = headers.optional + (headers.wide ? offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
                                                     : offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory));
    return At<IMAGE_DATA_DIRECTORY>(image, offset + IMAGE_DIRECTORY_ENTRY_EXPORT * sizeof(IMAGE_DATA_DIRECTORY));
}

// The file offset of an RVA, through the section table; 0 when no section holds it.
size_t OffsetOf(std::string& image, const Headers& headers, uint32_t rva) {
    size_t sections = headers.optional + headers.file->SizeOfOptionalHeader;
    for (WORD i = 0; i < headers.file->NumberOfSections; ++i) {
        auto* section = At<IMAGE_SECTION_HEADER>(image, sections + i * sizeof(IMAGE_SECTION_HEADER));
        if (!section) return 0;
        uint32_t size = std::max(section->Misc.VirtualSize, section->SizeOfRawData);
        if (rva >= section->VirtualAddress && rva < section->VirtualAddress + size) {
            return rva - section->VirtualAddress + section->PointerToRawData;
        }
    }
    return 0;
}

}  // namespace

bool PatchExportRva(std::string& image, const std::string& name, uint32_t rva) {
    Headers headers;
    if (!ReadHeaders(image, headers)) return false;
    IMAGE_DATA_DIRECTORY* directory = ExportDirectory(image, headers);
    if (!directory || directory->VirtualAddress == 0) return false;
    auto* exports = At<IMAGE_EXPORT_DIRECTORY>(image, OffsetOf(image, headers, directory->VirtualAddress));
    if (!exports) return false;
    size_t names = OffsetOf(image, headers, exports->AddressOfNames);
    size_t ordinals = OffsetOf(image, headers, exports->AddressOfNameOrdinals);
    size_t functions = OffsetOf(image, headers, exports->AddressOfFunctions);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        auto* nameRva = At<DWORD>(image, names + i * 4);
        if (!nameRva) return false;
        size_t nameOffset = OffsetOf(image, headers, *nameRva);
        if (nameOffset == 0 || std::strcmp(image.c_str() + nameOffset, name.c_str()) != 0) continue;
        auto* ordinal = At<WORD>(image, ordinals + i * 2);
        auto* function = ordinal ? At<DWORD>(image, functions + *ordinal * 4u) : nullptr;
        if (!function) return false;
        *function = rva;
        return true;
    }
    return false;
}

uint32_t SizeOfImage(const std::string& image) {
    std::string copy = image;
    Headers headers;
    if (!ReadHeaders(copy, headers)) return 0;
    size_t offset = headers.optional + (headers.wide ? offsetof(IMAGE_OPTIONAL_HEADER64, SizeOfImage)
                                                     : offsetof(IMAGE_OPTIONAL_HEADER32, SizeOfImage));
    auto* size = At<DWORD>(copy, offset);
    return size ? *size : 0;
}

}  // namespace kestrune::test
