// The daemon list's rows: one per daemon library, keyed by the "Path" column.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <unordered_map>

#include "core/daemon_record.h"
#include "identifiers.h"

namespace kestrune {

// A record's row and the path it was found for.
struct RememberedRow {
    std::wstring path;
    int row = -1;
};

// Rows are only ever appended and never move, so the first row of each lower-cased
// path can be remembered; a refresh of every row then costs one lookup per row.
struct RowIndex {
    HWND list = nullptr;
    int rows = 0;  // rows of the list the index covers
    std::unordered_map<std::wstring, int> firstRowOfPath;
    // The row of each record seen, so the refresh can tell which rows are shown without
    // a lookup per daemon. A record freed and another made at its address is told apart
    // by its path; the map is emptied when it outgrows the table.
    std::unordered_map<const Daemon*, RememberedRow> rowOfRecord;
};

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
