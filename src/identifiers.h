// Every fixed identifier the host hands the window system: its control, its timers, its
// messages and the ranges of menu commands. Each dispatch compares against these names.
#pragma once

#include <windows.h>

#include <cstdint>

namespace kestrune {

// A closed range of identifiers.
struct IdRange {
    int32_t first;
    int32_t last;
    constexpr bool Holds(int64_t id) const { return first <= id && id <= last; }
};

// The program's icon in its resources (the class icon and the tray icon).
constexpr int AppIconResource = 1;

// Controls of the main window.
constexpr int DaemonListId = 52;

// Timers of the main window.
constexpr UINT_PTR ReaperTimerId = 5;
constexpr UINT_PTR RefreshTimerId = 6;
constexpr UINT_PTR TrayRetryTimerId = 7;

// Messages.
constexpr UINT TrayCallbackMessage = 12501;  // the tray icon's mouse events
constexpr UINT TrayIconId = 0;               // the host's one tray icon

// Host menu commands: the daemon commands are the context menu's items.
enum DaemonCommand : int32_t {
    CmdStart = 6,
    CmdOpenFolder = 7,
    CmdPriorityIdle = 8,
    CmdPriorityLowest = 9,
    CmdPriorityBelowNormal = 10,
    CmdPriorityNormal = 11,
    CmdPriorityAboveNormal = 12,
    CmdPriorityHighest = 13,
    CmdPriorityTimeCritical = 14,
    CmdPauseResume = 15,
    CmdPauseResumeAll = 16,
    CmdForceStop = 17,
    CmdStop = 18,
};
constexpr IdRange DaemonCommandIds{5, 19};  // dispatched to the daemon commands

enum TrayCommand : int32_t {
    TrayExplore = 21,
    TrayAbout = 22,
    TrayQuit = 23,
};
constexpr IdRange TrayCommandIds{20, 24};  // dispatched to the tray commands

// Daemon-supplied menus: the context menu's daemon at the base, the tray menu's daemons one
// stride apart above it, in table order among those that offer a menu.
constexpr int32_t DaemonMenuBase = 16000;
constexpr int32_t TrayDaemonMenuStride = 200;
// A menu command carries its identifier in 16 bits: a larger one would be cut, and could
// land on a host command.
constexpr IdRange DaemonMenuIds{DaemonMenuBase, 0xFFFF};

}  // namespace kestrune
