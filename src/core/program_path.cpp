#include "core/program_path.h"

#include <windows.h>

#include "fault/source_position.h"

namespace kestrune {

std::wstring ProgramPath() {
    LN std::wstring path(MAX_PATH, L'\0');
    // A path that filled the buffer may have been cut: ask again with twice the room.
    LN for (;;) {
        LN DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        LN if (length == 0) return {};
        LN if (length < path.size()) {
            LN path.resize(length);
            LN return path;
        }
        LN path.resize(path.size() * 2);
    }
}

}  // namespace kestrune
