// Letter-case folding by the system's CharLowerW rules.
#pragma once

#include <string>
#include <string_view>

namespace kestrune {

std::wstring LowerCaseCopy(std::wstring_view text);

}  // namespace kestrune
