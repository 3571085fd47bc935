// One thread writing, one reading and one closing the same port, round
// after round: every call returns soon after the close begins, nothing
// crashes or hangs, and no handle is left behind.
#include <atomic>
#include <vector>

#include "internal.h"
#include "net_fixture.h"
#include "network/netport.h"
#include "process_handles.h"
#include "network/socket_calls.h"
#include "worker_thread.h"

namespace {

using PortStress = NetTest;

struct RoundResult {
    int write_result = -1;
    int read_result = -1;
    DWORD written = 0;
    ULONGLONG write_returned = 0;
    ULONGLONG read_returned = 0;
    ULONGLONG close_started = 0;
};

TEST_F(PortStress, WriterReaderAndCloserOnOnePort) {
    Configure(1, 1);
    // A printer that takes data at about 6 MB/s: the 16 MiB write is always
    // under way when the close comes.
    SimPrinter printer(TestAddress(), "dribble=65536 dribble_ms=10");
    ASSERT_SIM(printer);
    std::vector<unsigned char> data(16 << 20, 0x55);

    OvHandle warm = api_.OpenPort(printer.address().c_str());
    ASSERT_NE(warm, OV_INVALID_HANDLE);
    api_.ClosePort(warm);
    long handles_before = CountProcessHandles();
    ASSERT_GT(handles_before, 0);

    constexpr int kRounds = 12;
    for (int round = 0; round < kRounds; ++round) {
        OvHandle port = api_.OpenPort(printer.address().c_str());
        ASSERT_NE(port, OV_INVALID_HANDLE) << "round " << round;
        RoundResult r;
        Worker writer([&] {
            r.write_result = api_.WritePort(port, data.data(), static_cast<DWORD>(data.size()), &r.written);
            r.write_returned = GetTickCount64();
        });
        Worker reader([&] {
            char buffer[256];
            DWORD got;
            r.read_result = api_.ReadPort(port, buffer, sizeof buffer, &got);
            r.read_returned = GetTickCount64();
        });
        // Close at a different moment of the transfers each round.
        Sleep(static_cast<DWORD>(20 + (round * 37) % 250));
        Worker closer([&] {
            r.close_started = GetTickCount64();
            EXPECT_EQ(api_.ClosePort(port), 1);
        });
        writer.Join();
        reader.Join();
        closer.Join();
        EXPECT_EQ(r.write_result, 0) << "round " << round;
        EXPECT_EQ(r.read_result, 0) << "round " << round;
        EXPECT_LT(r.written, data.size());
        EXPECT_LT(r.write_returned - r.close_started, 1000u) << "round " << round;
        EXPECT_LT(r.read_returned - r.close_started, 1000u) << "round " << round;
    }
    EXPECT_EQ(CountProcessHandles(), handles_before);
}

}  // namespace

namespace {

// A printer that ends the connection after any number of bytes, cleanly or
// by a reset: every call gives one of its defined results, no call hangs
// and nothing is left behind.
TEST_F(PortStress, PrinterThatClosesOrResetsAtAnyMoment) {
    Configure(1, 1);
    std::vector<unsigned char> data(300000, 0x41);
    SimPrinter warm_printer(TestAddress(99));
    ASSERT_SIM(warm_printer);
    OvHandle warm = api_.OpenPort(warm_printer.address().c_str());
    ASSERT_NE(warm, OV_INVALID_HANDLE);
    api_.ClosePort(warm);
    long handles_before = CountProcessHandles();

    const char* modes[] = {"reset_after", "close_after"};
    const int counts[] = {1, 1000, 16384, 16385, 65536, 200000};
    int salt = 0;
    for (const char* mode : modes) {
        for (int count : counts) {
            std::string options = std::string(mode) + "=" + std::to_string(count);
            SimPrinter printer(TestAddress(++salt), options);
            ASSERT_SIM(printer);
            OvHandle port = api_.OpenPort(printer.address().c_str());
            ASSERT_NE(port, OV_INVALID_HANDLE) << options;
            DWORD written = 0;
            int result = api_.WritePort(port, data.data(), static_cast<DWORD>(data.size()), &written);
            int error = api_.GetError(port);
            EXPECT_NE(error, WSAEWOULDBLOCK) << options;
            if (result == 1) {
                EXPECT_EQ(written, data.size()) << options;
            } else {
                EXPECT_NE(error, 0) << options;
                EXPECT_LE(written, data.size()) << options;
            }
            char buffer[64];
            DWORD got = 0;
            Stopwatch watch;
            int read = api_.ReadPort(port, buffer, sizeof buffer, &got);
            EXPECT_LT(watch.Seconds(), 3.0) << options;
            EXPECT_NE(api_.GetError(port), WSAEWOULDBLOCK) << options;
            if (read == 1) {
                EXPECT_EQ(got, 0u) << options;
            }
            EXPECT_EQ(api_.ClosePort(port), 1) << options;
        }
    }
    EXPECT_EQ(CountProcessHandles(), handles_before);
}

}  // namespace

namespace {

// Transfers that keep coming while the close drains: every one that starts
// before OvClosePort returns is refused as on a closing port, and none
// reaches a socket other than the port's own (none once the close has
// shut it, nor one read from a freed record). The transfer calls of the
// internal library (the DLL's code) are watched.
std::atomic<SOCKET> g_port_socket{INVALID_SOCKET};
std::atomic<int> g_dead_socket_calls{0};

void Watch(SOCKET s) {
    if (s == INVALID_SOCKET || s != g_port_socket)
        ++g_dead_socket_calls;
}

int WSAAPI WatchedRecv(SOCKET s, char* buffer, int length, int flags) {
    Watch(s);
    return ::recv(s, buffer, length, flags);
}

int WSAAPI WatchedSend(SOCKET s, const char* data, int length, int flags) {
    Watch(s);
    return ::send(s, data, length, flags);
}

TEST_F(PortStress, TransfersPollingThroughTheDrainNeverOutliveTheClose) {
    Configure(1, 1);  // the drain lasts 1 s: the printer keeps sending
    SimPrinter printer(TestAddress(), "chatter=always chatter_bytes=64 chatter_ms=20 on_eof=keep");
    ASSERT_SIM(printer);
    orv::g_socket_calls.recv = WatchedRecv;
    orv::g_socket_calls.send = WatchedSend;
    g_dead_socket_calls = 0;
    // The first round also warms up the socket layer's own handles.
    constexpr int kRounds = 6;
    long handles_before = -1;
    for (int round = 0; round < kRounds; ++round) {
        if (round == 1) {
            ASSERT_TRUE(HandleCountingWorks());
            handles_before = CountProcessHandles();
        }
        OvHandle port = orv::OpenPort(printer.address().c_str());
        ASSERT_NE(port, OV_INVALID_HANDLE) << "round " << round;
        g_port_socket = orv::RecordOf(port)->socket;
        std::atomic<bool> closed{false};
        std::atomic<long> polls{0};
        Worker poller([&] {
            char buffer[256];
            DWORD got;
            while (!closed) {
                orv::RecvPort(port, buffer, sizeof buffer, &got);
                ++polls;
            }
        });
        Worker writer([&] {
            DWORD written;
            while (!closed)
                orv::WritePort(port, "x", 1, &written);
        });
        Sleep(static_cast<DWORD>(30 + round * 40));
        EXPECT_EQ(orv::ClosePort(port), 1) << "round " << round;
        closed = true;
        poller.Join();
        writer.Join();
        EXPECT_GT(polls.load(), 1000) << "round " << round;
    }
    orv::g_socket_calls.recv = ::recv;
    orv::g_socket_calls.send = ::send;
    EXPECT_EQ(g_dead_socket_calls.load(), 0);
    EXPECT_EQ(CountProcessHandles(), handles_before);
}

}  // namespace

namespace {

// A transfer call that comes in while the close drains is counted inside
// the port, and the close frees the record only once that call has left
// it. The hook holds the first call that meets the close inside the port
// for a second, longer than the rest of the close takes, and the order in
// which the call leaves and the close returns is noted.
std::atomic<bool> g_holding{false};
std::atomic<int> g_order{0};
std::atomic<int> g_held_call_left{0};

void HoldTheFirstCallThatMeetsTheClose(orv::HandleRecord* record) {
    if (record->closing == 0 || g_holding.exchange(true))
        return;
    Sleep(1000);
    g_held_call_left = ++g_order;
}

TEST_F(PortStress, CloseFreesThePortOnlyAfterTheCallsInsideHaveLeft) {
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    OvHandle port = orv::OpenPort(printer.address().c_str());
    ASSERT_NE(port, OV_INVALID_HANDLE);
    orv::g_port_call_entered = HoldTheFirstCallThatMeetsTheClose;
    Worker poller([&] {
        char buffer[16];
        DWORD got;
        for (ULONGLONG end = GetTickCount64() + 10000; !g_holding && GetTickCount64() < end;)
            orv::RecvPort(port, buffer, sizeof buffer, &got);
    });
    EXPECT_EQ(orv::ClosePort(port), 1);
    int close_returned = ++g_order;
    poller.Join();
    orv::g_port_call_entered = nullptr;
    ASSERT_TRUE(g_holding) << "no call came in while the port was closing";
    EXPECT_LT(g_held_call_left.load(), close_returned) << "the record was freed with a call inside";
}

}  // namespace
