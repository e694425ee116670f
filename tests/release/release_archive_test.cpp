// Runs an unpacked release archive: the folder named by KESTRUNE_RELEASE_DIR must hold a
// kestrune.exe that starts, hosts every daemon shipped in its wild_magic folder, and closes cleanly.
#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <kestrune/version.h>

#include "host_process.h"
#include "row_status.h"
#include "run_program.h"
#include "test_daemons.h"

namespace kestrune::test {
namespace {

std::wstring FolderFromEnvironment(const wchar_t* name) {
    const wchar_t* folder = _wgetenv(name);
    std::wstring path = folder ? folder : L"";
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    return path;
}

std::wstring ReleaseFolder() {
    return FolderFromEnvironment(L"KESTRUNE_RELEASE_DIR");
}

// Daemons that scripts/package built from the unpacked archive's sdk\ alone.
std::wstring SdkBuiltFolder() {
    return FolderFromEnvironment(L"KESTRUNE_SDK_BUILT_DIR");
}

// The message-only window of a daemon's thread in the host, made once it runs its loop.
bool HasDaemonWindow(DWORD process, const wchar_t* className) {
    for (HWND window = nullptr; (window = FindWindowExW(HWND_MESSAGE, window, className, nullptr)) != nullptr;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == process) return true;
    }
    return false;
}

std::vector<std::wstring> ShippedDaemons(const std::wstring& wildMagic) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((wildMagic + L"*.dll").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return names;
    do names.push_back(entry.cFileName);
    while (FindNextFileW(listing, &entry));
    FindClose(listing);
    return names;
}

// The program's own icon and its manifest, read from the file as data.
TEST(ReleaseArchiveTest, ProgramCarriesItsIconAndManifest) {
    std::wstring folder = ReleaseFolder();
    ASSERT_FALSE(folder.empty()) << "set KESTRUNE_RELEASE_DIR to an unpacked archive";
    std::wstring program = folder + L"kestrune.exe";
    HMODULE image = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    EXPECT_NE(FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */), nullptr)
        << "icon 1, which the tray takes as index 0";
    HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24) /* RT_MANIFEST */);
    ASSERT_NE(found, nullptr);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(image, found)));
    std::string manifest(bytes, SizeofResource(image, found));
    FreeLibrary(image);
    EXPECT_NE(manifest.find("<dpiAware>true</dpiAware>"), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    HICON icon = ExtractIconW(GetModuleHandleW(nullptr), program.c_str(), 0);
    EXPECT_NE(icon, nullptr);
    if (icon) DestroyIcon(icon);
}

// What the archive carries beside the host, and the host's file version.
TEST(ReleaseArchiveTest, ArchiveCarriesItsFilesAndTheVersion) {
    std::wstring folder = ReleaseFolder();
    ASSERT_FALSE(folder.empty()) << "set KESTRUNE_RELEASE_DIR to an unpacked archive";
    EXPECT_FALSE(ShippedDaemons(folder + L"wild_magic\\").empty()) << "the archive ships a sample daemon";
    for (const wchar_t* carried : {L"daemoncheck.exe", L"readme.txt", L"sdk\\include\\kestrune\\daemon.h"}) {
        EXPECT_NE(GetFileAttributesW((folder + carried).c_str()), INVALID_FILE_ATTRIBUTES)
            << "the archive carries " << testing::PrintToString(std::wstring(carried));
    }

    DWORD handle = 0;
    std::wstring program = folder + L"kestrune.exe";
    DWORD size = GetFileVersionInfoSizeW(program.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> version(size);
    ASSERT_TRUE(GetFileVersionInfoW(program.c_str(), 0, size, version.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(version.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, (ProjectVersionMajor << 16) | ProjectVersionMinor);
    EXPECT_EQ(fixed->dwFileVersionLS, (ProjectVersionPatch << 16) | ProjectVersionTweak);
}

TEST(ReleaseArchiveTest, UnpackedArchiveHostsItsSampleDaemon) {
    std::wstring folder = ReleaseFolder();
    ASSERT_FALSE(folder.empty()) << "set KESTRUNE_RELEASE_DIR to an unpacked archive";
    std::vector<std::wstring> shipped = ShippedDaemons(folder + L"wild_magic\\");
    ASSERT_FALSE(shipped.empty()) << "the archive ships a sample daemon";

    // What a user may drop beside the sample: a DLL of the other architecture and a file that
    // is no library. Neither gets a row or a message; the sample runs on.
    std::wstring foreign = folder + L"wild_magic\\other_architecture.dll";
    std::wstring notes = folder + L"wild_magic\\notes.dll";
    ASSERT_TRUE(CopyFileW(OtherArchitectureTestDaemon(L"cooperative").c_str(), foreign.c_str(), FALSE))
        << "the other target's test daemons must be built";
    ASSERT_TRUE(WriteFileBytes(notes, "not a library"));

    HostProcess host(folder, false);
    ASSERT_TRUE(host.Start());
    ASSERT_NE(host.WaitForMainWindow(), nullptr) << host.Fate();
    host.PressTrayIcon();
    ASSERT_TRUE(WaitUntil([&] { return host.IsWindowShown(); }, 60s));
    EXPECT_EQ(host.RowCount(), static_cast<int>(shipped.size()));
    EXPECT_EQ(host.OtherVisibleWindows(), 0) << "refusals show nothing";

    // The sample daemon runs when its command window, made on its own thread, exists.
    EXPECT_TRUE(WaitUntil([&] { return HasDaemonWindow(host.ProcessId(), L"KestruneSampleDaemon"); }, 120s))
        << "the sample daemon's window";

    for (const std::wstring& name : shipped) {
        EXPECT_TRUE(WaitUntil(
            [&] {
                int row = host.RowEndingWith(L"\\" + name);
                return row >= 0 && host.Cell(row, 1) == BlackStar;
            },
            60s))
            << "the shipped daemon " << testing::PrintToString(name) << " runs";
    }
    DWORD exitCode = 1;
    ASSERT_TRUE(host.CloseAndWait(120s, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(HasEvent(foreign, "attach")) << "the other architecture's DLL was never run";
    DeleteFileW(foreign.c_str());
    DeleteFileW(notes.c_str());
}

// The template and the sample, built from the release's sdk\ with its helper: the checker that
// ships passes them, and the host that ships lists them and routes their menus' commands.
TEST(ReleaseArchiveTest, DaemonsBuiltWithTheSdkPassTheCheckAndShowTheirMenus) {
    const std::wstring release = ReleaseFolder();
    const std::wstring built = SdkBuiltFolder();
    ASSERT_FALSE(release.empty()) << "set KESTRUNE_RELEASE_DIR to an unpacked archive";
    ASSERT_FALSE(built.empty()) << "set KESTRUNE_SDK_BUILT_DIR to the daemons built from its sdk";
    TempFolder scratch;
    for (const wchar_t* name : {L"my_daemon", L"sample_daemon"}) {
        std::wstring dll = built + name + L".dll";
        ProgramRun run = RunProgram(release + L"daemoncheck.exe", L"--settle 500 --wait 5000 " + Quoted(dll),
                                    scratch.path() + name + L".txt", 600000);
        EXPECT_EQ(run.exitCode, 0u) << run.output;
        EXPECT_NE(run.output.find("verdict: PASS (0 failures, 0 warnings)"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("info bound: the export with ordinal 1 is KestruneBound"), std::string::npos)
            << run.output;
        EXPECT_NE(run.output.find("ok   EntryMenu:"), std::string::npos) << run.output;
    }

    TempFolder folder;
    ASSERT_TRUE(CopyFileW((release + L"kestrune.exe").c_str(), (folder.path() + L"kestrune.exe").c_str(), FALSE));
    const std::wstring wild = folder.path() + L"wild_magic\\";
    CreateFolders(wild + L"mine\\");
    CreateFolders(wild + L"sample\\");
    ASSERT_TRUE(CopyFileW((built + L"my_daemon.dll").c_str(), (wild + L"mine\\my_daemon.dll").c_str(), FALSE));
    ASSERT_TRUE(
        CopyFileW((built + L"sample_daemon.dll").c_str(), (wild + L"sample\\sample_daemon.dll").c_str(), FALSE));
    HostProcess host(folder.path(), false);
    ASSERT_TRUE(host.Start());
    ASSERT_NE(host.WaitForMainWindow(), nullptr) << host.Fate();
    host.PressTrayIcon();
    ASSERT_TRUE(WaitUntil([&] { return host.IsWindowShown(); }, 60s));
    EXPECT_EQ(host.RowCount(), 2);
    for (const wchar_t* name : {L"\\my_daemon.dll", L"\\sample_daemon.dll"}) {
        EXPECT_TRUE(WaitUntil(
            [&] {
                int row = host.RowEndingWith(name);
                return row >= 0 && host.Cell(row, 1) == BlackStar;
            },
            60s))
            << testing::PrintToString(std::wstring(name)) << " runs";
    }
    ASSERT_TRUE(WaitUntil([&] { return HasDaemonWindow(host.ProcessId(), L"MyDaemonCommands"); }, 120s));
    ASSERT_TRUE(WaitUntil([&] { return HasDaemonWindow(host.ProcessId(), L"KestruneSampleDaemon"); }, 120s));

    // The first item of each daemon's submenu in the tray menu, whichever comes first there.
    for (int submenu = 0; submenu < 2; ++submenu) {
        ASSERT_NE(host.OpenTrayMenu(), nullptr);
        ChooseMenuItem(submenu, 0);
        ASSERT_TRUE(host.WaitForNoPopupMenu(60s));
    }
    EXPECT_TRUE(WaitUntil([&] { return ReadFileBytes(wild + L"mine\\my_daemon.log") == "hello\r\n"; }, 60s))
        << "the template's \"Say hello\"";
    EXPECT_TRUE(
        WaitUntil([&] { return ReadFileBytes(wild + L"sample\\sample_daemon.txt").ends_with(" note\r\n"); }, 60s))
        << "the sample's \"Write the time\"";
    DWORD exitCode = 1;
    ASSERT_TRUE(host.CloseAndWait(120s, &exitCode));
    EXPECT_EQ(exitCode, 0u);
}

}  // namespace
}  // namespace kestrune::test
