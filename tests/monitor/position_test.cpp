// The window-position key against Wine's registry, under the named mutex
// "StatusRegSet_Mutex": where each run mode keeps it, how its values are
// read, written and deleted, and the mutex protocol around every
// operation. Named mutexes are shared by every process of the Wine
// prefix, so these tests run under the ctest resource lock of the
// monitor's named objects.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "record.h"
#include "rig.h"

using namespace orv;

namespace {

constexpr char kPositionPath[] = "SOFTWARE\\ORV\\KTRMonitor-Status";

struct StoredValue {
    LONG status;
    DWORD type;
    std::string data;  // every byte stored
};

StoredValue ReadStored(HKEY root, const char* path, const char* name) {
    StoredValue value{0, 0, {}};
    HKEY key;
    value.status = RegOpenKeyExA(root, path, 0, KEY_READ, &key);
    if (value.status != ERROR_SUCCESS)
        return value;
    char data[64];
    DWORD size = sizeof data;
    value.status = RegQueryValueExA(key, name, nullptr, &value.type, reinterpret_cast<BYTE*>(data), &size);
    if (value.status == ERROR_SUCCESS)
        value.data.assign(data, size);
    RegCloseKey(key);
    return value;
}

bool KeyExists(HKEY root, const char* path) {
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

TEST(Position, LocalModeKeepsItUnderTheMachineRootAsFourLittleEndianBytes) {
    MonitorRig rig(LocalModeSettings());
    ASSERT_TRUE(rig.ok());
    ASSERT_EQ(WritePosition(-120, 45), 1);
    StoredValue left = ReadStored(HKEY_LOCAL_MACHINE, kPositionPath, kPositionLeft);
    ASSERT_EQ(left.status, ERROR_SUCCESS);
    EXPECT_EQ(left.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(left.data, std::string("\x88\xff\xff\xff", 4));
    EXPECT_EQ(ReadStored(HKEY_CURRENT_USER, kPositionPath, kPositionLeft).status,
              ERROR_FILE_NOT_FOUND);
    LONG x = 0, y = 0;
    ASSERT_EQ(ReadPosition(&x, &y), 1);
    EXPECT_EQ(x, -120);
    EXPECT_EQ(y, 45);
}

TEST(Position, GlobalModeKeepsItUnderTheCurrentUser) {
    MonitorRig rig(GlobalModeSettings());
    ASSERT_TRUE(rig.ok());
    ASSERT_EQ(WritePosition(300, 200), 1);
    EXPECT_EQ(ReadStored(HKEY_CURRENT_USER, kPositionPath, kPositionTop).data,
              std::string("\xc8\0\0\0", 4));
    EXPECT_EQ(ReadStored(HKEY_LOCAL_MACHINE, kPositionPath, kPositionTop).status,
              ERROR_FILE_NOT_FOUND);
}

TEST(Position, ReadFailsUnlessBothValuesHoldFourBytes) {
    MonitorRig rig(LocalModeSettings());
    ASSERT_TRUE(rig.ok());
    LONG x = 7, y = 8;
    EXPECT_EQ(ReadPosition(&x, &y), 0);  // no key yet
    ASSERT_EQ(WritePosition(1, 2), 1);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPositionPath, 0, KEY_ALL_ACCESS,
                            &key),
              ERROR_SUCCESS);
    const BYTE two[2] = {1, 0};
    ASSERT_EQ(RegSetValueExA(key, kPositionTop, 0, REG_BINARY, two, 2), ERROR_SUCCESS);
    EXPECT_EQ(ReadPosition(&x, &y), 0);
    const BYTE eight[8] = {};
    ASSERT_EQ(RegSetValueExA(key, kPositionTop, 0, REG_BINARY, eight, 8), ERROR_SUCCESS);
    EXPECT_EQ(ReadPosition(&x, &y), 0);
    ASSERT_EQ(RegDeleteValueA(key, kPositionTop), ERROR_SUCCESS);
    EXPECT_EQ(ReadPosition(&x, &y), 0);
    RegCloseKey(key);
    EXPECT_EQ(x, 7);  // nothing written on failure
    EXPECT_EQ(y, 8);
}

TEST(Position, DeleteSucceedsOnlyWhenBothValuesWereThere) {
    MonitorRig rig(LocalModeSettings());
    ASSERT_TRUE(rig.ok());
    EXPECT_EQ(DeletePosition(), 0);  // no key
    ASSERT_EQ(WritePosition(10, 20), 1);
    EXPECT_EQ(DeletePosition(), 1);
    LONG x, y;
    EXPECT_EQ(ReadPosition(&x, &y), 0);
    EXPECT_EQ(DeletePosition(), 0);  // already gone
}

TEST(Position, OperationsWaitWhileAnotherHoldsTheMutex) {
    MonitorRig rig(LocalModeSettings());
    ASSERT_TRUE(rig.ok());
    // The initial-owner flag of CreateMutex is ignored when the mutex
    // exists already (another process of the prefix may have it open), so
    // ownership is taken by a wait.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "StatusRegSet_Mutex");
    ASSERT_NE(mutex, nullptr);
    DWORD taken = WaitForSingleObject(mutex, 10000);
    ASSERT_TRUE(taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED) << taken;
    // Another thread is another owner of the mutex.
    std::thread writer([] { WritePosition(5, 6); });
    Sleep(300);
    EXPECT_EQ(ReadStored(HKEY_LOCAL_MACHINE, kPositionPath, kPositionLeft).status,
              ERROR_FILE_NOT_FOUND);
    ReleaseMutex(mutex);
    writer.join();
    EXPECT_EQ(ReadStored(HKEY_LOCAL_MACHINE, kPositionPath, kPositionLeft).data,
              std::string("\x05\0\0\0", 4));
    CloseHandle(mutex);
}

TEST(Position, AnAbandonedMutexStillLetsTheOperationRun) {
    MonitorRig rig(LocalModeSettings());
    ASSERT_TRUE(rig.ok());
    HANDLE keep = CreateMutexA(nullptr, FALSE, "StatusRegSet_Mutex");  // keeps it alive
    std::thread owner([] {
        HANDLE mutex = CreateMutexA(nullptr, FALSE, "StatusRegSet_Mutex");
        WaitForSingleObject(mutex, INFINITE);
        CloseHandle(mutex);  // the thread ends without releasing it
    });
    owner.join();
    EXPECT_EQ(WritePosition(1, 1), 1);
    LONG x, y;
    EXPECT_EQ(ReadPosition(&x, &y), 1);
    CloseHandle(keep);
}

TEST(Position, EveryOperationReleasesTheMutexOnEveryPath) {
    MonitorRig rig(LocalModeSettings());
    ASSERT_TRUE(rig.ok());
    // Kept open so that the mutex lives on between operations, as it does
    // while another monitor runs: an operation that left it owned would
    // block every other holder for good.
    HANDLE keep = CreateMutexA(nullptr, FALSE, kPositionMutexName);
    ASSERT_NE(keep, nullptr);
    LONG x, y;
    const struct {
        const char* path;
        std::function<int()> operation;
        int result;
    } steps[] = {
        {"read, no key", [&] { return ReadPosition(&x, &y); }, 0},
        {"delete, no key", [] { return DeletePosition(); }, 0},
        {"write", [] { return WritePosition(3, 4); }, 1},
        {"read", [&] { return ReadPosition(&x, &y); }, 1},
        {"delete", [] { return DeletePosition(); }, 1},
        {"read, no values", [&] { return ReadPosition(&x, &y); }, 0},
        {"delete, no values", [] { return DeletePosition(); }, 0},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(step.operation(), step.result) << step.path;
        // Another owner takes the mutex at once.
        DWORD taken = WAIT_FAILED;
        std::thread other([&] {
            HANDLE mutex = CreateMutexA(nullptr, FALSE, kPositionMutexName);
            taken = WaitForSingleObject(mutex, 2000);
            ReleaseMutex(mutex);
            CloseHandle(mutex);
        });
        other.join();
        EXPECT_EQ(taken, WAIT_OBJECT_0) << step.path;
    }
    CloseHandle(keep);
}

TEST(Position, ReadAndDeleteNeverCreateTheKey) {
    for (const RunMode& mode : {LocalModeSettings(), GlobalModeSettings()}) {
        MonitorRig rig(mode, false);
        ASSERT_TRUE(rig.ok());
        LONG x, y;
        EXPECT_EQ(ReadPosition(&x, &y), 0);
        EXPECT_EQ(DeletePosition(), 0);
        EXPECT_FALSE(KeyExists(mode.position_root, "SOFTWARE\\ORV"));
        EXPECT_EQ(WritePosition(1, 2), 1);  // only a write creates it
        EXPECT_TRUE(KeyExists(mode.position_root, kPositionPath));
    }
}

}  // namespace
