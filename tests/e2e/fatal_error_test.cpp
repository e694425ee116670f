// The real host with a daemon that faults: the "FATAL ERROR" box, read from the screen's
// own controls, and the end of the process that follows it.
#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <string_view>

#include <gtest/gtest.h>

#include "host_process.h"
#include "stand_in_tray.h"
#include "test_daemons.h"
#include "top_level_windows.h"

namespace kestrune::test {
namespace {

const std::wstring WideningLine(64, L' ');

// The host's sources, found from this file's own path (Wine shows the Linux root as Z:).
std::string SourceFolder() {
    std::string_view self = __FILE__;
    return "Z:" + std::string(self.substr(0, self.rfind("tests/e2e/"))) + "src/";
}

// Line number (1-based) of the host source file called name, or "" when there is no such file or line.
std::string HostSourceLine(const std::string& name, unsigned number) {
    for (const char* folder : {"", "core/", "ui/", "fault/"}) {
        std::ifstream file(SourceFolder() + folder + name);
        if (!file) continue;
        std::string line;
        for (unsigned at = 1; std::getline(file, line); ++at) {
            if (at == number) return line;
        }
        return {};
    }
    return {};
}

// "<name> [<line>]" for the one line of the host's source file <folder><name> that holds call,
// so that the expected place moves with the source; "" unless exactly one line holds it.
std::wstring PlaceOfCall(const std::string& folder, const std::string& name, const std::string& call) {
    std::ifstream file(SourceFolder() + folder + name);
    unsigned found = 0, count = 0;
    std::string line;
    for (unsigned at = 1; std::getline(file, line); ++at) {
        if (line.find(call) == std::string::npos) continue;
        found = at;
        ++count;
    }
    EXPECT_EQ(count, 1u) << "lines of the host's " << folder << name << " that hold \"" << call << "\"";
    if (count != 1) return L"";
    std::string place = name + " [" + std::to_string(found) + "]";
    return std::wstring(place.begin(), place.end());
}

// A top-level window with this title (and class, when given) of the process, or of any process for 0.
HWND FindTopLevel(DWORD processId, const wchar_t* className, const wchar_t* title) {
    for (HWND window : TopLevelWindows()) {
        if (processId != 0 && OwnerProcess(window) != processId) continue;
        if (className && ClassNameOf(window) != className) continue;
        if (TitleOf(window) == title) return window;
    }
    return nullptr;
}

// The box once it is shown: it exists, hidden, while its dialog sets itself up.
HWND WaitForFatalErrorBox(const HostProcess& host) {
    HWND box = nullptr;
    WaitUntil(
        [&] {
            box = FindTopLevel(host.ProcessId(), L"#32770", L"FATAL ERROR");
            return (box && IsWindowVisible(box)) || !host.IsRunning();
        },
        60s);
    return box;
}

struct BoxContents {
    std::wstring text;
    int visibleButtons = 0;
    bool okButton = false;
    HWND icon = nullptr;
};

BOOL CALLBACK ReadBoxControl(HWND child, LPARAM parameter) {
    auto* contents = reinterpret_cast<BoxContents*>(parameter);
    wchar_t name[32] = {};
    GetClassNameW(child, name, 32);
    if (!IsWindowVisible(child)) return TRUE;
    if (_wcsicmp(name, L"Button") == 0) {
        ++contents->visibleButtons;
        if (GetDlgCtrlID(child) == IDOK) contents->okButton = true;
    } else if (_wcsicmp(name, L"Static") == 0) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            contents->icon = child;
        } else {
            wchar_t text[1024] = {};
            GetWindowTextW(child, text, 1024);
            if (text[0]) contents->text = text;
        }
    }
    return TRUE;
}

BoxContents ReadBox(HWND box) {
    BoxContents contents;
    EnumChildWindows(box, ReadBoxControl, reinterpret_cast<LPARAM>(&contents));
    return contents;
}

using Pixels = std::vector<COLORREF>;

// What the screen shows inside window.
Pixels CaptureWindow(HWND window, int& width, int& height) {
    RECT area{};
    GetWindowRect(window, &area);
    width = area.right - area.left;
    height = area.bottom - area.top;
    Pixels pixels;
    HDC screen = GetDC(nullptr);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) pixels.push_back(GetPixel(screen, area.left + x, area.top + y));
    }
    ReleaseDC(nullptr, screen);
    return pixels;
}

// icon drawn by this process on background, as the static control draws it.
Pixels RenderIcon(const wchar_t* icon, COLORREF background, int width, int height) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    HBRUSH brush = CreateSolidBrush(background);
    RECT all{0, 0, width, height};
    FillRect(memory, &all, brush);
    DrawIconEx(memory, 0, 0, LoadIconW(nullptr, icon), width, height, 0, nullptr, DI_NORMAL);
    Pixels pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) pixels.push_back(GetPixel(memory, x, y));
    }
    SelectObject(memory, old);
    DeleteObject(brush);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

long long Distance(const Pixels& a, const Pixels& b) {
    long long sum = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        sum += std::abs(GetRValue(a[i]) - GetRValue(b[i])) + std::abs(GetGValue(a[i]) - GetGValue(b[i])) +
               std::abs(GetBValue(a[i]) - GetBValue(b[i]));
    }
    return sum;
}

// Which of the four message-box icons the icon control shows: the one whose rendering
// is nearest to the screen's pixels; "" while the box is not drawn yet.
std::wstring ShownIcon(HWND iconControl) {
    int width = 0, height = 0;
    Pixels shown = CaptureWindow(iconControl, width, height);
    if (shown.empty()) return L"";
    const std::pair<const wchar_t*, const wchar_t*> candidates[] = {{IDI_ERROR, L"error"},
                                                                    {IDI_WARNING, L"warning"},
                                                                    {IDI_INFORMATION, L"information"},
                                                                    {IDI_QUESTION, L"question"}};
    std::wstring nearest;
    long long best = -1;
    for (const auto& [icon, name] : candidates) {
        long long distance = Distance(shown, RenderIcon(icon, shown.front(), width, height));
        if (best < 0 || distance < best) {
            best = distance;
            nearest = name;
        }
    }
    // A blank control matches no icon well; only a clear match counts.
    return best < static_cast<long long>(shown.size()) * 8 ? nearest : L"";
}

// Processes that the host started with this program name, such as the system's debugger.
std::vector<DWORD> ChildProcesses(const HostProcess& host, const wchar_t* executable) {
    std::vector<DWORD> children;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return children;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID == host.ProcessId() && _wcsicmp(entry.szExeFile, executable) == 0) {
            children.push_back(entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return children;
}

// Wine reports a fault that reaches it by starting winedbg from the faulting process,
// which shows "Program Error". Debuggers of other programs in the prefix do not count.
void ExpectNoOtherErrorReport(const HostProcess& host, const char* when) {
    std::vector<DWORD> debuggers = ChildProcesses(host, L"winedbg.exe");
    EXPECT_TRUE(debuggers.empty()) << "the system's debugger started " << when;
    for (DWORD debugger : debuggers) {
        EXPECT_EQ(FindTopLevel(debugger, nullptr, L"Program Error"), nullptr) << "the crash dialog appeared " << when;
    }
}

// Visible top-level windows of the host other than except.
int VisibleWindowsBesides(const HostProcess& host, HWND except) {
    std::vector<HWND> visible = VisibleWindowsOf(host.ProcessId());
    return static_cast<int>(
        std::count_if(visible.begin(), visible.end(), [&](HWND window) { return window != except; }));
}

// Checks the box's title, type and text: the first line must name a host source file
// and a line of it that holds a marked statement, and be firstLine when one is given.
void ExpectFatalErrorBox(HWND box, const std::wstring& secondLine, const std::wstring& firstLine = L"") {
    ASSERT_NE(box, nullptr) << "no FATAL ERROR box";
    wchar_t title[64] = {};
    GetWindowTextW(box, title, 64);
    EXPECT_STREQ(title, L"FATAL ERROR");
    BoxContents contents = ReadBox(box);
    EXPECT_EQ(contents.visibleButtons, 1);
    EXPECT_TRUE(contents.okButton) << "MB_OK shows one OK button";
    ASSERT_NE(contents.icon, nullptr) << "MB_ICONERROR shows an icon";
    std::wstring icon;
    WaitUntil([&] { return !(icon = ShownIcon(contents.icon)).empty(); }, 20s);
    EXPECT_EQ(icon, L"error");

    std::wsmatch parts;
    static const std::wregex layout(L"([a-z_]+\\.(cpp|h)) \\[([0-9]+)\\]\r\n(.*)\r\n(.*)");
    ASSERT_TRUE(std::regex_match(contents.text, parts, layout)) << "text: \"" << contents.text << "\"";
    if (!firstLine.empty()) {
        EXPECT_EQ(parts[1].str() + L" [" + parts[3].str() + L"]", firstLine);
    }
    EXPECT_EQ(parts[4].str(), secondLine);
    EXPECT_EQ(parts[5].str(), WideningLine);
    std::wstring wideFile = parts[1].str();
    std::string file(wideFile.begin(), wideFile.end());  // ASCII by the pattern above
    unsigned line = static_cast<unsigned>(std::stoul(parts[3].str()));
    std::string source = HostSourceLine(file, line);
    static const std::regex marked("(^|.*[^A-Za-z0-9_])LN .*");
    EXPECT_TRUE(std::regex_match(source, marked))
        << "line " << line << " of the host's " << file << " is not a marked statement: \"" << source << "\"";
}

// OK on the box ends the host with code 0, and nothing else reports the fault.
void CloseBoxAndExpectQuietEnd(HostProcess& host, HWND box) {
    PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    DWORD exitCode = 1;
    ASSERT_TRUE(host.WaitForExit(30s, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    ExpectNoOtherErrorReport(host, "after the box was closed");
}

struct DaemonFault {
    const wchar_t* daemon;
    std::wstring secondLine;
};

// A fault in a daemon thread: the box names a place in the host's code, the host stays
// usable while it is open, and closing it ends the process with code 0 and nothing else.
TEST(FatalErrorTest, FaultInEntryPointWithSeveralDaemonsRunningIsReportedAndEndsTheHostWithCodeZero) {
    const DaemonFault faults[] = {
        {L"fault_access_low", L"INVALID MEMORY ACCESS [ 0x00000010 ]"},
        {L"fault_access_high", L"INVALID MEMORY ACCESS [ 0x80000010 ]"},
        {L"fault_divide", L"DIVISION BY ZERO  [ 0x00000000 ]"},
        {L"fault_breakpoint", L"DEBUGGER BREAKPOINT REACHED [ 0x00000000 ]"},
        {L"fault_unknown_code", L"UNKNOWN ERROR CODE [ 0x00000000 ]"},
        // A box on the exhausted stack would fault again and end the thread without a word.
        {L"fault_stack_exhausted", L"STACK OVERFLOW [ 0x00000000 ]"},
    };
    for (const DaemonFault& fault : faults) {
        SCOPED_TRACE(testing::Message() << "daemon " << std::wstring(fault.daemon));
        TempFolder folder;
        HostProcess host(folder);
        std::wstring faulting = host.AddDaemon(fault.daemon);
        std::wstring bystander = host.AddDaemon(L"cooperative");
        ASSERT_TRUE(host.Start());
        ASSERT_NE(host.WaitForMainWindow(), nullptr) << host.Fate();
        HWND box = WaitForFatalErrorBox(host);
        ExpectFatalErrorBox(box, fault.secondLine);
        ASSERT_TRUE(WaitForEntry(bystander));
        EXPECT_TRUE(host.Sync()) << "the host window stays usable while the box is open";
        EXPECT_EQ(VisibleWindowsBesides(host, box), 0) << "the box is the only thing shown";
        ExpectNoOtherErrorReport(host, "while the box is open");

        CloseBoxAndExpectQuietEnd(host, box);
        EXPECT_FALSE(HasEvent(faulting, "survived")) << "the fault did not fault";
        EXPECT_FALSE(HasEvent(faulting, "target-committed")) << "the high address was in use";
        // Nothing is cleaned up: no daemon asked to stop, no library freed.
        EXPECT_FALSE(HasEvent(bystander, "stop-seen"));
        EXPECT_FALSE(HasEvent(bystander, "detach"));
        EXPECT_FALSE(HasEvent(faulting, "detach"));
    }
}

// EntryState runs on the main thread while the host loads daemons: the box names the loader's
// line that calls it, and its own message loop keeps the main window answering.
TEST(FatalErrorTest, FaultOnTheMainThreadInEntryStateIsReported) {
    StandInTray tray;  // takes the host's icon calls, so that what happens to the icon shows
    tray.Accept(true);
    TempFolder folder;
    HostProcess host(folder);
    std::wstring faulting = host.AddDaemon(L"fault_in_state");
    std::wstring bystander = host.AddDaemon(L"cooperative");
    ASSERT_TRUE(host.Start());
    ASSERT_NE(host.WaitForMainWindow(), nullptr) << host.Fate();
    HWND box = WaitForFatalErrorBox(host);
    ExpectFatalErrorBox(box, L"ILLEGAL INSTRUCTION [ 0x00000000 ]",
                        PlaceOfCall("core/", "loader.cpp", "= entryState();"));
    ASSERT_TRUE(HasEvent(faulting, "state"));
    EXPECT_TRUE(host.Sync()) << "the box's loop dispatches the main window's messages";
    ExpectNoOtherErrorReport(host, "while the box is open");

    CloseBoxAndExpectQuietEnd(host, box);
    EXPECT_TRUE(HasCall(tray.Calls(), NIM_ADD, host.MainWindow())) << "the icon was there before the fault";
    EXPECT_FALSE(HasCall(tray.Calls(), NIM_DELETE, host.MainWindow())) << "nothing is cleaned up, not even the icon";
    EXPECT_FALSE(HasEvent(faulting, "entry")) << "no daemon starts after the fault";
    EXPECT_FALSE(HasEvent(bystander, "entry"));
    EXPECT_FALSE(HasEvent(faulting, "detach"));
    EXPECT_FALSE(HasEvent(bystander, "detach"));
}

// EntryMenu runs on the main thread while the tray menu is built: the box names the line that
// calls it.
TEST(FatalErrorTest, FaultOnTheMainThreadInEntryMenuIsReported) {
    TempFolder folder;
    HostProcess host(folder);
    std::wstring faulting = host.AddDaemon(L"fault_in_menu");
    ASSERT_TRUE(host.Start());
    ASSERT_NE(host.WaitForMainWindow(), nullptr) << host.Fate();
    ASSERT_TRUE(WaitForEntry(faulting));
    host.PressTrayIcon(WM_RBUTTONDOWN);
    HWND box = WaitForFatalErrorBox(host);
    ExpectFatalErrorBox(box, L"INVALID MEMORY ACCESS [ 0x00000020 ]",
                        PlaceOfCall("ui/", "daemon_menus.cpp", "daemon->entryMenuAddress("));
    EXPECT_TRUE(HasEvent(faulting, "menu 1")) << "asked for its tray menu";
    ExpectNoOtherErrorReport(host, "while the box is open");

    CloseBoxAndExpectQuietEnd(host, box);
    EXPECT_FALSE(HasEvent(faulting, "return")) << "not asked to stop";
    EXPECT_FALSE(HasEvent(faulting, "detach"));
}

}  // namespace
}  // namespace kestrune::test
