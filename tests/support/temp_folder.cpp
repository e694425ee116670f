#include "temp_folder.h"

#include <windows.h>

#include <atomic>

#include "core/owner.h"

namespace kestrune::test {

TempFolder::TempFolder() {
    static std::atomic<int> sequence{0};
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"kestrune-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++sequence) + L"\\";
    CreateFolders(path_);
}

TempFolder::~TempFolder() {
    RemoveTree(path_);
}

std::wstring TempFolder::Make(const std::wstring& relative) const {
    std::wstring full = path_ + relative;
    size_t separator = full.find_last_of(L'\\');
    if (separator != std::wstring::npos) CreateFolders(full.substr(0, separator + 1));
    return full;
}

void CreateFolders(const std::wstring& folder) {
    for (size_t i = 3; i <= folder.size(); ++i) {
        if (i == folder.size() || folder[i] == L'\\') CreateDirectoryW(folder.substr(0, i).c_str(), nullptr);
    }
}

void RemoveTree(const std::wstring& folder) {
    std::wstring base = folder;
    if (!base.empty() && base.back() != L'\\') base += L'\\';
    WIN32_FIND_DATAW entry;
    // The listing is closed before its folder can be removed.
    if (const FindOwner listing(FindFirstFileW((base + L"*").c_str(), &entry)); listing) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = base + name;
            SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full);
            } else {
                DeleteFileW(full.c_str());
            }
        } while (FindNextFileW(listing.get(), &entry));
    }
    RemoveDirectoryW(base.c_str());
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    const FileOwner file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    return ok && written == bytes.size();
}

std::string ReadFileBytes(const std::wstring& path) {
    std::string content;
    const FileOwner file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return content;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) content.append(buffer, read);
    return content;
}

}  // namespace kestrune::test
