#include "process_handles.h"

#include <windows.h>

#include <vector>

namespace {

constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

struct SystemHandleEntry {
    ULONG owner_process_id;
    BYTE object_type;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
};

struct SystemHandleList {
    ULONG count;
    SystemHandleEntry entries[1];
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

long CountFromSystemList(DWORD process_id) {
    auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr)
        return -1;
    std::vector<char> buffer(1 << 20);
    LONG status;
    ULONG needed = 0;
    for (int tries = 0; tries < 8; ++tries) {
        status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status != kStatusInfoLengthMismatch)
            break;
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0)
        return -1;
    const auto* list = reinterpret_cast<const SystemHandleList*>(buffer.data());
    long mine = 0;
    for (ULONG i = 0; i < list->count; ++i)
        if (list->entries[i].owner_process_id == process_id)
            ++mine;
    return mine;
}

}  // namespace

long CountProcessHandles() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0)
        return static_cast<long>(count);
    return CountFromSystemList(GetCurrentProcessId());
}

long CountHandlesOf(DWORD process_id) {
    return CountFromSystemList(process_id);
}

bool HandleCountingWorks() {
    long before = CountProcessHandles();
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr)
        return false;
    long with_event = CountProcessHandles();
    CloseHandle(event);
    return before > 0 && with_event == before + 1 && CountProcessHandles() == before;
}
