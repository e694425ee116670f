// The baseline for the start-up benchmark: loads the same daemon libraries from the
// wild_magic folder and its sub-folders, starts each EntryPoint on a thread, and nothing else.
#include <windows.h>

#include <string>
#include <vector>

namespace {

void Collect(const std::wstring& folder, int level, std::vector<std::wstring>& paths) {
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((folder + L"*.*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (level == 1) Collect(folder + name + L"\\", 2, paths);
        } else if (name.size() >= 4 && name.compare(name.size() - 4, 4, L".dll") == 0) {
            paths.push_back(folder + name);
        }
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
}

DWORD WINAPI RunEntryPoint(LPVOID entry) {
    reinterpret_cast<void (*)()>(entry)();
    return 0;
}

}  // namespace

int wmain() {
    wchar_t program[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring folder(program, length);
    folder = folder.substr(0, folder.find_last_of(L'\\') + 1) + L"wild_magic\\";
    std::vector<std::wstring> paths;
    Collect(folder, 1, paths);
    std::vector<void*> entries;
    for (const std::wstring& path : paths) {
        HMODULE library = LoadLibraryW(path.c_str());
        if (!library) continue;
        if (auto entry = GetProcAddress(library, "EntryPoint")) entries.push_back(reinterpret_cast<void*>(entry));
    }
    for (void* entry : entries) CloseHandle(CreateThread(nullptr, 4096, RunEntryPoint, entry, 0, nullptr));
    HANDLE quit = OpenEventW(SYNCHRONIZE, FALSE, L"Local\\KestruneBenchQuit");
    if (quit) WaitForSingleObject(quit, INFINITE);
    ExitProcess(0);
}
