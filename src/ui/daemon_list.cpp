#include "daemon_list.h"

#include "../core/application.h"
#include "../core/lifecycle.h"
#include "../core/owner.h"
#include "../core/thread_time.h"
#include "daemon_rows.h"
#include "dpi.h"

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

// The list keeps using the font it was given, so it lives as long as the list.
FontOwner listFont;

HFONT MessageFont() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        listFont.reset(CreateFontIndirectW(&metrics.lfMessageFont));
        if (listFont) return listFont.get();
    }
    return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

int ClientWidth() {
    RECT client{};
    GetClientRect(app.mainWindow, &client);
    return client.right - client.left;
}

void AddColumn(HWND list, int index, const ColumnLook& look) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = ScaleX(look.width);
    column.pszText = const_cast<wchar_t*>(look.header);
    column.iSubItem = index;
    SendMessageW(list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}

}  // namespace

bool CreateDaemonList() {
    int width = ScaleX(UnscaleX(ClientWidth()) - 2 * ListMargin);
    HWND list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHAREIMAGELISTS,
                                ScaleX(ListMargin), ScaleY(ListMargin), width, ScaleY(ListHeight), app.mainWindow,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(DaemonListId)),
                                GetModuleHandleW(nullptr), nullptr);
    if (!list) return false;
    // Grid lines are drawn in the 3-D face colour.
    const DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_GRIDLINES;
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(MessageFont()), FALSE);
    for (int i = 0; i < static_cast<int>(std::size(Columns)); ++i) AddColumn(list, i, Columns[i]);
    return true;
}

void ResizeDaemonList() {
    HWND list = DaemonList();
    if (!list) return;
    int width = ScaleX(UnscaleX(ClientWidth()) - 2 * ListMargin);
    SetWindowPos(list, nullptr, 0, 0, width, ScaleY(ListHeight), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void RefreshDaemonList() {
    if (!app.windowShown || IsIconic(app.mainWindow)) return;
    for (size_t i = 1; i < app.DaemonTable.size(); ++i) {
        Daemon* daemon = app.DaemonTable[i];
        if (!daemon || !IsThreadAlive(daemon->thread.get())) continue;
        SampleThreadTime(daemon);
        RefreshDaemonRow(daemon, false);
    }
}

LRESULT DrawDaemonListItem(NMLVCUSTOMDRAW* draw) {
    switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
        return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
        // A colour set for one cell stays for the next ones unless reset.
        draw->clrText = draw->iSubItem == ColumnStatus ? static_cast<COLORREF>(draw->nmcd.lItemlParam) : CLR_DEFAULT;
        return CDRF_NEWFONT;
    default:
        return CDRF_DODEFAULT;
    }
}

void ReleaseDaemonListFont() {
    listFont.reset();
}

}  // namespace kestrune
