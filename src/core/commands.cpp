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
#include "fault/source_position.h"

namespace kestrune {
namespace {

constexpr wchar_t ForceStopText[] =
    L"Are you sure to terminate thread?\r\rThis can lead to OS handles leaks or other unexpected shit";

// The thread priority a priority command asks for.
int32_t PriorityOfCommand(int32_t code) {
    LN switch (code) {
    case CmdPriorityIdle: LN return THREAD_PRIORITY_IDLE;
    case CmdPriorityLowest: LN return THREAD_PRIORITY_LOWEST;
    case CmdPriorityBelowNormal: LN return THREAD_PRIORITY_BELOW_NORMAL;
    case CmdPriorityAboveNormal: LN return THREAD_PRIORITY_ABOVE_NORMAL;
    case CmdPriorityHighest: LN return THREAD_PRIORITY_HIGHEST;
    case CmdPriorityTimeCritical: LN return THREAD_PRIORITY_TIME_CRITICAL;
    default: LN return THREAD_PRIORITY_NORMAL;
    }
}

void OpenFolderOf(const std::wstring& path) {
    LN std::wstring folder = FolderOfPath(path);
    LN FileInfo info = QueryFile(folder);
    LN if (!info.exists || !info.isFolder) return;
    LN ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// The selected daemon decides for all: the others' own states play no part.
void PauseOrResumeAll(const Daemon* selected) {
    LN int32_t request = selected && selected->Has(FlagPaused) ? RequestResume : RequestPause;
    LN for (size_t i = 1; i < app.DaemonTable.size(); ++i) SetDaemonRequest(app.DaemonTable[i], request);
}

void ApplyToDaemon(Daemon* daemon, int32_t code) {
    LN switch (code) {
    case CmdPriorityIdle:
    case CmdPriorityLowest:
    case CmdPriorityBelowNormal:
    case CmdPriorityNormal:
    case CmdPriorityAboveNormal:
    case CmdPriorityHighest:
    case CmdPriorityTimeCritical:
        LN SetDaemonRequest(daemon, RequestPriorityBase + PriorityOfCommand(code));
        break;
    case CmdPauseResume:
        LN SetDaemonRequest(daemon, daemon->Has(FlagPaused) ? RequestResume : RequestPause);
        break;
    case CmdForceStop: {
        // The question runs a message loop, in which the end of the session may unload
        // every daemon: the answer goes to the daemon found again by its path.
        LN const std::wstring path = daemon->path;
        LN if (ConfirmForceStop(daemon->fileName)) SetDaemonRequest(FindDaemonByPath(path), RequestForceStop);
        break;
    }
    case CmdStop:
        LN SetDaemonRequest(daemon, RequestStop);
        break;
    default:  // "Start" on a loaded daemon, and codes that are no command
        break;
    }
}

// Loads an ended daemon again as a new record.
void StartFromRow(const std::wstring& path) {
    LN if (!AddDaemon(path, app.DaemonTable)) return;
    LN StartDaemonThread(app.DaemonTable.back(), RequestNone);
    LN ArmReaperTimer(app.mainWindow);
}

struct DisabledWindows {
    HWND keep;
    std::vector<HWND> windows;
};

BOOL CALLBACK DisableOne(HWND window, LPARAM parameter) {
    LN auto* disabled = reinterpret_cast<DisabledWindows*>(parameter);
    LN if (window != disabled->keep && IsWindowVisible(window) && IsWindowEnabled(window)) {
        LN EnableWindow(window, FALSE);
        LN disabled->windows.push_back(window);
    }
    LN return TRUE;
}

}  // namespace

std::wstring FolderOfPath(const std::wstring& path) {
    LN size_t start = !path.empty() && path[0] == L'"' ? 1 : 0;
    LN size_t separator = path.find_last_of(L"\\/");
    LN if (separator == std::wstring::npos || separator < start) return {};
    LN return path.substr(start, separator + 1 - start);
}

bool ConfirmForceStop(const std::wstring& fileName) {
    LN HWND owner = GetForegroundWindow();
    LN DWORD ownerProcess = 0;
    LN if (owner) GetWindowThreadProcessId(owner, &ownerProcess);
    LN if (ownerProcess != GetCurrentProcessId()) owner = nullptr;
    // The box disables its owner itself; the host's other windows wait for the answer too.
    LN DisabledWindows disabled{owner, {}};
    LN EnumThreadWindows(GetCurrentThreadId(), DisableOne, reinterpret_cast<LPARAM>(&disabled));
    LN std::wstring title = L"Kestrune\\\\" + fileName;
    LN int answer = MessageBoxW(owner, ForceStopText, title.c_str(), MB_YESNO);
    LN for (HWND window : disabled.windows) EnableWindow(window, TRUE);
    LN return answer == IDYES;
}

void ExecuteDaemonCommand(int32_t code) {
    LN std::wstring path = SelectedRowPath();
    LN Daemon* daemon = path.empty() ? nullptr : FindDaemonByPath(path);
    LN if (code == CmdOpenFolder) {
        LN OpenFolderOf(path);
    } else if (code == CmdPauseResumeAll) {
        LN PauseOrResumeAll(daemon);
    } else if (daemon) {
        LN ApplyToDaemon(daemon, code);
    } else if (code == CmdStart && !IsQuitting()) {
        LN StartFromRow(path);
    }
}

}  // namespace kestrune
