// The local-port exports through orvcomms.dll, against real handles: the
// opens' keyword test, the argument checks, and parallel and USB
// transfers over named pipes whose names hold the keyword (Wine refuses
// the parallel status query on a pipe, as a port without a status line
// would). The trace file is checked line by line.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "debug_capture.h"
#include "peers.h"
#include "ovapi.h"

namespace {

struct Family {
    const char* name;
    decltype(&OvOpenPort_COM) OvApi::*open;
    decltype(&OvClosePort_COM) OvApi::*close;
    decltype(&OvRecvPort_COM) OvApi::*recv;
    decltype(&OvWritePort_COM) OvApi::*write;
};

const Family kFamilies[] = {
    {"COM", &OvApi::OpenPort_COM, &OvApi::ClosePort_COM, &OvApi::RecvPort_COM, &OvApi::WritePort_COM},
    {"LPT", &OvApi::OpenPort_LPT, &OvApi::ClosePort_LPT, &OvApi::RecvPort_LPT, &OvApi::WritePort_LPT},
    {"USB", &OvApi::OpenPort_USB, &OvApi::ClosePort_USB, &OvApi::RecvPort_USB, &OvApi::WritePort_USB},
};
const Family& kCom = kFamilies[0];
const Family& kLpt = kFamilies[1];
const Family& kUsb = kFamilies[2];

constexpr DWORD kUnset = 0xDEADBEEF;
constexpr char kFill = '\xEE';

class LocalChannel : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(api_.Load());
        ASSERT_TRUE(trace_.ok());
    }
    /* Opens the pipe through the family's open; the handle or -1. */
    HANDLE Open(const Family& family, const PipeDevice& pipe) {
        return (api_.*family.open)(pipe.name().c_str(), &error_);
    }

    OvApi api_;
    TraceFile trace_;
    DWORD count_ = kUnset;
    DWORD error_ = kUnset;
};

std::string PipeName(size_t length, const std::string& tail) {
    std::string head = "\\\\.\\pipe\\orv-absent-";
    return head + std::string(length - head.size() - tail.size(), 'x') + tail;
}

TEST_F(LocalChannel, OpenLooksForItsKeywordInAnUpperCaseCopyOfAtMost255Characters) {
    struct Case {
        const Family& family;
        std::string name;
        bool refused;  // 87 without an open; otherwise the platform's answer
    };
    const Case cases[] = {
        {kCom, "PRN", true},
        {kCom, "\\\\.\\pipe\\orv-absent-com9", false},
        {kLpt, "COM1", true},
        {kLpt, "\\\\.\\pipe\\orv-absent-Lpt1", false},
        {kUsb, "USB001", true},
        {kUsb, "\\\\.\\pipe\\orv-absent#vid_04b8&pid_0005", false},
        {kCom, PipeName(255, "COM"), false},
        {kCom, PipeName(256, "COM"), true},
        {kCom, PipeName(10000, "COM"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 40) + " length " + std::to_string(c.name.size()));
        trace_.Clear();
        error_ = kUnset;
        SetLastError(0);
        EXPECT_EQ((api_.*c.family.open)(c.name.c_str(), &error_), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), error_) << "the thread's last error";
        EXPECT_EQ(error_ == 87u, c.refused) << error_;
        EXPECT_NE(error_, 0u);
        EXPECT_EQ(trace_.Has(std::string("OvOpenPort_") + c.family.name + " Error(INVALID_HANDLE_VALUE)"),
                  !c.refused);
    }
    EXPECT_EQ(api_.OpenPort_COM(nullptr, &error_), INVALID_HANDLE_VALUE);
    EXPECT_EQ(error_, 87u);
    EXPECT_TRUE(trace_.Has("OvOpenPort_COM Parameter Error"));
    SetLastError(0);
    EXPECT_EQ(api_.OpenPort_LPT("LPT1", nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 87u);
}

TEST_F(LocalChannel, EveryFunctionRefusesNullAndInvalidHandlesAndNullPointers) {
    char buffer[64];
    DWORD count, error;
    DCB dcb = {};
    // Each call returns 0 and sets the error to 87 and its count, if it
    // takes one, to 0.
    auto expect_refused = [&](const char* what, const std::function<int()>& call, DWORD count_after = kUnset) {
        count = kUnset;
        error = kUnset;
        EXPECT_EQ(call(), 0) << what;
        EXPECT_EQ(error, 87u) << what;
        EXPECT_EQ(count, count_after) << what;
    };
    for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        for (const Family& f : kFamilies) {
            expect_refused("close", [&] { return (api_.*f.close)(bad, &error); });
            expect_refused("recv", [&] { return (api_.*f.recv)(bad, buffer, 8, &count, 10, &error); }, 0);
            expect_refused("write", [&] { return (api_.*f.write)(bad, "x", 1, &count, 10, &error); }, 0);
        }
        expect_refused("get conf", [&] { return api_.GetComConf(bad, &dcb, &error); });
        expect_refused("set conf", [&] { return api_.SetComConf(bad, &dcb, &error); });
        expect_refused("lpt reset", [&] { return api_.SendCancel_LPT(bad, &error); });
        expect_refused("usb reset", [&] { return api_.SendCancel_USB(bad, &error); });
        expect_refused("lpt id", [&] { return api_.GetDeviceID_LPT(bad, buffer, 64, &count, &error); }, 0);
        expect_refused("usb id", [&] { return api_.GetDeviceID_USB(bad, buffer, 64, &count, &error); }, 0);
    }
    PipeDevice pipe("usb#vid_04b8&pid_0005#1");
    HANDLE port = Open(kUsb, pipe);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    expect_refused("recv null buffer", [&] { return api_.RecvPort_USB(port, nullptr, 8, &count, 10, &error); }, 0);
    expect_refused("recv size 0", [&] { return api_.RecvPort_USB(port, buffer, 0, &count, 10, &error); }, 0);
    expect_refused("write null data", [&] { return api_.WritePort_USB(port, nullptr, 8, &count, 10, &error); }, 0);
    expect_refused("write size 0", [&] { return api_.WritePort_USB(port, "x", 0, &count, 10, &error); }, 0);
    expect_refused("id null buffer", [&] { return api_.GetDeviceID_USB(port, nullptr, 64, &count, &error); }, 0);
    expect_refused("id size 0", [&] { return api_.GetDeviceID_USB(port, buffer, 0, &count, &error); }, 0);
    expect_refused("recv null count", [&] { return api_.RecvPort_USB(port, buffer, 8, nullptr, 10, &error); });
    expect_refused("write null count", [&] { return api_.WritePort_USB(port, "x", 1, nullptr, 10, &error); });
    expect_refused("id null count", [&] { return api_.GetDeviceID_USB(port, buffer, 64, nullptr, &error); });
    expect_refused("list null count", [&] { return api_.SendSearch_USB(nullptr, nullptr, &error); });
    // A null error pointer: nothing to report into, but no crash either.
    EXPECT_EQ(api_.RecvPort_USB(port, buffer, 8, &count, 10, nullptr), 0);
    EXPECT_EQ(api_.WritePort_USB(port, "x", 1, &count, 10, nullptr), 0);
    EXPECT_EQ(api_.ClosePort_USB(port, nullptr), 0);
    EXPECT_EQ(api_.ClosePort_USB(port, &error), 1);
    EXPECT_EQ(error, 0u);
}

// A receive that gets less than it asked for ends with WAIT_TIMEOUT after
// one or two tries: after a try whose wait ran out, the 50 ms pause ends
// about 20 ms before the deadline (time-out + 70 ms), so a second try
// follows unless the tick count's 16 ms steps eat that margin.
TEST_F(LocalChannel, ReceiveThatTimesOutPadsWhatCameWithZerosAndLeavesAnEmptyBufferAlone) {
    struct Case {
        const Family& family;
        const char* pipe;
        std::string sent;
        std::string placed;  // the first 8 bytes of the buffer after the receive
    };
    const Case cases[] = {
        {kLpt, "LPT1", "", std::string(8, kFill)},
        {kUsb, "usb#vid_04b8&pid_0005#SN1", "ABC", std::string("ABC\0\0\0\0\0", 8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.family.name);
        trace_.Clear();
        PipeDevice pipe(c.pipe);
        HANDLE port = Open(c.family, pipe);
        ASSERT_NE(port, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(c.sent.empty() || pipe.Send(c.sent));
        std::string buffer(16, kFill);
        ULONGLONG start = GetTickCount64();
        EXPECT_EQ((api_.*c.family.recv)(port, &buffer[0], 8, &count_, 150, &error_), 0);
        ULONGLONG elapsed = GetTickCount64() - start;
        EXPECT_EQ(count_, c.sent.size());
        EXPECT_EQ(error_, static_cast<DWORD>(WAIT_TIMEOUT));
        EXPECT_EQ(buffer, c.placed + std::string(8, kFill));
        const std::string recv = std::string("OvRecvPort_") + c.family.name;
        int timeouts = trace_.Count(recv + " WaitForSingleObject WAIT_TIMEOUT");
        EXPECT_TRUE(timeouts == 1 || timeouts == 2) << timeouts;
        EXPECT_GE(elapsed, 150u * timeouts);
        EXPECT_LT(elapsed, 3000u);
        EXPECT_TRUE(trace_.Has(recv + " WAIT_TIMEOUT Result"));
        // Every try but one that found bytes at once waited; every parallel
        // try ran the check first, whose refused query let it go ahead.
        int tries = trace_.Count(recv + " ReadFile Send");
        EXPECT_EQ(tries, timeouts + (c.sent.empty() ? 0 : 1));
        EXPECT_EQ(trace_.Count("PrinterCheck_LPT Start"), &c.family == &kLpt ? tries : 0);
        (api_.*c.family.close)(port, &error_);
    }
    EXPECT_TRUE(trace_.Has("OvRecvPort_USB dwReadTotal = 3"));
}

// The parallel time-out is the library's, for every port; its reset and
// device-ID query name it in their lines (here the pipe refuses both).
TEST_F(LocalChannel, ParallelTimeOutStartsAt3000AndItsCallsAreTraced) {
    DWORD timeout = 0;
    EXPECT_EQ(api_.GetTimeOut_LPT(&timeout, &error_), 1);
    EXPECT_EQ(timeout, 3000u);
    PipeDevice pipe("lpt3");
    HANDLE port = Open(kLpt, pipe);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    char id[64];
    EXPECT_EQ(api_.SendCancel_LPT(port, &error_), 0);
    EXPECT_EQ(api_.GetDeviceID_LPT(port, id, sizeof id, &count_, &error_), 0);
    EXPECT_EQ(api_.ClosePort_LPT(port, &error_), 1);
    EXPECT_EQ(api_.SetTimeOut_LPT(0, &error_), 1);
    EXPECT_EQ(api_.GetTimeOut_LPT(&timeout, nullptr), 1);
    EXPECT_EQ(timeout, 0u);
    EXPECT_EQ(api_.GetTimeOut_LPT(nullptr, &error_), 0);
    EXPECT_EQ(error_, 87u);
    for (const char* line : {"OvGetTimeOut_LPT タイムアウトを取得しました。[3000]", "OvSendCancel_LPT タイムアウト (3000ms): ",
                             "OvGetDeviceID_LPT タイムアウト (3000ms): ", "OvSetTimeOut_LPT タイムアウトを 0 に設定しました。"})
        EXPECT_TRUE(trace_.Has(Sjis(line))) << line;
}

// A close from another thread ends a receive that waits there: the close
// cancels the pending read, and the receive, finding its handle closed,
// returns 0 with error 6 at once instead of trying until its time-out.
TEST_F(LocalChannel, CloseFromAnotherThreadEndsAPendingReceive) {
    PipeDevice pipe("usb#vid_04b8&pid_0005#4");
    HANDLE port = Open(kUsb, pipe);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    char buffer[8];
    int result = -1;
    ULONGLONG start = GetTickCount64(), elapsed = 0;
    std::thread receiver([&] {
        result = api_.RecvPort_USB(port, buffer, sizeof buffer, &count_, 8000, &error_);
        elapsed = GetTickCount64() - start;
    });
    for (int i = 0; i < 100 && !trace_.Has("OvRecvPort_USB ERROR_IO_PENDING"); ++i)
        Sleep(50);
    DWORD close_error = kUnset;
    EXPECT_EQ(api_.ClosePort_USB(port, &close_error), 1);
    receiver.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(count_, 0u);
    EXPECT_EQ(error_, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_LT(elapsed, 4000u);
    EXPECT_EQ(trace_.Count("OvRecvPort_USB ReadFile Send"), 1);
}

// A read refused at once with access denied, here on a handle without
// read access, is a successful try without data: the receive tries until
// its time-out and reports success, nothing read and WAIT_TIMEOUT.
TEST_F(LocalChannel, ReceiveWhoseReadsAreDeniedSucceedsEmptyAtItsTimeOut) {
    PipeDevice pipe("usb#vid_04b8&pid_0005#3");
    HANDLE port = CreateFileA(pipe.name().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    char buffer[8];
    EXPECT_EQ(api_.RecvPort_USB(port, buffer, sizeof buffer, &count_, 0, &error_), 1);
    EXPECT_EQ(count_, 0u);
    EXPECT_EQ(error_, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(trace_.Has("OvRecvPort_USB ReadFile ErrorCode : 0x00000005"));
    CloseHandle(port);
}

TEST_F(LocalChannel, TraceOfOpenWriteAndCloseIsFramedAndStamped) {
    PipeDevice pipe("usb#vid_04b8&pid_0005#2");
    HANDLE port = Open(kUsb, pipe);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    ASSERT_EQ(api_.WritePort_USB(port, "abc", 3, &count_, 500, &error_), 1);
    EXPECT_EQ(count_, 3u);
    EXPECT_EQ(pipe.Receive(3, 500), "abc");
    ASSERT_EQ(api_.ClosePort_USB(port, &error_), 1);
    const std::string dump_row = "61 62 63" + std::string(41, ' ') + "abc" + std::string(13, ' ');
    const std::vector<std::string> expected = {
        ">>>>>>>>>>>>>>>>>", "OvOpenPort_USB Start", "OvOpenPort_USB Success", "OvOpenPort_USB End",
        "<<<<<<<<<<<<<<<<<",
        ">>>>>>>>>>>>>>>>>", "OvWritePort_USB Start", "OvWritePort_USB CreateEvent Success",
        "OvWritePort_USB WriteFile Send", "OvWritePort_USB dwWriteByte = 3",
        "OvWritePort_USB CloseHandle(Event) Success", "OvWritePort_USB dwWriteTotal = 3", "Data = ",
        dump_row, "OvWritePort_USB End", "<<<<<<<<<<<<<<<<<",
        ">>>>>>>>>>>>>>>>>", "OvClosePort_USB Start", "OvClosePort_USB Success", "OvClosePort_USB End",
        "<<<<<<<<<<<<<<<<<",
    };
    std::vector<bool> stamped;
    EXPECT_EQ(trace_.Lines(&stamped), expected);
    for (size_t i = 0; i < stamped.size(); ++i)
        EXPECT_EQ(stamped[i], i != 13) << "line " << i;
}

TEST_F(LocalChannel, UsbListUnderWineIsEmpty) {
    EXPECT_EQ(api_.SendSearch_USB(nullptr, &count_, &error_), 1);
    EXPECT_EQ(count_, 0u);
    EXPECT_TRUE(trace_.Has("OvSendSearch_USB GET MODE"));
    EXPECT_TRUE(trace_.Has("OvSendSearch_USB None"));
}

TEST(LocalChannelTrace, WithoutTheLogFileNothingReachesTheDiskButTheDebuggerGetsEveryLine) {
    OvApi api;
    ASSERT_TRUE(api.Load());
    ScopedCurrentDir dir;
    DebugCapture capture;
    ASSERT_TRUE(capture.ok());
    DWORD error = kUnset;
    EXPECT_EQ(api.OpenPort_COM("PRN", &error), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    std::vector<std::string> lines;
    for (int i = 0; i < 100 && lines.size() < 4; ++i) {
        Sleep(10);
        lines = capture.Messages();
    }
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1].substr(15), "OvOpenPort_COM Start\n");
    EXPECT_EQ(lines[3].substr(15), "<<<<<<<<<<<<<<<<<\n");
}

}  // namespace
