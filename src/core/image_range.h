// A loaded image: the addresses it spans, to tell whether code lies inside it, and its exports.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace kestrune {

struct ImageRange {
    uintptr_t begin = 0;
    uintptr_t end = 0;
};

// From the image's own headers: the module must be loaded.
ImageRange RangeOfImage(HMODULE module);

bool IsInsideImage(const ImageRange& range, uintptr_t address);

// The addresses of the module's exports that lie in the image (forwarders left out), sorted.
std::vector<uintptr_t> ExportAddresses(HMODULE module);

// The export's address as the function type the caller expects, or null.
template <typename Function>
Function LookUp(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace kestrune
