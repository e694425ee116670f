#include "core/commands.h"

#include <windows.h>

#include <shellapi.h>

#include "core/application.h"
#include "core/daemon_table.h"
#include "core/file_info.h"
#include "core/lifecycle.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

// The thread priority a priority command asks for.
int32_t PriorityOfCommand(int32_t code) {
    LN switch (code) {
    case CmdPriorityIdle:
        LN return THREAD_PRIORITY_IDLE;
    case CmdPriorityLowest:
        LN return THREAD_PRIORITY_LOWEST;
    case CmdPriorityBelowNormal:
        LN return THREAD_PRIORITY_BELOW_NORMAL;
    case CmdPriorityAboveNormal:
        LN return THREAD_PRIORITY_ABOVE_NORMAL;
    case CmdPriorityHighest:
        LN return THREAD_PRIORITY_HIGHEST;
    case CmdPriorityTimeCritical:
        LN return THREAD_PRIORITY_TIME_CRITICAL;
    default:
        LN return THREAD_PRIORITY_NORMAL;
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
    LN for (size_t i = 1; i < app.DaemonTable.size(); ++i) SetDaemonRequest(app.DaemonTable[i].get(), request);
}

void ApplyToDaemon(Daemon* daemon, int32_t code, ForceStopQuestion confirm) {
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
        LN if (confirm && confirm(daemon->fileName)) SetDaemonRequest(FindDaemonByPath(path), RequestForceStop);
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
CommandEffect StartFromRow(const std::wstring& path) {
    LN if (!AddDaemon(path, app.DaemonTable)) return CommandEffect::None;
    LN StartDaemonThread(app.DaemonTable.back().get(), RequestNone);
    LN return CommandEffect::Started;
}

}  // namespace

std::wstring FolderOfPath(const std::wstring& path) {
    LN size_t start = !path.empty() && path[0] == L'"' ? 1 : 0;
    LN size_t separator = path.find_last_of(L"\\/");
    LN if (separator == std::wstring::npos || separator < start) return {};
    LN return path.substr(start, separator + 1 - start);
}

CommandEffect ApplyDaemonCommand(int32_t code, const std::wstring& rowPath, ForceStopQuestion confirm) {
    LN Daemon* daemon = rowPath.empty() ? nullptr : FindDaemonByPath(rowPath);
    LN if (code == CmdOpenFolder) {
        LN OpenFolderOf(rowPath);
    } else if (code == CmdPauseResumeAll) {
        LN PauseOrResumeAll(daemon);
    } else if (daemon) {
        LN ApplyToDaemon(daemon, code, confirm);
    } else if (code == CmdStart && !IsQuitting()) {
        LN return StartFromRow(rowPath);
    }
    LN return CommandEffect::None;
}

}  // namespace kestrune
