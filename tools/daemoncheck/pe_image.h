// What a DLL file says about itself before anything of it runs: its machine,
// its exports and the DLLs it imports. Read from the file, never executed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace daemoncheck {

constexpr uint16_t MachineX86 = 0x014c;
constexpr uint16_t MachineX64 = 0x8664;

struct PeExport {
    std::string name;  // empty for an export by ordinal only
    uint32_t ordinal = 0;
    uint32_t rva = 0;
    bool forwarded = false;  // the export names a function of another DLL
};

struct PeImage {
    // Empty when the file was read as a PE image; otherwise why it could not be.
    std::wstring problem;
    uint16_t machine = 0;
    bool isDll = false;
    std::vector<PeExport> exports;
    std::vector<std::string> imports;  // names of the DLLs it links against
};

PeImage ReadPeImage(const std::wstring& path);

// "x86 (32-bit)", "x64 (64-bit)" or the machine number in hex.
std::wstring DescribeMachine(uint16_t machine);

// The machine this program itself was built for.
uint16_t OwnMachine();

// The export with this exact name, or null.
const PeExport* FindExport(const PeImage& image, const std::string& name);

// The export with this ordinal, or null.
const PeExport* FindOrdinal(const PeImage& image, uint32_t ordinal);

}  // namespace daemoncheck
