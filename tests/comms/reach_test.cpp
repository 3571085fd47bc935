// The reachability checks: the ICMP echo through ICMP.DLL and the
// connect probe to port 80 in a hidden window's message loop.
#include <string>

#include "net_fixture.h"
#include "reach_rig.h"

namespace {

using Reachability = NetTest;

TEST_F(Reachability, BadTextsGetNoAnswerAtOnce) {
    const std::string too_long(68, 'a');
    // A 64-character label is no valid DNS name: the resolver fails
    // without asking a name server, so nothing is sent.
    const std::string unresolvable(64, 'n');
    for (const char* text : {static_cast<const char*>(nullptr), "", too_long.c_str(), unresolvable.c_str()}) {
        const char* what = text == nullptr ? "(null)" : text;
        Stopwatch watch;
        EXPECT_EQ(api_.SendICMP(text), 0) << what;
        EXPECT_EQ(api_.SendICMPAsync(text), 0) << what;
        EXPECT_LT(watch.Seconds(), 0.8) << what;
    }
}

TEST_F(Reachability, LoopbackAnswersTheEcho) {
    EXPECT_EQ(api_.SendICMP(TestAddress().c_str()), 1);
}

TEST_F(Reachability, ConnectProbeCountsAcceptanceAndRefusalAsAnswers) {
    SimPrinter listening(TestAddress(0), "print_port=80");
    ASSERT_SIM(listening);
    SimPrinter refusing(TestAddress(1), "print=off");
    ASSERT_SIM(refusing);
    for (const SimPrinter* printer : {&listening, &refusing}) {
        Stopwatch watch;
        EXPECT_EQ(api_.SendICMPAsync(printer->address().c_str()), 1) << printer->address();
        EXPECT_LT(watch.Seconds(), 0.8) << printer->address();
    }
    EXPECT_TRUE(listening.WaitFor("print_connections", 1, 5000));
}

TEST_F(Reachability, UseIcmpFlagChangesNeitherCheck) {
    SimPrinter refusing(TestAddress(), "print=off");
    ASSERT_SIM(refusing);
    for (int flag : {0, 1}) {
        EXPECT_EQ(api_.SetUseICMP(flag), 1);
        EXPECT_EQ(api_.SendICMP(refusing.address().c_str()), 1) << flag;
        EXPECT_EQ(api_.SendICMPAsync(refusing.address().c_str()), 1) << flag;
    }
}

TEST_F(Reachability, ManyProbesInARowKeepRegisteringTheirClasses) {
    SimPrinter refusing(TestAddress(), "print=off");
    ASSERT_SIM(refusing);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(api_.SendICMPAsync(refusing.address().c_str()), 1) << i;
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) << "a run left a message behind";
}

TEST_F(Reachability, SilentHostIsNoAnswerAfterOneSecond) {
    SKIP_WITHOUT_REACH_RIG();
    struct Case {
        const char* what;
        int (*check)(OvApi&, const char*);
    };
    const Case cases[] = {
        {"echo", [](OvApi& api, const char* host) { return api.SendICMP(host); }},
        {"connect probe", [](OvApi& api, const char* host) { return api.SendICMPAsync(host); }},
    };
    for (const Case& c : cases) {
        Stopwatch watch;
        EXPECT_EQ(c.check(api_, kReachRigSilent), 0) << c.what;
        EXPECT_GE(watch.Seconds(), 0.9) << c.what;
        EXPECT_LT(watch.Seconds(), 3.0) << c.what;
    }
}

TEST_F(Reachability, HostUnreachableFromTheNetworkIsNoAnswer) {
    SKIP_WITHOUT_REACH_RIG();
    Stopwatch watch;
    EXPECT_EQ(api_.SendICMP(kReachRigUnreachable), 0);
    EXPECT_EQ(api_.SendICMPAsync(kReachRigUnreachable), 0);
    EXPECT_LT(watch.Seconds(), 1.5) << "the unreachable answers should end both checks early";
}

}  // namespace
