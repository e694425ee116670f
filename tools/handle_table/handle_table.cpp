#include "handle_table.h"

#include <algorithm>
#include <cstddef>

namespace kestrune {
namespace {

// The table as NtQuerySystemInformation hands it out.
struct HandleTableEntry {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG access;
    USHORT creatorBackTraceIndex;
    USHORT typeIndex;
    ULONG attributes;
    ULONG reserved;
};
struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleTableEntry entries[1];
};
constexpr int SystemExtendedHandleInformation = 64;
constexpr LONG StatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr size_t MaximumHandleTableBytes = 256u * 1024 * 1024;

}  // namespace

bool ReadHandleTable(DWORD processId, std::vector<uintptr_t>& values) {
    using Query = LONG(WINAPI*)(int, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return false;
    std::vector<unsigned char> buffer(64 * 1024);
    LONG status;
    ULONG needed = 0;
    while ((status = query(SystemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                           &needed)) == StatusInfoLengthMismatch) {
        if (buffer.size() >= MaximumHandleTableBytes) return false;
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) return false;
    auto* table = reinterpret_cast<HandleTable*>(buffer.data());
    size_t room = (buffer.size() - offsetof(HandleTable, entries)) / sizeof(HandleTableEntry);
    size_t count = std::min<size_t>(table->count, room);
    for (size_t i = 0; i < count; ++i) {
        if (table->entries[i].processId == processId) values.push_back(table->entries[i].handle);
    }
    return true;
}

bool ReadHandleCount(DWORD processId, size_t& count) {
    std::vector<uintptr_t> values;
    if (!ReadHandleTable(processId, values)) return false;
    count = values.size();
    return true;
}

}  // namespace kestrune
