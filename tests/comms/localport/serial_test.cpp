// The serial exports through orvcomms.dll on a real serial port: the
// test run's pseudo-terminal pair (scripts/serial-env.sh), whose far end
// the test reads and writes as the printer would.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>

#include "peers.h"
#include "ovapi.h"

namespace {

constexpr DWORD kUnset = 0xDEADBEEF;
constexpr char kFill = '\xEE';

DWORD BytesWaiting(HANDLE port) {
    DWORD errors = 0;
    COMSTAT status = {};
    return ClearCommError(port, &errors, &status) ? status.cbInQue : 0;
}

class SerialChannel : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(api_.Load());
        ASSERT_TRUE(trace_.ok());
        ASSERT_TRUE(peer_.ok()) << "no " << kSerialPeer << "; run scripts/serial-env.sh start";
        // Lower case passes the keyword test.
        port_ = api_.OpenPort_COM("\\\\.\\com21", &error_);
        ASSERT_NE(port_, INVALID_HANDLE_VALUE) << "error " << error_;
        // Drop what either end still holds from earlier; bytes still on
        // their way through the pair arrive a little later.
        for (int round = 0; round < 3; ++round) {
            PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
            PurgeComm(peer_.handle(), PURGE_RXCLEAR | PURGE_TXCLEAR);
            Sleep(20);
        }
    }
    void TearDown() override {
        if (port_ != INVALID_HANDLE_VALUE) {
            EXPECT_EQ(api_.ClosePort_COM(port_, &error_), 1);
        }
    }

    /* The far end sends `bytes`; waits (at most 5 s) until at least
     * `count` bytes wait at our end. */
    void Arrive(const std::string& bytes, DWORD count) {
        ASSERT_TRUE(bytes.empty() || peer_.Send(bytes));
        for (int i = 0; i < 1000 && BytesWaiting(port_) < count; ++i)
            Sleep(5);
        ASSERT_GE(BytesWaiting(port_), count);
    }
    int Write(const std::string& job, DWORD timeout_ms) {
        return api_.WritePort_COM(port_, job.data(), static_cast<DWORD>(job.size()), &count_, timeout_ms, &error_);
    }

    OvApi api_;
    TraceFile trace_;
    DeviceEnd peer_{CreateFileA(kSerialPeer, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr)};
    HANDLE port_ = INVALID_HANDLE_VALUE;
    DWORD count_ = kUnset;
    DWORD error_ = kUnset;
};

TEST_F(SerialChannel, RoundTripAndLineSettings) {
    EXPECT_EQ(Write("ping", 1000), 1);
    EXPECT_EQ(count_, 4u);
    EXPECT_EQ(peer_.Receive(4, 1000), "ping");
    EXPECT_TRUE(trace_.Has("PrinterCheck_COM Success"));

    Arrive("pong", 4);
    char buffer[4];
    EXPECT_EQ(api_.RecvPort_COM(port_, buffer, 4, &count_, 1000, &error_), 1);
    EXPECT_EQ(count_, 4u);
    EXPECT_EQ(std::string(buffer, 4), "pong");
    EXPECT_TRUE(trace_.Has("OvRecvPort_COM ClearCommError comStat.cbInQue = 4(0x0004)"));

    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    ASSERT_EQ(api_.GetComConf(port_, &dcb, &error_), 1);
    dcb.BaudRate = 19200;
    ASSERT_EQ(api_.SetComConf(port_, &dcb, &error_), 1);
    dcb.BaudRate = 9600;
    EXPECT_EQ(api_.SetComConf(port_, &dcb, nullptr), 0);  // changes nothing
    ASSERT_EQ(api_.GetComConf(port_, &dcb, &error_), 1);
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_TRUE(trace_.Has("OvSetComConf_COM Start"));
    EXPECT_TRUE(trace_.Has("OvSetComConf SetCommState Success"));
}

// A serial receive reads only the bytes waiting and no more than fit, at
// most 4096 a call; the rest stays for the next call. Once all are taken
// it times out with result 1, what it got padded with zeros to the size
// asked for; with nothing waiting it never reads and leaves the buffer.
TEST_F(SerialChannel, ReceiveReadsOnlyWhatWaitsAndFits) {
    // A pseudo-terminal's input queue holds about 4 KiB; the rest follows
    // while the receives run.
    const std::string sent = Pattern(5000, 7);
    Arrive(sent, 4000);
    std::string buffer(10000, kFill);
    EXPECT_EQ(api_.RecvPort_COM(port_, &buffer[0], 10, &count_, 500, &error_), 1);
    ASSERT_EQ(count_, 10u);
    EXPECT_EQ(buffer, sent.substr(0, 10) + std::string(9990, kFill));
    EXPECT_GE(BytesWaiting(port_), 3990u);

    EXPECT_EQ(api_.RecvPort_COM(port_, &buffer[0], 10000, &count_, 500, &error_), 1);
    EXPECT_EQ(count_, 4096u);
    EXPECT_NE(error_, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(buffer, sent.substr(10, 4096) + std::string(10000 - 4096, kFill));

    Arrive("", 894);
    buffer.assign(1000, kFill);
    EXPECT_EQ(api_.RecvPort_COM(port_, &buffer[0], 950, &count_, 100, &error_), 1);
    EXPECT_EQ(count_, 894u);
    EXPECT_EQ(error_, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(buffer, sent.substr(4106) + std::string(56, '\0') + std::string(50, kFill));

    trace_.Clear();
    buffer.assign(8, kFill);
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(api_.RecvPort_COM(port_, &buffer[0], 8, &count_, 0, &error_), 1);
    ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_EQ(count_, 0u);
    EXPECT_EQ(error_, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(buffer, std::string(8, kFill));
    EXPECT_GE(elapsed, 50u);  // time-out 0 still tries until 70 ms have passed
    EXPECT_LT(elapsed, 2000u);
    EXPECT_TRUE(trace_.Has("OvRecvPort_COM ClearCommError comStat.cbInQue = 0(0x0000)"));
    EXPECT_TRUE(trace_.Has("OvRecvPort_COM Wait50"));
    EXPECT_FALSE(trace_.Has("OvRecvPort_COM ReadFile Send"));
}

// Every byte that reached the printer counts as written, and none is sent
// twice. A try whose wait runs out (after the full time-out) is cancelled
// with part of the job out, and the write fails with ERROR_IO_INCOMPLETE;
// with a write time-out on the port, a try ends part-way after 200 ms and
// the next one goes on from the first byte not written.
TEST_F(SerialChannel, WritesCountEveryByteOutAndSendItOnce) {
    std::string job = Pattern(256 * 1024, 5);
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(Write(job, 300), 0);
    int tries = trace_.Count("OvWritePort_COM WriteFile Send");  // see the receive's tries
    EXPECT_TRUE(tries == 1 || tries == 2) << tries;
    EXPECT_GE(GetTickCount64() - start, 300u * tries);
    EXPECT_EQ(error_, static_cast<DWORD>(ERROR_IO_INCOMPLETE));
    std::string arrived = peer_.Receive(job.size() + 1, 500);
    EXPECT_GT(count_, 0u);
    EXPECT_EQ(arrived.size(), count_);
    EXPECT_TRUE(arrived == job.substr(0, count_));
    EXPECT_TRUE(trace_.Has("OvWritePort_COM WaitForSingleObject WAIT_TIMEOUT"));

    COMMTIMEOUTS timeouts = {};
    timeouts.WriteTotalTimeoutConstant = 200;
    ASSERT_TRUE(SetCommTimeouts(port_, &timeouts));
    job = Pattern(256 * 1024, 3);
    trace_.Clear();
    std::thread printer([&] {
        Sleep(400);  // busy at first: the first try stops part-way
        arrived = peer_.Receive(job.size() + 1, 1000);
    });
    EXPECT_EQ(Write(job, 5000), 1);
    printer.join();
    EXPECT_EQ(count_, job.size());
    EXPECT_EQ(arrived.size(), job.size());
    EXPECT_TRUE(arrived == job);
    EXPECT_GE(trace_.Count("OvWritePort_COM WriteFile Send"), 2);
}

}  // namespace
