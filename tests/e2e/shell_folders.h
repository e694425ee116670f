// Folders the host hands to the shell. In the test program's prefix a stand-in of ours
// (folder_stand_in.exe) opens them: the shell's own file browser is slow and unsteady under
// emulation, and a window of it that does not close outlives the case.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

namespace kestrune::test {

using namespace std::chrono_literals;

// The stand-in's window for folder, exactly as the host handed it to the shell; null after timeout.
HWND WaitForFolderWindow(const std::wstring& folder, std::chrono::milliseconds timeout = 30s);

// Every stand-in window open now, whatever its folder.
std::vector<HWND> FolderWindows();

// While one lives, folders open in the shell's own file browser.
class RealShellFolders {
public:
    RealShellFolders();
    ~RealShellFolders();
    RealShellFolders(const RealShellFolders&) = delete;
    RealShellFolders& operator=(const RealShellFolders&) = delete;
};

}  // namespace kestrune::test
