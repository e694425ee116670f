#include "ui/about_window.h"

#include <windows.h>

#include <richedit.h>

#include <string>

#include "core/application.h"
#include "core/owner.h"
#include "core/utf8.h"
#include "ui/dpi.h"
#include "ui/help_text.h"
#include "ui/ui_state.h"

#include "fault/source_position.h"

namespace kestrune {
namespace {

constexpr wchar_t AboutWindowClass[] = L"KestruneAboutWindow";
constexpr DWORD AboutWindowStyle = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
constexpr wchar_t HelpFontFace[] = L"Consolas";
constexpr int HelpFontPoints = 9;

// The newest rich edit the system offers; Wine has both. The library stays loaded
// for the life of the process, since its window class must outlive every About window.
const wchar_t* RichEditClass() {
    LN static const wchar_t* name = [] {
        LN if (LoadLibraryW(L"Msftedit.dll")) return MSFTEDIT_CLASS;
        LN if (LoadLibraryW(L"riched20.dll")) return RICHEDIT_CLASSW;
        LN return static_cast<const wchar_t*>(nullptr);
    }();
    LN return name;
}

// Whether the font mapper gave the face asked for.
bool HasFace(HDC dc, HFONT font, const wchar_t* asked) {
    LN const SelectedObject selected(dc, font);
    LN wchar_t face[LF_FACESIZE] = {};
    LN GetTextFaceW(dc, LF_FACESIZE, face);
    LN return lstrcmpiW(face, asked) == 0;
}

// The font mapper always hands out some font; only a real Consolas is worth applying,
// otherwise the text area keeps its default font.
FontOwner CreateHelpFont() {
    LN const ScreenDcOwner screen = TakeScreenDc();
    LN int height = -MulDiv(HelpFontPoints, screen ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 96, 72);
    LN FontOwner font(CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, HelpFontFace));
    LN if (font && screen && !HasFace(screen.get(), font.get(), HelpFontFace)) font.reset();
    LN return font;
}

void OnAboutSize(const AboutState& about, LPARAM size) {
    LN if (about.AboutText) MoveWindow(about.AboutText, 0, 0, LOWORD(size), HIWORD(size), TRUE);
}

// The window goes by its own close or by its owner's reset. Closed, the owner lets it go, so
// that nothing destroys it a second time; reset, the owner is empty already.
void OnAboutDestroy(AboutState& about, HWND window) {
    LN if (about.AboutWindow.get() == window) about.AboutWindow.release();
    LN if (!about.AboutWindow) about.AboutText = nullptr;
}

LRESULT CALLBACK AboutWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LN switch (message) {
    case WM_SIZE:
        LN OnAboutSize(ui.about, lParam);
        LN return 0;
    case WM_CLOSE:
        LN DestroyWindow(window);
        LN return 0;
    case WM_DESTROY:
        LN OnAboutDestroy(ui.about, window);
        LN return 0;
    default:
        LN return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool RegisterAboutWindowClass(HINSTANCE instance) {
    LN WNDCLASSEXW windowClass{};
    LN windowClass.cbSize = sizeof windowClass;
    LN windowClass.lpfnWndProc = AboutWindowProc;
    LN windowClass.hInstance = instance;
    LN windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    LN windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    LN windowClass.lpszClassName = AboutWindowClass;
    LN return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CreateHelpTextArea(HWND parent, int width, int height) {
    LN const wchar_t* richEdit = RichEditClass();
    LN if (!richEdit) return nullptr;
    LN HWND text =
        CreateWindowExW(0, richEdit, L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY,
                        0, 0, width, height, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    LN if (!text) return nullptr;
    // Wrap lines at the control's right edge.
    LN SendMessageW(text, EM_SETTARGETDEVICE, 0, 0);
    // The rich edit copies the font's description, so the font object can go at once.
    LN FontOwner font = CreateHelpFont();
    LN if (font) SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    LN std::wstring help = FromUtf8(HelpText);
    LN SetWindowTextW(text, help.c_str());
    LN return text;
}

}  // namespace

void ShowAboutWindow(const wchar_t* title, int width, int height) {
    LN if (ui.about.AboutWindow) {
        LN SetActiveWindow(ui.about.AboutWindow.get());
        LN return;
    }
    LN HINSTANCE instance = GetModuleHandleW(nullptr);
    LN if (!RegisterAboutWindowClass(instance)) return;
    LN RECT outer{0, 0, ScaleX(width), ScaleY(height)};
    LN AdjustWindowRectEx(&outer, AboutWindowStyle, FALSE, 0);
    LN HWND window = CreateWindowExW(0, AboutWindowClass, title, AboutWindowStyle, 0, 0, outer.right - outer.left,
                                     outer.bottom - outer.top, nullptr, nullptr, instance, nullptr);
    LN if (!window) return;
    LN ui.about.AboutWindow.reset(window);
    LN RECT client{};
    LN GetClientRect(window, &client);
    LN ui.about.AboutText = CreateHelpTextArea(window, client.right, client.bottom);
    LN ShowWindow(window, SW_SHOWNORMAL);
}

}  // namespace kestrune
