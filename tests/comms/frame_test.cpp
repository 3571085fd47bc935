// The library frame: loading, the export list, start-up and clean-up of
// the socket layer, the last-error read and the registry configuration.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frame.h"
#include "internal.h"
#include "ovapi.h"
#include "registry_sandbox.h"
#include "network/socket_calls.h"

namespace {

struct ExportRow {
    int ordinal;
    std::string name;
};

// The list is read from the export list file; the path is the host path
// of the source tree, which Wine maps to drive Z:.
std::vector<ExportRow> ReadExportList() {
    std::vector<ExportRow> rows;
    std::string path = std::string("Z:") + ORV_EXPORTS_LIST;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        ExportRow row;
        int bytes;
        if (fields >> row.ordinal >> row.name >> bytes)
            rows.push_back(row);
    }
    return rows;
}

TEST(LibraryLoading, EveryExportResolvesByNameAndByOrdinalToTheSameFunction) {
    std::vector<ExportRow> rows = ReadExportList();
    ASSERT_FALSE(rows.empty());
    HMODULE module = LoadLibraryA("orvcomms.dll");
    ASSERT_NE(module, nullptr);
    for (const ExportRow& row : rows) {
        FARPROC by_name = GetProcAddress(module, row.name.c_str());
        FARPROC by_ordinal = GetProcAddress(module, MAKEINTRESOURCEA(row.ordinal));
        EXPECT_NE(by_name, nullptr) << row.name;
        EXPECT_EQ(by_name, by_ordinal) << row.name << " @" << row.ordinal;
    }
    FreeLibrary(module);
}

TEST(LibraryLoading, LoadsAndUnloadsRepeatedlyWithoutStartup) {
    for (int i = 0; i < 20; ++i) {
        HMODULE module = LoadLibraryA("orvcomms.dll");
        ASSERT_NE(module, nullptr);
        ASSERT_TRUE(FreeLibrary(module));
    }
}

TEST(Startup, GrantsSocketsOneOneAndCleansUp) {
    OvApi api;
    ASSERT_TRUE(api.Load());
    EXPECT_EQ(api.Startup(GetModuleHandleA(nullptr)), 1);
    // The library started the socket layer for this process: a socket can
    // be made without a start-up of our own.
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_NE(s, INVALID_SOCKET);
    closesocket(s);
    EXPECT_EQ(api.Cleanup(), 1);
}

TEST(Startup, StartsAreCountedAndACleanupWithoutStartupFails) {
    OvApi api;
    ASSERT_TRUE(api.Load());
    EXPECT_EQ(api.Startup(GetModuleHandleA(nullptr)), 1);
    EXPECT_EQ(api.Startup(nullptr), 1);  // NULL is taken as any instance
    EXPECT_EQ(api.Cleanup(), 1);
    EXPECT_EQ(api.Cleanup(), 1);
    // Balanced now; a further clean-up has no start-up to undo.
    EXPECT_EQ(api.Cleanup(), 0);
}

// The host program's own start of the socket layer must survive a failed
// OvStartup. A real socket layer grants 1.1 whenever asked, so the start
// of the library is replaced; its clean-up stays the real one.
int g_granted_version = 0;  // 0: the start fails

int WSAAPI ScriptedStartup(WORD version, LPWSADATA data) {
    if (g_granted_version == 0)
        return WSASYSNOTREADY;
    int result = ::WSAStartup(version, data);
    data->wVersion = static_cast<WORD>(g_granted_version);
    return result;
}

bool SocketLayerStarted() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    closesocket(s);
    return true;
}

TEST(Startup, AFailedStartLeavesTheHostProgramsStartAlone) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);  // the host program's own start
    orv::g_socket_calls.startup = ScriptedStartup;
    for (int granted : {0, int{MAKEWORD(2, 2)}}) {
        g_granted_version = granted;
        EXPECT_EQ(orv::Startup(GetModuleHandleA(nullptr)), 0) << granted;
        EXPECT_TRUE(SocketLayerStarted()) << granted;
    }
    orv::g_socket_calls.startup = ::WSAStartup;
    // A start with the wrong version was undone: the host's own clean-up
    // is the last one.
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_FALSE(SocketLayerStarted());
}

TEST(Startup, KeepsTheInstanceForNewRecords) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    ASSERT_EQ(orv::Startup(instance), 1);
    orv::HandleRecord* record = orv::AllocRecord();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->instance, instance);
    EXPECT_EQ(record->socket, INVALID_SOCKET);
    EXPECT_EQ(record->last_error.load(), 0);
    orv::FreeRecord(record);
    orv::Cleanup();
}

TEST(GetError, NullHandleGivesZero) {
    OvApi api;
    ASSERT_TRUE(api.Load());
    EXPECT_EQ(api.GetError(0), 0);
}

TEST(GetError, TheFailureValueOfAnOpenIsTreatedLikeTheNullHandle) {
    OvApi api;
    ASSERT_TRUE(api.Load());
    EXPECT_EQ(api.GetError(OV_INVALID_HANDLE), 0);
    char buffer[4];
    DWORD count = 7;
    EXPECT_EQ(api.ReadPort(OV_INVALID_HANDLE, buffer, 4, &count), 0);
    EXPECT_EQ(api.RecvPort(OV_INVALID_HANDLE, buffer, 4, &count), 0);
    EXPECT_EQ(api.WritePort(OV_INVALID_HANDLE, buffer, 4, &count), 0);
    EXPECT_EQ(api.WritePortAsync(OV_INVALID_HANDLE, buffer, 4, &count), 0);
    EXPECT_EQ(api.ClosePort(OV_INVALID_HANDLE), 0);
    EXPECT_EQ(count, 7u);
}

TEST(GetError, ReturnsTheRecordsLastError) {
    OvApi api;
    ASSERT_TRUE(api.Load());
    orv::HandleRecord* record = orv::AllocRecord();
    ASSERT_NE(record, nullptr);
    record->last_error = 10054;
    EXPECT_EQ(api.GetError(orv::HandleOf(record)), 10054);
    record->last_error = -1;
    EXPECT_EQ(api.GetError(orv::HandleOf(record)), -1);
    orv::FreeRecord(record);
}

TEST(HostText, SixtySevenCharactersFitAndSixtyEightAreRefused) {
    orv::HandleRecord* record = orv::AllocRecord();
    ASSERT_NE(record, nullptr);
    std::string fits(67, 'h');
    EXPECT_TRUE(orv::CopyHostText(record, fits.c_str()));
    EXPECT_EQ(std::string(record->address), fits);
    std::string too_long(68, 'h');
    EXPECT_FALSE(orv::CopyHostText(record, too_long.c_str()));
    EXPECT_EQ(record->address[0], '\0');
    orv::FreeRecord(record);
}

class Configuration : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(registry_.ok()); }
    RegistrySandbox registry_;
};

TEST_F(Configuration, MissingKeyGivesTheDefaults) {
    orv::TimeAndRetry config = orv::ReadTimeAndRetry();
    EXPECT_EQ(config.wait_seconds, 4u);
    EXPECT_EQ(config.retry_count, 2u);
    EXPECT_EQ(orv::ReadOpenTimeout(), 1u);
}

TEST_F(Configuration, ZeroBehavesLikeAMissingValue) {
    registry_.SetDword(kOrvConfigKey, "TIME", 0);
    registry_.SetDword(kOrvConfigKey, "RETRY", 0);
    registry_.SetDword(kOrvConfigKey, "OPEN_TIMEOUT", 0);
    orv::TimeAndRetry config = orv::ReadTimeAndRetry();
    EXPECT_EQ(config.wait_seconds, 4u);
    EXPECT_EQ(config.retry_count, 2u);
    EXPECT_EQ(orv::ReadOpenTimeout(), 1u);
}

TEST_F(Configuration, StoredNumbersAreUsedAndKeptAsTheLastRead) {
    registry_.SetDword(kOrvConfigKey, "TIME", 7);
    registry_.SetDword(kOrvConfigKey, "RETRY", 3);
    registry_.SetDword(kOrvConfigKey, "OPEN_TIMEOUT", 5);
    orv::TimeAndRetry config = orv::ReadTimeAndRetry();
    EXPECT_EQ(config.wait_seconds, 7u);
    EXPECT_EQ(config.retry_count, 3u);
    EXPECT_EQ(orv::ReadOpenTimeout(), 5u);
    EXPECT_EQ(orv::LastTimeAndRetry().wait_seconds, 7u);
    EXPECT_EQ(orv::LastTimeAndRetry().retry_count, 3u);
}

TEST_F(Configuration, EachReadSeesTheRegistryAsItIsNow) {
    registry_.SetDword(kOrvConfigKey, "TIME", 9);
    EXPECT_EQ(orv::ReadTimeAndRetry().wait_seconds, 9u);
    registry_.SetDword(kOrvConfigKey, "TIME", 1);
    EXPECT_EQ(orv::ReadTimeAndRetry().wait_seconds, 1u);
}

TEST_F(Configuration, ValuesLongerThanFourBytesGiveTheDefault) {
    unsigned char eight[8] = {9, 0, 0, 0, 0, 0, 0, 0};
    registry_.SetBinary(kOrvConfigKey, "TIME", eight, sizeof eight);
    registry_.SetBinary(kOrvConfigKey, "OPEN_TIMEOUT", eight, sizeof eight);
    EXPECT_EQ(orv::ReadTimeAndRetry().wait_seconds, 4u);
    EXPECT_EQ(orv::ReadOpenTimeout(), 1u);
}

TEST_F(Configuration, ShortBinaryValuesReadAsNumbers) {
    unsigned char two[2] = {0x2C, 0x01};  // 300
    registry_.SetBinary(kOrvConfigKey, "RETRY", two, sizeof two);
    EXPECT_EQ(orv::ReadTimeAndRetry().retry_count, 300u);
}

TEST_F(Configuration, ValuesAreUnsignedAndWaitsSaturate) {
    registry_.SetDword(kOrvConfigKey, "TIME", 0xFFFFFFFF);
    registry_.SetDword(kOrvConfigKey, "RETRY", 0x80000000);
    registry_.SetDword(kOrvConfigKey, "OPEN_TIMEOUT", 0x80000000);
    orv::TimeAndRetry config = orv::ReadTimeAndRetry();
    EXPECT_EQ(config.wait_seconds, 0xFFFFFFFFu);
    EXPECT_EQ(config.retry_count, 0x80000000u);
    EXPECT_EQ(orv::ReadOpenTimeout(), 0x80000000u);
    struct Case {
        uint32_t retry, time;
        DWORD ms;
    } cases[] = {
        {2, 4, 8000},
        {1, 2147483, 2147483000},        // the longest whole-second wait
        {1, 2147484, OV_MAX_WAIT_MS},
        {0x10000, 0x10000, OV_MAX_WAIT_MS},  // the product wraps 32 bits
        {0x80000000, 1, OV_MAX_WAIT_MS},
        {0xFFFFFFFF, 0xFFFFFFFF, OV_MAX_WAIT_MS},  // x 1000 wraps 64 bits
    };
    for (const Case& c : cases)
        EXPECT_EQ(orv::TransferTimeoutMs(c.retry, c.time), c.ms) << c.retry << " x " << c.time;
    EXPECT_EQ(orv::ConnectCycles(0xFFFFFFFF), OV_MAX_WAIT_MS / 1000);
    EXPECT_EQ(orv::ConnectCycles(3), 3u);
}

TEST_F(Configuration, TextValuesGiveTheDefault) {
    // "5" would otherwise read as its character code, 53 seconds.
    registry_.SetString(kOrvConfigKey, "TIME", "5");
    registry_.SetString(kOrvConfigKey, "RETRY", "3");
    registry_.SetString(kOrvConfigKey, "OPEN_TIMEOUT", "9");
    orv::TimeAndRetry config = orv::ReadTimeAndRetry();
    EXPECT_EQ(config.wait_seconds, 4u);
    EXPECT_EQ(config.retry_count, 2u);
    EXPECT_EQ(orv::ReadOpenTimeout(), 1u);
}

}  // namespace
