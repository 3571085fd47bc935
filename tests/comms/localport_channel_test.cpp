// The local-port exports through orvcomms.dll, against real handles: the
// opens' keyword test, the argument checks, and parallel and USB
// transfers over named pipes whose names hold the keyword (Wine refuses
// the parallel status query on a pipe, as a port without a status line
// would). The trace file is checked line by line.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "debug_capture.h"
#include "localport_peers.h"
#include "ovapi.h"

namespace {

using Open = decltype(&OvOpenPort_COM);
using Close = decltype(&OvClosePort_COM);
using Recv = decltype(&OvRecvPort_COM);
using Write = decltype(&OvWritePort_COM);

struct Family {
    const char* name;
    Open OvApi::*open;
    Close OvApi::*close;
    Recv OvApi::*recv;
    Write OvApi::*write;
};

const Family kFamilies[] = {
    {"COM", &OvApi::OpenPort_COM, &OvApi::ClosePort_COM, &OvApi::RecvPort_COM, &OvApi::WritePort_COM},
    {"LPT", &OvApi::OpenPort_LPT, &OvApi::ClosePort_LPT, &OvApi::RecvPort_LPT, &OvApi::WritePort_LPT},
    {"USB", &OvApi::OpenPort_USB, &OvApi::ClosePort_USB, &OvApi::RecvPort_USB, &OvApi::WritePort_USB},
};
const Family& kLpt = kFamilies[1];
const Family& kUsb = kFamilies[2];

constexpr DWORD kUnset = 0xDEADBEEF;
constexpr char kFill = '\xEE';

ULONGLONG ElapsedSince(ULONGLONG start) {
    return GetTickCount64() - start;
}

class LocalChannel : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(api_.Load());
        ASSERT_TRUE(trace_.ok());
    }

    /* Opens the pipe through the family's open; the handle or -1. */
    HANDLE OpenPipe(const Family& family, const PipeDevice& pipe) {
        DWORD error = kUnset;
        return (api_.*family.open)(pipe.name().c_str(), &error);
    }

    int Count(const std::string& line) {
        int n = 0;
        for (const std::string& l : trace_.Lines())
            n += l == line;
        return n;
    }

    OvApi api_;
    TraceFile trace_;
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
        {kFamilies[0], "PRN", true},
        {kFamilies[0], "\\\\.\\pipe\\orv-absent-com9", false},
        {kLpt, "COM1", true},
        {kLpt, "\\\\.\\pipe\\orv-absent-Lpt1", false},
        {kUsb, "USB001", true},
        {kUsb, "\\\\.\\pipe\\orv-absent#vid_04b8&pid_0005", false},
        {kFamilies[0], PipeName(255, "COM"), false},
        {kFamilies[0], PipeName(256, "COM"), true},
        {kFamilies[0], PipeName(10000, "COM"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.family.name) + " " + c.name.substr(0, 40) + " length " +
                     std::to_string(c.name.size()));
        trace_.Clear();
        DWORD error = kUnset;
        EXPECT_EQ((api_.*c.family.open)(c.name.c_str(), &error), INVALID_HANDLE_VALUE);
        std::string failed_open = std::string("OvOpenPort_") + c.family.name + " Error(INVALID_HANDLE_VALUE)";
        if (c.refused) {
            EXPECT_EQ(error, 87u);
            EXPECT_FALSE(trace_.Has(failed_open));
        } else {
            EXPECT_NE(error, 87u);
            EXPECT_NE(error, 0u);
            EXPECT_TRUE(trace_.Has(failed_open));
        }
    }
    DWORD error = kUnset;
    EXPECT_EQ(api_.OpenPort_COM(nullptr, &error), INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, 87u);
    EXPECT_TRUE(trace_.Has("OvOpenPort_COM Parameter Error"));
    EXPECT_EQ(api_.OpenPort_LPT("LPT1", nullptr), INVALID_HANDLE_VALUE);
}

TEST_F(LocalChannel, EveryFunctionRefusesNullAndInvalidHandlesAndNullPointers) {
    char buffer[64];
    DWORD count, error;
    DCB dcb = {};
    // Each call returns 0 and sets the error to 87 and any count to 0.
    auto expect_refused = [&](const char* what, const std::function<int()>& call) {
        count = kUnset;
        error = kUnset;
        EXPECT_EQ(call(), 0) << what;
        EXPECT_EQ(error, 87u) << what;
        EXPECT_TRUE(count == kUnset || count == 0) << what;
    };
    for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        for (const Family& f : kFamilies) {
            expect_refused("close", [&] { return (api_.*f.close)(bad, &error); });
            expect_refused("recv", [&] { return (api_.*f.recv)(bad, buffer, 8, &count, 10, &error); });
            expect_refused("write", [&] { return (api_.*f.write)(bad, "x", 1, &count, 10, &error); });
        }
        expect_refused("get conf", [&] { return api_.GetComConf(bad, &dcb, &error); });
        expect_refused("set conf", [&] { return api_.SetComConf(bad, &dcb, &error); });
        expect_refused("lpt reset", [&] { return api_.SendCancel_LPT(bad, &error); });
        expect_refused("usb reset", [&] { return api_.SendCancel_USB(bad, &error); });
        expect_refused("lpt id", [&] { return api_.GetDeviceID_LPT(bad, buffer, 64, &count, &error); });
        expect_refused("usb id", [&] { return api_.GetDeviceID_USB(bad, buffer, 64, &count, &error); });
    }
    PipeDevice pipe("usb#vid_04b8&pid_0005#1");
    HANDLE port = OpenPipe(kUsb, pipe);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    expect_refused("recv null buffer", [&] { return api_.RecvPort_USB(port, nullptr, 8, &count, 10, &error); });
    expect_refused("recv size 0", [&] { return api_.RecvPort_USB(port, buffer, 0, &count, 10, &error); });
    expect_refused("write null data", [&] { return api_.WritePort_USB(port, nullptr, 8, &count, 10, &error); });
    expect_refused("write size 0", [&] { return api_.WritePort_USB(port, "x", 0, &count, 10, &error); });
    expect_refused("id null buffer", [&] { return api_.GetDeviceID_USB(port, nullptr, 64, &count, &error); });
    expect_refused("id size 0", [&] { return api_.GetDeviceID_USB(port, buffer, 0, &count, &error); });
    expect_refused("recv null count", [&] { return api_.RecvPort_USB(port, buffer, 8, nullptr, 10, &error); });
    expect_refused("write null count", [&] { return api_.WritePort_USB(port, "x", 1, nullptr, 10, &error); });
    expect_refused("id null count", [&] { return api_.GetDeviceID_USB(port, buffer, 64, nullptr, &error); });
    // A null error pointer: nothing to report into, but no crash either.
    EXPECT_EQ(api_.RecvPort_USB(port, buffer, 8, &count, 10, nullptr), 0);
    EXPECT_EQ(api_.WritePort_USB(port, "x", 1, &count, 10, nullptr), 0);
    EXPECT_EQ(api_.ClosePort_USB(port, nullptr), 0);
    EXPECT_EQ(api_.ClosePort_USB(port, &error), 1);
    EXPECT_EQ(error, 0u);
}

TEST_F(LocalChannel, UsbWriteDeliversAndReceiveOfThreeOfEightBytesPadsWithZeros) {
    PipeDevice pipe("usb#vid_04b8&pid_0005#SN1#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}");
    HANDLE port = OpenPipe(kUsb, pipe);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    DWORD count = kUnset, error = kUnset;
    EXPECT_EQ(api_.WritePort_USB(port, "hello", 5, &count, 1000, &error), 1);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(pipe.Receive(5, 1000), "hello");

    ASSERT_TRUE(pipe.Send("ABC"));
    char buffer[16];
    memset(buffer, kFill, sizeof buffer);
    EXPECT_EQ(api_.RecvPort_USB(port, buffer, 8, &count, 200, &error), 0);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(error, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(std::string(buffer, 8), std::string("ABC\0\0\0\0\0", 8));
    EXPECT_EQ(std::string(buffer + 8, 8), std::string(8, kFill));
    EXPECT_TRUE(trace_.Has("OvRecvPort_USB dwReadTotal = 3"));
    api_.ClosePort_USB(port, &error);
}

// After a try whose wait ran out, the 50 ms pause ends about 20 ms before
// the deadline (time-out + 70 ms), so a second try follows unless the
// tick count's 16 ms steps eat that margin: one or two tries.
TEST_F(LocalChannel, ReceiveThatGetsNothingLeavesTheBufferAndWaitsOneOrTwoTimeOuts) {
    PipeDevice pipe("LPT1");
    HANDLE port = OpenPipe(kLpt, pipe);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    char buffer[8];
    memset(buffer, kFill, sizeof buffer);
    DWORD count = kUnset, error = kUnset;
    ULONGLONG start = GetTickCount64();
    api_.RecvPort_LPT(port, buffer, sizeof buffer, &count, 150, &error);
    ULONGLONG elapsed = ElapsedSince(start);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(error, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(std::string(buffer, 8), std::string(8, kFill));
    int tries = Count("OvRecvPort_LPT WaitForSingleObject WAIT_TIMEOUT");
    EXPECT_TRUE(tries == 1 || tries == 2) << tries;
    EXPECT_GE(elapsed, 150u * tries);
    EXPECT_LT(elapsed, 3000u);
    // The pipe refuses the status query, and a status that cannot be read
    // lets the transfer go ahead.
    EXPECT_EQ(Count("OvRecvPort_LPT ReadFile Send"), tries);
    EXPECT_EQ(Count("PrinterCheck_LPT Start"), tries);
    EXPECT_TRUE(trace_.Has("OvRecvPort_LPT WAIT_TIMEOUT Result"));
    api_.ClosePort_LPT(port, &error);
}

TEST_F(LocalChannel, WriteToADeviceThatTakesNothingFailsWithIncomplete) {
    PipeDevice pipe("lpt2", 1024);
    HANDLE port = OpenPipe(kLpt, pipe);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    std::string job = Pattern(256 * 1024);
    DWORD count = kUnset, error = kUnset;
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(api_.WritePort_LPT(port, job.data(), static_cast<DWORD>(job.size()), &count, 150, &error), 0);
    int tries = Count("OvWritePort_LPT WriteFile Send");
    EXPECT_TRUE(tries == 1 || tries == 2) << tries;
    EXPECT_GE(ElapsedSince(start), 150u * tries);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_IO_INCOMPLETE));
    api_.ClosePort_LPT(port, &error);
}

TEST_F(LocalChannel, ParallelTimeOutStartsAt3000AndTheResetAndIdReportARefusingDriver) {
    DWORD timeout = 0, error = kUnset;
    EXPECT_EQ(api_.GetTimeOut_LPT(&timeout, &error), 1);
    EXPECT_EQ(timeout, 3000u);
    EXPECT_TRUE(trace_.Has(Sjis("OvGetTimeOut_LPT タイムアウトを取得しました。[3000]")));

    PipeDevice pipe("lpt3");
    HANDLE port = OpenPipe(kLpt, pipe);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    EXPECT_EQ(api_.SendCancel_LPT(port, &error), 0);
    EXPECT_NE(error, 0u);
    char line[80];
    snprintf(line, sizeof line, "OvSendCancel_LPT Error ErrorCode : 0x%08lx", error);
    EXPECT_TRUE(trace_.Has(line));
    EXPECT_TRUE(trace_.Has(Sjis("OvSendCancel_LPT タイムアウト (3000ms): ")));

    char id[64];
    memset(id, kFill, sizeof id);
    DWORD length = kUnset;
    EXPECT_EQ(api_.GetDeviceID_LPT(port, id, sizeof id, &length, &error), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(std::string(id, sizeof id), std::string(sizeof id, '\0'));

    EXPECT_EQ(api_.SetTimeOut_LPT(0, &error), 1);
    EXPECT_TRUE(trace_.Has(Sjis("OvSetTimeOut_LPT タイムアウトを 0 に設定しました。")));
    EXPECT_EQ(api_.GetTimeOut_LPT(&timeout, nullptr), 1);
    EXPECT_EQ(timeout, 0u);
    EXPECT_EQ(api_.GetTimeOut_LPT(nullptr, &error), 0);
    EXPECT_EQ(error, 87u);
    api_.ClosePort_LPT(port, &error);
}

TEST_F(LocalChannel, TraceOfOpenWriteAndCloseIsFramedAndStamped) {
    PipeDevice pipe("usb#vid_04b8&pid_0005#2");
    DWORD error = kUnset, count = kUnset;
    HANDLE port = OpenPipe(kUsb, pipe);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    ASSERT_EQ(api_.WritePort_USB(port, "abc", 3, &count, 500, &error), 1);
    ASSERT_EQ(api_.ClosePort_USB(port, &error), 1);
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
    DWORD count = kUnset, error = kUnset;
    EXPECT_EQ(api_.SendSearch_USB(nullptr, &count, &error), 1);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(trace_.Has("OvSendSearch_USB GET MODE"));
    EXPECT_TRUE(trace_.Has("OvSendSearch_USB None"));
    EXPECT_EQ(api_.SendSearch_USB(nullptr, nullptr, &error), 0);
    EXPECT_EQ(error, 87u);
}

TEST(LocalChannelTrace, WithoutTheLogFileNothingReachesTheDiskButTheDebuggerGetsEveryLine) {
    OvApi api;
    ASSERT_TRUE(api.Load());
    ScopedCurrentDir dir;
    DebugCapture capture;
    ASSERT_TRUE(capture.ok());
    DWORD error = kUnset;
    EXPECT_EQ(api.OpenPort_COM("PRN", &error), INVALID_HANDLE_VALUE);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("*", &found);
    int entries = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do
            entries += strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0;
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    EXPECT_EQ(entries, 0);
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
