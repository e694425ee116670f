#include "commands.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "application.h"
#include "daemon_table.h"
#include "file_info.h"
#include "lifecycle.h"
#include "reaper.h"
#include "../ui/selected_row.h"

namespace kestrune {
namespace {

constexpr wchar_t ForceStopText[] =
    L"Are you sure to terminate thread?\r\rThis can lead to OS handles leaks or other unexpected shit";

// The thread priority a priority command asks for.
int32_t PriorityOfCommand(int32_t code) {
    switch (code) {
    case CmdPriorityIdle: return THREAD_PRIORITY_IDLE;
    case CmdPriorityLowest: return THREAD_PRIORITY_LOWEST;
    case CmdPriorityBelowNormal: return THREAD_PRIORITY_BELOW_NORMAL;
    case CmdPriorityAboveNormal: return THREAD_PRIORITY_ABOVE_NORMAL;
    case CmdPriorityHighest: return THREAD_PRIORITY_HIGHEST;
    case CmdPriorityTimeCritical: return THREAD_PRIORITY_TIME_CRITICAL;
    default: return THREAD_PRIORITY_NORMAL;
    }
}

void OpenFolderOf(const std::wstring& path) {
    std::wstring folder = FolderOfPath(path);
    FileInfo info = QueryFile(folder);
    if (!info.exists || !info.isFolder) return;
    ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// The selected daemon decides for all: the others' own states play no part.
void PauseOrResumeAll(const Daemon* selected) {
    int32_t request = selected && selected->Has(FlagPaused) ? RequestResume : RequestPause;
    for (size_t i = 1; i < app.DaemonTable.size(); ++i) SetDaemonRequest(app.DaemonTable[i], request);
}

void ApplyToDaemon(Daemon* daemon, int32_t code) {
    switch (code) {
    case CmdPriorityIdle:
    case CmdPriorityLowest:
    case CmdPriorityBelowNormal:
    case CmdPriorityNormal:
    case CmdPriorityAboveNormal:
    case CmdPriorityHighest:
    case CmdPriorityTimeCritical:
        SetDaemonRequest(daemon, RequestPriorityBase + PriorityOfCommand(code));
        break;
    case CmdPauseResume:
        SetDaemonRequest(daemon, daemon->Has(FlagPaused) ? RequestResume : RequestPause);
        break;
    case CmdForceStop:
        if (ConfirmForceStop(daemon->fileName)) SetDaemonRequest(daemon, RequestForceStop);
        break;
    case CmdStop:
        SetDaemonRequest(daemon, RequestStop);
        break;
    default:  // "Start" on a loaded daemon, and codes that are no command
        break;
    }
}

// Loads an ended daemon again as a new record.
void StartFromRow(const std::wstring& path) {
    if (!AddDaemon(path, app.DaemonTable)) return;
    StartDaemonThread(app.DaemonTable.back(), RequestNone);
    ArmReaperTimer(app.mainWindow);
}

struct DisabledWindows {
    HWND keep;
    std::vector<HWND> windows;
};

BOOL CALLBACK DisableOne(HWND window, LPARAM parameter) {
    auto* disabled = reinterpret_cast<DisabledWindows*>(parameter);
    if (window != disabled->keep && IsWindowVisible(window) && IsWindowEnabled(window)) {
        EnableWindow(window, FALSE);
        disabled->windows.push_back(window);
    }
    return TRUE;
}

}  // namespace

std::wstring FolderOfPath(const std::wstring& path) {
    size_t start = !path.empty() && path[0] == L'"' ? 1 : 0;
    size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos || separator < start) return {};
    return path.substr(start, separator + 1 - start);
}

bool ConfirmForceStop(const std::wstring& fileName) {
    HWND owner = GetForegroundWindow();
    DWORD ownerProcess = 0;
    if (owner) GetWindowThreadProcessId(owner, &ownerProcess);
    if (ownerProcess != GetCurrentProcessId()) owner = nullptr;
    // The box disables its owner itself; the host's other windows wait for the answer too.
    DisabledWindows disabled{owner, {}};
    EnumThreadWindows(GetCurrentThreadId(), DisableOne, reinterpret_cast<LPARAM>(&disabled));
    std::wstring title = L"Kestrune\\\\" + fileName;
    int answer = MessageBoxW(owner, ForceStopText, title.c_str(), MB_YESNO);
    for (HWND window : disabled.windows) EnableWindow(window, TRUE);
    return answer == IDYES;
}

void ExecuteDaemonCommand(int32_t code) {
    std::wstring path = SelectedRowPath();
    Daemon* daemon = path.empty() ? nullptr : FindDaemonByPath(path);
    if (code == CmdOpenFolder) {
        OpenFolderOf(path);
    } else if (code == CmdPauseResumeAll) {
        PauseOrResumeAll(daemon);
    } else if (daemon) {
        ApplyToDaemon(daemon, code);
    } else if (code == CmdStart && !IsQuitting()) {
        StartFromRow(path);
    }
}

}  // namespace kestrune
