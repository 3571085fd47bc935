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

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text.push_back(kDigits[c >> 4]);
        text.push_back(kDigits[c & 15]);
    }
    return text;
}

std::string Bytes(const unsigned char* data, DWORD length) {
    return std::string(reinterpret_cast<const char*>(data), length);
}

/* A window of the caller's own that counts its timer messages and, at
 * its first tick, tries the busy handle from inside the running loop. */
struct CallerWindow {
    static constexpr UINT_PTR kTimer = 7;
    OvApi* api = nullptr;
    OvHandle busy = 0;
    int ticks = 0;
    int nested_get = -1;
    int nested_close = -1;
    HWND window = nullptr;

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        auto* self = reinterpret_cast<CallerWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (message == WM_TIMER && wparam == kTimer && self != nullptr && ++self->ticks == 1) {
            unsigned char buffer[16];
            DWORD length = 0;
            self->nested_get = self->api->GetStatus(self->busy, buffer, sizeof buffer, &length);
            self->nested_close = self->api->CloseStatus(self->busy);
        }
        return DefWindowProcA(window, message, wparam, lparam);
    }

    bool Create() {
        WNDCLASSA window_class = {};
        window_class.lpfnWndProc = Procedure;
        window_class.hInstance = GetModuleHandleA(nullptr);
        window_class.lpszClassName = "OrvStatusTest caller";
        RegisterClassA(&window_class);
        window = CreateWindowExA(0, window_class.lpszClassName, "", 0, 0, 0, 10, 10, nullptr, nullptr,
                                 window_class.hInstance, nullptr);
        if (window == nullptr)
            return false;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        return SetTimer(window, kTimer, 20, nullptr) != 0;
    }
    ~CallerWindow() {
        if (window != nullptr)
            DestroyWindow(window);
    }
};

TEST_F(StatusChannel, BadHostTextsAndNullHandlesAreRefused) {
    EXPECT_EQ(api_.OpenStatus(nullptr), OV_INVALID_HANDLE);
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

TEST_F(StatusChannel, RepliesArriveUnchangedOneConnectionPerExchange) {
    const std::string status("\x00\xff\r\n STATUS \x1b", 12);
    SimPrinter printer(TestAddress(), "status_reply=" + Hex(status));
    ASSERT_SIM(printer);
    OvHandle handle = api_.OpenStatus(printer.address().c_str());
    ASSERT_NE(handle, OV_INVALID_HANDLE);
    EXPECT_EQ(api_.GetError(handle), 0);

    unsigned char buffer[256];
    DWORD length = 0;
    EXPECT_EQ(api_.GetStatus(handle, buffer, sizeof buffer, &length), 1);
    EXPECT_EQ(Bytes(buffer, length), status);
    EXPECT_EQ(api_.GetError(handle), 1);
    EXPECT_EQ(api_.GetDeviceID(handle, buffer, sizeof buffer, &length), 1);
    EXPECT_EQ(Bytes(buffer, length), kDefaultDeviceId);

    // Missing out-arguments: no exchange, no reply.
    EXPECT_EQ(api_.GetStatus(handle, buffer, sizeof buffer, nullptr), 0);
    EXPECT_EQ(api_.GetDeviceID(handle, nullptr, 16, &length), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(api_.GetError(handle), 0);

    SimStats stats = printer.Stats();
    EXPECT_EQ(stats.Str("commands"), "GET_RQSENSEDT,GET_DEVICE_ID");
    EXPECT_EQ(stats.Num("command_connections"), 2);
    EXPECT_EQ(api_.CloseStatus(handle), 1);
}

TEST_F(StatusChannel, OneReceiveOfAtMost256BytesCutToTheBuffer) {
    std::string reply;
    for (int i = 0; i < 300; ++i)
        reply.push_back(static_cast<char>(i * 7));
    SimPrinter printer(TestAddress(), "status_reply=" + Hex(reply));
    ASSERT_SIM(printer);
    OvHandle handle = api_.OpenStatus(printer.address().c_str());
    ASSERT_NE(handle, OV_INVALID_HANDLE);
    struct Case {
        DWORD size;
        DWORD expected;
    };
    for (Case c : {Case{512, 256}, Case{256, 256}, Case{10, 10}, Case{1, 1}, Case{0, 0}}) {
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
    EXPECT_EQ(api_.CloseStatus(handle), 1);
}

TEST_F(StatusChannel, SilentPrinterEndsAfterTimeWithNoReply) {
    Configure(2, 0);
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    OvHandle handle = api_.OpenStatus(printer.address().c_str());
    ASSERT_NE(handle, OV_INVALID_HANDLE);
    unsigned char buffer[64];
    DWORD length = 0;
    ASSERT_EQ(api_.GetStatus(handle, buffer, sizeof buffer, &length), 1);
    ASSERT_EQ(length, 16u);

    ASSERT_TRUE(printer.Set("command_silent=on"));
    Stopwatch watch;
    EXPECT_EQ(api_.GetStatus(handle, buffer, sizeof buffer, &length), 0);
    EXPECT_GE(watch.Seconds(), 1.9);
    EXPECT_LT(watch.Seconds(), 4.0);
    EXPECT_EQ(length, 0u) << "the length of the previous reply";
    EXPECT_EQ(api_.GetError(handle), 0);
    EXPECT_EQ(api_.CloseStatus(handle), 1);
}

TEST_F(StatusChannel, UnreachablePrintersFailAtOnce) {
    SimPrinter printer(TestAddress(), "command=off");
    ASSERT_SIM(printer);
    struct Case {
        const char* what;
        std::string host;
    };
    // A 64-character label is no valid DNS name: the resolver fails
    // without asking a name server.
    std::vector<Case> cases = {{"refusing port", printer.address()},
                               {"unresolvable name", std::string(64, 'n')}};
    if (ReachRigIsUp())
        cases.push_back({"host unreachable", kReachRigUnreachable});
    for (const Case& c : cases) {
        OvHandle handle = api_.OpenStatus(c.host.c_str());
        ASSERT_NE(handle, OV_INVALID_HANDLE) << c.what;
        unsigned char buffer[16];
        DWORD length = 99;
        Stopwatch watch;
        EXPECT_EQ(api_.GetDeviceID(handle, buffer, sizeof buffer, &length), 0) << c.what;
        EXPECT_LT(watch.Seconds(), 2.0) << c.what;
        EXPECT_EQ(length, 0u) << c.what;
        EXPECT_EQ(api_.GetError(handle), 0) << c.what;
        EXPECT_EQ(api_.CloseStatus(handle), 1) << c.what;
    }
}

TEST_F(StatusChannel, PrinterEndingTheConnectionWithoutReplyingIsNoReply) {
    Configure(1, 0);
    for (const char* how : {"on_command=close", "on_command=reset"}) {
        SimPrinter printer(TestAddress(), how);
        ASSERT_SIM(printer);
        OvHandle handle = api_.OpenStatus(printer.address().c_str());
        ASSERT_NE(handle, OV_INVALID_HANDLE) << how;
        unsigned char buffer[16];
        DWORD length = 99;
        Stopwatch watch;
        EXPECT_EQ(api_.GetStatus(handle, buffer, sizeof buffer, &length), 0) << how;
        EXPECT_GE(watch.Seconds(), 0.9) << how;
        EXPECT_LT(watch.Seconds(), 3.0) << how;
        EXPECT_EQ(length, 0u) << how;
        EXPECT_EQ(api_.GetError(handle), 0) << how;
        EXPECT_EQ(api_.CloseStatus(handle), 1) << how;
    }
}

TEST_F(StatusChannel, ExchangesOnTwoThreadsKeepTheirOwnKinds) {
    // The delay keeps the two threads' exchanges overlapping.
    SimPrinter printer(TestAddress(), "reply_delay_ms=150");
    ASSERT_SIM(printer);
    constexpr int kRounds = 4;
    auto run = [&](bool device_id, std::vector<std::string>* replies) {
        OvHandle handle = api_.OpenStatus(printer.address().c_str());
        for (int i = 0; i < kRounds && handle != OV_INVALID_HANDLE; ++i) {
            unsigned char buffer[256];
            DWORD length = 0;
            int got = device_id ? api_.GetDeviceID(handle, buffer, sizeof buffer, &length)
                                : api_.GetStatus(handle, buffer, sizeof buffer, &length);
            replies->push_back(got == 1 ? Bytes(buffer, length) : "(failed)");
        }
        api_.CloseStatus(handle);
    };
    std::vector<std::string> ids, statuses;
    std::thread first(run, true, &ids);
    std::thread second(run, false, &statuses);
    first.join();
    second.join();
    EXPECT_EQ(ids, std::vector<std::string>(kRounds, kDefaultDeviceId));
    EXPECT_EQ(statuses, std::vector<std::string>(kRounds, kDefaultStatus));
}

TEST_F(StatusChannel, CallerWindowsKeepTheirMessagesAndTheBusyHandleIsLeftAlone) {
    SimPrinter printer(TestAddress(), "reply_delay_ms=400");
    ASSERT_SIM(printer);
    OvHandle handle = api_.OpenStatus(printer.address().c_str());
    ASSERT_NE(handle, OV_INVALID_HANDLE);
    CallerWindow caller;
    caller.api = &api_;
    caller.busy = handle;
    ASSERT_TRUE(caller.Create());

    unsigned char buffer[64];
    DWORD length = 0;
    EXPECT_EQ(api_.GetStatus(handle, buffer, sizeof buffer, &length), 1);
    EXPECT_EQ(Bytes(buffer, length), kDefaultStatus);
    EXPECT_GE(caller.ticks, 5) << "the caller's timer was not dispatched during the exchange";
    EXPECT_EQ(caller.nested_get, 0) << "a second exchange on the busy handle";
    EXPECT_EQ(caller.nested_close, 0) << "a close of the busy handle";
    EXPECT_EQ(printer.Stats().Num("command_connections"), 1);
    EXPECT_EQ(api_.CloseStatus(handle), 1);
}

TEST_F(StatusChannel, EachHandleOwnsItsClassUntilClosed) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    const std::string host = TestAddress();
    // Two handles for one host in the same millisecond: only the record
    // address tells their class names apart.
    bool same_tick_seen = false;
    for (int attempt = 0; attempt < 200 && !same_tick_seen; ++attempt) {
        OvHandle first = api_.OpenStatus(host.c_str());
        OvHandle second = api_.OpenStatus(host.c_str());
        ASSERT_NE(first, OV_INVALID_HANDLE);
        ASSERT_NE(second, OV_INVALID_HANDLE) << "the second handle's class could not be registered";
        std::string first_name = orv::RecordOf(first)->class_name;
        std::string second_name = orv::RecordOf(second)->class_name;
        unsigned long long first_tick = 0, second_tick = 0;
        ASSERT_EQ(sscanf(first_name.c_str(), "DmrxStatusClass %llu", &first_tick), 1) << first_name;
        ASSERT_EQ(sscanf(second_name.c_str(), "DmrxStatusClass %llu", &second_tick), 1) << second_name;
        EXPECT_NE(first_name.find(" " + host + " "), std::string::npos) << first_name;
        same_tick_seen = first_tick == second_tick;
        EXPECT_NE(first_name, second_name);

        WNDCLASSEXA info = {};
        info.cbSize = sizeof info;
        EXPECT_TRUE(GetClassInfoExA(instance, first_name.c_str(), &info));
        EXPECT_EQ(api_.CloseStatus(first), 1);
        EXPECT_EQ(api_.CloseStatus(second), 1);
        EXPECT_FALSE(GetClassInfoExA(instance, first_name.c_str(), &info)) << "class left behind";
    }
    EXPECT_TRUE(same_tick_seen) << "no two opens fell into one millisecond";
}

TEST_F(StatusChannel, ManyExchangesInARowLeaveNothingBehind) {
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    for (int i = 0; i < 60; ++i) {
        OvHandle handle = api_.OpenStatus(printer.address().c_str());
        ASSERT_NE(handle, OV_INVALID_HANDLE) << i;
        unsigned char buffer[64];
        DWORD length = 0;
        ASSERT_EQ(api_.GetStatus(handle, buffer, sizeof buffer, &length), 1) << i;
        ASSERT_EQ(api_.CloseStatus(handle), 1) << i;
    }
    // Nothing of the runs is left in this thread's queue.
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

}  // namespace
