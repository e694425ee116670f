// Conversions between the host's UTF-16 text and UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace kestrune {

std::string ToUtf8(std::wstring_view text);
std::wstring FromUtf8(std::string_view text);

}  // namespace kestrune
