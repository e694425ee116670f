#include "about_window.h"

#include <windows.h>
#include <richedit.h>

#include <string>

#include "../core/application.h"
#include "../core/owner.h"
#include "../core/utf8.h"
#include "dpi.h"
#include "help_text.h"

namespace kestrune {
namespace {

constexpr wchar_t AboutWindowClass[] = L"KestruneAboutWindow";
constexpr DWORD AboutWindowStyle = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
constexpr wchar_t HelpFontFace[] = L"Consolas";
constexpr int HelpFontPoints = 9;

// The newest rich edit the system offers; Wine has both. The library stays loaded
// for the life of the process, since its window class must outlive every About window.
const wchar_t* RichEditClass() {
    static const wchar_t* name = [] {
        if (LoadLibraryW(L"Msftedit.dll")) return MSFTEDIT_CLASS;
        if (LoadLibraryW(L"riched20.dll")) return RICHEDIT_CLASSW;
        return static_cast<const wchar_t*>(nullptr);
    }();
    return name;
}

// The font mapper always hands out some font; only a real Consolas is worth applying,
// otherwise the text area keeps its default font.
FontOwner CreateHelpFont() {
    HDC screen = GetDC(nullptr);
    int height = -MulDiv(HelpFontPoints, screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96, 72);
    FontOwner font(CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, HelpFontFace));
    if (font && screen) {
        HGDIOBJ previous = SelectObject(screen, font.get());
        wchar_t face[LF_FACESIZE] = {};
        GetTextFaceW(screen, LF_FACESIZE, face);
        SelectObject(screen, previous);
        if (lstrcmpiW(face, HelpFontFace) != 0) font.reset();
    }
    if (screen) ReleaseDC(nullptr, screen);
    return font;
}

void OnAboutSize(LPARAM size) {
    if (app.AboutText) MoveWindow(app.AboutText, 0, 0, LOWORD(size), HIWORD(size), TRUE);
}

LRESULT CALLBACK AboutWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        OnAboutSize(lParam);
        return 0;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        if (app.AboutWindow == window) {
            app.AboutWindow = nullptr;
            app.AboutText = nullptr;
        }
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool RegisterAboutWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = AboutWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = AboutWindowClass;
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CreateHelpTextArea(HWND parent, int width, int height) {
    const wchar_t* richEdit = RichEditClass();
    if (!richEdit) return nullptr;
    HWND text = CreateWindowExW(0, richEdit, L"",
                                WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY, 0, 0,
                                width, height, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!text) return nullptr;
    // Wrap lines at the control's right edge.
    SendMessageW(text, EM_SETTARGETDEVICE, 0, 0);
    // The rich edit copies the font's description, so the font object can go at once.
    FontOwner font = CreateHelpFont();
    if (font) SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    std::wstring help = FromUtf8(HelpText);
    SetWindowTextW(text, help.c_str());
    return text;
}

}  // namespace

void ShowAboutWindow(const wchar_t* title, int width, int height) {
    if (app.AboutWindow) {
        SetActiveWindow(app.AboutWindow);
        return;
    }
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!RegisterAboutWindowClass(instance)) return;
    RECT outer{0, 0, ScaleX(width), ScaleY(height)};
    AdjustWindowRectEx(&outer, AboutWindowStyle, FALSE, 0);
    HWND window = CreateWindowExW(0, AboutWindowClass, title, AboutWindowStyle, 0, 0, outer.right - outer.left,
                                  outer.bottom - outer.top, nullptr, nullptr, instance, nullptr);
    if (!window) return;
    app.AboutWindow = window;
    RECT client{};
    GetClientRect(window, &client);
    app.AboutText = CreateHelpTextArea(window, client.right, client.bottom);
    ShowWindow(window, SW_SHOWNORMAL);
}

}  // namespace kestrune
