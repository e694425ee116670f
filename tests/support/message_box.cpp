#include "message_box.h"

#include "test_daemons.h"
#include "top_level_windows.h"

namespace kestrune::test {
namespace {

// The message text's control in the system's message box template.
constexpr int MessageTextId = 0xFFFF;

}  // namespace

HWND WaitForMessageBox(DWORD processId, const std::wstring& title, std::chrono::milliseconds timeout) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND box : VisibleWindowsOf(processId, L"#32770")) {
                if (TitleOf(box) == title) {
                    found = box;
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

std::wstring MessageBoxText(HWND box) {
    wchar_t text[1024] = {};
    GetDlgItemTextW(box, MessageTextId, text, 1024);
    return text;
}

bool HasButton(HWND box, int id) {
    HWND button = GetDlgItem(box, id);
    return button != nullptr && IsWindowVisible(button);
}

bool PressButton(HWND box, int id) {
    HWND button = GetDlgItem(box, id);
    if (!button) return false;
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 10000, &result) != 0;
}

}  // namespace kestrune::test
