// The addresses a loaded image spans, to tell whether code lies inside it.
#pragma once

#include <windows.h>

#include <cstdint>

namespace kestrune {

struct ImageRange {
    uintptr_t begin = 0;
    uintptr_t end = 0;
};

// From the image's own headers: the module must be loaded.
ImageRange RangeOfImage(HMODULE module);

bool IsInsideImage(const ImageRange& range, uintptr_t address);

}  // namespace kestrune
