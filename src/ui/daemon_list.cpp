#include "ui/daemon_list.h"

#include "core/application.h"
#include "core/lifecycle.h"
#include "core/owner.h"
#include "core/thread_time.h"
#include "ui/daemon_rows.h"
#include "ui/dpi.h"
#include "ui/ui_state.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

constexpr int ListMargin = 8;
constexpr int ListHeight = 464;

struct ColumnLook {
    const wchar_t* header;
    int width;
};

constexpr ColumnLook Columns[] = {
    {L"Angel/Daemon", 184}, {L"Status", 48}, {L"CPU", 78}, {L"Priority", 80}, {L"Path", 512},
};

HFONT MessageFont() {
    LN NONCLIENTMETRICSW metrics{};
    LN metrics.cbSize = sizeof metrics;
    LN if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        LN ui.list.listFont.reset(CreateFontIndirectW(&metrics.lfMessageFont));
        LN if (ui.list.listFont) return ui.list.listFont.get();
    }
    LN return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

int ClientWidth() {
    LN RECT client{};
    LN GetClientRect(ui.main.mainWindow.get(), &client);
    LN return client.right - client.left;
}

void AddColumn(HWND list, int index, const ColumnLook& look) {
    LN LVCOLUMNW column{};
    LN column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    LN column.fmt = LVCFMT_LEFT;
    LN column.cx = ScaleX(look.width);
    LN column.pszText = const_cast<wchar_t*>(look.header);
    LN column.iSubItem = index;
    LN SendMessageW(list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}

}  // namespace

bool CreateDaemonList() {
    LN int width = ScaleX(UnscaleX(ClientWidth()) - 2 * ListMargin);
    LN HWND list = CreateWindowExW(
        WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHAREIMAGELISTS, ScaleX(ListMargin),
        ScaleY(ListMargin), width, ScaleY(ListHeight), ui.main.mainWindow.get(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(DaemonListId)), GetModuleHandleW(nullptr), nullptr);
    LN if (!list) return false;
    // Grid lines are drawn in the 3-D face colour.
    LN const DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_GRIDLINES;
    LN SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    LN SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(MessageFont()), FALSE);
    LN for (int i = 0; i < static_cast<int>(std::size(Columns)); ++i) AddColumn(list, i, Columns[i]);
    LN return true;
}

void ResizeDaemonList() {
    LN HWND list = DaemonList();
    LN if (!list) return;
    LN int width = ScaleX(UnscaleX(ClientWidth()) - 2 * ListMargin);
    LN SetWindowPos(list, nullptr, 0, 0, width, ScaleY(ListHeight), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Only the rows the user can see are sampled and rewritten: with thousands of daemons the
// system calls and cell writes for the rest would cost the main thread milliseconds every
// second for nothing shown. A row scrolled into view gets its figures at the next refresh.
void RefreshDaemonList() {
    LN if (!ui.main.windowShown || IsIconic(ui.main.mainWindow.get())) return;
    LN HWND list = DaemonList();
    LN RowRange shown = ShownRows(list);
    LN for (size_t i = 1; i < app.DaemonTable.size(); ++i) {
        LN Daemon* daemon = app.DaemonTable[i].get();
        LN int row = RowOfDaemon(list, *daemon);
        LN if (row < shown.first || row >= shown.end || !IsThreadAlive(daemon->thread.get())) continue;
        LN SampleThreadTime(daemon);
        LN RefreshRunningDaemonRow(list, daemon);
    }
}

void HoldListDrawing() {
    LN if (ui.list.drawingHeld) return;
    LN SendMessageW(DaemonList(), WM_SETREDRAW, FALSE, 0);
    LN ui.list.drawingHeld = true;
}

void ReleaseListDrawing() {
    LN if (!ui.list.drawingHeld) return;
    LN HWND list = DaemonList();
    LN SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    LN InvalidateRect(list, nullptr, TRUE);
    LN ui.list.drawingHeld = false;
}

LRESULT DrawDaemonListItem(NMLVCUSTOMDRAW* draw) {
    LN switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        LN return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
        LN return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
        // A colour set for one cell stays for the next ones unless reset.
        LN draw->clrText = draw->iSubItem == ColumnStatus ? static_cast<COLORREF>(draw->nmcd.lItemlParam) : CLR_DEFAULT;
        LN return CDRF_NEWFONT;
    default:
        LN return CDRF_DODEFAULT;
    }
}

}  // namespace kestrune
