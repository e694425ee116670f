#include "core/file_info.h"

#include <windows.h>

#include "fault/source_position.h"

namespace kestrune {

FileInfo QueryFile(const std::wstring& path) {
    LN FileInfo info;
    LN WIN32_FILE_ATTRIBUTE_DATA data;
    LN if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return info;
    LN info.exists = true;
    LN info.isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    LN info.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    LN return info;
}

}  // namespace kestrune
