// What the host asks of a path before it trusts it.
#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

struct FileInfo {
    bool exists = false;
    bool isFolder = false;
    uint64_t size = 0;
};

FileInfo QueryFile(const std::wstring& path);

}  // namespace kestrune
