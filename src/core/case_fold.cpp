#include "core/case_fold.h"

#include <windows.h>

#include "fault/source_position.h"

namespace kestrune {

std::wstring LowerCaseCopy(std::wstring_view text) {
    LN std::wstring copy(text);
    LN if (!copy.empty()) CharLowerBuffW(copy.data(), static_cast<DWORD>(copy.size()));
    LN return copy;
}

}  // namespace kestrune
