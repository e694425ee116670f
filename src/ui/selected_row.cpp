#include "selected_row.h"

#include <windows.h>
#include <commctrl.h>

#include "daemon_rows.h"

namespace kestrune {

int SelectedRow() {
    HWND list = DaemonList();
    if (!list) return -1;
    return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

std::wstring SelectedRowPath() {
    int row = SelectedRow();
    return row < 0 ? std::wstring() : RowCellText(row, ColumnPath);
}

}  // namespace kestrune
