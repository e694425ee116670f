#include "pe_image.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "core/owner.h"

namespace daemoncheck {
namespace {

// Larger files are not read: no daemon comes near this.
constexpr LONGLONG MaximumFileSize = 256ll * 1024 * 1024;
// A longer export or import name is taken as damage.
constexpr size_t MaximumNameLength = 4096;
// More exports than this are not listed; the lookups of the three entries still see all.
constexpr uint32_t MaximumExports = 65536;
constexpr uint32_t MaximumImports = 4096;

// Every read of the file goes through here, so damaged offsets cannot run past its end.
class Bytes {
public:
    explicit Bytes(const std::string& data) : data_(data) {}

    bool Has(uint64_t offset, uint64_t size) const { return offset <= data_.size() && size <= data_.size() - offset; }

    template <typename T>
    bool Read(uint64_t offset, T& value) const {
        if (!Has(offset, sizeof(T))) return false;
        std::memcpy(&value, data_.data() + offset, sizeof(T));
        return true;
    }

    // A zero-terminated string at offset; false when it runs off the end or too long.
    bool ReadName(uint64_t offset, std::string& name) const {
        if (offset >= data_.size()) return false;
        size_t limit = std::min<size_t>(data_.size() - offset, MaximumNameLength);
        const char* start = data_.data() + offset;
        const void* end = std::memchr(start, 0, limit);
        if (!end) return false;
        name.assign(start, static_cast<const char*>(end));
        return true;
    }

private:
    const std::string& data_;
};

struct Section {
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawOffset;
    uint32_t rawSize;
};

// The file offset of an RVA, through the section that holds it; false when none does.
bool OffsetOfRva(const std::vector<Section>& sections, uint32_t rva, uint64_t& offset) {
    for (const Section& section : sections) {
        uint32_t extent = std::max(section.virtualSize, section.rawSize);
        if (rva >= section.virtualAddress && rva - section.virtualAddress < extent) {
            uint32_t into = rva - section.virtualAddress;
            if (into >= section.rawSize) return false;  // uninitialised data has no bytes in the file
            offset = static_cast<uint64_t>(section.rawOffset) + into;
            return true;
        }
    }
    return false;
}

bool ReadWholeFile(const std::wstring& path, std::string& data, std::wstring& problem) {
    kestrune::FileOwner file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        problem = L"cannot be opened (error " + std::to_wstring(GetLastError()) + L")";
        return false;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
        problem = L"its size cannot be read";
        return false;
    }
    if (size.QuadPart > MaximumFileSize) {
        problem = L"is larger than 256 MiB";
        return false;
    }
    data.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < data.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
        DWORD read = 0;
        if (!ReadFile(file.get(), data.data() + done, chunk, &read, nullptr) || read == 0) {
            problem = L"cannot be read";
            return false;
        }
        done += read;
    }
    return true;
}

void ReadExports(const Bytes& bytes, const std::vector<Section>& sections, uint32_t directoryRva,
                 uint32_t directorySize, PeImage& image) {
    uint64_t at = 0;
    IMAGE_EXPORT_DIRECTORY directory{};
    if (!OffsetOfRva(sections, directoryRva, at) || !bytes.Read(at, directory)) return;
    uint32_t functionCount = std::min<uint32_t>(directory.NumberOfFunctions, MaximumExports);
    uint32_t nameCount = std::min<uint32_t>(directory.NumberOfNames, MaximumExports);
    uint64_t functions = 0, names = 0, ordinals = 0;
    if (!OffsetOfRva(sections, directory.AddressOfFunctions, functions)) return;
    std::vector<std::string> nameOf(functionCount);
    if (nameCount > 0 && OffsetOfRva(sections, directory.AddressOfNames, names) &&
        OffsetOfRva(sections, directory.AddressOfNameOrdinals, ordinals)) {
        for (uint32_t i = 0; i < nameCount; ++i) {
            uint32_t nameRva = 0;
            uint16_t index = 0;
            uint64_t nameAt = 0;
            if (!bytes.Read(names + 4ull * i, nameRva) || !bytes.Read(ordinals + 2ull * i, index)) break;
            if (index >= functionCount || !OffsetOfRva(sections, nameRva, nameAt)) continue;
            bytes.ReadName(nameAt, nameOf[index]);
        }
    }
    for (uint32_t i = 0; i < functionCount; ++i) {
        uint32_t rva = 0;
        if (!bytes.Read(functions + 4ull * i, rva)) break;
        if (rva == 0) continue;  // an unused slot
        PeExport entry;
        entry.name = nameOf[i];
        entry.ordinal = directory.Base + i;
        entry.rva = rva;
        entry.forwarded = rva >= directoryRva && rva - directoryRva < directorySize;
        image.exports.push_back(entry);
    }
}

void ReadImports(const Bytes& bytes, const std::vector<Section>& sections, uint32_t directoryRva, PeImage& image) {
    uint64_t at = 0;
    if (!OffsetOfRva(sections, directoryRva, at)) return;
    for (uint32_t i = 0; i < MaximumImports; ++i) {
        IMAGE_IMPORT_DESCRIPTOR descriptor{};
        if (!bytes.Read(at + i * sizeof descriptor, descriptor)) return;
        if (descriptor.Name == 0) return;
        uint64_t nameAt = 0;
        std::string name;
        if (OffsetOfRva(sections, descriptor.Name, nameAt) && bytes.ReadName(nameAt, name))
            image.imports.push_back(name);
    }
}

}  // namespace

PeImage ReadPeImage(const std::wstring& path) {
    PeImage image;
    std::string data;
    if (!ReadWholeFile(path, data, image.problem)) return image;
    Bytes bytes(data);

    IMAGE_DOS_HEADER dos{};
    if (!bytes.Read(0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) {
        image.problem = L"is not a Windows program or DLL (no MZ header)";
        return image;
    }
    uint64_t pe = static_cast<uint32_t>(dos.e_lfanew);
    DWORD signature = 0;
    IMAGE_FILE_HEADER header{};
    if (!bytes.Read(pe, signature) || signature != IMAGE_NT_SIGNATURE || !bytes.Read(pe + 4, header)) {
        image.problem = L"is not a Windows program or DLL (no PE header)";
        return image;
    }
    image.machine = header.Machine;
    image.isDll = (header.Characteristics & IMAGE_FILE_DLL) != 0;

    uint64_t optional = pe + 4 + sizeof header;
    uint16_t magic = 0;
    if (!bytes.Read(optional, magic)) {
        image.problem = L"has a damaged PE header";
        return image;
    }
    // The data directories sit at different offsets in the 32-bit and 64-bit optional headers.
    uint64_t directories = 0;
    uint32_t directoryCount = 0;
    if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        directories = optional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
        bytes.Read(optional + offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes), directoryCount);
    } else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        directories = optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
        bytes.Read(optional + offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes), directoryCount);
    } else {
        image.problem = L"has an unknown optional header";
        return image;
    }

    std::vector<Section> sections;
    uint64_t sectionAt = optional + header.SizeOfOptionalHeader;
    for (unsigned i = 0; i < header.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER raw{};
        if (!bytes.Read(sectionAt + i * sizeof raw, raw)) {
            image.problem = L"has a damaged section table";
            return image;
        }
        sections.push_back({raw.VirtualAddress, raw.Misc.VirtualSize, raw.PointerToRawData, raw.SizeOfRawData});
    }

    IMAGE_DATA_DIRECTORY exportDirectory{}, importDirectory{};
    if (directoryCount > IMAGE_DIRECTORY_ENTRY_EXPORT)
        bytes.Read(directories + IMAGE_DIRECTORY_ENTRY_EXPORT * sizeof exportDirectory, exportDirectory);
    if (directoryCount > IMAGE_DIRECTORY_ENTRY_IMPORT)
        bytes.Read(directories + IMAGE_DIRECTORY_ENTRY_IMPORT * sizeof importDirectory, importDirectory);
    if (exportDirectory.VirtualAddress && exportDirectory.Size)
        ReadExports(bytes, sections, exportDirectory.VirtualAddress, exportDirectory.Size, image);
    if (importDirectory.VirtualAddress) ReadImports(bytes, sections, importDirectory.VirtualAddress, image);
    return image;
}

std::wstring DescribeMachine(uint16_t machine) {
    if (machine == MachineX86) return L"32-bit (x86)";
    if (machine == MachineX64) return L"64-bit (x64)";
    wchar_t text[32];
    wsprintfW(text, L"machine 0x%04X", machine);
    return text;
}

uint16_t OwnMachine() {
    return sizeof(void*) == 8 ? MachineX64 : MachineX86;
}

const PeExport* FindExport(const PeImage& image, const std::string& name) {
    for (const PeExport& entry : image.exports) {
        if (entry.name == name) return &entry;
    }
    return nullptr;
}

const PeExport* FindOrdinal(const PeImage& image, uint32_t ordinal) {
    for (const PeExport& entry : image.exports) {
        if (entry.ordinal == ordinal) return &entry;
    }
    return nullptr;
}

}  // namespace daemoncheck
