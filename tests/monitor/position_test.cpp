// The window-position key against Wine's registry, under the named mutex
// "StatusRegSet_Mutex": where each run mode keeps it, how its values are
// read, written and deleted, and the mutex protocol around every
// operation. Named mutexes are shared by every process of the Wine
// prefix, so these tests run under the ctest resource lock of the
// monitor's named objects.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>

#include "placement.h"
#include "record.h"
#include "rig.h"

using namespace orv;

namespace {

constexpr char kPositionPath[] = "SOFTWARE\\ORV\\KTRMonitor-Status";

/* The bytes of a REG_BINARY value of the position key. */
std::string Stored(HKEY root, const char* name) {
    char data[64];
    DWORD size = sizeof data;
    if (RegGetValueA(root, kPositionPath, name, RRF_RT_REG_BINARY, nullptr, data, &size) != ERROR_SUCCESS)
        return "<missing>";
    return std::string(data, size);
}

LONG StoreTop(HKEY root, const std::string& bytes) {
    return RegSetKeyValueA(root, kPositionPath, kPositionTop, REG_BINARY, bytes.data(),
                           static_cast<DWORD>(bytes.size()));
}

/* Whether another owner (another thread) takes the mutex at once. */
bool MutexFree() {
    DWORD taken = WAIT_FAILED;
    std::thread([&] {
        HANDLE mutex = CreateMutexA(nullptr, FALSE, kPositionMutexName);
        taken = WaitForSingleObject(mutex, 2000);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }).join();
    return taken == WAIT_OBJECT_0;
}

/* One operation: its result, and the mutex released after it. */
void ExpectStep(const char* step, int result, int expected) {
    EXPECT_EQ(result, expected) << step;
    EXPECT_TRUE(MutexFree()) << step << " left the mutex owned";
}

TEST(Position, EachModeKeepsItUnderItsRootAndEveryOperationReleasesTheMutex) {
    const struct {
        const char* name;
        RunMode mode;
        HKEY other_root;
    } modes[] = {
        {"local mode", LocalModeSettings(), HKEY_CURRENT_USER},
        {"global mode", GlobalModeSettings(), HKEY_LOCAL_MACHINE},
    };
    for (const auto& m : modes) {
        SCOPED_TRACE(m.name);
        MonitorRig rig(m.mode, false);  // no record: SOFTWARE\ORV is not there
        ASSERT_TRUE(rig.ok());
        const HKEY root = m.mode.position_root;
        // Kept open so that the mutex lives on between operations, as it
        // does while another monitor runs: an operation that left it owned
        // would block every other holder for good.
        HANDLE keep = CreateMutexA(nullptr, FALSE, kPositionMutexName);
        ASSERT_NE(keep, nullptr);
        LONG x = 0, y = 0;
        ExpectStep("read, no key", ReadPosition(&x, &y), 0);
        ExpectStep("delete, no key", DeletePosition(), 0);
        HKEY orv;
        EXPECT_NE(RegOpenKeyExA(root, "SOFTWARE\\ORV", 0, KEY_READ, &orv), ERROR_SUCCESS) << "made by read or delete";

        // Four little-endian bytes a value, below the mode's root only.
        ExpectStep("write", WritePosition(-120, 200), 1);
        EXPECT_EQ(Stored(root, kPositionLeft), std::string("\x88\xff\xff\xff", 4));
        EXPECT_EQ(Stored(root, kPositionTop), std::string("\xc8\0\0\0", 4));
        EXPECT_EQ(Stored(m.other_root, kPositionLeft), "<missing>");
        ExpectStep("read", ReadPosition(&x, &y), 1);
        EXPECT_EQ(x, -120);
        EXPECT_EQ(y, 200);

        // Read fails, writing nothing, unless both values hold 4 bytes.
        x = 7, y = 8;
        ASSERT_EQ(StoreTop(root, std::string(2, '\1')), ERROR_SUCCESS);
        ExpectStep("read, 2 bytes", ReadPosition(&x, &y), 0);
        ASSERT_EQ(StoreTop(root, std::string(8, '\0')), ERROR_SUCCESS);
        ExpectStep("read, 8 bytes", ReadPosition(&x, &y), 0);
        ASSERT_EQ(RegDeleteKeyValueA(root, kPositionPath, kPositionTop), ERROR_SUCCESS);
        ExpectStep("read, no top", ReadPosition(&x, &y), 0);
        EXPECT_EQ(x, 7);
        EXPECT_EQ(y, 8);

        // Delete succeeds only when both values were there.
        ExpectStep("write again", WritePosition(1, 2), 1);
        ExpectStep("delete", DeletePosition(), 1);
        ExpectStep("read, no values", ReadPosition(&x, &y), 0);
        ExpectStep("delete, no values", DeletePosition(), 0);
        CloseHandle(keep);
    }
}

TEST(Position, OperationsWaitWhileAnotherHoldsTheMutexAndGoOnAfterOneDied) {
    MonitorRig rig(LocalModeSettings());
    ASSERT_TRUE(rig.ok());
    // The initial-owner flag of CreateMutex is ignored when the mutex
    // exists already (another process of the prefix may have it open), so
    // ownership is taken by a wait.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, kPositionMutexName);
    ASSERT_NE(mutex, nullptr);
    DWORD taken = WaitForSingleObject(mutex, 10000);
    ASSERT_TRUE(taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED) << taken;
    // Another thread is another owner of the mutex.
    std::thread writer([] { WritePosition(5, 6); });
    Sleep(300);
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kPositionLeft), "<missing>");
    ReleaseMutex(mutex);
    writer.join();
    EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE, kPositionLeft), std::string("\x05\0\0\0", 4));

    // An owner that ended without releasing it left it abandoned.
    std::thread([] {
        HANDLE owned = CreateMutexA(nullptr, FALSE, kPositionMutexName);
        WaitForSingleObject(owned, INFINITE);
        CloseHandle(owned);
    }).join();
    EXPECT_EQ(WritePosition(1, 1), 1);
    LONG x, y;
    EXPECT_EQ(ReadPosition(&x, &y), 1);
    CloseHandle(mutex);  // kept the mutex alive until here
}

/* A work area beside a 30-pixel taskbar on the left and below a 40-pixel
 * one at the top. */
constexpr RECT kOffsetWorkArea = {30, 40, 830, 640};

BOOL WINAPI OffsetWorkArea(UINT action, UINT, PVOID value, UINT) {
    if (action != SPI_GETWORKAREA)
        return FALSE;
    *static_cast<RECT*>(value) = kOffsetWorkArea;
    return TRUE;
}

struct OffsetWorkAreaInUse {
    decltype(g_system_parameters_info) saved = g_system_parameters_info;
    OffsetWorkAreaInUse() { g_system_parameters_info = OffsetWorkArea; }
    ~OffsetWorkAreaInUse() { g_system_parameters_info = saved; }
};

TEST(Position, IsStoredRelativeToTheWorkAreaAndMovedToTheScreenByItsOrigin) {
    MonitorRig rig(LocalModeSettings());
    ASSERT_TRUE(rig.ok());
    OffsetWorkAreaInUse work_area;
    const HWND window = rig.window();
    RECT rect = {};
    ASSERT_EQ(WritePosition(100, 50), 1);
    RestorePosition(window);
    ASSERT_TRUE(GetWindowRect(window, &rect));
    EXPECT_EQ(rect.left, 130);
    EXPECT_EQ(rect.top, 90);
    // Near the limits of a 32-bit number the move to the screen leaves
    // that range: such a position is off the screen, and the window is
    // centred.
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    const POINT centred = CentredOrigin(kOffsetWorkArea, width, height, true);
    for (LONG extreme : {LONG{INT32_MAX}, LONG{INT32_MAX - 35}, LONG{INT32_MIN}}) {
        ASSERT_EQ(WritePosition(extreme, extreme), 1);
        RestorePosition(window);
        ASSERT_TRUE(GetWindowRect(window, &rect));
        EXPECT_EQ(rect.left, centred.x) << extreme;
        EXPECT_EQ(rect.top, centred.y) << extreme;
    }

    // Wine's placement gives the normal position in screen coordinates,
    // so the window goes where its workspace corner would be centred.
    POINT centre = CentredOrigin(kOffsetWorkArea, rect.right - rect.left, rect.bottom - rect.top, false);
    SetWindowPos(window, nullptr, centre.x - 30, centre.y - 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SavePosition(window);
    LONG x = 0, y = 0;
    EXPECT_EQ(ReadPosition(&x, &y), 0) << "kept " << x << "," << y << " for the centre";
}

}  // namespace
