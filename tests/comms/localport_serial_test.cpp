// The serial exports through orvcomms.dll on a real serial port: the
// test run's pseudo-terminal pair (scripts/serial-env.sh), whose far end
// the test reads and writes as the printer would.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <thread>

#include "localport_peers.h"
#include "ovapi.h"

namespace {

constexpr DWORD kUnset = 0xDEADBEEF;
constexpr char kFill = '\xEE';

class SerialChannel : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(api_.Load());
        ASSERT_TRUE(trace_.ok());
        ASSERT_TRUE(peer_.ok()) << "no " << kSerialPeer << "; run scripts/serial-env.sh start";
        DWORD error = kUnset;
        // Lower case passes the keyword test.
        port_ = api_.OpenPort_COM("\\\\.\\com21", &error);
        ASSERT_NE(port_, INVALID_HANDLE_VALUE) << "error " << error;
        peer_.Purge(port_);
    }
    void TearDown() override {
        DWORD error;
        if (port_ != INVALID_HANDLE_VALUE) {
            EXPECT_EQ(api_.ClosePort_COM(port_, &error), 1);
        }
    }

    /* The far end sends `bytes`; waits until they all wait at our end. */
    void Arrive(const std::string& bytes) {
        ASSERT_TRUE(peer_.Send(bytes));
        ASSERT_TRUE(WaitForBytes(port_, static_cast<DWORD>(bytes.size()), 5000));
    }

    OvApi api_;
    TraceFile trace_;
    SerialPeer peer_;
    HANDLE port_ = INVALID_HANDLE_VALUE;
    DWORD count_ = kUnset;
    DWORD error_ = kUnset;
};

TEST_F(SerialChannel, RoundTripAndLineSettings) {
    EXPECT_EQ(api_.WritePort_COM(port_, "ping", 4, &count_, 1000, &error_), 1);
    EXPECT_EQ(count_, 4u);
    EXPECT_EQ(peer_.Receive(4, 1000), "ping");
    EXPECT_TRUE(trace_.Has("PrinterCheck_COM Success"));

    Arrive("pong");
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
    EXPECT_EQ(api_.SetComConf(port_, &dcb, nullptr), 0);
    DCB now = {};
    now.DCBlength = sizeof now;
    ASSERT_EQ(api_.GetComConf(port_, &now, &error_), 1);
    EXPECT_EQ(now.BaudRate, 19200u);
    EXPECT_TRUE(trace_.Has("OvSetComConf_COM Start"));
    EXPECT_TRUE(trace_.Has("OvSetComConf SetCommState Success"));
}

TEST_F(SerialChannel, ReceiveTakesOnlyWhatFitsAndLeavesTheRestForTheNextCall) {
    const std::string sent = Pattern(100);
    Arrive(sent);
    char buffer[200];
    EXPECT_EQ(api_.RecvPort_COM(port_, buffer, 10, &count_, 500, &error_), 1);
    EXPECT_EQ(count_, 10u);
    EXPECT_EQ(std::string(buffer, 10), sent.substr(0, 10));
    EXPECT_EQ(BytesWaiting(port_), 90u);

    api_.RecvPort_COM(port_, buffer, sizeof buffer, &count_, 100, &error_);
    EXPECT_EQ(count_, 90u);
    EXPECT_EQ(error_, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(std::string(buffer, 90), sent.substr(10));
}

TEST_F(SerialChannel, ReceiveDeliversAtMost4096BytesACall) {
    // A pseudo-terminal's input queue holds about 4 KiB; the rest follows
    // while the receive runs.
    const std::string sent = Pattern(5000, 7);
    ASSERT_TRUE(peer_.Send(sent));
    ASSERT_TRUE(WaitForBytes(port_, 4000, 5000));
    std::string buffer(10000, kFill);
    EXPECT_EQ(api_.RecvPort_COM(port_, &buffer[0], 10000, &count_, 500, &error_), 1);
    EXPECT_EQ(count_, 4096u);
    EXPECT_NE(error_, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(buffer.substr(0, 4096), sent.substr(0, 4096));
    EXPECT_EQ(buffer.substr(4096), std::string(10000 - 4096, kFill));

    api_.RecvPort_COM(port_, &buffer[0], 10000, &count_, 100, &error_);
    EXPECT_EQ(count_, 904u);
    EXPECT_EQ(buffer.substr(0, 904), sent.substr(4096));
}

TEST_F(SerialChannel, ReceiveOfThreeOfEightBytesPadsWithZerosAndTimesOutWithResultOne) {
    Arrive("xyz");
    char buffer[12];
    memset(buffer, kFill, sizeof buffer);
    EXPECT_EQ(api_.RecvPort_COM(port_, buffer, 8, &count_, 200, &error_), 1);
    EXPECT_EQ(count_, 3u);
    EXPECT_EQ(error_, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(std::string(buffer, 12), std::string("xyz\0\0\0\0\0", 8) + std::string(4, kFill));
}

TEST_F(SerialChannel, IdlePortWithTimeOutZeroTriesFor70MsAndLeavesTheBuffer) {
    char buffer[8];
    memset(buffer, kFill, sizeof buffer);
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(api_.RecvPort_COM(port_, buffer, 8, &count_, 0, &error_), 1);
    ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_EQ(count_, 0u);
    EXPECT_EQ(error_, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(std::string(buffer, 8), std::string(8, kFill));
    EXPECT_GE(elapsed, 50u);
    EXPECT_LT(elapsed, 2000u);
    EXPECT_TRUE(trace_.Has("OvRecvPort_COM ClearCommError comStat.cbInQue = 0(0x0000)"));
    EXPECT_TRUE(trace_.Has("OvRecvPort_COM Wait50"));
    EXPECT_FALSE(trace_.Has("OvRecvPort_COM ReadFile Send"));
}

// With a write time-out on the port, a try ends after 200 ms with part of
// the job out. The next try must go on from the first byte not written,
// so that the printer gets every byte exactly once.
TEST_F(SerialChannel, WriteThatStopsPartWayGoesOnFromTheFirstByteNotWritten) {
    COMMTIMEOUTS timeouts = {};
    timeouts.WriteTotalTimeoutConstant = 200;
    ASSERT_TRUE(SetCommTimeouts(port_, &timeouts));
    const std::string job = Pattern(256 * 1024, 3);
    std::string arrived;
    std::thread printer([&] {
        Sleep(400);  // busy at first: the first try stops part-way
        arrived = peer_.Receive(job.size() + 1, 1000);
    });
    EXPECT_EQ(api_.WritePort_COM(port_, job.data(), static_cast<DWORD>(job.size()), &count_, 5000, &error_), 1);
    printer.join();
    EXPECT_EQ(count_, job.size());
    EXPECT_EQ(arrived.size(), job.size());
    EXPECT_TRUE(arrived == job);
    int tries = 0;
    for (const std::string& line : trace_.Lines())
        tries += line == "OvWritePort_COM WriteFile Send";
    EXPECT_GE(tries, 2);
}

// A try whose wait runs out is cancelled with part of the job already
// out; those bytes reached the printer and count as written.
TEST_F(SerialChannel, BytesOfACancelledTryCountAsWritten) {
    const std::string job = Pattern(256 * 1024, 5);
    EXPECT_EQ(api_.WritePort_COM(port_, job.data(), static_cast<DWORD>(job.size()), &count_, 300, &error_), 0);
    std::string arrived = peer_.Receive(job.size() + 1, 500);
    EXPECT_GT(count_, 0u);
    EXPECT_EQ(arrived.size(), count_);
    EXPECT_TRUE(arrived == job.substr(0, count_));
    EXPECT_TRUE(trace_.Has("OvWritePort_COM WaitForSingleObject WAIT_TIMEOUT")) << trace_.Text();
}

}  // namespace
