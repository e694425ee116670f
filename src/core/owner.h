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
    ~Owner() { LN reset(); }

    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    Owner(Owner&& other) noexcept : handle_(other.release()) {}
    Owner& operator=(Owner&& other) noexcept {
        LN if (this != &other) reset(other.release());
        LN return *this;
    }

    Handle get() const noexcept { LN return handle_; }
    explicit operator bool() const noexcept { LN return handle_ != Traits::Empty(); }

    // Gives the handle up without releasing it.
    Handle release() noexcept { LN return std::exchange(handle_, Traits::Empty()); }

    void reset(Handle handle = Traits::Empty()) noexcept {
        LN Handle old = std::exchange(handle_, handle);
        LN if (old != Traits::Empty()) Traits::Release(old);
    }

private:
    Handle handle_ = Traits::Empty();
};

template <typename H, auto ReleaseFunction>
struct NullEmptyTraits {
    using Handle = H;
    static Handle Empty() noexcept { LN return nullptr; }
    static void Release(Handle handle) noexcept { LN ReleaseFunction(handle); }
};

struct FindTraits {
    using Handle = HANDLE;
    static Handle Empty() noexcept { LN return INVALID_HANDLE_VALUE; }
    static void Release(Handle handle) noexcept { LN FindClose(handle); }
};

// Unregisters a wait of the thread pool and waits until a callback that is running has returned.
inline void UnregisterWaitAndBlock(HANDLE wait) noexcept {
    LN UnregisterWaitEx(wait, INVALID_HANDLE_VALUE);
}

using ModuleOwner = Owner<NullEmptyTraits<HMODULE, FreeLibrary>>;
using HandleOwner = Owner<NullEmptyTraits<HANDLE, CloseHandle>>;
using MenuOwner = Owner<NullEmptyTraits<HMENU, DestroyMenu>>;
using IconOwner = Owner<NullEmptyTraits<HICON, DestroyIcon>>;
using FontOwner = Owner<NullEmptyTraits<HFONT, DeleteObject>>;
using FindOwner = Owner<FindTraits>;
using RegisteredWaitOwner = Owner<NullEmptyTraits<HANDLE, UnregisterWaitAndBlock>>;

}  // namespace kestrune
