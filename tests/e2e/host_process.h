// The real kestrune.exe, staged in a folder of its own with a chosen wild_magic\, run
// as a separate process and driven from outside the way the shell and the user would.
#pragma once

#include <windows.h>

#include <chrono>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/owner.h"
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

    // Starts the host with its own folder, or currentDirectory, as the current directory. The
    // host runs in a job of this object's that ends with it, or with this test program, taking
    // along whatever the host started (a folder window, say): nothing outlives the case.
    bool Start(const std::wstring& currentDirectory = {});
    bool IsRunning() const;
    // Waits until the main window exists; null when it never appeared.
    HWND WaitForMainWindow(std::chrono::milliseconds timeout = 60s);
    // "running", or how the process ended: for the message of a check that found no window.
    std::string Fate() const;
    HWND MainWindow() const { return mainWindow_; }
    HWND List() const;

    // What the shell sends when the user presses the tray icon.
    void PressTrayIcon(UINT mouseMessage = WM_LBUTTONDOWN);
    void RequestClose();
    // Waits until the host's thread has handled a sent message: a round trip, not a
    // sign that start-up has finished (the host handles sent messages while it calls out).
    bool Sync();
    // Waits until the host has handled every message posted to it before this call. A sent
    // message overtakes posted ones that wait in the host's queue, so Sync alone does not show it.
    bool SyncPosted();
    // Waits for the process to end and gives its exit code; false on time-out.
    bool WaitForExit(std::chrono::milliseconds timeout, DWORD* exitCode = nullptr);
    // A close request, then WaitForExit.
    bool CloseAndWait(std::chrono::milliseconds timeout, DWORD* exitCode = nullptr);

    int RowCount() const;
    // "<no answer>" when the host does not answer within timeout.
    std::wstring Cell(int row, int column, std::chrono::milliseconds timeout = 30s) const;
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

    // Selects one row of the daemon list (none for -1), as a click on it would.
    bool SelectRow(int row) const;
    // What choosing the host's menu item with this identifier sends the main window; the
    // host runs the item's handler once a menu has offered the item.
    void PostCommand(int id) const;
    // The same, sent: the handler has run when this returns, so a row selected next cannot
    // be taken for this command's. Skips only the event loop's route lookup, which the
    // host's own commands do not need. False when the host did not answer.
    bool SendCommand(int id) const;

    // The centre of a row of the daemon list, in screen coordinates.
    POINT RowPoint(int row) const;
    // Real mouse input on a row, as the user gives it.
    void RightClickRow(int row) const;
    void DoubleClickRow(int row) const;
    // The host's visible popup menu, or null when none opened within timeout.
    HWND WaitForPopupMenu(std::chrono::milliseconds timeout = 20s) const;
    bool WaitForNoPopupMenu(std::chrono::milliseconds timeout = 20s) const;
    // Opens the context menu of a row, with that row selected, and returns the popup, or null.
    HWND OpenContextMenu(int row) const;
    // The list's selected row, or -1.
    int SelectedRow() const;
    // Opens the tray menu and returns the popup, or null.
    HWND OpenTrayMenu();

private:
    std::wstring folder_;
    HandleOwner job_;
    PROCESS_INFORMATION info_{};
    HWND mainWindow_ = nullptr;
    // A buffer inside the host process for list-view calls that take pointers.
    void* Remote() const;
    mutable void* remote_ = nullptr;
};

// Keyboard input, one key press and release per key, to whatever has the focus.
void PressKeys(std::initializer_list<WORD> keys);

// Positions of the context menu's items as the arrow keys reach them (separators skipped),
// for a daemon without a menu of its own.
enum ContextItem { ItemStart = 0, ItemOpenFolder, ItemPriority, ItemPause, ItemPauseAll, ItemForceStop, ItemStop };

// In an open popup menu: moves down to the item at index (separators do not count,
// greyed items do) and chooses it; submenu then names the item's index in its submenu.
void ChooseMenuItem(int index, int submenuIndex = -1);

// Keys for the open popup menu, posted to its thread: no focus change can lose them.
void PostMenuKeys(std::initializer_list<WORD> keys);

// A visible top-level window of a process other than this one and the host, of the
// given class and title; null after timeout.
HWND WaitForForeignWindow(DWORD hostProcess, const std::wstring& className, const std::wstring& title,
                          std::chrono::milliseconds timeout = 30s);

// Closes a window of another process and waits until it is gone.
bool CloseForeignWindow(HWND window);

// The x64 or x86 build folder of the other architecture's test daemons.
std::wstring OtherArchitectureTestDaemon(const std::wstring& name);

// Saves the screen (or a window's part of it) as a BMP under the build's screenshots folder.
bool SaveScreenshot(const std::wstring& name, HWND window = nullptr);

// Saves the part of the screen that holds all the given windows.
bool SaveScreenshotOf(const std::wstring& name, std::initializer_list<HWND> windows);

}  // namespace kestrune::test
