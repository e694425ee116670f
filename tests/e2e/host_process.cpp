#include "host_process.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include <kestrune/version.h>

#include "run_program.h"
#include "test_daemons.h"
#include "top_level_windows.h"

namespace kestrune::test {
namespace {

constexpr UINT TrayCallbackMessage = 12501;
constexpr int DaemonListId = 52;
constexpr size_t RemoteSize = 64 * 1024;
const std::wstring MainWindowTitle = std::wstring(L"Kestrune ") + ProjectVersionText;

// The main window starts hidden: it is known by its title.
HWND FindMainWindow(DWORD processId) {
    for (HWND window : TopLevelWindows()) {
        if (OwnerProcess(window) == processId && TitleOf(window) == MainWindowTitle) return window;
    }
    return nullptr;
}

}  // namespace

HostProcess::HostProcess(const TempFolder& folder) : HostProcess(folder.path(), true) {}

HostProcess::HostProcess(const std::wstring& folder, bool copyProgram) : folder_(folder) {
    if (!folder_.empty() && folder_.back() != L'\\') folder_ += L'\\';
    if (copyProgram) CopyFileW((ProgramFolder() + L"kestrune.exe").c_str(), (folder_ + L"kestrune.exe").c_str(), FALSE);
}

HostProcess::~HostProcess() {
    if (job_) TerminateJobObject(job_.get(), 99);
    if (IsRunning()) TerminateProcess(info_.hProcess, 99);
    if (info_.hProcess) WaitForSingleObject(info_.hProcess, 10000);
    if (info_.hProcess) CloseHandle(info_.hProcess);
    if (info_.hThread) CloseHandle(info_.hThread);
}

std::wstring HostProcess::AddDaemon(const std::wstring& name, std::wstring relative) {
    if (relative.empty()) relative = name + L".dll";
    return CopyTestDaemon(name, WildMagic() + relative);
}

bool HostProcess::Start(const std::wstring& currentDirectory) {
    std::wstring program = folder_ + L"kestrune.exe";
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    const std::wstring& directory = currentDirectory.empty() ? folder_ : currentDirectory;
    if (!job_) job_ = CreateKillingJob();
    // Suspended until it is in the job, so that nothing it starts escapes.
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        directory.c_str(), &startup, &info_)) {
        return false;
    }
    if (job_) AssignProcessToJobObject(job_.get(), info_.hProcess);
    ResumeThread(info_.hThread);
    remote_ = nullptr;
    return true;
}

// The buffer for list calls that carry a pointer is made in the host at the first such call:
// many tests never read the list that way.
void* HostProcess::Remote() const {
    if (!remote_)
        remote_ = VirtualAllocEx(info_.hProcess, nullptr, RemoteSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    return remote_;
}

bool HostProcess::IsRunning() const {
    return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

HWND HostProcess::WaitForMainWindow(std::chrono::milliseconds timeout) {
    WaitUntil(
        [&] {
            mainWindow_ = FindMainWindow(info_.dwProcessId);
            return mainWindow_ != nullptr || !IsRunning();
        },
        timeout);
    return mainWindow_;
}

std::string HostProcess::Fate() const {
    if (!info_.hProcess) return "the host never started";
    if (IsRunning()) return "the host still runs";
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    char text[64];
    snprintf(text, sizeof text, "the host ended with exit code 0x%lx", static_cast<unsigned long>(code));
    return text;
}

HWND HostProcess::List() const {
    return mainWindow_ ? GetDlgItem(mainWindow_, DaemonListId) : nullptr;
}

void HostProcess::PressTrayIcon(UINT mouseMessage) {
    PostMessageW(mainWindow_, TrayCallbackMessage, 0, mouseMessage);
}

void HostProcess::RequestClose() {
    PostMessageW(mainWindow_, WM_CLOSE, 0, 0);
}

bool HostProcess::Sync() {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(mainWindow_, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result) != 0;
}

// The marker is the list's hover time, which the host never uses (its list tracks no hovering):
// posted behind the waiting messages, it reads back only once they have been handled.
bool HostProcess::SyncPosted() {
    HWND list = List();
    DWORD_PTR original = 0;
    if (!list || !SendMessageTimeoutW(list, LVM_GETHOVERTIME, 0, 0, SMTO_NORMAL, 30000, &original)) return false;
    const DWORD marker = original == 4321 ? 4322 : 4321;
    if (!PostMessageW(list, LVM_SETHOVERTIME, 0, marker)) return false;
    const bool handled = WaitUntil(
        [&] {
            DWORD_PTR now = 0;
            return SendMessageTimeoutW(list, LVM_GETHOVERTIME, 0, 0, SMTO_NORMAL, 30000, &now) && now == marker;
        },
        30s);
    PostMessageW(list, LVM_SETHOVERTIME, 0, static_cast<LPARAM>(original));
    return handled;
}

bool HostProcess::CloseAndWait(std::chrono::milliseconds timeout, DWORD* exitCode) {
    RequestClose();
    return WaitForExit(timeout, exitCode);
}

bool HostProcess::WaitForExit(std::chrono::milliseconds timeout, DWORD* exitCode) {
    if (WaitForSingleObject(info_.hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) return false;
    if (exitCode) GetExitCodeProcess(info_.hProcess, exitCode);
    return true;
}

int HostProcess::RowCount() const {
    HWND list = List();
    return list ? static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) : 0;
}

std::wstring HostProcess::Cell(int row, int column, std::chrono::milliseconds timeout) const {
    HWND list = List();
    if (!list || !Remote()) return L"<no list>";
    HANDLE process = OpenProcess(PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_VM_OPERATION, FALSE, info_.dwProcessId);
    if (!process) return L"<no access>";
    // The item record and the text buffer both live in the host's memory.
    auto* remoteItem = static_cast<char*>(remote_);
    auto* remoteText = remoteItem + 1024;
    const int textChars = static_cast<int>((RemoteSize - 1024) / sizeof(wchar_t));
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t*>(remoteText);
    item.cchTextMax = textChars;
    SIZE_T done = 0;
    WriteProcessMemory(process, remoteItem, &item, sizeof item, &done);
    // Bounded: a host that froze since the caller last looked must not hold the test for good.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remoteItem),
                             SMTO_NORMAL, static_cast<UINT>(timeout.count()), &length)) {
        CloseHandle(process);
        return L"<no answer>";
    }
    std::wstring text(static_cast<size_t>(length), L'\0');
    if (length > 0)
        ReadProcessMemory(process, remoteText, text.data(), static_cast<SIZE_T>(length) * sizeof(wchar_t), &done);
    CloseHandle(process);
    return text;
}

COLORREF HostProcess::StatusColour(int row) const {
    HWND list = List();
    HANDLE process = OpenProcess(PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_VM_OPERATION, FALSE, info_.dwProcessId);
    if (!list || !process || !Remote()) return CLR_INVALID;
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    SIZE_T done = 0;
    WriteProcessMemory(process, remote_, &item, sizeof item, &done);
    SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote_));
    ReadProcessMemory(process, remote_, &item, sizeof item, &done);
    CloseHandle(process);
    return static_cast<COLORREF>(item.lParam);
}

std::vector<ListRow> HostProcess::Rows() const {
    std::vector<ListRow> rows;
    int count = RowCount();
    for (int row = 0; row < count; ++row) {
        rows.push_back({Cell(row, 0), Cell(row, 1), Cell(row, 2), Cell(row, 3), Cell(row, 4), StatusColour(row)});
    }
    return rows;
}

int HostProcess::RowEndingWith(const std::wstring& suffix) const {
    int count = RowCount();
    for (int row = 0; row < count; ++row) {
        std::wstring path = Cell(row, 4);
        if (path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
            return row;
        }
    }
    return -1;
}

int HostProcess::OtherVisibleWindows() const {
    std::vector<HWND> visible = VisibleWindowsOf(info_.dwProcessId);
    return static_cast<int>(
        std::count_if(visible.begin(), visible.end(), [&](HWND window) { return window != mainWindow_; }));
}

MINMAXINFO HostProcess::MinMaxInfo() const {
    // The system carries this message's record across processes itself.
    MINMAXINFO info{};
    SendMessageW(mainWindow_, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    return info;
}

bool HostProcess::IsWindowShown() const {
    return mainWindow_ && IsWindowVisible(mainWindow_) && !IsIconic(mainWindow_);
}

POINT HostProcess::RowPoint(int row) const {
    POINT point{-1, -1};
    HWND list = List();
    HANDLE process = OpenProcess(PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_VM_OPERATION, FALSE, info_.dwProcessId);
    if (!list || !process || !Remote()) return point;
    // Scrolled into view first, as a user would before clicking a row below the fold.
    SendMessageW(list, LVM_ENSUREVISIBLE, row, FALSE);
    RECT rect{LVIR_BOUNDS, 0, 0, 0};
    SIZE_T done = 0;
    WriteProcessMemory(process, remote_, &rect, sizeof rect, &done);
    if (SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(remote_))) {
        ReadProcessMemory(process, remote_, &rect, sizeof rect, &done);
        // Left part of the row: the columns are wider than the list.
        point = {rect.left + 40, (rect.top + rect.bottom) / 2};
        ClientToScreen(list, &point);
    }
    CloseHandle(process);
    return point;
}

bool HostProcess::SelectRow(int row) const {
    HWND list = List();
    HANDLE process = OpenProcess(PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_VM_OPERATION, FALSE, info_.dwProcessId);
    if (!list || !process || !Remote()) {
        if (process) CloseHandle(process);
        return false;
    }
    // Every row loses its selection, then the chosen one gains it.
    auto setState = [&](int target, UINT state) {
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = state;
        SIZE_T done = 0;
        return WriteProcessMemory(process, remote_, &item, sizeof item, &done) &&
               SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(target), reinterpret_cast<LPARAM>(remote_));
    };
    bool done = setState(-1, 0) && (row < 0 || setState(row, LVIS_SELECTED | LVIS_FOCUSED));
    CloseHandle(process);
    return done;
}

void HostProcess::PostCommand(int id) const {
    PostMessageW(mainWindow_, WM_COMMAND, static_cast<WPARAM>(id), 0);
}

bool HostProcess::SendCommand(int id) const {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(mainWindow_, WM_COMMAND, static_cast<WPARAM>(id), 0, SMTO_NORMAL, 30000, &result) != 0;
}

namespace {

void MouseButton(DWORD down, DWORD up, int times) {
    for (int i = 0; i < times; ++i) {
        INPUT click[2] = {};
        click[0].type = click[1].type = INPUT_MOUSE;
        click[0].mi.dwFlags = down;
        click[1].mi.dwFlags = up;
        SendInput(2, click, sizeof(INPUT));
    }
}

HWND FindPopup(DWORD processId) {
    std::vector<HWND> popups = VisibleWindowsOf(processId, L"#32768");
    return popups.empty() ? nullptr : popups.front();
}

}  // namespace

void HostProcess::RightClickRow(int row) const {
    POINT point = RowPoint(row);
    SetCursorPos(point.x, point.y);
    MouseButton(MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP, 1);
}

void HostProcess::DoubleClickRow(int row) const {
    POINT point = RowPoint(row);
    SetCursorPos(point.x, point.y);
    MouseButton(MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP, 2);
}

HWND HostProcess::WaitForPopupMenu(std::chrono::milliseconds timeout) const {
    HWND popup = nullptr;
    WaitUntil([&] { return (popup = FindPopup(info_.dwProcessId)) != nullptr; }, timeout);
    return popup;
}

bool HostProcess::WaitForNoPopupMenu(std::chrono::milliseconds timeout) const {
    return WaitUntil([&] { return FindPopup(info_.dwProcessId) == nullptr; }, timeout);
}

HWND HostProcess::OpenContextMenu(int row) const {
    if (!WaitForNoPopupMenu()) return nullptr;
    // A window shown a moment ago may not be mapped on the X server yet, and a click
    // there goes to whatever lies below: click again, as a user would.
    // The wait is long: a second click while a slow menu opens would land on its items.
    for (int attempt = 0; attempt < 3; ++attempt) {
        RightClickRow(row);
        HWND popup = WaitForPopupMenu(10s);
        if (!popup) continue;
        // The menu's commands act on the selected row: one the click missed is not used.
        const int selected = SelectedRow();
        if (selected == row) return popup;
        std::printf("context menu: opened on row %d instead of %d; clicking again\n", selected, row);
        PostMenuKeys({VK_ESCAPE});
        if (!WaitForNoPopupMenu()) return nullptr;
    }
    return nullptr;
}

int HostProcess::SelectedRow() const {
    HWND list = List();
    return list ? static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)) : -1;
}

HWND HostProcess::OpenTrayMenu() {
    if (!WaitForNoPopupMenu()) return nullptr;
    // The menu opens at the cursor: keep the cursor off its items, or hovering picks one.
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2);
    PressTrayIcon(WM_RBUTTONDOWN);
    return WaitForPopupMenu();
}

void PressKeys(std::initializer_list<WORD> keys) {
    for (WORD key : keys) {
        INPUT press[2] = {};
        press[0].type = press[1].type = INPUT_KEYBOARD;
        press[0].ki.wVk = press[1].ki.wVk = key;
        press[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, press, sizeof(INPUT));
        // Each key is handled before the next arrives, as when a person types.
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
}

namespace {

// Keys go straight into the queue of the thread that tracks the menu: the menu's own loop
// reads them there. Input through the X server could be lost when the focus moves.
void PostKey(HWND popup, WORD key) {
    PostMessageW(popup, WM_KEYDOWN, key, 1);
    PostMessageW(popup, WM_KEYUP, key, 0xC0000001);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
}

using MemoryDcOwner = Owner<NullEmptyTraits<HDC, DeleteDC>>;
using BitmapOwner = Owner<NullEmptyTraits<HBITMAP, DeleteObject>>;

// The screen's pixels in area, top row first, each 0x00RRGGBB; none when it cannot be read.
std::vector<uint32_t> CaptureScreen(const RECT& area) {
    const int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return {};
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    const ScreenDcOwner screen = TakeScreenDc();
    const MemoryDcOwner memory(CreateCompatibleDC(screen.get()));
    void* bits = nullptr;
    const BitmapOwner bitmap(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!screen || !memory || !bitmap) return {};
    {
        const SelectedObject selected(memory.get(), bitmap.get());
        BitBlt(memory.get(), 0, 0, width, height, screen.get(), area.left, area.top, SRCCOPY);
        GdiFlush();
    }
    const auto* pixels = static_cast<const uint32_t*>(bits);
    std::vector<uint32_t> copied(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(height));
    for (uint32_t& pixel : copied) pixel &= 0xFFFFFF;
    return copied;
}

// The visible popup menu once its thread's menu loop reads input and the pointer's crossing
// into it has most likely been handled; null when none is open.
HWND WaitForMenuInput() {
    HWND popup = FindPopup(0);
    if (!popup) return nullptr;
    // The popup is visible a moment before its menu loop reads input (longer when emulated);
    // the loop takes the capture in menu mode as it starts.
    auto inMenuLoop = [&] {
        popup = FindPopup(0);
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        return popup && GetGUIThreadInfo(GetWindowThreadProcessId(popup, nullptr), &info) &&
               (info.flags & GUI_INMENUMODE);
    };
    WaitUntil(inMenuLoop, 10s);
    if (!popup) return nullptr;
    // Under Wine the pointer's crossing into the popup reaches the loop as a mouse move, which
    // clears the menu's selection, so the keys go after it. A paint is taken only when no
    // posted or input message waits; the screen read between two paints returns once the
    // display server has handled the popup's requests and sent the crossing.
    auto paintAgain = [&] {
        InvalidateRect(popup, nullptr, FALSE);
        WaitUntil([&] { return !GetUpdateRect(popup, nullptr, FALSE); }, 10s);
    };
    paintAgain();
    HDC screen = GetDC(nullptr);
    GetPixel(screen, 0, 0);
    ReleaseDC(nullptr, screen);
    paintAgain();
    return popup;
}

// The top of the popup's selected item as the screen shows it (the first row mostly in the
// highlight colour), or -1 when nothing is selected.
int SelectedItemTop(HWND popup) {
    RECT area{};
    if (!GetWindowRect(popup, &area)) return -1;
    const std::vector<uint32_t> pixels = CaptureScreen(area);
    if (pixels.empty()) return -1;
    // A captured pixel is 0x00RRGGBB, a COLORREF 0x00BBGGRR.
    auto asPixel = [](COLORREF colour) {
        return static_cast<uint32_t>(GetRValue(colour)) << 16 | static_cast<uint32_t>(GetGValue(colour)) << 8 |
               GetBValue(colour);
    };
    const uint32_t highlight = asPixel(GetSysColor(COLOR_HIGHLIGHT)), flat = asPixel(GetSysColor(COLOR_MENUHILIGHT));
    const int width = area.right - area.left, height = area.bottom - area.top;
    for (int y = 0; y < height; ++y) {
        int lit = 0;
        for (int x = 0; x < width; ++x) {
            const uint32_t pixel = pixels[static_cast<size_t>(y * width + x)];
            lit += pixel == highlight || pixel == flat;
        }
        if (lit * 2 > width) return y;
    }
    return -1;
}

// Moves the selection of a freshly opened popup down to the item at index one key at a time,
// watching the highlight: a crossing that still comes clears the selection, and the count then
// starts again. The highlight's top for each item reached goes to tops.
bool SelectItem(HWND popup, int index, std::vector<int>& tops) {
    tops.clear();
    for (int restarts = 0; static_cast<int>(tops.size()) <= index;) {
        const int before = SelectedItemTop(popup);
        PostKey(popup, VK_DOWN);
        int now = before;
        if (!WaitUntil([&] { return (now = SelectedItemTop(popup)) != before; }, 5s)) return false;
        // Cleared, or cleared and then moved onto the first item.
        if (now < 0 || (!tops.empty() && now <= tops.back())) {
            std::printf("menu: the selection was cleared after %zu of %d steps; counting again\n", tops.size(),
                        index + 1);
            if (++restarts > 3) return false;
            tops.clear();
            if (now >= 0) tops.push_back(now);
            continue;
        }
        tops.push_back(now);
    }
    return true;
}

// Brings the selection of a freshly opened popup to the item at index, and keeps it there a
// moment after the last step, so that a crossing still to come has come.
bool SelectSteadily(HWND popup, int index) {
    std::vector<int> tops;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (SelectItem(popup, index, tops) &&
            !WaitUntil([&] { return SelectedItemTop(popup) != tops.back(); }, 200ms)) {
            return true;
        }
    }
    std::printf("menu: the selection could not be brought to item %d\n", index);
    return false;
}

}  // namespace

void PostKeysToMenu(const std::vector<WORD>& keys) {
    HWND popup = WaitForMenuInput();
    if (!popup) return;
    size_t next = 0;
    // A first step down in a popup just opened is watched, as ChooseMenuItem's are.
    const bool fresh = VisibleWindowsOf(0, L"#32768").size() == 1 && SelectedItemTop(popup) < 0;
    if (fresh && !keys.empty() && keys.front() == VK_DOWN) {
        if (!SelectSteadily(popup, 0)) return;
        next = 1;
    }
    for (; next < keys.size(); ++next) PostKey(popup, keys[next]);
}

void PostMenuKeys(std::initializer_list<WORD> keys) {
    PostKeysToMenu(std::vector<WORD>(keys));
}

void ChooseMenuItem(int index, int submenuIndex) {
    HWND popup = WaitForMenuInput();
    if (!popup) return;
    // Chosen only once the highlight stands on it a moment after the last step.
    if (!SelectSteadily(popup, index)) return;
    std::vector<WORD> keys;
    if (submenuIndex >= 0) {
        keys.push_back(VK_RIGHT);  // opens the submenu on its first item
        keys.insert(keys.end(), static_cast<size_t>(submenuIndex), VK_DOWN);
    }
    keys.push_back(VK_RETURN);
    for (WORD key : keys) PostKey(popup, key);
}

HWND WaitForForeignWindow(DWORD hostProcess, const std::wstring& className, const std::wstring& title,
                          std::chrono::milliseconds timeout) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : VisibleWindowsOf(0, className.c_str())) {
                DWORD owner = OwnerProcess(window);
                if (owner == hostProcess || owner == GetCurrentProcessId() || TitleOf(window) != title) continue;
                found = window;
                return true;
            }
            return false;
        },
        timeout);
    return found;
}

bool CloseForeignWindow(HWND window) {
    PostMessageW(window, WM_CLOSE, 0, 0);
    return WaitUntil([&] { return !IsWindow(window); }, 20s);
}

std::wstring OtherArchitectureTestDaemon(const std::wstring& name) {
#ifdef _WIN64
    const wchar_t* other = L"i686";
#else
    const wchar_t* other = L"x86_64";
#endif
    return ProgramFolder() + L"..\\..\\" + other + L"\\test-daemons\\" + name + L".dll";
}

bool SaveScreenshot(const std::wstring& name, HWND window) {
    if (window) return SaveScreenshotOf(name, {window});
    return SaveScreenshotOf(name, {});
}

bool SaveScreenshotOf(const std::wstring& name, std::initializer_list<HWND> windows) {
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (windows.size() > 0) {
        SetRectEmpty(&area);
        for (HWND window : windows) {
            RECT part{};
            if (window && GetWindowRect(window, &part)) UnionRect(&area, &area, &part);
        }
    }
    const std::vector<uint32_t> pixels = CaptureScreen(area);
    if (pixels.empty()) return false;
    const int width = area.right - area.left, height = area.bottom - area.top;
    // A 24-bit BMP, bottom row first, each row padded to four bytes.
    const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
    std::string image(stride * static_cast<DWORD>(height), '\0');
    for (int y = 0; y < height; ++y) {
        char* row = image.data() + static_cast<size_t>(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            const uint32_t pixel = pixels[static_cast<size_t>(y * width + x)];
            row[3 * x] = static_cast<char>(pixel & 0xFF);
            row[3 * x + 1] = static_cast<char>((pixel >> 8) & 0xFF);
            row[3 * x + 2] = static_cast<char>((pixel >> 16) & 0xFF);
        }
    }
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = header.bfOffBits + static_cast<DWORD>(image.size());
    std::wstring folder = ProgramFolder() + L"..\\screenshots\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::string bytes = std::string(reinterpret_cast<const char*>(&header), sizeof header) +
                              std::string(reinterpret_cast<const char*>(&info), sizeof info) + image;
    return WriteFileBytes(folder + name + L".bmp", bytes);
}

}  // namespace kestrune::test
