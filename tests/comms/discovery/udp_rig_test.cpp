// The UDP search and set in the rig, with real broadcasts: printers p1
// (FE:FF:FF:FF:00:01) and p2 (0A:4D:C2:12:34:56) answer 50 ms late; the
// ordinary host h answers at once, after short, long and random junk.
#include <algorithm>

#include "discovery_test.h"

namespace {

using MacList = std::vector<std::string>;

MacList Sorted(MacList macs) {
    std::sort(macs.begin(), macs.end());
    return macs;
}

long long Stat(const char* printer, const char* key) {
    std::string value = RigStat(printer, key);
    return value.empty() ? -1 : atoll(value.c_str());
}

class UdpRig : public DiscoveryTest {
  protected:
    void SetUp() override {
        SKIP_OUTSIDE_RIG(kRigLibrary);
        DiscoveryTest::SetUp();
    }
    int Broadcast(const char* destination, DWORD capacity = 8) {
        return api_.SendSearchUdpBroadcast(search_, entries_.data(), capacity, 1, 1, &count_, destination);
    }
    GuardedEntries entries_{8};
    DWORD count_ = 0;
};

TEST_F(UdpRig, ABroadcastFindsTheVendorPrintersWhateverElseAnswers) {
    long long before = Stat("p1", "geta");
    ASSERT_GE(before, 0) << "rig simulator unreachable";
    EXPECT_EQ(Broadcast(kRigBroadcast), 1);
    ASSERT_EQ(Sorted(Macs(entries_, count_)), Sorted({kRigP1Mac, kRigP2Mac}));
    for (DWORD i = 0; i < count_; ++i)
        EXPECT_EQ(FieldText(entries_[i].address), FieldText(entries_[i].mac) == kRigP1Mac ? kRigP1 : kRigP2);
    EXPECT_EQ(Stat("p1", "geta"), before + 1);
    EXPECT_EQ(RigStat("p1", "geta_to"), kRigBroadcast);
}

TEST_F(UdpRig, ADestinationThatIsNoAddressSendsToAllOnes) {
    EXPECT_EQ(Broadcast("printers"), 1);
    EXPECT_EQ(Sorted(Macs(entries_, count_)), Sorted({kRigP1Mac, kRigP2Mac}));
    EXPECT_EQ(RigStat("p2", "geta_to"), "255.255.255.255");
}

TEST_F(UdpRig, AnArrayOfOneTakesOneDevice) {
    GuardedEntries one(1);
    DWORD count = 0;
    EXPECT_EQ(api_.SendSearchUdpBroadcast(search_, one.data(), 1, 1, 1, &count, kRigBroadcast), 1);
    ASSERT_EQ(count, 1u);
    std::string mac = FieldText(one[0].mac);
    EXPECT_TRUE(mac == kRigP1Mac || mac == kRigP2Mac) << mac;
}

TEST_F(UdpRig, ASetByBroadcastChangesOnlyTheDeviceWithThatMac) {
    long long p1_before = Stat("p1", "seta_applied");
    EXPECT_EQ(api_.SendSetUdp(1, "02:00:00:09:00:13", "198.18.9.113", "255.255.255.0", kRigBroadcast), 1);
    EXPECT_TRUE(WaitUntil([] { return RigStat("h", "udp_address") == "198.18.9.113"; }, 2000));
    EXPECT_EQ(RigStat("p1", "seta_last"), "02:00:00:09:00:13/198.18.9.113/255.255.255.0");
    EXPECT_EQ(Stat("p1", "seta_applied"), p1_before);
    // Back to its own address, this time directly.
    EXPECT_EQ(api_.SendSetUdp(1, "02:00:00:09:00:13", kRigHost, "0.0.0.0", kRigHost), 1);
    EXPECT_TRUE(WaitUntil([] { return RigStat("h", "udp_address") == kRigHost; }, 2000));
}

}  // namespace
