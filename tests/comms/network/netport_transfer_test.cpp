// The transfers of the print channel: reads that wait up to the transfer
// time-out, receives that do not wait, writes in pieces of 16384 bytes,
// and their results when the printer stalls, dribbles, closes or resets.
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "internal.h"
#include "net_fixture.h"
#include "network/netport.h"
#include "network/socket_calls.h"

namespace {

std::vector<unsigned char> Pattern(size_t size) {
    std::vector<unsigned char> data(size);
    unsigned x = 12345;
    for (auto& byte : data) {
        x = x * 1103515245u + 12345u;
        byte = static_cast<unsigned char>(x >> 16);
    }
    return data;
}

class Transfer : public NetTest {
  protected:
    OvHandle Open(SimPrinter& printer) {
        OvHandle port = api_.OpenPort(printer.address().c_str());
        EXPECT_NE(port, OV_INVALID_HANDLE);
        return port;
    }
};

// --- read ---------------------------------------------------------------

TEST_F(Transfer, ReadReturnsWhatThePrinterSends) {
    SimPrinter printer(TestAddress(), "greeting=48656c6c6f");
    ASSERT_SIM(printer);
    OvHandle port = Open(printer);
    char buffer[64] = {};
    DWORD got = 99;
    EXPECT_EQ(api_.ReadPort(port, buffer, sizeof buffer, &got), 1);
    EXPECT_EQ(got, 5u);
    EXPECT_EQ(std::string(buffer, got), "Hello");
    EXPECT_EQ(api_.GetError(port), 0);
    api_.ClosePort(port);
}

TEST_F(Transfer, ReadOnASilentPrinterReturnsOneWithNothingAfterRetryTimesTime) {
    Configure(1, 2);
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    OvHandle port = Open(printer);
    char buffer[16];
    DWORD got = 99;
    Stopwatch watch;
    EXPECT_EQ(api_.ReadPort(port, buffer, sizeof buffer, &got), 1);
    EXPECT_GE(watch.Seconds(), 1.9);
    EXPECT_LT(watch.Seconds(), 4.0);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(api_.GetError(port), 0);
    api_.ClosePort(port);
}

TEST_F(Transfer, ReadAfterThePrinterClosedReturnsOneWithNothingAtOnce) {
    SimPrinter printer(TestAddress(), "close_after=4");
    ASSERT_SIM(printer);
    OvHandle port = Open(printer);
    DWORD count;
    ASSERT_EQ(api_.WritePort(port, "data", 4, &count), 1);
    ASSERT_TRUE(printer.WaitFor("received", 4, 5000));
    Sleep(100);
    char buffer[16];
    DWORD got = 99;
    Stopwatch watch;
    EXPECT_EQ(api_.ReadPort(port, buffer, sizeof buffer, &got), 1);
    EXPECT_EQ(got, 0u);
    EXPECT_LT(watch.Seconds(), 1.0);
    api_.ClosePort(port);
}

TEST_F(Transfer, ReadCutsAtTheBufferSize) {
    SimPrinter printer(TestAddress(), "greeting=0102030405060708");
    ASSERT_SIM(printer);
    OvHandle port = Open(printer);
    unsigned char buffer[3];
    DWORD got = 0;
    ASSERT_EQ(api_.ReadPort(port, buffer, sizeof buffer, &got), 1);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(buffer[2], 3);
    ASSERT_EQ(api_.ReadPort(port, buffer, sizeof buffer, &got), 1);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(buffer[0], 4);
    api_.ClosePort(port);
}

// --- receive ------------------------------------------------------------

TEST_F(Transfer, ReceiveWithNothingPendingFailsAtOnceWithNoError) {
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    OvHandle port = Open(printer);
    char buffer[16];
    DWORD got = 99;
    Stopwatch watch;
    EXPECT_EQ(api_.RecvPort(port, buffer, sizeof buffer, &got), 0);
    EXPECT_LT(watch.Seconds(), 0.5);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(api_.GetError(port), 0);
    api_.ClosePort(port);
}

TEST_F(Transfer, ReceiveTakesPendingBytes) {
    SimPrinter printer(TestAddress(), "greeting=414243");
    ASSERT_SIM(printer);
    OvHandle port = Open(printer);
    char buffer[16];
    DWORD got = 0;
    int result = 0;
    for (int i = 0; i < 50 && result == 0; ++i) {
        result = api_.RecvPort(port, buffer, sizeof buffer, &got);
        if (result == 0)
            Sleep(20);
    }
    EXPECT_EQ(result, 1);
    EXPECT_EQ(std::string(buffer, got), "ABC");
    api_.ClosePort(port);
}

TEST_F(Transfer, ReceiveAfterThePrinterClosedReturnsOneWithNothing) {
    SimPrinter printer(TestAddress(), "close_after=1");
    ASSERT_SIM(printer);
    OvHandle port = Open(printer);
    DWORD count;
    ASSERT_EQ(api_.WritePort(port, "x", 1, &count), 1);
    ASSERT_TRUE(printer.WaitFor("received", 1, 5000));
    Sleep(200);
    char buffer[16];
    DWORD got = 99;
    EXPECT_EQ(api_.RecvPort(port, buffer, sizeof buffer, &got), 1);
    EXPECT_EQ(got, 0u);
    api_.ClosePort(port);
}

// --- write --------------------------------------------------------------

TEST_F(Transfer, WriteDeliversEveryByteInOrder) {
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    OvHandle port = Open(printer);
    std::vector<unsigned char> data = Pattern(1000003);
    DWORD written = 0;
    EXPECT_EQ(api_.WritePort(port, data.data(), static_cast<DWORD>(data.size()), &written), 1);
    EXPECT_EQ(written, data.size());
    EXPECT_EQ(api_.GetError(port), 0);
    SimStats stats;
    EXPECT_TRUE(printer.WaitFor("received", static_cast<long long>(data.size()), 10000, &stats));
    EXPECT_EQ(stats.Str("digest"), Fnv1a64(data.data(), data.size()));
    api_.ClosePort(port);
}

TEST_F(Transfer, AsyncWriteIsTheSameTransfer) {
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    OvHandle port = Open(printer);
    std::vector<unsigned char> data = Pattern(70000);
    DWORD written = 0;
    EXPECT_EQ(api_.WritePortAsync(port, data.data(), static_cast<DWORD>(data.size()), &written), 1);
    EXPECT_EQ(written, data.size());
    SimStats stats;
    EXPECT_TRUE(printer.WaitFor("received", 70000, 10000, &stats));
    EXPECT_EQ(stats.Str("digest"), Fnv1a64(data.data(), data.size()));
    api_.ClosePort(port);
}

TEST_F(Transfer, ResetMidWriteReportsConnectionResetWithTheBytesSentSoFar) {
    SimPrinter printer(TestAddress(), "reset_after=100000");
    ASSERT_SIM(printer);
    OvHandle port = Open(printer);
    // More than the loopback socket buffers hold (about 10 MiB), so the
    // reset always comes before the write has handed over everything.
    std::vector<unsigned char> data = Pattern(24 << 20);
    DWORD written = 0;
    EXPECT_EQ(api_.WritePort(port, data.data(), static_cast<DWORD>(data.size()), &written), 0);
    EXPECT_EQ(api_.GetError(port), WSAECONNRESET);
    EXPECT_GE(written, 100000u);
    EXPECT_LT(written, data.size());
    api_.ClosePort(port);
}

TEST_F(Transfer, StalledThenDribblingPrinterFailsTheWriteAfterTheTimeOut) {
    // The printer stops reading; once the buffers are full the write waits.
    // When the printer takes a little again after more than RETRY × TIME
    // seconds without progress, the partly accepted piece fails the write.
    Configure(1, 1);
    SimPrinter printer(TestAddress(), "read=off rcvbuf=4096");
    ASSERT_SIM(printer);
    OvHandle port = Open(printer);
    std::vector<unsigned char> data = Pattern(8 << 20);
    DWORD written = 0;
    int result = -1;
    std::thread writer([&] {
        result = api_.WritePort(port, data.data(), static_cast<DWORD>(data.size()), &written);
    });
    Sleep(2000);
    printer.Set("read=on dribble=512 dribble_ms=100");
    writer.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(api_.GetError(port), 0);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, data.size());
    api_.ClosePort(port);
}

TEST_F(Transfer, DribblingPrinterWithinTheTimeOutGetsEverything) {
    Configure(2, 1);
    SimPrinter printer(TestAddress(), "rcvbuf=4096 dribble=8192 dribble_ms=20");
    ASSERT_SIM(printer);
    OvHandle port = Open(printer);
    std::vector<unsigned char> data = Pattern(2 << 20);
    DWORD written = 0;
    EXPECT_EQ(api_.WritePort(port, data.data(), static_cast<DWORD>(data.size()), &written), 1);
    EXPECT_EQ(written, data.size());
    SimStats stats;
    EXPECT_TRUE(printer.WaitFor("received", static_cast<long long>(data.size()), 20000, &stats));
    EXPECT_EQ(stats.Str("digest"), Fnv1a64(data.data(), data.size()));
    api_.ClosePort(port);
}

// --- interrupted by a close on another thread ---------------------------

TEST_F(Transfer, WriteInterruptedByCloseReturnsZeroWithTheCountSoFar) {
    SimPrinter printer(TestAddress(), "read=off rcvbuf=4096");
    ASSERT_SIM(printer);
    Configure(1, 1);
    OvHandle port = Open(printer);
    std::vector<unsigned char> data = Pattern(16 << 20);
    DWORD written = 0;
    int result = -1;
    ULONGLONG returned_at = 0;
    std::thread writer([&] {
        result = api_.WritePort(port, data.data(), static_cast<DWORD>(data.size()), &written);
        returned_at = GetTickCount64();
    });
    Sleep(500);
    ULONGLONG close_at = GetTickCount64();
    EXPECT_EQ(api_.ClosePort(port), 1);
    writer.join();
    EXPECT_EQ(result, 0);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, data.size());
    EXPECT_LT(returned_at - close_at, 1000u) << "the write ends within a poll of the close";
}

TEST_F(Transfer, ReadInterruptedByCloseReturnsZeroAndMinusOne) {
    Configure(10, 1);
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    OvHandle port = Open(printer);
    int result = -1;
    int error = 0;
    ULONGLONG returned_at = 0;
    std::thread reader([&] {
        char buffer[16];
        DWORD got;
        result = api_.ReadPort(port, buffer, sizeof buffer, &got);
        // The close pauses 500 ms after the read has left the socket, so
        // the record can still be read here.
        error = api_.GetError(port);
        returned_at = GetTickCount64();
    });
    Sleep(300);
    ULONGLONG close_at = GetTickCount64();
    EXPECT_EQ(api_.ClosePort(port), 1);
    reader.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(error, -1);
    EXPECT_LT(returned_at - close_at, 1000u);
}

TEST_F(Transfer, HugeTimeOrRetryKeepsAReadWaitingUntilTheClose) {
    // Values at or above 2^31 are large unsigned numbers: the time-out
    // RETRY x TIME seconds is capped at about 24.8 days, never negative or
    // wrapped to a short one.
    struct Case {
        DWORD time, retry, open_timeout;
    } cases[] = {{0xFFFFFFFF, 0, 0}, {0x80000000, 0x80000000, 0x80000000}};
    int salt = 0;
    for (const Case& c : cases) {
        Configure(c.time, c.retry, c.open_timeout);
        SimPrinter printer(TestAddress(++salt));
        ASSERT_SIM(printer);
        OvHandle port = Open(printer);
        ASSERT_NE(port, OV_INVALID_HANDLE) << "TIME " << c.time;
        std::atomic<bool> returned{false};
        int result = -1;
        int error = 0;
        std::thread reader([&] {
            char buffer[16];
            DWORD got;
            result = api_.ReadPort(port, buffer, sizeof buffer, &got);
            error = api_.GetError(port);  // the close's pause keeps the record a while
            returned = true;
        });
        Sleep(2000);
        EXPECT_FALSE(returned) << "TIME " << c.time;
        EXPECT_EQ(api_.ClosePort(port), 1);
        reader.join();
        EXPECT_EQ(result, 0);
        EXPECT_EQ(error, -1);
    }
}

// --- arguments (internal library: the record is inspected directly) -----

class TransferArguments : public NetTest {
  protected:
    void SetUp() override {
        NetTest::SetUp();
        printer_ = std::make_unique<SimPrinter>(TestAddress());
        ASSERT_SIM(*printer_);
        port_ = orv::OpenPort(printer_->address().c_str());
        ASSERT_NE(port_, OV_INVALID_HANDLE);
        record_ = orv::RecordOf(port_);
    }
    void TearDown() override {
        if (port_ != OV_INVALID_HANDLE)
            orv::ClosePort(port_);
        NetTest::TearDown();
    }

    std::unique_ptr<SimPrinter> printer_;
    OvHandle port_ = OV_INVALID_HANDLE;
    orv::HandleRecord* record_ = nullptr;
};

TEST_F(TransferArguments, NullHandleFailsEveryTransfer) {
    char buffer[4];
    DWORD count = 7;
    EXPECT_EQ(orv::ReadPort(0, buffer, 4, &count), 0);
    EXPECT_EQ(orv::RecvPort(0, buffer, 4, &count), 0);
    EXPECT_EQ(orv::WritePort(0, buffer, 4, &count), 0);
    EXPECT_EQ(count, 7u) << "nothing is touched";
}

TEST_F(TransferArguments, NullBufferOrCountFailsAndClearsTheError) {
    char buffer[4] = {};
    DWORD count = 7;
    using Transfer = int (*)(OvHandle, void*, DWORD, DWORD*);
    auto write = [](OvHandle h, void* b, DWORD s, DWORD* c) { return orv::WritePort(h, b, s, c); };
    for (Transfer transfer : {Transfer(orv::ReadPort), Transfer(orv::RecvPort), Transfer(write)}) {
        record_->last_error = 1234;
        EXPECT_EQ(transfer(port_, nullptr, 4, &count), 0);
        EXPECT_EQ(record_->last_error.load(), 0);
        record_->last_error = 1234;
        EXPECT_EQ(transfer(port_, buffer, 4, nullptr), 0);
        EXPECT_EQ(record_->last_error.load(), 0);
    }
    EXPECT_EQ(api_.GetError(port_), 0);
}

TEST_F(TransferArguments, WriteOfZeroBytesSucceedsAndKeepsTheLastError) {
    record_->last_error = 1234;
    DWORD count = 7;
    EXPECT_EQ(orv::WritePort(port_, "", 0, &count), 1);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(record_->last_error.load(), 1234);
}

TEST_F(TransferArguments, TransfersRefuseAClosingPort) {
    char buffer[4];
    DWORD count = 7;
    record_->closing = 1;
    record_->last_error = 1234;
    EXPECT_EQ(orv::WritePort(port_, "abcd", 4, &count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(record_->last_error.load(), 1234) << "a refused write leaves the error";
    EXPECT_EQ(orv::RecvPort(port_, buffer, 4, &count), 0);
    EXPECT_EQ(record_->last_error.load(), 0);
    EXPECT_EQ(orv::ReadPort(port_, buffer, 4, &count), 0);
    EXPECT_EQ(record_->last_error.load(), -1);
    EXPECT_EQ(record_->reading.load(), 0);
    EXPECT_EQ(record_->writing.load(), 0);
    record_->closing = 0;
}

// --- pieces (the send is observed) ----------------------------------------

std::vector<int> g_send_sizes;
int g_would_block_until_ms = 0;
ULONGLONG g_send_start = 0;

int WSAAPI RecordingSend(SOCKET s, const char* data, int length, int flags) {
    if (GetTickCount64() - g_send_start < static_cast<ULONGLONG>(g_would_block_until_ms)) {
        WSASetLastError(WSAEWOULDBLOCK);
        return SOCKET_ERROR;
    }
    g_send_sizes.push_back(length);
    return ::send(s, data, length, flags);
}

class Pieces : public TransferArguments {
  protected:
    void SetUp() override {
        TransferArguments::SetUp();
        g_send_sizes.clear();
        g_would_block_until_ms = 0;
        g_send_start = GetTickCount64();
        orv::g_socket_calls.send = RecordingSend;
    }
    void TearDown() override {
        orv::g_socket_calls.send = ::send;
        TransferArguments::TearDown();
    }
};

TEST_F(Pieces, WriteOf40000BytesGoesOutAs16384And16384And7232) {
    std::vector<unsigned char> data = Pattern(40000);
    DWORD count = 0;
    EXPECT_EQ(orv::WritePort(port_, data.data(), 40000, &count), 1);
    EXPECT_EQ(count, 40000u);
    EXPECT_EQ(g_send_sizes, (std::vector<int>{16384, 16384, 7232}));
    SimStats stats;
    EXPECT_TRUE(printer_->WaitFor("received", 40000, 5000, &stats));
    EXPECT_EQ(stats.Str("digest"), Fnv1a64(data.data(), data.size()));
}

TEST_F(Pieces, WouldBlockKeepsTheWritePollingBeyondTheTimeOut) {
    // RETRY × TIME is 8 s here; a printer that takes nothing at all keeps
    // the write waiting, and the write succeeds when it takes data again.
    record_->retry_count = 1;
    record_->wait_seconds = 1;
    g_would_block_until_ms = 1500;
    std::vector<unsigned char> data = Pattern(20000);
    DWORD count = 0;
    Stopwatch watch;
    EXPECT_EQ(orv::WritePort(port_, data.data(), 20000, &count), 1);
    EXPECT_GE(watch.Seconds(), 1.4);
    EXPECT_EQ(count, 20000u);
    EXPECT_EQ(g_send_sizes, (std::vector<int>{16384, 3616}));
}

}  // namespace
