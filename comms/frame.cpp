/*
 * frame.cpp - the library frame: start-up and clean-up of the socket
 * layer, the handle record's allocation, and the registry configuration.
 *
 * Callers of the shipped library ask for Windows Sockets 1.1 and rely on
 * getting exactly that version, so any other grant counts as a failure.
 * The configuration is read at every open, each value with its own open of
 * the key, so a change in the registry takes effect at the next open.
 */
#include "frame.h"

#include <new>

#include "internal.h"
#include "network/socket_calls.h"

namespace orv {

std::atomic<HINSTANCE> g_instance{nullptr};
SocketCalls g_socket_calls = {::connect, ::send, ::recv, ::WSAStartup, ::WSACleanup, ::WSAIoctl};

namespace {

constexpr WORD kSocketsVersion = MAKEWORD(1, 1);
constexpr char kConfigKey[] = "Software\\ORV_DMRXDLL";

std::atomic<uint32_t> g_last_time{kDefaultTime};
std::atomic<uint32_t> g_last_retry{kDefaultRetry};

uint32_t OrDefault(DWORD value, uint32_t fallback) {
    return value == 0 ? fallback : value;
}

bool IsTextType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

}  // namespace

int Startup(HINSTANCE instance) {
    g_instance = instance;
    WSADATA data;
    if (g_socket_calls.startup(kSocketsVersion, &data) != 0)
        return 0;  // nothing was started, so nothing is undone
    if (data.wVersion == kSocketsVersion)
        return 1;
    // Started with another version: undo only our own start, so the host
    // program's count of starts stays as it was.
    g_socket_calls.cleanup();
    return 0;
}

int Cleanup() {
    return g_socket_calls.cleanup() == 0 ? 1 : 0;
}

HandleRecord* AllocRecord() {
    void* block = LocalAlloc(LPTR, sizeof(HandleRecord));
    if (block == nullptr)
        return nullptr;
    auto* record = new (block) HandleRecord();
    record->socket = INVALID_SOCKET;
    record->instance = g_instance;
    return record;
}

bool FreeRecord(HandleRecord* record) {
    if (record == nullptr)
        return true;
    record->~HandleRecord();
    return LocalFree(record) == nullptr;
}

bool CopyHostText(HandleRecord* record, const char* host) {
    size_t length = strnlen(host, kAddressSize);
    if (length >= kAddressSize) {
        record->address[0] = '\0';
        return false;
    }
    memcpy(record->address, host, length + 1);
    return true;
}

DWORD ReadConfigValue(const char* name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kConfigKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return 0;
    DWORD value = 0;
    DWORD type = REG_NONE;
    DWORD size = sizeof(value);
    LONG status = RegQueryValueExA(key, name, nullptr, &type,
                                   reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    // A value longer than 4 bytes fails with ERROR_MORE_DATA. Text would
    // read as its character codes ("5" as 53), so it counts as missing.
    if (status != ERROR_SUCCESS || IsTextType(type))
        return 0;
    return value;
}

TimeAndRetry QueryTimeAndRetry() {
    TimeAndRetry config;
    config.wait_seconds = OrDefault(ReadConfigValue("TIME"), kDefaultTime);
    config.retry_count = OrDefault(ReadConfigValue("RETRY"), kDefaultRetry);
    return config;
}

TimeAndRetry ReadTimeAndRetry() {
    TimeAndRetry config = QueryTimeAndRetry();
    g_last_time = config.wait_seconds;
    g_last_retry = config.retry_count;
    return config;
}

uint32_t ReadOpenTimeout() {
    return OrDefault(ReadConfigValue("OPEN_TIMEOUT"), kDefaultOpenTimeout);
}

TimeAndRetry LastTimeAndRetry() {
    return TimeAndRetry{g_last_time, g_last_retry};
}

DWORD SecondsToWaitMs(uint64_t seconds) {
    constexpr uint64_t kMaxSeconds = kMaxWaitMs / 1000;
    if (seconds > kMaxSeconds)
        return kMaxWaitMs;
    uint64_t ms = seconds * 1000;
    return ms > kMaxWaitMs ? kMaxWaitMs : static_cast<DWORD>(ms);
}

DWORD TransferTimeoutMs(uint32_t retry_count, uint32_t wait_seconds) {
    // Two 32-bit factors cannot overflow 64 bits.
    return SecondsToWaitMs(static_cast<uint64_t>(retry_count) * wait_seconds);
}

uint32_t ConnectCycles(uint32_t open_timeout) {
    constexpr uint32_t kMaxCycles = kMaxWaitMs / 1000;
    return open_timeout > kMaxCycles ? kMaxCycles : open_timeout;
}

}  // namespace orv
