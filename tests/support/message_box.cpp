#include "message_box.h"

#include "test_daemons.h"

namespace kestrune::test {
namespace {

// The message text's control in the system's message box template.
constexpr int MessageTextId = 0xFFFF;

struct BoxSearch {
    DWORD processId;
    const std::wstring* title;
    HWND found;
};

BOOL CALLBACK MatchBox(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<BoxSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    // The title is read last: reading it sends a message, which a window whose thread is
    // busy (waiting for this search, say) would never answer.
    if (owner != search->processId || wcscmp(className, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    wchar_t title[512] = {};
    GetWindowTextW(window, title, 512);
    if (*search->title != title) return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

HWND WaitForMessageBox(DWORD processId, const std::wstring& title, std::chrono::milliseconds timeout) {
    BoxSearch search{processId, &title, nullptr};
    WaitUntil(
        [&] {
            EnumWindows(MatchBox, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeout);
    return search.found;
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
