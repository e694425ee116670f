// Single owners of Win32 handles: each kind knows its empty value and how it is released.
#pragma once

#include <windows.h>

#include <utility>
#include "fault/source_position.h"

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

struct FindTraits {
    using Handle = HANDLE;
    static Handle Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Release(Handle handle) noexcept { FindClose(handle); }
};

// Unregisters a wait of the thread pool and waits until a callback that is running has returned.
inline void UnregisterWaitAndBlock(HANDLE wait) noexcept {
    UnregisterWaitEx(wait, INVALID_HANDLE_VALUE);
}

using ModuleOwner = Owner<NullEmptyTraits<HMODULE, FreeLibrary>>;
using HandleOwner = Owner<NullEmptyTraits<HANDLE, CloseHandle>>;
using MenuOwner = Owner<NullEmptyTraits<HMENU, DestroyMenu>>;
using IconOwner = Owner<NullEmptyTraits<HICON, DestroyIcon>>;
using FontOwner = Owner<NullEmptyTraits<HFONT, DeleteObject>>;
using FindOwner = Owner<FindTraits>;
using RegisteredWaitOwner = Owner<NullEmptyTraits<HANDLE, UnregisterWaitAndBlock>>;
using HookOwner = Owner<NullEmptyTraits<HHOOK, UnhookWindowsHookEx>>;

}  // namespace kestrune
