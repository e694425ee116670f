#include <climits>

#include "core/lifecycle.h"
#include "core/priority.h"
#include "core/utf8.h"
#include "host_fixture.h"

namespace kestrune::test {
namespace {

class PriorityTest : public HostFixture {
protected:
    void TearDown() override {
        // The own-priority daemon moves the process between classes; never leave it raised.
        SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
        HostFixture::TearDown();
    }
};

// A handle to the thread that may wait on it but not query or set it.
HandleOwner WaitOnlyHandle(HANDLE thread) {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0);
    return HandleOwner(copy);
}

TEST_F(PriorityTest, NamesTheSevenPrioritiesAndNothingElse) {
    struct Case {
        int32_t priority;
        const wchar_t* name;
    } named[] = {
        {THREAD_PRIORITY_IDLE, L"Idle"},
        {THREAD_PRIORITY_LOWEST, L"Lowest"},
        {THREAD_PRIORITY_BELOW_NORMAL, L"Below normal"},
        {THREAD_PRIORITY_NORMAL, L"Normal"},
        {THREAD_PRIORITY_ABOVE_NORMAL, L"Above normal"},
        {THREAD_PRIORITY_HIGHEST, L"Highest"},
        {THREAD_PRIORITY_TIME_CRITICAL, L"Time critical"},
    };
    for (const Case& c : named) EXPECT_STREQ(PriorityName(c.priority), c.name) << c.priority;
    // -7 and 3 to 6 are what threads of a real-time process may hold.
    for (int32_t other : {3, 4, 5, 6, -3, -4, -5, -6, -7, 14, 16, -14, -16, THREAD_PRIORITY_ERROR_RETURN, INT32_MIN}) {
        EXPECT_STREQ(PriorityName(other), L"n/a") << other;
    }
}

TEST_F(PriorityTest, ActsOnALiveThreadAndLeavesAnEndedOneAlone) {
    Daemon* daemon = Run(L"cooperative");
    ASSERT_NE(daemon, nullptr);
    HANDLE thread = daemon->thread.get();
    for (int32_t priority :
         {THREAD_PRIORITY_TIME_CRITICAL, THREAD_PRIORITY_IDLE, THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_LOWEST,
          THREAD_PRIORITY_NORMAL, THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_HIGHEST}) {
        SetDaemonPriority(thread, priority);
        EXPECT_EQ(GetThreadPriority(thread), priority);
        EXPECT_EQ(GetDaemonPriority(thread), priority);
    }

    WriteStateWord(daemon, StateWordStop);
    ASSERT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
    ASSERT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_HIGHEST) << "the ended thread still holds its priority";
    EXPECT_EQ(GetDaemonPriority(thread), 0);
    EXPECT_STREQ(PriorityName(GetDaemonPriority(thread)), L"Normal");
    SetDaemonPriority(thread, THREAD_PRIORITY_IDLE);
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_HIGHEST) << "an ended thread is not touched";

    EXPECT_EQ(GetDaemonPriority(nullptr), 0);
    SetDaemonPriority(nullptr, THREAD_PRIORITY_IDLE);
}

TEST_F(PriorityTest, AFailedReadIsPassedOnUnfiltered) {
    Daemon* daemon = Run(L"cooperative");
    ASSERT_NE(daemon, nullptr);
    SetThreadPriority(daemon->thread.get(), THREAD_PRIORITY_LOWEST);
    HandleOwner waitOnly = WaitOnlyHandle(daemon->thread.get());
    ASSERT_TRUE(waitOnly);
    ASSERT_TRUE(IsThreadAlive(waitOnly.get()));
    EXPECT_EQ(GetDaemonPriority(waitOnly.get()), THREAD_PRIORITY_ERROR_RETURN);
    EXPECT_STREQ(PriorityName(GetDaemonPriority(waitOnly.get())), L"n/a");
    SetDaemonPriority(waitOnly.get(), THREAD_PRIORITY_HIGHEST);  // refused by the system, quietly
    EXPECT_EQ(GetThreadPriority(daemon->thread.get()), THREAD_PRIORITY_LOWEST);
}

TEST_F(PriorityTest, ADaemonsOwnPriorityOutsideTheSevenReadsBackUnfiltered) {
    std::wstring path;
    Daemon* daemon = Run(L"own_priority", &path);
    ASSERT_NE(daemon, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return HasEvent(path, "own-priority 3") || HasEvent(path, "refused 0"); }));
    ASSERT_TRUE(HasEvent(path, "own-priority 3")) << "the system refused priority 3 in the real-time class";
    ASSERT_EQ(GetPriorityClass(GetCurrentProcess()), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));

    EXPECT_EQ(GetDaemonPriority(daemon->thread.get()), 3);
    EXPECT_STREQ(PriorityName(GetDaemonPriority(daemon->thread.get())), L"n/a");

    // A priority request brings it back to one of the seven.
    SetDaemonRequest(daemon, RequestPriorityBase + THREAD_PRIORITY_ABOVE_NORMAL);
    EXPECT_TRUE(TickDaemon(daemon));
    EXPECT_EQ(GetDaemonPriority(daemon->thread.get()), THREAD_PRIORITY_ABOVE_NORMAL);
    EXPECT_STREQ(PriorityName(GetDaemonPriority(daemon->thread.get())), L"Above normal");
}

}  // namespace
}  // namespace kestrune::test
