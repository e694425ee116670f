#include "case_fold.h"

#include <windows.h>

namespace kestrune {

std::wstring LowerCaseCopy(std::wstring_view text) {
    std::wstring copy(text);
    if (!copy.empty()) CharLowerBuffW(copy.data(), static_cast<DWORD>(copy.size()));
    return copy;
}

std::wstring UpperCaseCopy(std::wstring_view text) {
    std::wstring copy(text);
    if (!copy.empty()) CharUpperBuffW(copy.data(), static_cast<DWORD>(copy.size()));
    return copy;
}

}  // namespace kestrune
