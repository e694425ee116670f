// What a row's status cell shows as the host draws it: its text and its colour.
#pragma once

#include <windows.h>

#include <string>

namespace kestrune::test {

constexpr COLORREF Grey = RGB(170, 170, 170);
constexpr COLORREF DarkRed = RGB(170, 0, 0);
constexpr COLORREF Blue = RGB(0, 0, 187);
constexpr COLORREF Green = RGB(0, 170, 0);
constexpr COLORREF Olive = RGB(170, 170, 0);

// The cell's text is a blank and the glyphs.
inline const std::wstring BlackStar = L" \u2605";          // running
inline const std::wstring WhiteStar = L" \u2606";          // not started, or ended
inline const std::wstring PausedStars = L" \u2605\u2606";  // paused
inline const std::wstring DownArrow = L" \u2193";          // stopping; a countdown may follow

}  // namespace kestrune::test
