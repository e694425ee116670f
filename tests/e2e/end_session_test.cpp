// The real host told that the user's session ends, with the messages the system sends.
#include <cstdio>

#include <gtest/gtest.h>

#include "host_process.h"
#include "row_status.h"
#include "test_daemons.h"

namespace kestrune::test {
namespace {

// Sends as the system does, which waits for the answer; false when the host did not
// answer within timeout.
bool SendSessionMessage(HWND window, UINT message, WPARAM wParam, DWORD_PTR* answer,
                        std::chrono::milliseconds timeout = 20s) {
    return SendMessageTimeoutW(window, message, wParam, ENDSESSION_LOGOFF, SMTO_NORMAL,
                               static_cast<UINT>(timeout.count()), answer) != 0;
}

TEST(EndSessionTest, CancelledLogoffChangesNothingAndTheRealOneLetsDaemonsSaveBeforeTheHostEnds) {
    TempFolder folder;
    HostProcess host(folder);
    const std::wstring slow = host.AddDaemon(L"slow_cleanup");
    const std::wstring cooperative = host.AddDaemon(L"cooperative");
    const std::wstring ignoring = host.AddDaemon(L"ignores_word");
    const std::wstring wordless = host.AddDaemon(L"only_entry");
    ASSERT_TRUE(host.Start());
    HWND window = host.WaitForMainWindow();
    ASSERT_NE(window, nullptr);
    for (const std::wstring& path : {slow, cooperative, ignoring, wordless}) ASSERT_TRUE(WaitForEntry(path));
    host.PressTrayIcon();
    ASSERT_TRUE(WaitUntil([&] { return host.IsWindowShown(); }));

    // Another program refuses, or the user cancels: the host goes on as before.
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendSessionMessage(window, WM_QUERYENDSESSION, 0, &answer));
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE)) << "the host never holds up the end of a session";
    ASSERT_TRUE(SendSessionMessage(window, WM_ENDSESSION, FALSE, &answer));
    // A negative check, so a measured stretch: two reaper passes, at either of which a stop
    // would be asked.
    Sleep(1000);
    EXPECT_FALSE(HasEvent(slow, "stop-seen"));
    EXPECT_FALSE(HasEvent(cooperative, "stop-seen"));
    EXPECT_TRUE(host.IsRunning());
    int row = host.RowEndingWith(L"\\cooperative.dll");
    EXPECT_EQ(host.Cell(row, 1), BlackStar) << "no daemon was asked to stop";

    ASSERT_TRUE(SendSessionMessage(window, WM_QUERYENDSESSION, 0, &answer));
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
    auto sent = std::chrono::steady_clock::now();
    // The process may be ended as soon as the handler returns: by then every daemon has
    // ended, and the one that ignores its word has not been waited for 30 s.
    ASSERT_TRUE(SendSessionMessage(window, WM_ENDSESSION, TRUE, &answer)) << "the handler must return";
    auto handled = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent);
    std::printf("end of session handled in %lld ms\n", static_cast<long long>(handled.count()));
    RecordProperty("EndSessionMilliseconds", static_cast<int>(handled.count()));
    EXPECT_TRUE(HasEvent(slow, "saved")) << "its second of cleaning up was waited for";
    EXPECT_TRUE(HasEvent(slow, "return"));
    EXPECT_TRUE(HasEvent(cooperative, "stop-seen") && HasEvent(cooperative, "return"));
    EXPECT_FALSE(HasEvent(ignoring, "return"));
    DWORD exitCode = 1;
    ASSERT_TRUE(host.WaitForExit(20s, &exitCode)) << "the host ends once the session has";
    EXPECT_EQ(exitCode, 0u);
    for (const std::wstring& path : {slow, cooperative}) {
        EXPECT_TRUE(HasEvent(path, "detach")) << testing::PrintToString(path) << " returned but was not freed";
    }
    for (const std::wstring& path : {ignoring, wordless}) {
        EXPECT_FALSE(HasEvent(path, "detach")) << testing::PrintToString(path) << " was ended by force: no teardown";
    }
}

}  // namespace
}  // namespace kestrune::test
