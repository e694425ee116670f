// Runs discovery from wherever this program has been copied and writes what it found,
// one UTF-8 path a line, into the file named by its one argument.
#include <windows.h>

#include <string>
#include <vector>

#include "core/discovery.h"
#include "core/owner.h"
#include "core/utf8.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    std::vector<std::wstring> paths;
    kestrune::DiscoverDaemons(paths);
    std::string text = "count " + std::to_string(paths.size()) + "\n";
    for (const std::wstring& path : paths) text += kestrune::ToUtf8(path) + "\n";
    const kestrune::FileOwner file(
        CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 3;
    DWORD written = 0;
    BOOL ok = WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return ok && written == text.size() ? 0 : 4;
}
