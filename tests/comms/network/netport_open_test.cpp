// Opening and closing the print channel: name handling, the connect with
// its one-second cycles and address-in-use retries, the local address
// binding, and the close that shuts down, drains and frees.
#include <thread>
#include <vector>

#include "internal.h"
#include "process_handles.h"
#include "net_fixture.h"
#include "network/netport.h"
#include "network/socket_calls.h"

namespace {

using OpenPort = NetTest;

/* A failed open has no handle to ask: its reason is the thread's last
 * error. */
DWORD OpenFailure(OvApi& api, const char* host) {
    SetLastError(0);
    EXPECT_EQ(api.OpenPort(host), OV_INVALID_HANDLE) << (host == nullptr ? "(null)" : host);
    return GetLastError();
}

TEST_F(OpenPort, NullHostFails) {
    EXPECT_EQ(OpenFailure(api_, nullptr), 87u);
}

TEST_F(OpenPort, EmptyAndOverLongHostTextsAreRefused) {
    EXPECT_EQ(api_.OpenPort(""), OV_INVALID_HANDLE);
    // 68 characters never fit the record's address; the open does not try
    // a shortened name.
    std::string too_long(68, 'a');
    Stopwatch watch;
    EXPECT_EQ(OpenFailure(api_, too_long.c_str()), 87u);
    EXPECT_LT(watch.Seconds(), 1.0);
}

TEST_F(OpenPort, UnresolvableNameFails) {
    // A 64-character label is not a valid DNS name, so the resolver fails
    // without asking a name server.
    std::string name(64, 'n');
    EXPECT_EQ(OpenFailure(api_, name.c_str()), static_cast<DWORD>(WSAHOST_NOT_FOUND));
}

TEST_F(OpenPort, ConnectsToADottedAddressAndReportsNoError) {
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    OvHandle port = api_.OpenPort(printer.address().c_str());
    ASSERT_NE(port, OV_INVALID_HANDLE);
    EXPECT_EQ(api_.GetError(port), 0);
    EXPECT_TRUE(printer.WaitFor("print_connections", 1, 5000));
    EXPECT_EQ(api_.ClosePort(port), 1);
}

TEST_F(OpenPort, ResolvesAHostName) {
    // "localhost" comes from the hosts file: 127.0.0.1.
    hostent* host = gethostbyname("localhost");
    if (host == nullptr || *reinterpret_cast<ULONG*>(host->h_addr_list[0]) != inet_addr("127.0.0.1"))
        GTEST_SKIP() << "this machine's hosts file does not name localhost 127.0.0.1";
    SimPrinter printer("127.0.0.1");
    ASSERT_SIM(printer);
    OvHandle port = api_.OpenPort("localhost");
    ASSERT_NE(port, OV_INVALID_HANDLE);
    EXPECT_TRUE(printer.WaitFor("print_connections", 1, 5000));
    EXPECT_EQ(api_.ClosePort(port), 1);
}

TEST_F(OpenPort, RefusedConnectionRunsOutTheCyclesAndFails) {
    Configure(0, 0, 2);
    SimPrinter printer(TestAddress(), "print=off");
    ASSERT_SIM(printer);
    Stopwatch watch;
    // The reason tells a refusal from a time-out.
    EXPECT_EQ(OpenFailure(api_, printer.address().c_str()), static_cast<DWORD>(WSAECONNREFUSED));
    // A refusal is not reported as established: two one-second cycles.
    EXPECT_GE(watch.Seconds(), 1.8);
    EXPECT_LT(watch.Seconds(), 5.0);
}

TEST_F(OpenPort, OpenTimeoutAtOrAbove2To31IsALongWaitNotNone) {
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    for (DWORD open_timeout : {0x80000000u, 0xFFFFFFFFu}) {
        Configure(0, 0, open_timeout);
        OvHandle port = api_.OpenPort(printer.address().c_str());
        ASSERT_NE(port, OV_INVALID_HANDLE) << open_timeout;
        EXPECT_EQ(api_.ClosePort(port), 1);
    }
}

TEST_F(OpenPort, SilentHostFailsAfterAboutOpenTimeoutSeconds) {
    SKIP_WITHOUT_RIG();
    Stopwatch watch;
    EXPECT_EQ(OpenFailure(api_, kRigSilentHost), static_cast<DWORD>(WSAETIMEDOUT));
    EXPECT_GE(watch.Seconds(), 0.9);
    EXPECT_LT(watch.Seconds(), 3.0);
}

TEST_F(OpenPort, SilentHostWaitsOpenTimeoutCycles) {
    SKIP_WITHOUT_RIG();
    Configure(0, 0, 3);
    Stopwatch watch;
    EXPECT_EQ(api_.OpenPort(kRigSilentHost), OV_INVALID_HANDLE);
    EXPECT_GE(watch.Seconds(), 2.7);
    EXPECT_LT(watch.Seconds(), 6.0);
}

TEST_F(OpenPort, BindsToTheInterfaceOnThePrintersSubnet) {
    SKIP_WITHOUT_RIG();
    SimPrinter printer(kRigPrinterForBinding, std::string("netns=") + kRigNamespace);
    ASSERT_SIM(printer);
    OvHandle port = api_.OpenPort(kRigPrinterForBinding);
    ASSERT_NE(port, OV_INVALID_HANDLE);
    SimStats stats;
    ASSERT_TRUE(printer.WaitFor("print_connections", 1, 5000, &stats));
    std::string peer = stats.Str("peer");
    EXPECT_EQ(peer.substr(0, peer.find(':')), kRigLocal);
    EXPECT_EQ(api_.ClosePort(port), 1);
}

TEST_F(OpenPort, ManyOpensAtOnceOnSeveralThreadsEachGetTheirOwnPort) {
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    constexpr int kThreads = 6;
    OvHandle ports[kThreads];
    std::vector<std::thread> threads;
    // Every thread has ended before its result is read (the test's
    // time-out bounds an open that never returns).
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] { ports[i] = api_.OpenPort(printer.address().c_str()); });
    for (std::thread& thread : threads)
        thread.join();
    for (int i = 0; i < kThreads; ++i) {
        ASSERT_NE(ports[i], OV_INVALID_HANDLE);
        for (int j = 0; j < i; ++j)
            EXPECT_NE(ports[i], ports[j]);
    }
    EXPECT_TRUE(printer.WaitFor("print_connections", kThreads, 5000));
    for (OvHandle port : ports)
        EXPECT_EQ(api_.ClosePort(port), 1);
}

// --- address in use ---------------------------------------------------
// A real socket layer does not answer "address in use" on demand, so
// these tests replace the start of the connection of the internal library
// (the same code as the DLL's) with one that fails a given number of times.

struct ConnectScript {
    int fail_first = 0;  // how many starts answer WSAEADDRINUSE
    int calls = 0;
    std::vector<ULONGLONG> times;
};
ConnectScript g_script;

int WSAAPI ScriptedConnect(SOCKET s, const sockaddr* to, int length) {
    g_script.times.push_back(GetTickCount64());
    if (g_script.calls++ < g_script.fail_first) {
        WSASetLastError(WSAEADDRINUSE);
        return SOCKET_ERROR;
    }
    return ::connect(s, to, length);
}

class AddressInUse : public NetTest {
  protected:
    void SetUp() override {
        NetTest::SetUp();
        g_script = ConnectScript();
        orv::g_socket_calls.connect = ScriptedConnect;
    }
    void TearDown() override {
        orv::g_socket_calls.connect = ::connect;
        NetTest::TearDown();
    }
};

TEST_F(AddressInUse, IsFollowedHalfASecondLaterByAnotherAttempt) {
    Configure(0, 0);  // RETRY 0 means the default, 2 attempts
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    g_script.fail_first = 1;
    OvHandle port = orv::OpenPort(printer.address().c_str());
    ASSERT_NE(port, OV_INVALID_HANDLE);
    ASSERT_EQ(g_script.calls, 2);
    ULONGLONG gap = g_script.times[1] - g_script.times[0];
    EXPECT_GE(gap, 450u);
    EXPECT_LT(gap, 2000u);
    EXPECT_EQ(orv::ClosePort(port), 1);
}

TEST_F(AddressInUse, GivesUpAtOnceAfterRetryAttempts) {
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    g_script.fail_first = 100;
    for (DWORD retry : {1, 3}) {
        Configure(0, retry);
        g_script.calls = 0;
        g_script.times.clear();
        EXPECT_EQ(orv::OpenPort(printer.address().c_str()), OV_INVALID_HANDLE);
        ULONGLONG returned = GetTickCount64();
        ASSERT_EQ(g_script.calls, static_cast<int>(retry));
        // No pause after the last attempt: nothing follows it.
        EXPECT_LT(returned - g_script.times.back(), 400u) << "RETRY " << retry;
    }
}

TEST_F(AddressInUse, RetryAtOrAbove2To31IsALargeCountNotANegativeOne) {
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    g_script.fail_first = 1;
    for (DWORD retry : {0x80000000u, 0xFFFFFFFFu}) {
        Configure(0, retry);
        g_script.calls = 0;
        OvHandle port = orv::OpenPort(printer.address().c_str());
        ASSERT_NE(port, OV_INVALID_HANDLE) << retry;
        EXPECT_EQ(g_script.calls, 2) << retry;
        EXPECT_EQ(orv::ClosePort(port), 1);
    }
}

TEST_F(AddressInUse, OtherErrorsAreNotRetried) {
    Configure(0, 5, 1);
    SimPrinter printer(TestAddress(), "print=off");
    ASSERT_SIM(printer);
    EXPECT_EQ(orv::OpenPort(printer.address().c_str()), OV_INVALID_HANDLE);
    EXPECT_EQ(g_script.calls, 1);
}

// --- close --------------------------------------------------------------

using ClosePort = NetTest;

TEST_F(ClosePort, NullHandleReturnsZero) {
    EXPECT_EQ(api_.ClosePort(0), 0);
}

TEST_F(ClosePort, ShutsDownTheSendingSideBeforeClosing) {
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    OvHandle port = api_.OpenPort(printer.address().c_str());
    ASSERT_NE(port, OV_INVALID_HANDLE);
    Stopwatch watch;
    EXPECT_EQ(api_.ClosePort(port), 1);
    // The printer saw the end of the data and closed: no reset, and the
    // close took only its settling pause.
    SimStats stats;
    EXPECT_TRUE(printer.WaitFor("eof", 1, 5000, &stats));
    EXPECT_EQ(stats.Num("resets"), 0);
    EXPECT_GE(watch.Seconds(), 0.45);
    EXPECT_LT(watch.Seconds(), 3.0);
}

TEST_F(ClosePort, DrainEndsAfterRetryTimesTimeOnAPrinterThatKeepsSending) {
    Configure(1, 2);
    SimPrinter printer(TestAddress(), "chatter=always chatter_bytes=64 chatter_ms=50 on_eof=keep");
    ASSERT_SIM(printer);
    OvHandle port = api_.OpenPort(printer.address().c_str());
    ASSERT_NE(port, OV_INVALID_HANDLE);
    Stopwatch watch;
    EXPECT_EQ(api_.ClosePort(port), 1);
    // 500 ms settling pause, then 2 × 1 s of draining.
    EXPECT_GE(watch.Seconds(), 2.4);
    EXPECT_LT(watch.Seconds(), 5.0);
}

TEST_F(ClosePort, DrainReadsWhatThePrinterSendsAfterTheShutdownUntilItCloses) {
    // The printer answers the end of the data with chatter for about a
    // second, then closes its side: the drain reads it all and ends on the
    // printer's end (long before its 10 s limit), so the printer's last
    // bytes are taken and its connection ends without a reset.
    Configure(10, 1);
    SimPrinter printer(TestAddress(), "chatter=after_eof chatter_bytes=100 chatter_ms=50");
    ASSERT_SIM(printer);
    OvHandle port = api_.OpenPort(printer.address().c_str());
    ASSERT_NE(port, OV_INVALID_HANDLE);
    int result = -1;
    ULONGLONG returned_at = 0;
    std::thread closer([&] {
        result = api_.ClosePort(port);
        returned_at = GetTickCount64();
    });
    EXPECT_TRUE(printer.WaitFor("eof", 1, 5000));
    Sleep(1000);
    ULONGLONG stopped_at = GetTickCount64();
    ASSERT_TRUE(printer.Set("chatter=off"));
    closer.join();
    EXPECT_EQ(result, 1);
    EXPECT_GE(returned_at, stopped_at) << "the drain goes on while the printer sends";
    EXPECT_LT(returned_at - stopped_at, 5000u) << "and ends with the printer's end";
    // Once the printer's connection has ended, its reset count is final.
    SimStats stats = printer.Stats();
    for (int i = 0; i < 100 && stats.Num("open") != 0; ++i) {
        Sleep(50);
        stats = printer.Stats();
    }
    ASSERT_EQ(stats.Num("open"), 0);
    EXPECT_EQ(stats.Num("resets"), 0);
}

TEST_F(ClosePort, APrinterThatAnswersLateHasItsLastBytesReadAndAnOrderlyClose) {
    // The printer sends its final status, more than two drain reads of it,
    // 150 or 450 ms after the end of the data, and its FIN 250 ms later.
    // The drain reads on until that end, long before its 10 s limit: its
    // last receive returned 0, so every byte before the FIN was read, and
    // the printer saw no reset.
    Configure(10, 1);
    for (int tail_ms : {150, 450}) {
        SimPrinter printer(TestAddress(tail_ms), "tail=600 tail_ms=" + std::to_string(tail_ms));
        ASSERT_SIM(printer);
        OvHandle port = api_.OpenPort(printer.address().c_str());
        ASSERT_NE(port, OV_INVALID_HANDLE);
        Stopwatch watch;
        EXPECT_EQ(api_.ClosePort(port), 1);
        // The settling pause, the printer's wait, then its FIN.
        EXPECT_GE(watch.Seconds(), 0.5 + tail_ms / 1000.0 + 0.25 - 0.05) << tail_ms;
        EXPECT_LT(watch.Seconds(), 4.0) << tail_ms;
        SimStats stats;
        EXPECT_TRUE(printer.WaitFor("tails", 1, 3000, &stats)) << tail_ms;
        EXPECT_EQ(stats.Num("resets"), 0) << tail_ms;
    }
}

TEST_F(ClosePort, FreesEverythingItMade) {
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    // Warm up the socket layer's own handles first.
    OvHandle warm = api_.OpenPort(printer.address().c_str());
    ASSERT_NE(warm, OV_INVALID_HANDLE);
    api_.ClosePort(warm);
    ASSERT_TRUE(HandleCountingWorks());
    long before = CountProcessHandles();
    for (int i = 0; i < 5; ++i) {
        OvHandle port = api_.OpenPort(printer.address().c_str());
        ASSERT_NE(port, OV_INVALID_HANDLE);
        EXPECT_EQ(api_.ClosePort(port), 1);
    }
    EXPECT_EQ(CountProcessHandles(), before);
}

TEST_F(OpenPort, FailedOpensLeaveNothingBehind) {
    Configure(0, 0, 1);
    SimPrinter printer(TestAddress(), "print=off");
    ASSERT_SIM(printer);
    api_.OpenPort(printer.address().c_str());
    ASSERT_TRUE(HandleCountingWorks());
    long before = CountProcessHandles();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(api_.OpenPort(printer.address().c_str()), OV_INVALID_HANDLE);
    std::string name(64, 'n');
    EXPECT_EQ(api_.OpenPort(name.c_str()), OV_INVALID_HANDLE);
    EXPECT_EQ(CountProcessHandles(), before);
}

}  // namespace
