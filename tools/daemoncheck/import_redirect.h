// Pointing a loaded image's imports of chosen functions at wrappers of the checker's own.
#pragma once

#include <windows.h>

#include <cstddef>

namespace daemoncheck {

struct ImportRedirect {
    const wchar_t* module;  // the module the function is taken from
    const char* name;
    void** real;  // receives the function's own address, for the wrapper to call
    void* wrapper;
};

// Every import slot of image that holds one of the listed functions is made to point at its
// wrapper. The loader writes the address the named module exports (after forwarding) into the
// importer's table, so a function a daemon may take from two modules is listed for both.
void RedirectImports(HMODULE image, const ImportRedirect* redirects, size_t count);

template <typename Function>
void* FunctionAddress(Function function) {
    return reinterpret_cast<void*>(function);
}

}  // namespace daemoncheck
