#include "shell_folders.h"

#include <gtest/gtest.h>

#include "test_daemons.h"
#include "top_level_windows.h"

namespace kestrune::test {
namespace {

constexpr wchar_t StandInClass[] = L"KestruneFolderStandIn";

// The shell opens a folder with the command registered for the Folder class; Wine registers none
// and falls back on its own file browser. Wine's registration asks for a DDE conversation with
// whatever command is registered, which would broadcast to every window of the prefix and wait
// for the stand-in, which speaks none: the test prefix goes without it (Wine's own browser does
// not need it).
constexpr wchar_t FolderCommand[] = L"Software\\Classes\\Folder\\shell\\open\\command";
constexpr wchar_t FolderConversation[] = L"Software\\Classes\\Folder\\shell\\open\\ddeexec";

bool RegisterFolderHandler(const std::wstring& program) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, FolderConversation);
    const std::wstring command = L"\"" + program + L"\" \"%1\"";
    HKEY key = nullptr;
    bool done = RegCreateKeyExW(HKEY_LOCAL_MACHINE, FolderCommand, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                nullptr) == ERROR_SUCCESS &&
                RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                               static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    if (key) RegCloseKey(key);
    return done;
}

void UnregisterFolderHandler() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, FolderCommand);
}

std::wstring StandInProgram() {
    return ProgramFolder() + L"folder_stand_in.exe";
}

// Registered for the whole program; a program ended part way leaves it for the next, which
// registers the same again.
class FolderStandInEnvironment : public testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(RegisterFolderHandler(StandInProgram())) << "no stand-in for the shell's folders";
    }
    void TearDown() override {
        for (HWND window : FolderWindows()) PostMessageW(window, WM_CLOSE, 0, 0);
        UnregisterFolderHandler();
    }
};

[[maybe_unused]] testing::Environment* const standIn = testing::AddGlobalTestEnvironment(new FolderStandInEnvironment);

}  // namespace

std::vector<HWND> FolderWindows() {
    return VisibleWindowsOf(0, StandInClass);
}

HWND WaitForFolderWindow(const std::wstring& folder, std::chrono::milliseconds timeout) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : FolderWindows()) {
                if (TitleOf(window) == folder) found = window;
            }
            return found != nullptr;
        },
        timeout);
    return found;
}

RealShellFolders::RealShellFolders() {
    UnregisterFolderHandler();
}

RealShellFolders::~RealShellFolders() {
    RegisterFolderHandler(StandInProgram());
}

}  // namespace kestrune::test
