// The three calls that wait in a hidden window's message loop (the status
// exchange, the connect probe, the ARP-table search) when the window
// cannot be made: each fails as without a reply, and the reason reaches
// the caller through the thread's last error. A CBT hook of the test's
// thread vetoes every window creation, which is also what a Wine prefix
// without a window driver does; neither gives a reason of its own.
#include "internal.h"
#include "net_fixture.h"

namespace {

using WindowRefused = NetTest;

/* The reason the library gives when the platform gives none. */
constexpr DWORD kNoWindowReason = ERROR_INVALID_WINDOW_HANDLE;

LRESULT CALLBACK VetoWindows(int code, WPARAM wparam, LPARAM lparam) {
    return code == HCBT_CREATEWND ? 1 : CallNextHookEx(nullptr, code, wparam, lparam);
}

class WindowVeto {
  public:
    WindowVeto() : hook_(SetWindowsHookExA(WH_CBT, VetoWindows, nullptr, GetCurrentThreadId())) {}
    ~WindowVeto() { UnhookWindowsHookEx(hook_); }
    bool ok() const { return hook_ != nullptr; }

  private:
    HHOOK hook_;
};

TEST_F(WindowRefused, EachWaitingCallFailsWithANonZeroReason) {
    // No window means no connection and no echo: nothing leaves this machine.
    OvHandle status = api_.OpenStatus("127.0.0.1");
    OvHandle search = api_.OpenSearch();
    ASSERT_NE(status, OV_INVALID_HANDLE);
    ASSERT_NE(search, OV_INVALID_HANDLE);
    WindowVeto veto;
    ASSERT_TRUE(veto.ok());

    unsigned char reply[16];
    DWORD length = 99;
    SetLastError(0);
    EXPECT_EQ(api_.GetStatus(status, reply, sizeof reply, &length), 0);
    EXPECT_EQ(GetLastError(), kNoWindowReason);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(api_.GetError(status), 0);

    SetLastError(0);
    EXPECT_EQ(api_.SendICMPAsync("127.0.0.1"), 0);
    EXPECT_EQ(GetLastError(), kNoWindowReason);

    OvSearchEntry found[2];
    DWORD count = 7;
    SetLastError(0);
    EXPECT_EQ(api_.SendSearch(search, found, 2, 0, 0, &count, ""), 0);
    EXPECT_EQ(GetLastError(), kNoWindowReason);
    EXPECT_EQ(count, 7u) << "no window, no run";
    EXPECT_EQ(api_.GetError(search), 0);

    EXPECT_EQ(api_.CloseStatus(status), 1);
    EXPECT_EQ(api_.CloseSearch(search), 1);
}

TEST_F(WindowRefused, AClassGoneFromUnderAStatusHandleGivesThePlatformsReason) {
    OvHandle status = api_.OpenStatus("127.0.0.1");
    ASSERT_NE(status, OV_INVALID_HANDLE);
    const orv::HandleRecord* record = orv::RecordOf(status);
    ASSERT_TRUE(UnregisterClassA(record->class_name, record->instance));
    unsigned char reply[16];
    DWORD length = 0;
    SetLastError(0);
    EXPECT_EQ(api_.GetStatus(status, reply, sizeof reply, &length), 0);
    DWORD reason = GetLastError();
    EXPECT_NE(reason, 0u);
    EXPECT_NE(reason, kNoWindowReason) << "the platform named its reason";
    EXPECT_EQ(api_.CloseStatus(status), 0) << "the class was gone already";
}

}  // namespace
