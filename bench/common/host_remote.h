// Driving a running host from outside through its real command path, and reading what
// the system says about its process.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "host_process.h"
#include "process_probe.h"

namespace bench {

// Command codes of the context menu.
constexpr int CmdStart = 6;
constexpr int CmdPauseResume = 15;
constexpr int CmdStop = 18;

// Selects a row of the host's list as a click would (LVM_SETITEMSTATE with the item record
// inside the host's process).
bool SelectRow(const kestrune::test::HostProcess& host, int row);

// A menu command as the window receives it once the user chose the item. The host runs the
// handler bound to the identifier, so a context menu must have been opened once before.
void PostCommand(const kestrune::test::HostProcess& host, int code);

// Opens and dismisses the context menu of row 0 once, with the window shown from the tray,
// so that the command identifiers are bound; hides the window again. False when no menu came.
bool BindCommands(kestrune::test::HostProcess& host);

// Shows the window from the tray, or minimises it (which hides it to the tray).
void ShowHost(kestrune::test::HostProcess& host);
void HideHost(kestrune::test::HostProcess& host);

// The host's main thread (the one that owns its window), opened for time queries; null on failure.
HANDLE OpenMainThread(const kestrune::test::HostProcess& host);

// The wineserver's processor time so far in milliseconds, or -1 when not under Wine.
// Under Wine the server opens files for its clients, so /proc/self is the server itself.
double WineserverCpuMilliseconds();

// A walk of a process's address space (privately committed, images, views, reserved).
using kestrune::probe::AddressSpace;
using kestrune::probe::WalkAddressSpace;

// The process's entries in the system's handle table, or -1 when it cannot be read.
long CountHandles(DWORD processId);
// The process's threads.
long CountThreads(DWORD processId);

}  // namespace bench
