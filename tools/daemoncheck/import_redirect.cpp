#include "import_redirect.h"

namespace daemoncheck {
namespace {

// The redirect whose function sits at address, with its real address filled in; or null.
const ImportRedirect* RedirectFor(void* address, const ImportRedirect* redirects, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const ImportRedirect& redirect = redirects[i];
        HMODULE module = GetModuleHandleW(redirect.module);
        if (!module) continue;
        void* exported = reinterpret_cast<void*>(GetProcAddress(module, redirect.name));
        if (!exported || exported != address) continue;
        // Both modules of a pair resolve to one function; the first one found is called.
        if (!*redirect.real) *redirect.real = exported;
        return &redirect;
    }
    return nullptr;
}

void Patch(void** slot, void* value) {
    DWORD previous = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous)) return;
    *slot = value;
    VirtualProtect(slot, sizeof *slot, previous, &previous);
}

}  // namespace

void RedirectImports(HMODULE image, const ImportRedirect* redirects, size_t count) {
    auto base = reinterpret_cast<unsigned char*>(image);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!directory.VirtualAddress) return;
    for (auto descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
        for (auto slot = reinterpret_cast<void**>(base + descriptor->FirstThunk); *slot; ++slot) {
            const ImportRedirect* redirect = RedirectFor(*slot, redirects, count);
            if (redirect) Patch(slot, redirect->wrapper);
        }
    }
}

}  // namespace daemoncheck
