// The status channel: one request and one reply on the command port per
// call, inside a hidden window's message loop on the caller's thread.
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "internal.h"
#include "net_fixture.h"
#include "reach_rig.h"

namespace {

using StatusChannel = NetTest;

constexpr char kDefaultDeviceId[] = "MFG:ORV;CMD:ESC/P;MDL:orv2100N;CLS:PRINTER;";
constexpr char kDefaultStatus[] = "STATUS:READY   \n";

std::string Bytes(const unsigned char* data, DWORD length) {
    return std::string(reinterpret_cast<const char*>(data), length);
}

TEST_F(StatusChannel, BadHostTextsAndNullHandlesAreRefused) {
    SetLastError(0);
    EXPECT_EQ(api_.OpenStatus(nullptr), OV_INVALID_HANDLE);
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_EQ(api_.OpenStatus(""), OV_INVALID_HANDLE);
    EXPECT_EQ(api_.OpenStatus(std::string(68, 'a').c_str()), OV_INVALID_HANDLE);
    OvHandle longest = api_.OpenStatus(std::string(67, 'a').c_str());
    EXPECT_NE(longest, OV_INVALID_HANDLE);
    EXPECT_EQ(api_.CloseStatus(longest), 1);

    unsigned char buffer[8];
    DWORD length = 5;
    for (OvHandle handle : {static_cast<OvHandle>(0), OV_INVALID_HANDLE}) {
        EXPECT_EQ(api_.GetStatus(handle, buffer, sizeof buffer, &length), 0);
        EXPECT_EQ(api_.GetDeviceID(handle, buffer, sizeof buffer, &length), 0);
        EXPECT_EQ(api_.CloseStatus(handle), 0);
        EXPECT_EQ(api_.GetError(handle), 0);
    }
    EXPECT_EQ(length, 5u);
}

TEST_F(StatusChannel, RepliesArriveUnchangedInOneReceiveCutToTheBuffer) {
    std::string reply, hex;  // 300 bytes, every byte value among them
    for (int i = 0; i < 300; ++i) {
        char digits[3];
        snprintf(digits, sizeof digits, "%02x", (i * 7) & 0xFF);
        hex += digits;
        reply.push_back(static_cast<char>(i * 7));
    }
    SimPrinter printer(TestAddress(), "status_reply=" + hex);
    ASSERT_SIM(printer);
    OvHandle handle = api_.OpenStatus(printer.address().c_str());
    ASSERT_NE(handle, OV_INVALID_HANDLE);
    EXPECT_EQ(api_.GetError(handle), 0);
    const struct {
        DWORD size;
        DWORD expected;
    } cases[] = {{512, 256}, {256, 256}, {10, 10}, {1, 1}, {0, 0}};
    for (const auto& c : cases) {
        std::vector<unsigned char> buffer(512, 0xEE);
        DWORD length = 99;
        EXPECT_EQ(api_.GetStatus(handle, buffer.data(), c.size, &length), 1) << c.size;
        ASSERT_EQ(length, c.expected) << c.size;
        EXPECT_EQ(Bytes(buffer.data(), length), reply.substr(0, length)) << c.size;
        EXPECT_EQ(std::count(buffer.begin() + length, buffer.end(), 0xEE), 512 - length)
            << "bytes written past the reply, size " << c.size;
        EXPECT_EQ(api_.GetError(handle), 1) << c.size;
    }
    DWORD length = 99;
    EXPECT_EQ(api_.GetStatus(handle, nullptr, 0, &length), 1);
    EXPECT_EQ(length, 0u);
    unsigned char buffer[64];
    EXPECT_EQ(api_.GetDeviceID(handle, buffer, sizeof buffer, &length), 1);
    EXPECT_EQ(Bytes(buffer, length), kDefaultDeviceId);

    // Missing out-arguments: no exchange, no reply.
    EXPECT_EQ(api_.GetStatus(handle, buffer, sizeof buffer, nullptr), 0);
    EXPECT_EQ(api_.GetDeviceID(handle, nullptr, 16, &length), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(api_.GetError(handle), 0);

    // One connection per exchange, each carrying one 16-byte request.
    SimStats stats;
    ASSERT_TRUE(printer.WaitFor("command_ended", std::size(cases) + 2, 3000, &stats));
    EXPECT_EQ(stats.Num("command_connections"), static_cast<long long>(std::size(cases)) + 2);
    EXPECT_EQ(stats.Num("command_extra_bytes"), 0);
    EXPECT_EQ(api_.CloseStatus(handle), 1);
}

TEST_F(StatusChannel, NoReplyIsOutcome0WithLength0) {
    SimPrinter printer(TestAddress(0));
    SimPrinter refusing(TestAddress(1), "command=off");
    ASSERT_SIM(printer);
    ASSERT_SIM(refusing);
    struct Case {
        const char* what;
        std::string host;
        const char* printer_turns;  // for `printer`: how it fails after one reply
        double min_seconds, max_seconds;
        DWORD reason;               // the thread's last error after the 0
        DWORD time_at_open = 1;     // TIME when the handle opens; 1 from then on
    };
    // A 64-character label is no valid DNS name: the resolver fails
    // without asking a name server.
    std::vector<Case> cases = {
        {"silent printer", printer.address(), "command_silent=on", 0.9, 3.0, WSAETIMEDOUT},
        {"silent printer, TIME 2 at the open", printer.address(), "command_silent=on", 1.9, 4.0, WSAETIMEDOUT, 2},
        {"closed without reply", printer.address(), "on_command=close", 0.9, 3.0, WSAETIMEDOUT},
        {"reset without reply", printer.address(), "on_command=reset", 0.9, 3.0, WSAETIMEDOUT},
        {"refusing port", refusing.address(), nullptr, 0, 2.0, WSAECONNREFUSED},
        {"unresolvable name", std::string(64, 'n'), nullptr, 0, 2.0, WSAHOST_NOT_FOUND},
    };
    if (ReachRigIsUp())
        cases.push_back({"host unreachable", kReachRigUnreachable, nullptr, 0, 2.0, WSAEHOSTUNREACH});
    for (const Case& c : cases) {
        Configure(c.time_at_open, 0);
        OvHandle handle = api_.OpenStatus(c.host.c_str());
        Configure(1, 0);
        ASSERT_NE(handle, OV_INVALID_HANDLE) << c.what;
        unsigned char buffer[64];
        DWORD length = 99;
        if (c.printer_turns != nullptr) {
            ASSERT_TRUE(printer.Set("command_silent=off on_command=reply")) << c.what;
            ASSERT_EQ(api_.GetStatus(handle, buffer, sizeof buffer, &length), 1) << c.what;
            ASSERT_TRUE(printer.Set(c.printer_turns)) << c.what;
        }
        Stopwatch watch;
        SetLastError(0);
        EXPECT_EQ(api_.GetStatus(handle, buffer, sizeof buffer, &length), 0) << c.what;
        EXPECT_EQ(GetLastError(), c.reason) << c.what;
        EXPECT_GE(watch.Seconds(), c.min_seconds) << c.what;
        EXPECT_LT(watch.Seconds(), c.max_seconds) << c.what;
        EXPECT_EQ(length, 0u) << c.what << " (the length of the previous reply?)";
        EXPECT_EQ(api_.GetError(handle), 0) << c.what;
        EXPECT_EQ(api_.CloseStatus(handle), 1) << c.what;
    }
}

/* A timer of the caller's own window: counts its ticks and, at the
 * first, tries the busy handle from inside the running loop. */
struct Caller {
    OvApi* api;
    OvHandle busy;
    int ticks, nested_get, nested_close;
    DWORD nested_length;
} g_caller;

void CALLBACK CallerTick(HWND, UINT, UINT_PTR, DWORD) {
    if (++g_caller.ticks == 1) {
        unsigned char buffer[16];
        g_caller.nested_get = g_caller.api->GetStatus(g_caller.busy, buffer, sizeof buffer, &g_caller.nested_length);
        g_caller.nested_close = g_caller.api->CloseStatus(g_caller.busy);
    }
}

TEST_F(StatusChannel, WhileAnExchangeWaitsOtherThreadsAndTheCallersWindowsCarryOn) {
    // The delay keeps the two threads' exchanges overlapping.
    SimPrinter printer(TestAddress(), "reply_delay_ms=150");
    ASSERT_SIM(printer);
    constexpr int kRounds = 4;
    auto exchanges = [&](OvHandle handle, bool device_id) {
        std::vector<std::string> replies;
        for (int i = 0; i < kRounds; ++i) {
            unsigned char buffer[256];
            DWORD length = 0;
            int got = device_id ? api_.GetDeviceID(handle, buffer, sizeof buffer, &length)
                                : api_.GetStatus(handle, buffer, sizeof buffer, &length);
            replies.push_back(got == 1 ? Bytes(buffer, length) : "(failed)");
        }
        return replies;
    };
    OvHandle mine = api_.OpenStatus(printer.address().c_str());
    OvHandle theirs = api_.OpenStatus(printer.address().c_str());
    ASSERT_NE(mine, OV_INVALID_HANDLE);
    ASSERT_NE(theirs, OV_INVALID_HANDLE);
    g_caller = {&api_, mine, 0, -1, -1, 99};
    HWND caller = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(caller != nullptr && SetTimer(caller, 7, 20, CallerTick) != 0);

    std::vector<std::string> ids;
    std::thread other([&] { ids = exchanges(theirs, true); });
    std::vector<std::string> statuses = exchanges(mine, false);
    other.join();
    DestroyWindow(caller);
    EXPECT_EQ(ids, std::vector<std::string>(kRounds, kDefaultDeviceId));
    EXPECT_EQ(statuses, std::vector<std::string>(kRounds, kDefaultStatus));
    EXPECT_GE(g_caller.ticks, 5) << "the caller's timer was not dispatched during the exchanges";
    EXPECT_EQ(g_caller.nested_get, 0) << "a second exchange on the busy handle";
    EXPECT_EQ(g_caller.nested_length, 0u) << "the refused call's length";
    EXPECT_EQ(g_caller.nested_close, 0) << "a close of the busy handle";
    EXPECT_EQ(printer.Stats().Num("command_connections"), 2 * kRounds);
    EXPECT_EQ(api_.CloseStatus(mine), 1);
    EXPECT_EQ(api_.CloseStatus(theirs), 1);
}

TEST_F(StatusChannel, EachHandleOwnsItsClassUntilClosedExchangeAfterExchange) {
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    const std::string host = printer.address();
    // Two handles for one host in the same millisecond: only the record
    // address tells their class names apart.
    int same_tick = 0;
    for (int i = 0; i < 60; ++i) {
        OvHandle first = api_.OpenStatus(host.c_str());
        OvHandle second = api_.OpenStatus(host.c_str());
        ASSERT_NE(first, OV_INVALID_HANDLE) << i;
        ASSERT_NE(second, OV_INVALID_HANDLE) << "the second handle's class could not be registered, " << i;
        std::string first_name = orv::RecordOf(first)->class_name;
        std::string second_name = orv::RecordOf(second)->class_name;
        unsigned long long first_tick = 0, second_tick = 0;
        ASSERT_EQ(sscanf(first_name.c_str(), "DmrxStatusClass %llu", &first_tick), 1) << first_name;
        ASSERT_EQ(sscanf(second_name.c_str(), "DmrxStatusClass %llu", &second_tick), 1) << second_name;
        EXPECT_NE(first_name.find(" " + host + " "), std::string::npos) << first_name;
        same_tick += first_tick == second_tick ? 1 : 0;

        unsigned char buffer[64];
        DWORD length = 0;
        ASSERT_EQ(api_.GetStatus(second, buffer, sizeof buffer, &length), 1) << i;
        WNDCLASSEXA info = {};
        info.cbSize = sizeof info;
        EXPECT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), first_name.c_str(), &info));
        EXPECT_EQ(api_.CloseStatus(first), 1);
        EXPECT_EQ(api_.CloseStatus(second), 1);
        EXPECT_FALSE(GetClassInfoExA(GetModuleHandleA(nullptr), first_name.c_str(), &info)) << "class left behind";
    }
    EXPECT_GT(same_tick, 0) << "no two opens fell into one millisecond";
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) << "a run left a message behind";
}

// --- a caller's message box during an exchange ---------------------------
// The exchange's timer fires inside the box's own modal loop: its end must
// not close the box, and the caller's own quit comes back exactly once.
char g_box_caption[64];
int g_box_result;
constexpr WPARAM kCallerQuit = 42;

void CALLBACK OpenBoxTick(HWND window, UINT, UINT_PTR timer, DWORD) {
    KillTimer(window, timer);
    g_box_result = MessageBoxA(nullptr, "waiting for the user", g_box_caption, MB_OK);
    PostQuitMessage(static_cast<int>(kCallerQuit));
}

TEST_F(StatusChannel, ACallersMessageBoxStaysOpenUntilAnsweredAndTheCallersQuitComesBackOnce) {
    SimPrinter printer(TestAddress(), "command_silent=on");
    ASSERT_SIM(printer);
    Configure(1, 0);
    OvHandle handle = api_.OpenStatus(printer.address().c_str());
    ASSERT_NE(handle, OV_INVALID_HANDLE);
    snprintf(g_box_caption, sizeof g_box_caption, "OrvModalDuringExchange %lu", GetCurrentProcessId());
    HWND caller = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(caller != nullptr && SetTimer(caller, 7, 50, OpenBoxTick) != 0);
    bool open_after_the_exchange = false;
    std::thread user([&] {  // answers once the exchange has closed its connection
        HWND box = nullptr;
        for (int i = 0; i < 250 && (box = FindWindowA(nullptr, g_box_caption)) == nullptr; ++i)
            Sleep(20);
        if (box != nullptr && printer.WaitFor("command_ended", 1, 10000)) {
            Sleep(300);
            open_after_the_exchange = IsWindow(box) != FALSE;
        }
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    unsigned char buffer[16];
    DWORD length = 99;
    EXPECT_EQ(api_.GetStatus(handle, buffer, sizeof buffer, &length), 0);
    user.join();
    DestroyWindow(caller);
    EXPECT_TRUE(open_after_the_exchange) << "the end of the exchange closed the caller's box";
    EXPECT_EQ(g_box_result, IDOK);
    std::vector<WPARAM> quits;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        if (message.message == WM_QUIT)
            quits.push_back(message.wParam);
    EXPECT_EQ(quits, std::vector<WPARAM>{kCallerQuit});
    EXPECT_EQ(api_.CloseStatus(handle), 1);
}

}  // namespace
