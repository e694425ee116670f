#include "ui/selected_row.h"

#include <windows.h>

#include <commctrl.h>

#include "ui/daemon_rows.h"

#include "fault/source_position.h"

namespace kestrune {

int SelectedRow() {
    LN HWND list = DaemonList();
    LN if (!list) return -1;
    LN return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

std::wstring SelectedRowPath() {
    LN int row = SelectedRow();
    LN return row < 0 ? std::wstring() : RowCellText(row, ColumnPath);
}

}  // namespace kestrune
