#include "core/dll_search.h"

#include <windows.h>

#include <string>

#include "fault/source_position.h"

namespace kestrune {

// A DLL directory replaces the current directory in the search order; naming the
// program's own folder, which is searched first anyway, adds nothing else (Wine ignores
// an empty one).
void KeepCurrentDirectoryOutOfDllSearch() {
    LN std::wstring program(MAX_PATH, L'\0');
    LN for (;;) {
        LN DWORD length = GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
        LN if (length < program.size()) {
            LN program.resize(length);
            break;
        }
        LN program.resize(program.size() * 2);
    }
    LN SetDllDirectoryW(program.substr(0, program.find_last_of(L"\\/") + 1).c_str());
}

}  // namespace kestrune
