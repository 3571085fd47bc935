// The status exchange against a host that never answers, in the discovery
// rig's library namespace (tests/rigs/discovery-rig.sh): its SYN retries
// are lowered to one there, so the platform's blocking connect gives up
// after about three seconds instead of two minutes.
#include "discovery/discovery_test.h"

namespace {

using SilentHost = NetTest;

TEST_F(SilentHost, TheStatusExchangeReturns0OnceTheConnectGivesUp) {
    SKIP_OUTSIDE_RIG(kRigLibrary);
    ASSERT_TRUE(RunUnixCommand("test $(cat /proc/sys/net/ipv4/tcp_syn_retries) = 1")) << "SYN retries not lowered";
    Configure(30, 0);  // a reply wait that would show
    OvHandle handle = api_.OpenStatus(kRigNobody);
    ASSERT_NE(handle, OV_INVALID_HANDLE);
    unsigned char buffer[64];
    DWORD length = 99;
    Stopwatch watch;
    EXPECT_EQ(api_.GetStatus(handle, buffer, sizeof buffer, &length), 0);
    EXPECT_GE(watch.Seconds(), 2.0) << "the connect did not wait for the host";
    EXPECT_LT(watch.Seconds(), 15.0) << "the exchange went on after the connect failed";
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(api_.GetError(handle), 0);
    EXPECT_EQ(api_.CloseStatus(handle), 1);
}

}  // namespace
