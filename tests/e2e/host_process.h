// The real kestrune.exe, staged in a folder of its own with a chosen wild_magic\, run
// as a separate process and driven from outside the way the shell and the user would.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "temp_folder.h"

namespace kestrune::test {

using namespace std::chrono_literals;

struct ListRow {
    std::wstring name, status, cpu, priority, path;
    COLORREF statusColour = 0;
};

class HostProcess {
public:
    // Copies kestrune.exe into folder; daemons go into WildMagic().
    explicit HostProcess(const TempFolder& folder);
    // Runs the kestrune.exe already in folder (an unpacked release, say) without copying ours.
    HostProcess(const std::wstring& folder, bool copyProgram);
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    const std::wstring& Folder() const { return folder_; }
    std::wstring WildMagic() const { return folder_ + L"wild_magic\\"; }
    // Places test daemon name.dll at wild_magic\relative (default name.dll); returns its path.
    std::wstring AddDaemon(const std::wstring& name, std::wstring relative = {});

    // Starts the host with its own folder, or currentDirectory, as the current directory.
    bool Start(const std::wstring& currentDirectory = {});
    bool IsRunning() const;
    // Waits until the main window exists; null when it never appeared.
    HWND WaitForMainWindow(std::chrono::milliseconds timeout = 60s);
    HWND MainWindow() const { return mainWindow_; }
    HWND List() const;

    // What the shell sends when the user presses the tray icon.
    void PressTrayIcon(UINT mouseMessage = WM_LBUTTONDOWN);
    void RequestClose();
    // Waits until the host's thread has handled a sent message: a round trip, not a
    // sign that start-up has finished (the host handles sent messages while it calls out).
    bool Sync();
    // Waits for the process to end and gives its exit code; false on time-out.
    bool WaitForExit(std::chrono::milliseconds timeout, DWORD* exitCode = nullptr);

    int RowCount() const;
    std::wstring Cell(int row, int column) const;
    COLORREF StatusColour(int row) const;
    std::vector<ListRow> Rows() const;
    // The row whose path ends in suffix, or -1.
    int RowEndingWith(const std::wstring& suffix) const;

    bool IsWindowShown() const;
    // Visible windows of the host other than its main window: a message box, a crash dialog.
    int OtherVisibleWindows() const;
    // What the main window answers to WM_GETMINMAXINFO.
    MINMAXINFO MinMaxInfo() const;
    DWORD ProcessId() const { return info_.dwProcessId; }
    HANDLE Process() const { return info_.hProcess; }

private:
    std::wstring folder_;
    PROCESS_INFORMATION info_{};
    HWND mainWindow_ = nullptr;
    // A buffer inside the host process for list-view calls that take pointers.
    void* remote_ = nullptr;
};

// The x64 or x86 build folder of the other architecture's test daemons.
std::wstring OtherArchitectureTestDaemon(const std::wstring& name);

// Saves the screen (or a window's part of it) as a BMP under the build's screenshots folder.
bool SaveScreenshot(const std::wstring& name, HWND window = nullptr);

}  // namespace kestrune::test
