// What the host loads: daemons from wild_magic and one folder below, and nothing through the
// current directory.
#include <gtest/gtest.h>

#include "host_process.h"
#include "shown_host.h"
#include "test_daemons.h"

namespace kestrune::test {
namespace {

TEST(LoadScopeTest, NothingIsLoadedFromTheCurrentDirectory) {
    TempFolder folder;
    TempFolder elsewhere;
    HostProcess host(folder);
    std::wstring dependent = host.AddDaemon(L"needs_cwd_helper");
    std::wstring control = host.AddDaemon(L"cooperative");
    // Where the current directory would supply the dependency.
    std::wstring planted = CopyTestDaemon(L"cwd_helper", elsewhere.path() + L"cwd_helper.dll");
    ASSERT_TRUE(host.Start(elsewhere.path()));
    ASSERT_NE(host.WaitForMainWindow(), nullptr) << host.Fate();
    ASSERT_TRUE(WaitForEntry(control));
    ASSERT_TRUE(host.Sync());
    EXPECT_FALSE(HasEvent(planted, "attach")) << "the planted library was loaded";
    EXPECT_FALSE(HasEvent(dependent, "entry"));
    EXPECT_EQ(host.RowEndingWith(L"\\needs_cwd_helper.dll"), -1);
    EXPECT_GE(host.RowEndingWith(L"\\cooperative.dll"), 0);
    DWORD exitCode = 1;
    ASSERT_TRUE(host.CloseAndWait(60s, &exitCode));
    EXPECT_EQ(exitCode, 0u);

    // Beside the daemon, where daemon authors put their dependencies, it is found as before.
    TempFolder folder2;
    HostProcess beside(folder2);
    std::wstring dependent2 = beside.AddDaemon(L"needs_cwd_helper");
    CopyTestDaemon(L"cwd_helper", folder2.path() + L"cwd_helper.dll");
    ASSERT_TRUE(beside.Start());
    ASSERT_NE(beside.WaitForMainWindow(), nullptr) << beside.Fate();
    EXPECT_TRUE(WaitForEvent(dependent2, "helper 42")) << "a dependency beside kestrune.exe is found";
    beside.RequestClose();
    ASSERT_TRUE(beside.WaitForExit(60s));
}

TEST(LoadScopeTest, OnlyWildMagicAndOneFolderBelowAreSearched) {
    RunningHost running{{L"cooperative", L"one\\found.dll"}};
    HostProcess& host = running.host;
    std::wstring tooDeep = host.AddDaemon(L"cooperative", L"one\\two\\deep.dll");
    std::wstring besideHost = CopyTestDaemon(L"cooperative", running.folder.path() + L"beside.dll");
    ASSERT_TRUE(running.Start());
    EXPECT_EQ(host.RowCount(), 1);
    EXPECT_FALSE(HasEvent(tooDeep, "attach"));
    EXPECT_FALSE(HasEvent(besideHost, "attach"));
    host.RequestClose();
    ASSERT_TRUE(host.WaitForExit(60s));
}

}  // namespace
}  // namespace kestrune::test
