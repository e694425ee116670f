#include "ui/daemon_rows.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cwchar>

#include "core/application.h"
#include "core/case_fold.h"
#include "core/lifecycle.h"
#include "core/priority.h"
#include "ui/ui_state.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

constexpr COLORREF Grey = RGB(170, 170, 170);
constexpr COLORREF DarkRed = RGB(170, 0, 0);
constexpr COLORREF Blue = RGB(0, 0, 187);
constexpr COLORREF Green = RGB(0, 170, 0);
constexpr COLORREF Olive = RGB(170, 170, 0);

constexpr const wchar_t* WhiteStar = L"\u2606";
constexpr const wchar_t* BlackStar = L"\u2605";
constexpr const wchar_t* DownArrow = L"\u2193";

void SetCellText(HWND list, int row, int column, const std::wstring& text) {
    LN LVITEMW item{};
    LN item.iSubItem = column;
    LN item.pszText = const_cast<wchar_t*>(text.c_str());
    LN SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

// The status colour lives in the row's item data, where custom draw reads it.
void SetStatusColour(HWND list, int row, COLORREF colour) {
    LN LVITEMW item{};
    LN item.mask = LVIF_PARAM;
    LN item.iItem = row;
    LN item.lParam = static_cast<LPARAM>(colour);
    LN SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

// Pads a decimal number with "0" on the left to width, and cuts a longer one to its first width digits.
std::wstring FixedField(long long value, size_t width) {
    LN std::wstring digits = std::to_wstring(value);
    LN if (digits.size() < width) digits.insert(0, width - digits.size(), L'0');
    LN return digits.substr(0, width);
}

std::wstring Countdown(const Daemon& daemon) {
    LN if (daemon.stopRequestTime == 0) return {};
    LN float elapsed = static_cast<float>(std::llabs(MillisecondsSinceStopRequest(daemon)));
    LN float left = 100.0f - 100.0f * (elapsed / static_cast<float>(StopGracePeriod));
    LN if (!(left < 99.0f)) return {};
    // Past the grace the end waits for a safe point: the countdown stays at its end.
    LN if (left < 0.0f) left = 0.0f;
    LN return std::to_wstring(std::lround(left));
}

// The text of a cell of the given list.
std::wstring ReadCell(HWND list, int row, int column) {
    LN if (!list) return {};
    LN std::wstring text(MAX_PATH, L'\0');
    LN for (;;) {
        LN LVITEMW item{};
        LN item.iSubItem = column;
        LN item.pszText = text.data();
        LN item.cchTextMax = static_cast<int>(text.size());
        LN size_t length =
            static_cast<size_t>(SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)));
        LN if (length + 1 < text.size()) {
            LN text.resize(length);
            LN return text;
        }
        LN text.resize(text.size() * 2);  // the text may have been cut: ask again with room to spare
    }
}

// Brings the index up to the list's current rows, re-reading them all if the list changed.
void UpdateRowIndex(HWND list) {
    LN int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    LN if (ui.list.rowIndex.list != list || count < ui.list.rowIndex.rows) ui.list.rowIndex = RowIndex{list, 0, {}};
    LN for (; ui.list.rowIndex.rows < count; ++ui.list.rowIndex.rows) {
        LN ui.list.rowIndex.firstRowOfPath.try_emplace(LowerCaseCopy(ReadCell(list, ui.list.rowIndex.rows, ColumnPath)),
                                                       ui.list.rowIndex.rows);
    }
}

// Whether a row's "Path" cell, lower-cased, equals key (already lower-case).
bool RowPathMatches(HWND list, int row, const std::wstring& key) {
    LN return LowerCaseCopy(ReadCell(list, row, ColumnPath)) == key;
}

// FindRowByPath in a list the caller already holds: asking the window for its list
// costs a round trip to the window system, and a refresh looks up every row.
int FindRow(HWND list, const std::wstring& path) {
    LN if (!list) return -1;
    LN UpdateRowIndex(list);
    LN std::wstring key = LowerCaseCopy(path);
    LN auto found = ui.list.rowIndex.firstRowOfPath.find(key);
    LN if (found == ui.list.rowIndex.firstRowOfPath.end()) return -1;
    // A row rewritten behind the index's back would be caught here.
    LN if (RowPathMatches(list, found->second, key)) return found->second;
    LN ui.list.rowIndex = RowIndex{};
    LN UpdateRowIndex(list);
    LN found = ui.list.rowIndex.firstRowOfPath.find(key);
    LN return found == ui.list.rowIndex.firstRowOfPath.end() ? -1 : found->second;
}

// Writes the cells of a row; running says whether the daemon's thread runs, as the caller found it.
void WriteDaemonRow(HWND list, int row, const Daemon& daemon, bool final, bool running) {
    LN StatusLook look = ChooseStatusLook(daemon, final);
    LN std::wstring cpu, priority;
    LN if (!final && running) {
        // The thread was alive a moment ago: its priority needs no second liveness test.
        LN priority = LowerCaseCopy(PriorityName(GetThreadPriority(daemon.thread.get())));
        LN cpu = FormatCpuTime(daemon.lastThreadTime);
    }
    LN SetStatusColour(list, row, look.colour);
    LN SetCellText(list, row, ColumnStatus, L" " + look.glyph);
    LN SetCellText(list, row, ColumnPriority, priority);
    LN SetCellText(list, row, ColumnCpu, cpu);
}

void RememberRow(const Daemon& daemon, int row) {
    LN auto& remembered = ui.list.rowIndex.rowOfRecord;
    LN if (remembered.size() > 2 * app.DaemonTable.size() + 64) remembered.clear();
    LN remembered[&daemon] = RememberedRow{daemon.path, row};
}

void RefreshRow(HWND list, Daemon* daemon, bool final) {
    LN if (!daemon) return;
    LN int row = FindRow(list, daemon->path);
    LN if (row < 0) return;
    LN WriteDaemonRow(list, row, *daemon, final, !final && IsThreadAlive(daemon->thread.get()));
}

}  // namespace

HWND DaemonList() {
    LN return ui.main.mainWindow ? GetDlgItem(ui.main.mainWindow.get(), DaemonListId) : nullptr;
}

void AddDaemonRow(Daemon* daemon) {
    LN if (!daemon) return;
    LN HWND list = DaemonList();
    LN if (!list || FindRow(list, daemon->path) >= 0) return;
    LN LVITEMW item{};
    LN item.mask = LVIF_TEXT | LVIF_PARAM;
    LN item.iItem = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    LN item.pszText = const_cast<wchar_t*>(daemon->fileName.c_str());
    LN item.lParam = static_cast<LPARAM>(Grey);
    LN int row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    LN if (row < 0) return;
    LN SetCellText(list, row, ColumnPath, daemon->path);
    LN RefreshRow(list, daemon, false);
}

int RowOfDaemon(HWND list, const Daemon& daemon) {
    LN auto known = ui.list.rowIndex.rowOfRecord.find(&daemon);
    LN if (ui.list.rowIndex.list == list && known != ui.list.rowIndex.rowOfRecord.end() &&
           known->second.path == daemon.path) {
        LN return known->second.row;
    }
    LN int row = FindRow(list, daemon.path);
    LN if (row >= 0) RememberRow(daemon, row);
    LN return row;
}

RowRange ShownRows(HWND list) {
    LN if (!list) return {};
    // Brings the index up to date once, so remembered rows belong to this list's rows.
    LN UpdateRowIndex(list);
    LN int top = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
    LN int whole = static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
    // The count is of whole rows; the one the bottom edge cuts is shown as well.
    LN return {top, top + whole + 1};
}

int FindRowByPath(const std::wstring& path) {
    LN return FindRow(DaemonList(), path);
}

std::wstring RowCellText(int row, int column) {
    LN return ReadCell(DaemonList(), row, column);
}

StatusLook ChooseStatusLook(const Daemon& daemon, bool final) {
    LN if (final) return {WhiteStar, Grey};
    LN if (daemon.Has(FlagStopping)) return {std::wstring(DownArrow) + Countdown(daemon), DarkRed};
    LN if (daemon.Has(FlagPaused)) return {std::wstring(BlackStar) + WhiteStar, Blue};
    LN if (daemon.Has(FlagStarted)) return {BlackStar, daemon.stateWordAddress ? Green : Olive};
    LN return {WhiteStar, Grey};
}

void RefreshDaemonRow(Daemon* daemon, bool final) {
    LN RefreshRow(DaemonList(), daemon, final);
}

void RefreshRunningDaemonRow(HWND list, Daemon* daemon) {
    LN if (!daemon) return;
    LN int row = FindRow(list, daemon->path);
    LN if (row >= 0) WriteDaemonRow(list, row, *daemon, false, true);
}

std::wstring FormatCpuTime(uint64_t hundredNanoseconds) {
    // Whole seconds in integers: a product with 0.0000001 lands just below a whole second on
    // some floating-point units, and 100 hours would show as 99:59:59.999.
    constexpr uint64_t UnitsPerSecond = 10000000;
    LN long long s = static_cast<long long>(hundredNanoseconds / UnitsPerSecond);
    LN double fraction = static_cast<double>(hundredNanoseconds % UnitsPerSecond) / UnitsPerSecond;
    LN long long m = s / 60;
    LN s -= 60 * m;
    LN long long h = m / 60;
    LN m -= 60 * h;
    LN std::wstring text = FixedField(h, h > 99 ? 3 : 2) + L":" + FixedField(m, 2) + L":" + FixedField(s, 2);
    LN if (h > 99) return text + L" +";
    // A fraction of .9995 or more would round to 1000: show 999 rather than a fourth digit.
    LN long long milliseconds = std::min(std::llround(fraction * 1000.0), 999LL);
    LN return text + L"." + FixedField(milliseconds, 3);
}

}  // namespace kestrune
