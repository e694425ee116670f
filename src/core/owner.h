// Single owners of Win32 handles: each kind knows its empty value and how it is released.
#pragma once

#include <windows.h>

#include <utility>

namespace kestrune {

template <typename Traits>
class Owner {
public:
    using Handle = typename Traits::Handle;

    Owner() noexcept = default;
    explicit Owner(Handle handle) noexcept : handle_(handle) {}
    ~Owner() { reset(); }

    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    Owner(Owner&& other) noexcept : handle_(other.release()) {}
    Owner& operator=(Owner&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::Empty(); }

    // Gives the handle up without releasing it.
    Handle release() noexcept { return std::exchange(handle_, Traits::Empty()); }

    void reset(Handle handle = Traits::Empty()) noexcept {
        Handle old = std::exchange(handle_, handle);
        if (old != Traits::Empty()) Traits::Release(old);
    }

private:
    Handle handle_ = Traits::Empty();
};

template <typename H, auto ReleaseFunction>
struct NullEmptyTraits {
    using Handle = H;
    static Handle Empty() noexcept { return nullptr; }
    static void Release(Handle handle) noexcept { ReleaseFunction(handle); }
};

// Handles whose failure value is INVALID_HANDLE_VALUE, not null: files, snapshots, searches.
template <auto ReleaseFunction>
struct InvalidEmptyTraits {
    using Handle = HANDLE;
    static Handle Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Release(Handle handle) noexcept { ReleaseFunction(handle); }
};

// Unregisters a wait of the thread pool and waits until a callback that is running has returned.
inline void UnregisterWaitAndBlock(HANDLE wait) noexcept {
    UnregisterWaitEx(wait, INVALID_HANDLE_VALUE);
}

inline void ReleaseScreenDc(HDC dc) noexcept {
    ReleaseDC(nullptr, dc);
}

using ModuleOwner = Owner<NullEmptyTraits<HMODULE, FreeLibrary>>;
using HandleOwner = Owner<NullEmptyTraits<HANDLE, CloseHandle>>;
using MenuOwner = Owner<NullEmptyTraits<HMENU, DestroyMenu>>;
using IconOwner = Owner<NullEmptyTraits<HICON, DestroyIcon>>;
using FontOwner = Owner<NullEmptyTraits<HFONT, DeleteObject>>;
using PenOwner = Owner<NullEmptyTraits<HPEN, DeleteObject>>;
using FindOwner = Owner<InvalidEmptyTraits<FindClose>>;
using FileOwner = Owner<InvalidEmptyTraits<CloseHandle>>;
using SnapshotOwner = Owner<InvalidEmptyTraits<CloseHandle>>;
using WindowOwner = Owner<NullEmptyTraits<HWND, DestroyWindow>>;
using ScreenDcOwner = Owner<NullEmptyTraits<HDC, ReleaseScreenDc>>;
using RegisteredWaitOwner = Owner<NullEmptyTraits<HANDLE, UnregisterWaitAndBlock>>;
using HookOwner = Owner<NullEmptyTraits<HHOOK, UnhookWindowsHookEx>>;

// The screen's device context, released when the owner goes.
inline ScreenDcOwner TakeScreenDc() noexcept {
    return ScreenDcOwner(GetDC(nullptr));
}

// Selects an object into a device context and puts the previous one back when it goes, so that
// the object can be released afterwards.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) noexcept
        : dc_(dc), previous_(dc && object ? SelectObject(dc, object) : nullptr) {}
    ~SelectedObject() {
        if (previous_) SelectObject(dc_, previous_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// Runs a step when the scope ends, however it ends: the undo of a change made for the scope.
template <typename Step>
class ScopeExit {
public:
    explicit ScopeExit(Step step) noexcept : step_(std::move(step)) {}
    ~ScopeExit() { step_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    Step step_;
};

}  // namespace kestrune
