// A fresh folder for one test, removed with everything in it at the end.
#pragma once

#include <string>

namespace kestrune::test {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder's path, ending in "\".
    const std::wstring& path() const { return path_; }
    // path() followed by relative, with any missing parent folders created.
    std::wstring Make(const std::wstring& relative) const;

private:
    std::wstring path_;
};

// Removes a folder and everything below it.
void RemoveTree(const std::wstring& folder);

// Creates every missing folder of path (a folder path).
void CreateFolders(const std::wstring& folder);

// Writes bytes into a new file.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);

// The whole content of a file, read even while another process still writes it; empty when it
// cannot be read.
std::string ReadFileBytes(const std::wstring& path);

}  // namespace kestrune::test
