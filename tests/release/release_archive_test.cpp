// Runs an unpacked release archive: the folder named by KESTRUNE_RELEASE_DIR must hold a
// kestrune.exe that starts, hosts every daemon shipped in its wild_magic folder, and closes cleanly.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <windows.h>
#include <shellapi.h>

#include "host_process.h"
#include "row_status.h"
#include "test_daemons.h"

namespace kestrune::test {
namespace {

std::wstring ReleaseFolder() {
    const wchar_t* folder = _wgetenv(L"KESTRUNE_RELEASE_DIR");
    std::wstring path = folder ? folder : L"";
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    return path;
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

TEST(ReleaseArchiveTest, UnpackedArchiveHostsItsSampleDaemon) {
    std::wstring folder = ReleaseFolder();
    ASSERT_FALSE(folder.empty()) << "set KESTRUNE_RELEASE_DIR to an unpacked archive";
    std::vector<std::wstring> shipped = ShippedDaemons(folder + L"wild_magic\\");
    ASSERT_FALSE(shipped.empty()) << "the archive ships a sample daemon";
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
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00030003u);

    // What a user may drop beside the sample: a DLL of the other architecture and a file that
    // is no library. Neither gets a row or a message; the sample runs on.
    std::wstring foreign = folder + L"wild_magic\\other_architecture.dll";
    std::wstring notes = folder + L"wild_magic\\notes.dll";
    ASSERT_TRUE(CopyFileW(OtherArchitectureTestDaemon(L"cooperative").c_str(), foreign.c_str(), FALSE))
        << "the other target's test daemons must be built";
    ASSERT_TRUE(WriteFileBytes(notes, "not a library"));

    HostProcess host(folder, false);
    ASSERT_TRUE(host.Start());
    ASSERT_NE(host.WaitForMainWindow(), nullptr);
    host.PressTrayIcon();
    ASSERT_TRUE(WaitUntil([&] { return host.IsWindowShown(); }, 60s));
    EXPECT_EQ(host.RowCount(), static_cast<int>(shipped.size()));
    EXPECT_EQ(host.OtherVisibleWindows(), 0) << "refusals show nothing";

    // The sample daemon runs when its command window, made on its own thread, exists.
    EXPECT_TRUE(WaitUntil(
        [&] {
            for (HWND window = nullptr;
                 (window = FindWindowExW(HWND_MESSAGE, window, L"KestruneSampleDaemon", nullptr)) != nullptr;) {
                DWORD owner = 0;
                GetWindowThreadProcessId(window, &owner);
                if (owner == host.ProcessId()) return true;
            }
            return false;
        },
        120s))
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

}  // namespace
}  // namespace kestrune::test
