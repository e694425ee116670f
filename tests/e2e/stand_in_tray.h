// A stand-in for the shell's notification area, for tests that watch the host's tray icon.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_daemons.h"

namespace kestrune::test {

// Stands in for the shell's notification area: the host's icon calls reach this window
// first (it is the topmost window of the tray's class), and it accepts or refuses them.
class StandInTray {
public:
    struct Call {
        DWORD message;  // NIM_ADD, NIM_MODIFY, NIM_DELETE
        HWND from;
        std::wstring text;  // the call's data read as UTF-16, to look for the tooltip in
    };

    StandInTray() {
        thread_ = std::thread([this] { Run(); });
        WaitUntil([&] { return window_.load() != nullptr; });
    }
    ~StandInTray() {
        if (HWND window = window_.load()) PostMessageW(window, WM_CLOSE, 0, 0);
        thread_.join();
    }
    HWND Window() const { return window_.load(); }
    void Accept(bool accept) { accept_.store(accept); }
    std::vector<Call> Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    void Forget() {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<StandInTray*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && message == WM_COPYDATA) {
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            std::wstring text(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->calls_.push_back({static_cast<DWORD>(data->dwData), reinterpret_cast<HWND>(wParam), text});
            return self->accept_.load() ? TRUE : FALSE;
        }
        if (message == WM_CLOSE) {
            DestroyWindow(window);
            PostQuitMessage(0);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    void Run() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"Shell_TrayWnd";
        RegisterClassW(&windowClass);
        HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 1, 1,
                                      nullptr, nullptr, windowClass.hInstance, nullptr);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        window_.store(window);
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
        UnregisterClassW(L"Shell_TrayWnd", windowClass.hInstance);
    }

    std::thread thread_;
    std::atomic<HWND> window_{nullptr};
    std::atomic<bool> accept_{false};
    std::mutex mutex_;
    std::vector<Call> calls_;
};

inline bool HasCall(const std::vector<StandInTray::Call>& calls, DWORD message, HWND from) {
    for (const auto& call : calls) {
        if (call.message == message && call.from == from) return true;
    }
    return false;
}

}  // namespace kestrune::test
