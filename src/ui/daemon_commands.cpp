#include "ui/daemon_commands.h"

#include <windows.h>

#include <vector>

#include "core/application.h"
#include "core/owner.h"
#include "ui/reaper.h"
#include "ui/selected_row.h"
#include "ui/ui_state.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

constexpr wchar_t ForceStopText[] =
    L"Are you sure to terminate thread?\r\rThis can lead to OS handles leaks or other unexpected shit";

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

void ExecuteDaemonCommand(int32_t code) {
    LN if (ApplyDaemonCommand(code, SelectedRowPath(), ConfirmForceStop) == CommandEffect::Started) {
        LN ArmReaperTimer(ui.main.mainWindow.get());
    }
}

bool ConfirmForceStop(const std::wstring& fileName) {
    LN HWND owner = GetForegroundWindow();
    LN DWORD ownerProcess = 0;
    LN if (owner) GetWindowThreadProcessId(owner, &ownerProcess);
    LN if (ownerProcess != GetCurrentProcessId()) owner = nullptr;
    // The box disables its owner itself; the host's other windows wait for the answer too.
    LN DisabledWindows disabled{owner, {}};
    LN EnumThreadWindows(GetCurrentThreadId(), DisableOne, reinterpret_cast<LPARAM>(&disabled));
    LN const ScopeExit enable([&] { LN for (HWND window : disabled.windows) EnableWindow(window, TRUE); });
    LN const std::wstring title = L"Kestrune\\\\" + fileName;
    LN return MessageBoxW(owner, ForceStopText, title.c_str(), MB_YESNO) == IDYES;
}

}  // namespace kestrune
