#include "core/utf8.h"

#include <windows.h>

#include "fault/source_position.h"

namespace kestrune {

std::string ToUtf8(std::wstring_view text) {
    LN if (text.empty()) return {};
    LN int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    LN std::string result(static_cast<size_t>(size), '\0');
    LN WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size, nullptr,
                           nullptr);
    LN return result;
}

std::wstring FromUtf8(std::string_view text) {
    LN if (text.empty()) return {};
    LN int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    LN std::wstring result(static_cast<size_t>(size), L'\0');
    LN MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
    LN return result;
}

}  // namespace kestrune
