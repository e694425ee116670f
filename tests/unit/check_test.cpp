#include <string>

#include <gtest/gtest.h>

#include "core/check.h"
#include "core/owner.h"
#include "ui/menu_builder.h"

namespace kestrune::test {
namespace {

struct FailedCheck {
    std::string condition;
    std::string file;
    int line = 0;
    int count = 0;
};
FailedCheck failed;

void RecordFailure(const char* condition, const char* file, int line) {
    failed = {condition, file, line, failed.count + 1};
}

class CheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        failed = {};
        previous_ = SetCheckHandler(RecordFailure);
    }
    void TearDown() override { SetCheckHandler(previous_); }

private:
    CheckHandler previous_ = nullptr;
};

TEST_F(CheckTest, AFailedCheckNamesItsConditionFileAndLineAndOneThatHoldsNothing) {
    const int line = __LINE__ + 1;
    KESTRUNE_CHECK(1 + 1 == 3);
    KESTRUNE_CHECK(1 + 1 == 2);
    EXPECT_EQ(failed.count, 1);
    EXPECT_EQ(failed.condition, "1 + 1 == 3");
    EXPECT_NE(failed.file.find("check_test.cpp"), std::string::npos) << failed.file;
    EXPECT_EQ(failed.line, line);
}

TEST_F(CheckTest, AMenuBegunWhileAnotherIsBuiltIsCaught) {
    MenuOwner first(BeginPopupMenu(nullptr));
    MenuOwner second(BeginPopupMenu(nullptr));
    EndPopupMenu();
    EXPECT_EQ(failed.count, 1);
    EXPECT_EQ(failed.condition, "!IsBuildingMenu()");
}

}  // namespace
}  // namespace kestrune::test
