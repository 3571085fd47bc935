// The reachability checks: the ICMP echo through ICMP.DLL and the
// connect probe to port 80 in a hidden window's message loop.
#include <string>

#include "frame.h"
#include "net_fixture.h"
#include "network/reach.h"
#include "network/socket_calls.h"
#include "process_handles.h"
#include "reach_rig.h"

#include <mstcpip.h>  // after the Windows headers of net_fixture.h

namespace {

using Reachability = NetTest;

struct Check {
    const char* what;
    int (*call)(OvApi&, const char*);
};
const Check kChecks[] = {
    {"echo", [](OvApi& api, const char* host) { return api.SendICMP(host); }},
    {"connect probe", [](OvApi& api, const char* host) { return api.SendICMPAsync(host); }},
};

TEST_F(Reachability, BadTextsGetNoAnswerAtOnce) {
    const std::string too_long(68, 'a');
    // A 64-character label is no valid DNS name: the resolver fails
    // without asking a name server, so nothing is sent.
    const std::string unresolvable(64, 'n');
    for (const char* text : {static_cast<const char*>(nullptr), "", too_long.c_str(), unresolvable.c_str()}) {
        for (const Check& check : kChecks) {
            Stopwatch watch;
            EXPECT_EQ(check.call(api_, text), 0) << check.what << " " << (text == nullptr ? "(null)" : text);
            EXPECT_LT(watch.Seconds(), 0.8) << check.what;
        }
    }
}

TEST_F(Reachability, LoopbackHostsAnswerWhateverTheUseIcmpFlag) {
    SimPrinter listening(TestAddress(0), "print_port=80");
    SimPrinter refusing(TestAddress(1), "print=off");
    ASSERT_SIM(listening);
    ASSERT_SIM(refusing);
    for (int flag : {0, 1}) {
        EXPECT_EQ(api_.SetUseICMP(flag), 1);
        EXPECT_EQ(api_.SendICMP(refusing.address().c_str()), 1) << flag;
        // The host's TCP accepting or refusing the connection is an answer.
        for (const SimPrinter* printer : {&listening, &refusing}) {
            Stopwatch watch;
            EXPECT_EQ(api_.SendICMPAsync(printer->address().c_str()), 1) << flag << " " << printer->address();
            EXPECT_LT(watch.Seconds(), 0.8) << printer->address();
        }
    }
    EXPECT_TRUE(listening.WaitFor("print_connections", 2, 5000));
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) << "a run left a message behind";
}

// A tool that polls a printer in a loop: no check leaves a handle behind.
TEST_F(Reachability, PollingInALoopLeavesNoHandleBehind) {
    SimPrinter refusing(TestAddress(), "print=off");
    ASSERT_SIM(refusing);
    const char* host = refusing.address().c_str();
    for (const Check& check : kChecks)
        ASSERT_EQ(check.call(api_, host), 1) << check.what << ", warming up";
    ASSERT_TRUE(HandleCountingWorks());
    long before = CountProcessHandles();
    for (int i = 0; i < 150; ++i) {
        for (const Check& check : kChecks)
            ASSERT_EQ(check.call(api_, host), 1) << check.what << ", call " << i;
    }
    EXPECT_EQ(CountProcessHandles(), before);
}

TEST_F(Reachability, HostsThatDoNotAnswerThemselvesAreNoAnswer) {
    SKIP_WITHOUT_REACH_RIG();
    // The silent host lets each check wait out its second; the network's
    // "host unreachable" for the other ends both checks early.
    const struct {
        const char* host;
        double min_seconds, max_seconds;
        DWORD probe_reason;  // the connect probe's GetLastError
    } hosts[] = {{kReachRigSilent, 0.9, 3.0, WSAETIMEDOUT}, {kReachRigUnreachable, 0.0, 0.9, WSAEHOSTUNREACH}};
    for (const auto& host : hosts) {
        for (const Check& check : kChecks) {
            Stopwatch watch;
            SetLastError(0);
            EXPECT_EQ(check.call(api_, host.host), 0) << check.what << " " << host.host;
            if (&check == &kChecks[1]) {
                EXPECT_EQ(GetLastError(), host.probe_reason) << host.host;
            }
            EXPECT_GE(watch.Seconds(), host.min_seconds) << check.what << " " << host.host;
            EXPECT_LT(watch.Seconds(), host.max_seconds) << check.what << " " << host.host;
        }
    }
}

// --- a refused connection as Windows reports it -------------------------
// Windows reports a refused connect only after about 2 s of SYN retries,
// unless the socket asked for none first; Wine refuses at once and
// answers the request with 10045. Both calls are played as Windows 10
// answers them.
SOCKET g_no_retries = INVALID_SOCKET;

int WSAAPI GrantedInitialRto(SOCKET socket, DWORD code, LPVOID in, DWORD in_size, LPVOID, DWORD, LPDWORD,
                             LPWSAOVERLAPPED, LPWSAOVERLAPPED_COMPLETION_ROUTINE) {
    const auto* asked = static_cast<const TCP_INITIAL_RTO_PARAMETERS*>(in);
    if (code == 0x98000011 && in_size == sizeof *asked && asked->Rtt == 0xFFFF && asked->MaxSynRetransmissions == 0xFE)
        g_no_retries = socket;
    return 0;
}

int WSAAPI RetryingConnect(SOCKET socket, const sockaddr* to, int length) {
    if (socket == g_no_retries)
        return ::connect(socket, to, length);
    WSASetLastError(WSAEWOULDBLOCK);  // the refusal would come after the probe's second
    return SOCKET_ERROR;
}

TEST_F(Reachability, ARefusalIsAnAnswerAlsoWhereTheSystemRetriesRefusedConnects) {
    SimPrinter refusing(TestAddress(), "print=off");
    ASSERT_SIM(refusing);
    ASSERT_EQ(orv::Startup(GetModuleHandleA(nullptr)), 1);
    orv::g_socket_calls.ioctl = GrantedInitialRto;
    orv::g_socket_calls.connect = RetryingConnect;
    Stopwatch watch;
    EXPECT_EQ(orv::SendIcmpAsync(refusing.address().c_str()), 1);
    EXPECT_LT(watch.Seconds(), 0.8);
    orv::g_socket_calls.ioctl = ::WSAIoctl;
    orv::g_socket_calls.connect = ::connect;
    orv::Cleanup();
}

}  // namespace
