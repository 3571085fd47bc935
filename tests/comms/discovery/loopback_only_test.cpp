// Searches on a machine whose only address is 127.0.0.1 (the rig's
// namespace orv9-lo): nothing to send to, and still a complete run.
#include <iphlpapi.h>

#include "discovery_test.h"

namespace {

bool OnlyLoopback() {
    ULONG size = 0;
    if (GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER)
        return false;
    std::vector<char> buffer(size);
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    return GetIpAddrTable(table, &size, FALSE) == NO_ERROR && table->dwNumEntries == 1 &&
           table->table[0].dwAddr == inet_addr("127.0.0.1");
}

class LoopbackOnly : public DiscoveryTest {
  protected:
    void SetUp() override {
        if (!OnlyLoopback())
            GTEST_SKIP() << "not in the rig's loopback-only namespace (tests/rigs/discovery-rig.sh, root)";
        DiscoveryTest::SetUp();
    }
    GuardedEntries entries_{4};
    DWORD count_ = 2;
};

TEST_F(LoopbackOnly, TheArpSearchSendsNoEchoAndStillScans) {
    EXPECT_EQ(api_.SendSearch(search_, entries_.data(), 4, 0, 0, &count_, ""), 1);
    EXPECT_EQ(api_.GetError(search_), 1);
    EXPECT_EQ(count_, 0u);
}

TEST_F(LoopbackOnly, TheArpSearchRefusesANullArrayOrCountAtOnce) {
    EXPECT_EQ(api_.SendSearch(search_, nullptr, 4, 1, 0, &count_, ""), 0);
    EXPECT_EQ(api_.SendSearch(search_, entries_.data(), 4, 1, 0, nullptr, ""), 0);
    EXPECT_EQ(api_.GetError(search_), 0);
    EXPECT_EQ(count_, 2u);
}

TEST_F(LoopbackOnly, TheDhcpSearchHearsNoInterfaceAndWaitsItsTime) {
    Stopwatch watch;
    EXPECT_EQ(api_.SendSearchDhcp(search_, entries_.data(), 1, 1, &count_), 1);
    EXPECT_GE(watch.Seconds(), 0.98);
    EXPECT_EQ(count_, 2u);
}

}  // namespace
