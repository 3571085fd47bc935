// The DHCP-request search in the rig. Requests come every second from the
// simulator for FE:FF:FF:FF:00:01 (switch; each after junk: short, 3000
// bytes, random) and for an ordinary MAC with the same junk, every 200 ms
// for 0A:4D:C2:00:10:02 (second network), and about every second, with a
// pause after three, from a real DHCP client (udhcpc) for 0A:4D:C2:12:34:56.
#include <algorithm>
#include <thread>

#include "discovery_test.h"

namespace {

bool Contains(const MacList& macs, const std::string& mac) {
    return std::find(macs.begin(), macs.end(), mac) != macs.end();
}

class DhcpSearch : public RigTest {
  protected:
    GuardedEntries entries_{8};
    DWORD count_ = 0;
};

TEST_F(DhcpSearch, SecondsAndMultiplier0ListenFiveSecondsAndRecordEachVendorDeviceOnce) {
    Stopwatch watch;
    EXPECT_EQ(api_.SendSearchDhcp(search_, entries_.data(), 0, 0, &count_), 1);
    EXPECT_GE(watch.Seconds(), 4.98);
    EXPECT_LT(watch.Seconds(), 7.0);
    // Each repeats its request many times; the junk's MAC is never taken.
    EXPECT_EQ(Macs(entries_, count_), (MacList{kRigP3Mac, kRigP2Mac, kRigP1Mac}));
    for (DWORD i = 0; i < count_; ++i)
        EXPECT_TRUE(Untouched(entries_[i].address)) << i;  // devices without an address
}

TEST_F(DhcpSearch, TheSecondFormTellsWhichInterfaceHeardEachDevice) {
    GuardedEntries interfaces(8);
    Stopwatch watch;
    EXPECT_EQ(api_.SendSearchDhcp2(search_, entries_.data(), interfaces.interfaces(), 8, 1, 2, &count_), 1);
    EXPECT_GE(watch.Seconds(), 1.98);
    EXPECT_LT(watch.Seconds(), 4.0);
    MacList found = Macs(entries_, count_);
    ASSERT_TRUE(Contains(found, kRigP1Mac) && Contains(found, kRigP3Mac));
    for (DWORD i = 0; i < count_; ++i) {
        const OvInterfaceEntry& heard = interfaces.interfaces()[i];
        bool second_network = FieldText(entries_[i].mac) == kRigP3Mac;
        EXPECT_EQ(FieldText(heard.address), second_network ? kRigLibrary2 : kRigLibrary);
        EXPECT_EQ(FieldText(heard.mask), "255.255.255.0");
        EXPECT_EQ(FieldText(heard.network), second_network ? "198.18.10.0" : "198.18.9.0");
    }
    EXPECT_TRUE(Untouched(interfaces[count_].address));
}

TEST_F(DhcpSearch, OnlyNewDevicesThatFitTheArrayAreRecorded) {
    // 255 already counted: the first form records nothing more.
    GuardedEntries full(OV_SEARCH_DEFAULT_CAPACITY);
    DWORD count = OV_SEARCH_DEFAULT_CAPACITY;
    EXPECT_EQ(api_.SendSearchDhcp(search_, full.data(), 1, 1, &count), 1);
    EXPECT_EQ(count, static_cast<DWORD>(OV_SEARCH_DEFAULT_CAPACITY));
    // A count beyond the array: the duplicate test stops at the capacity.
    GuardedEntries one(1);
    count = 6;
    EXPECT_EQ(api_.SendSearchDhcp2(search_, one.data(), nullptr, 1, 1, 1, &count), 1);
    EXPECT_EQ(count, 6u);
    count = 0;
    EXPECT_EQ(api_.SendSearchDhcp2(search_, one.data(), one.interfaces(), 1, 1, 1, &count), 1);
    EXPECT_EQ(count, 1u);
    // A device below the count, in other letters, is not recorded again.
    strcpy(entries_[0].mac, "fe:ff:ff:ff:00:01");
    count_ = 1;
    EXPECT_EQ(api_.SendSearchDhcp2(search_, entries_.data(), nullptr, 8, 1, 1, &count_), 1);
    MacList found = Macs(entries_, count_);
    EXPECT_FALSE(Contains(found, kRigP1Mac)) << "recorded again";
    EXPECT_TRUE(Contains(found, kRigP3Mac));
    EXPECT_TRUE(Untouched(entries_[1].address)) << "a device without an address";
}

TEST_F(DhcpSearch, AnInterfaceThatGoesAwayDuringTheSearchEndsNothingElse) {
    ASSERT_TRUE(HasInterfaceAddress("198.18.11.1")) << "the rig's interface orv9-gone";
    std::thread remover([] {
        Sleep(500);
        RunUnixCommand("ip link del orv9-gone");
    });
    EXPECT_EQ(api_.SendSearchDhcp2(search_, entries_.data(), nullptr, 8, 2, 1, &count_), 1);
    remover.join();
    EXPECT_FALSE(HasInterfaceAddress("198.18.11.1"));
    EXPECT_TRUE(Contains(Macs(entries_, count_), kRigP3Mac));
    EXPECT_TRUE(RunUnixCommand("bash " ORV_RIGS_DIR "/discovery-rig.sh gone-add"));
    EXPECT_TRUE(HasInterfaceAddress("198.18.11.1"));
}

}  // namespace
