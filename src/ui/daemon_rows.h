// The daemon list's rows: one per daemon library, keyed by the "Path" column.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "../core/daemon_record.h"
#include "identifiers.h"

namespace kestrune {

enum DaemonColumn { ColumnName = 0, ColumnStatus = 1, ColumnCpu = 2, ColumnPriority = 3, ColumnPath = 4 };

// The list control of the main window, or null while there is none.
HWND DaemonList();

void AddDaemonRow(Daemon* daemon);

// The first row whose path equals path regardless of letter case, or -1.
int FindRowByPath(const std::wstring& path);

// Rewrites the status, CPU and priority cells; final is the update before unloading.
void RefreshDaemonRow(Daemon* daemon, bool final);

// RefreshDaemonRow(daemon, false) for a daemon whose thread the caller has just found
// alive, in the list the caller holds: the one-second refresh asks the system for these
// once per daemon and once per refresh, not once per call that needs them.
void RefreshRunningDaemonRow(HWND list, Daemon* daemon);

// The row of a record in list, remembered from the first lookup for as long as the record
// keeps its path: rows never move. -1 when it has none.
int RowOfDaemon(HWND list, const Daemon& daemon);

// The rows the list shows now, partly shown ones included: first up to, not including, end.
struct RowRange {
    int first = 0;
    int end = 0;
};
RowRange ShownRows(HWND list);

// The text of one cell.
std::wstring RowCellText(int row, int column);

// "hh:mm:ss.fff", or "hhh:mm:ss +" from 100 hours on, for a count of 100 ns units.
std::wstring FormatCpuTime(uint64_t hundredNanoseconds);

// The status glyph text (without its leading space) and colour for a record.
struct StatusLook {
    std::wstring glyph;
    COLORREF colour;
};
StatusLook ChooseStatusLook(const Daemon& daemon, bool final);

}  // namespace kestrune
