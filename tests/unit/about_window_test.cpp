// The About window and its help text: layout rules, one window at a time, resizing,
// read-only text and the em dashes.
#include <windows.h>

#include <richedit.h>

#include "core/utf8.h"
#include "menu_fixture.h"
#include "ui/about_window.h"
#include "ui/dpi.h"
#include "ui/help_text.h"
#include "ui/ui_state.h"

namespace kestrune::test {
namespace {

const std::wstring Rule(64, L'\u2014');
const std::wstring Headings[] = {L"\u2014| OVERVIEW", L"\u2014| WRITING DAEMONS AND ANGELS",
                                 L"\u2014| SOME NOTES ABOUT DLL CODING"};

std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    return lines;
}

size_t Indent(const std::wstring& line) {
    size_t spaces = line.find_first_not_of(L' ');
    return spaces == std::wstring::npos ? line.size() : spaces;
}

// Exactly three empty lines stand before line index.
bool ThreeEmptyLinesBefore(const std::vector<std::wstring>& lines, size_t index) {
    return index >= 4 && lines[index - 1].empty() && lines[index - 2].empty() && lines[index - 3].empty() &&
           !lines[index - 4].empty();
}

// The help text's lines, without the line end after the last, and where its parts begin.
struct HelpLayout {
    std::wstring text;
    std::vector<std::wstring> lines;
    size_t heading[3] = {};
    size_t closing = 0;  // the first of the closing lines
};

HelpLayout ReadHelpLayout() {
    HelpLayout help;
    help.text = FromUtf8(HelpText);
    const std::wstring& text = help.text;
    if (text.size() < 2) return help;
    help.lines = SplitLines(text.substr(0, text.size() - 2));
    const std::vector<std::wstring>& lines = help.lines;
    for (int h = 0; h < 3; ++h) {
        help.heading[h] = static_cast<size_t>(std::find(lines.begin(), lines.end(), Headings[h]) - lines.begin());
    }
    size_t closing = help.heading[2] + 2;
    while (closing < lines.size() && (lines[closing].empty() || Indent(lines[closing]) > 0)) ++closing;
    help.closing = closing;
    return help;
}

TEST(HelpTextTest, FollowsTheLayoutOfTitleAndSections) {
    const HelpLayout help = ReadHelpLayout();
    const std::vector<std::wstring>& lines = help.lines;
    ASSERT_GE(help.text.size(), 2u);
    ASSERT_EQ(help.text.substr(help.text.size() - 2), L"\r\n") << "the last line ends like every other";
    for (const std::wstring& line : lines) {
        EXPECT_EQ(line.find_first_of(L"\r\n\t"), std::wstring::npos)
            << "lines end in CR LF only: " << testing::PrintToString(line);
    }
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(lines[0], L"Kestrune: the ultimate host process for daemons");
    EXPECT_EQ(lines[1], Rule);
    EXPECT_EQ(lines[2], L"");

    for (int h = 0; h < 3; ++h) {
        ASSERT_LT(help.heading[h] + 1, lines.size()) << testing::PrintToString(Headings[h]);
        EXPECT_EQ(lines[help.heading[h] + 1], L"") << "an empty line after each heading";
        if (h > 0) {
            EXPECT_GT(help.heading[h], help.heading[h - 1]);
        }
    }
    EXPECT_EQ(help.heading[0], 3u) << "the first section follows the rule after one empty line";
    EXPECT_TRUE(ThreeEmptyLinesBefore(lines, help.heading[1]));
    EXPECT_TRUE(ThreeEmptyLinesBefore(lines, help.heading[2]));
}

TEST(HelpTextTest, IndentsBodyLinesAndEndsWithClosingLines) {
    const HelpLayout help = ReadHelpLayout();
    const std::vector<std::wstring>& lines = help.lines;
    ASSERT_LT(help.heading[2], lines.size());
    ASSERT_LT(help.closing, lines.size()) << "closing lines";
    EXPECT_TRUE(ThreeEmptyLinesBefore(lines, help.closing));
    for (size_t i = help.closing; i < lines.size(); ++i) {
        EXPECT_FALSE(lines[i].empty());
        EXPECT_EQ(Indent(lines[i]), 0u) << "closing lines are not indented";
    }
    for (size_t i = help.heading[0] + 2; i < help.closing; ++i) {
        const std::wstring& line = lines[i];
        if (line.empty() || line == Headings[1] || line == Headings[2]) continue;
        size_t indent = Indent(line);
        EXPECT_TRUE(indent == 2 || (indent >= 4 && indent <= 8))
            << "body lines are indented by two, continuations by four to eight: " << testing::PrintToString(line);
    }
}

TEST(HelpTextTest, HowItAllWorksHasFourNumberedPoints) {
    const HelpLayout help = ReadHelpLayout();
    const std::vector<std::wstring>& lines = help.lines;
    size_t works = std::find(lines.begin(), lines.end(), L"  How it all works:") - lines.begin();
    EXPECT_GT(works, help.heading[1]);
    EXPECT_LT(works, help.heading[2]);
    size_t previous = works;
    for (int point = 1; point <= 4; ++point) {
        std::wstring start = L"  " + std::to_wstring(point) + L". ";
        size_t at = std::find_if(lines.begin(), lines.end(),
                                 [&](const std::wstring& line) { return line.starts_with(start); }) -
                    lines.begin();
        EXPECT_GT(at, previous) << "point " << point;
        EXPECT_LT(at, help.heading[2]) << "point " << point;
        previous = at;
    }
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::wstring& line) {
                                return line.size() > 4 && line[2] >= L'5' && line[2] <= L'9' && line[3] == L'.';
                            }),
              0)
        << "four numbered points";
}

TEST(HelpTextTest, NamesTheEntriesTheFolderAndARealSample) {
    const std::wstring text = FromUtf8(HelpText);
    for (const wchar_t* name : {L"EntryPoint()", L"EntryState()", L"\"wild_magic\""}) {
        EXPECT_NE(text.find(name), std::wstring::npos) << testing::PrintToString(std::wstring(name));
    }
    const std::wstring sample = L"daemons/sample/sample_daemon.c";
    ASSERT_NE(text.find(sample), std::wstring::npos);
    // The build folder lies in the source tree: build\<preset>\bin\.
    std::wstring source = ProgramFolder() + L"..\\..\\..\\daemons\\sample\\sample_daemon.c";
    EXPECT_NE(GetFileAttributesW(source.c_str()), INVALID_FILE_ATTRIBUTES) << "the sample named is real";
}

class AboutWindowTest : public WindowFixture {
protected:
    static std::wstring TextOf(HWND window) {
        int length = GetWindowTextLengthW(window);
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
        return text;
    }

    static BOOL CALLBACK CountAboutWindow(HWND window, LPARAM parameter) {
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (wcscmp(name, L"KestruneAboutWindow") == 0) ++*reinterpret_cast<int*>(parameter);
        return TRUE;
    }

    static int AboutWindowsOpen() {
        int count = 0;
        EnumThreadWindows(GetCurrentThreadId(), CountAboutWindow, reinterpret_cast<LPARAM>(&count));
        return count;
    }

    static void ExpectFreshWindow(int line) {
        SCOPED_TRACE(testing::Message() << "checked at line " << line);
        HWND window = ui.about.AboutWindow.get();
        ASSERT_TRUE(IsWindow(window));
        EXPECT_TRUE(IsWindowVisible(window));
        EXPECT_EQ(TextOf(window), L"About Kestrune");
        RECT outer{}, client{}, text{};
        GetWindowRect(window, &outer);
        GetClientRect(window, &client);
        EXPECT_EQ(outer.left, 0);
        EXPECT_EQ(outer.top, 0);
        EXPECT_EQ(client.right, ScaleX(800));
        EXPECT_EQ(client.bottom, ScaleY(600));
        LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
        EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME), WS_CAPTION | WS_SYSMENU | WS_THICKFRAME);
        EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CHILD), 0);
        EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);
        ASSERT_TRUE(IsWindow(ui.about.AboutText));
        EXPECT_EQ(GetParent(ui.about.AboutText), window);
        GetClientRect(ui.about.AboutText, &text);
        // The control shows a scroll bar only while there is something to scroll: with lines
        // wrapped at its edge that is the vertical one alone.
        LONG_PTR textStyle = GetWindowLongPtrW(ui.about.AboutText, GWL_STYLE);
        EXPECT_EQ(textStyle & (ES_MULTILINE | ES_READONLY | WS_VSCROLL), ES_MULTILINE | ES_READONLY | WS_VSCROLL);
        RECT placed{};
        GetWindowRect(ui.about.AboutText, &placed);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&placed), 2);
        EXPECT_EQ(placed.left, 0);
        EXPECT_EQ(placed.top, 0);
        EXPECT_EQ(placed.right, client.right) << "the text area covers the inner area";
        EXPECT_EQ(placed.bottom, client.bottom);
        EXPECT_EQ(TextOf(ui.about.AboutText), FromUtf8(HelpText));
    }
};

TEST_F(AboutWindowTest, OpensOnceFollowsResizingAndReopensFresh) {
    ShowAboutWindow(L"About Kestrune", 800, 600);
    HWND first = ui.about.AboutWindow.get();
    ExpectFreshWindow(__LINE__);

    ShowAboutWindow(L"Another title", 300, 200);
    EXPECT_EQ(ui.about.AboutWindow.get(), first) << "at most one window";
    EXPECT_EQ(AboutWindowsOpen(), 1);
    EXPECT_EQ(TextOf(first), L"About Kestrune") << "title and size are not applied again";
    RECT client{};
    GetClientRect(first, &client);
    EXPECT_EQ(client.right, ScaleX(800));

    LRESULT wideLines = SendMessageW(ui.about.AboutText, EM_GETLINECOUNT, 0, 0);
    ASSERT_TRUE(SetWindowPos(first, nullptr, 60, 40, 420, 300, SWP_NOZORDER));
    GetClientRect(first, &client);
    RECT text{};
    GetClientRect(ui.about.AboutText, &text);
    RECT placed{};
    GetWindowRect(ui.about.AboutText, &placed);
    EXPECT_EQ(placed.right - placed.left, client.right) << "the text area follows the inner size";
    EXPECT_EQ(placed.bottom - placed.top, client.bottom);
    EXPECT_GT(SendMessageW(ui.about.AboutText, EM_GETLINECOUNT, 0, 0), wideLines) << "long lines wrap again";

    SendMessageW(first, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(ui.about.AboutWindow.get(), nullptr);
    EXPECT_EQ(ui.about.AboutText, nullptr);
    EXPECT_TRUE(IsWindow(ui.main.mainWindow.get())) << "closing it leaves the host alone";

    ShowAboutWindow(L"About Kestrune", 800, 600);
    EXPECT_NE(ui.about.AboutWindow.get(), nullptr);
    ExpectFreshWindow(__LINE__);
    EXPECT_EQ(AboutWindowsOpen(), 1);
}

TEST_F(AboutWindowTest, TextIsReadOnlyWithSingleCharacterDashes) {
    ShowAboutWindow(L"About Kestrune", 800, 600);
    HWND text = ui.about.AboutText;
    ASSERT_NE(text, nullptr);
    const std::wstring before = TextOf(text);
    SetFocus(text);
    SendMessageW(text, EM_SETSEL, 0, 20);
    for (UINT key : {UINT{'x'}, UINT{VK_BACK}, UINT{VK_RETURN}}) {
        SendMessageW(text, WM_KEYDOWN, key, 0);
        SendMessageW(text, WM_CHAR, key, 0);
        SendMessageW(text, WM_KEYUP, key, 0);
    }
    SendMessageW(text, WM_KEYDOWN, VK_DELETE, 0);
    SendMessageW(text, WM_CUT, 0, 0);
    EXPECT_EQ(TextOf(text), before) << "typing changes nothing";
    EXPECT_TRUE(SendMessageW(text, EM_GETOPTIONS, 0, 0) & ECO_READONLY);

    std::vector<std::wstring> lines = SplitLines(before);
    ASSERT_GT(lines.size(), 3u);
    EXPECT_EQ(lines[1], Rule) << "64 single em dashes";
    EXPECT_EQ(std::count(before.begin(), before.end(), L'\u2014'), 64 + 3);
    EXPECT_EQ(before.find(L'\u00E2'), std::wstring::npos) << "no UTF-8 bytes read as another code page";
}

TEST_F(AboutWindowTest, ConsolasIsAppliedOnlyWhereItExists) {
    HDC screen = GetDC(nullptr);
    HFONT probe = CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Consolas");
    HGDIOBJ previous = SelectObject(screen, probe);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(screen, LF_FACESIZE, face);
    SelectObject(screen, previous);
    DeleteObject(probe);
    ReleaseDC(nullptr, screen);
    const bool systemHasConsolas = lstrcmpiW(face, L"Consolas") == 0;

    ShowAboutWindow(L"About Kestrune", 800, 600);
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_FACE | CFM_SIZE;
    SendMessageW(ui.about.AboutText, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    if (systemHasConsolas) {
        EXPECT_STREQ(format.szFaceName, L"Consolas");
        EXPECT_EQ(format.yHeight, 9 * 20) << "9 points, in twips";
    } else {
        // The same class's default, from a text area that was never given a font.
        wchar_t className[64] = {};
        GetClassNameW(ui.about.AboutText, className, 64);
        HWND plain = CreateWindowExW(0, className, L"", WS_POPUP | ES_MULTILINE, 0, 0, 100, 100, nullptr, nullptr,
                                     nullptr, nullptr);
        ASSERT_NE(plain, nullptr);
        CHARFORMAT2W fallback{};
        fallback.cbSize = sizeof fallback;
        fallback.dwMask = CFM_FACE | CFM_SIZE;
        SendMessageW(plain, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&fallback));
        DestroyWindow(plain);
        EXPECT_STREQ(format.szFaceName, fallback.szFaceName) << "without Consolas the default font stays";
        EXPECT_EQ(format.yHeight, fallback.yHeight);
    }
}

}  // namespace
}  // namespace kestrune::test
