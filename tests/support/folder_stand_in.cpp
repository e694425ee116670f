// folder_stand_in.exe: what the shell runs, in the test prefix, to open a folder. It shows one
// window whose title is the folder exactly as it was handed over, and ends when that window is
// closed, so a test sees what the host asked the shell for without the shell's own file browser.
#include <windows.h>

#include <string>

namespace {

constexpr wchar_t ClassName[] = L"KestruneFolderStandIn";

LRESULT CALLBACK StandInProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// The shell hands the folder over as the first argument, in quotes. Read as written: a folder
// ends in a backslash, which the C runtime's rules would take for an escaped quote.
std::wstring FolderArgument() {
    std::wstring line = GetCommandLineW();
    size_t start = line[0] == L'"' ? line.find(L'"', 1) + 1 : line.find(L' ');
    if (start == 0 || start == std::wstring::npos) return L"";
    start = line.find_first_not_of(L' ', start);
    if (start == std::wstring::npos) return L"";
    std::wstring folder = line.substr(start);
    if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"')
        folder = folder.substr(1, folder.size() - 2);
    return folder;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = StandInProcedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = ClassName;
    if (!RegisterClassW(&windowClass)) return 1;
    const std::wstring folder = FolderArgument();
    HWND window = CreateWindowExW(0, ClassName, folder.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 320,
                                  120, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    ShowWindow(window, show == SW_HIDE ? SW_SHOWNORMAL : show);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
