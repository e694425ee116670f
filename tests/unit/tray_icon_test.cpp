// The tray icon's tooltip text.
#include <windows.h>

#include <gtest/gtest.h>

#include "ui/tray_icon.h"

namespace kestrune::test {
namespace {

TEST(TrayTooltipTest, DateIsDayMonthYearPaddedToTwoTwoFourDigits) {
    SYSTEMTIME day{};
    day.wYear = 2027, day.wMonth = 1, day.wDay = 9;
    EXPECT_EQ(TrayTooltipFor(day), L"Kestrune: 09/01/2027");
    day.wYear = 999, day.wMonth = 12, day.wDay = 31;
    EXPECT_EQ(TrayTooltipFor(day), L"Kestrune: 31/12/0999");
}

}  // namespace
}  // namespace kestrune::test
