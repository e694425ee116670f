// Damages a copy of a built DLL in controlled ways, for the host's hostile-input tests.
#pragma once

#include <cstdint>
#include <string>

#include "temp_folder.h"  // ReadFileBytes

namespace kestrune::test {

// Points the named export at rva; false when the file has no such export.
bool PatchExportRva(std::string& image, const std::string& name, uint32_t rva);

// The image's SizeOfImage, from its optional header, or 0.
uint32_t SizeOfImage(const std::string& image);

}  // namespace kestrune::test
