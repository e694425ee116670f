// The baseline of the benchmarks: loads the same daemon libraries from the wild_magic
// folder and its sub-folders, starts each EntryPoint on a thread, and nothing else.
//   bare_loader.exe            waits for the benchmark's quit event
//   bare_loader.exe --ticks    runs a message loop with a timer of the reaper's period
//                              (512 / (n + 1) ms) that checks one daemon thread per tick,
//                              the least a host that watches its daemons has to do; it
//                              ends at WM_QUIT
//   bare_loader.exe --close    at the quit event writes 255 into every state word, waits
//                              for every thread to end and frees every library: what the
//                              platform charges for a cooperative close, without a host
#include <windows.h>

#include <cwchar>
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

void RunTicks(const std::vector<HANDLE>& threads) {
    UINT period = static_cast<UINT>(512 / (threads.size() + 1));
    UINT_PTR timer = SetTimer(nullptr, 0, period, nullptr);
    size_t position = 0;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.wParam == timer && !threads.empty()) {
            WaitForSingleObject(threads[position], 0);
            position = (position + 1) % threads.size();
        }
        DispatchMessageW(&message);
    }
}

void CloseCooperatively(const std::vector<volatile LONG*>& words, const std::vector<HANDLE>& threads,
                        const std::vector<HMODULE>& libraries) {
    for (volatile LONG* word : words) *word = 255;
    for (HANDLE thread : threads) WaitForSingleObject(thread, INFINITE);
    for (HMODULE library : libraries) FreeLibrary(library);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    bool ticks = argc > 1 && wcscmp(argv[1], L"--ticks") == 0;
    bool close = argc > 1 && wcscmp(argv[1], L"--close") == 0;
    if (ticks) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before anyone posts WM_QUIT
    }
    wchar_t program[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring folder(program, length);
    folder = folder.substr(0, folder.find_last_of(L'\\') + 1) + L"wild_magic\\";
    std::vector<std::wstring> paths;
    Collect(folder, 1, paths);
    std::vector<void*> entries;
    std::vector<volatile LONG*> words;
    std::vector<HMODULE> libraries;
    for (const std::wstring& path : paths) {
        HMODULE library = LoadLibraryW(path.c_str());
        if (!library) continue;
        libraries.push_back(library);
        if (auto entry = GetProcAddress(library, "EntryPoint")) entries.push_back(reinterpret_cast<void*>(entry));
        using StateFunction = volatile LONG* (*)();
        auto state = reinterpret_cast<StateFunction>(reinterpret_cast<void*>(GetProcAddress(library, "EntryState")));
        if (volatile LONG* word = state ? state() : nullptr) words.push_back(word);
    }
    std::vector<HANDLE> threads;
    for (void* entry : entries) {
        if (HANDLE thread = CreateThread(nullptr, 4096, RunEntryPoint, entry, 0, nullptr)) threads.push_back(thread);
    }
    if (ticks) {
        RunTicks(threads);
    } else if (HANDLE quit = OpenEventW(SYNCHRONIZE, FALSE, L"Local\\KestruneBenchQuit")) {
        WaitForSingleObject(quit, INFINITE);
        if (close) CloseCooperatively(words, threads, libraries);
    }
    ExitProcess(0);
}
