// The UDP search and set in the rig, with real broadcasts: printers p1
// (FE:FF:FF:FF:00:01) and p2 (0A:4D:C2:12:34:56) answer 50 ms late; the
// ordinary host h answers at once, after short, long and random junk.
#include <algorithm>

#include "discovery_test.h"

namespace {

using UdpRig = RigTest;

long long Stat(const char* printer, const char* key) {
    std::string value = RigStat(printer, key);
    return value.empty() ? -1 : atoll(value.c_str());
}

TEST_F(UdpRig, ABroadcastRecordsTheVendorPrintersThatFitTheArray) {
    const struct {
        const char* destination;
        const char* sent_to;  // as p1 heard it
        DWORD capacity;
    } cases[] = {
        {kRigBroadcast, kRigBroadcast, 8},
        {"printers", "255.255.255.255", 8},  // no dotted address
        {kRigBroadcast, kRigBroadcast, 1},
    };
    for (const auto& c : cases) {
        long long before = Stat("p1", "geta");
        ASSERT_GE(before, 0) << "rig simulator unreachable";
        GuardedEntries entries(c.capacity);
        DWORD count = 0;
        EXPECT_EQ(api_.SendSearchUdpBroadcast(search_, entries.data(), c.capacity, 1, 1, &count, c.destination), 1);
        EXPECT_EQ(Stat("p1", "geta"), before + 1) << c.destination;
        EXPECT_EQ(RigStat("p1", "geta_to"), c.sent_to);
        ASSERT_EQ(count, std::min<DWORD>(c.capacity, 2)) << c.destination;
        if (c.capacity > 1) {
            EXPECT_EQ(Macs(entries, count), (MacList{kRigP2Mac, kRigP1Mac})) << c.destination;
        }
        for (DWORD i = 0; i < count; ++i) {
            std::string mac = FieldText(entries[i].mac);
            EXPECT_TRUE(mac == kRigP1Mac || mac == kRigP2Mac) << mac;
            EXPECT_EQ(FieldText(entries[i].address), mac == kRigP1Mac ? kRigP1 : kRigP2);
        }
    }
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
