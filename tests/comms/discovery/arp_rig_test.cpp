// The ARP-table search in the rig: printers FE:FF:FF:FF:00:01 and
// 0A:4D:C2:12:34:56 on the switch and 0A:4D:C2:00:10:02 on the second
// network answer echo, an ordinary host does too, and a vendor MAC at
// 198.18.9.14 never answers.
#include <algorithm>
#include <iphlpapi.h>

#include "discovery.h"
#include "discovery_test.h"
#include "frame.h"

namespace {

using MacList = std::vector<std::string>;

MacList Sorted(MacList macs) {
    std::sort(macs.begin(), macs.end());
    return macs;
}

bool HasDynamicNeighbour(const char* address) {
    ULONG size = 0;
    if (GetIpNetTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER)
        return false;
    std::vector<char> buffer(size);
    auto* table = reinterpret_cast<MIB_IPNETTABLE*>(buffer.data());
    if (GetIpNetTable(table, &size, FALSE) != NO_ERROR)
        return false;
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        if (table->table[i].dwAddr == inet_addr(address) && table->table[i].dwType == MIB_IPNET_TYPE_DYNAMIC)
            return true;
    }
    return false;
}

/* Empties the neighbour caches here and in the printers. A device only
 * enters this machine's ARP cache through the ARP request it sends to
 * answer the broadcast echo, and it sends none while it still has this
 * machine in its own cache. */
bool ForgetNeighbours() {
    return RunUnixCommand(
        "ip neigh flush dev orv9-lib && ip neigh flush dev orv9-l1 && "
        "for ns in orv9-p1 orv9-p2 orv9-h orv9-p3; do ip -n $ns neigh flush all; done");
}

class ArpSearch : public DiscoveryTest {
  protected:
    void SetUp() override {
        SKIP_OUTSIDE_RIG(kRigLibrary);
        ASSERT_TRUE(ForgetNeighbours());
        DiscoveryTest::SetUp();
    }
    int Search(DWORD capacity, DWORD wait, const char* prefix) {
        return api_.SendSearch(search_, entries_.data(), capacity, wait, 0, &count_, prefix);
    }

    GuardedEntries entries_{8};
    DWORD count_ = 7;
};

TEST_F(ArpSearch, FindsTheVendorDevicesThatAnswerAfterTheBroadcastEcho) {
    // An empty cache: only the broadcast echoes of the run can fill it.
    ASSERT_FALSE(HasDynamicNeighbour(kRigP1) || HasDynamicNeighbour(kRigP2) || HasDynamicNeighbour(kRigP3));

    Stopwatch watch;
    EXPECT_EQ(Search(8, 1, ""), 1);
    EXPECT_GE(watch.Seconds(), 0.98);
    EXPECT_EQ(api_.GetError(search_), 1);
    ASSERT_EQ(Sorted(Macs(entries_, count_)), Sorted({kRigP1Mac, kRigP2Mac, kRigP3Mac}));
    for (DWORD i = 0; i < count_; ++i) {
        std::string mac = FieldText(entries_[i].mac);
        EXPECT_EQ(FieldText(entries_[i].address), mac == kRigP1Mac ? kRigP1 : mac == kRigP2Mac ? kRigP2 : kRigP3);
        EXPECT_TRUE(Untouched(entries_[i].reserved));
    }
    // The silent vendor device was probed (three seconds) and not counted:
    // its address may wait beyond the count, with no MAC beside it.
    EXPECT_GE(watch.Seconds(), 3.9);
    std::string beyond = FieldText(entries_[count_].address);
    EXPECT_TRUE(beyond == kRigSilentVendor || Untouched(entries_[count_].address)) << beyond;
    EXPECT_TRUE(Untouched(entries_[count_].mac));
}

TEST_F(ArpSearch, ACallersPrefixReplacesTheVendorListAndIgnoresCase) {
    // Replies to a run's broadcast echo that come in during a probe would
    // cut the probe short (a third address), so every run that probes
    // waits a second first.
    const struct {
        const char* prefix;
        MacList found;
    } cases[] = {
        {"fe:ff:ff:ff", {kRigP1Mac}},
        {"0a:4d:c2:1", {kRigP2Mac}},
        {"FE:FF", {kRigP1Mac}},
        {kRigHostMac, {kRigHostMac}},  // an ordinary MAC, when asked for
    };
    for (const auto& c : cases) {
        count_ = 5;
        EXPECT_EQ(Search(8, 1, c.prefix), 1) << c.prefix;
        EXPECT_EQ(Macs(entries_, count_), c.found) << c.prefix;
    }
}

TEST_F(ArpSearch, AWaitOf0ScansAtOnceAndACountStartsFrom0) {
    Stopwatch watch;
    EXPECT_EQ(Search(8, 0, "AA:BB:CC"), 1);
    EXPECT_LT(watch.Seconds(), 0.5);
    EXPECT_EQ(count_, 0u);
    EXPECT_EQ(api_.GetError(search_), 1);
}

TEST_F(ArpSearch, TheCapacityStopsTheScan) {
    GuardedEntries one(1);
    DWORD count = 0;
    // Two devices answer for this prefix.
    EXPECT_EQ(api_.SendSearch(search_, one.data(), 1, 1, 0, &count, "0A:4D:C2:"), 1);
    ASSERT_EQ(count, 1u);
    std::string mac = FieldText(one[0].mac);
    EXPECT_TRUE(mac == kRigP2Mac || mac == kRigP3Mac) << mac;
}

TEST_F(ArpSearch, CallersThatPassZeroSpareWordsAndANullPrefixGetTheVendorListIn255Entries) {
    GuardedEntries full(OV_SEARCH_DEFAULT_CAPACITY);
    DWORD count = 3;
    EXPECT_EQ(api_.SendSearch(search_, full.data(), 0, 1, 0xDEADBEEF, &count, nullptr), 1);
    EXPECT_EQ(Sorted(Macs(full, count)), Sorted({kRigP1Mac, kRigP2Mac, kRigP3Mac}));
}

/* The interface table with every address marked disconnected (type 8),
 * which Wine never reports. */
orv::InterfaceTable DisconnectedInterfaces() {
    orv::InterfaceTable table = orv::QueryInterfaceTable();
    for (DWORD i = 0; i < table.size(); ++i)
        const_cast<MIB_IPADDRROW&>(table[i]).wType = 8;
    return table;
}

TEST(ArpScan, ADeviceReachedOnlyThroughADisconnectedAddressIsNotProbed) {
    SKIP_OUTSIDE_RIG(kRigLibrary);
    ASSERT_TRUE(ForgetNeighbours());
    ASSERT_EQ(orv::Startup(GetModuleHandleA(nullptr)), 1);
    OvHandle search = orv::OpenSearch();
    GuardedEntries entries(4);
    DWORD count = 0;
    orv::g_discovery_calls.query_interfaces = DisconnectedInterfaces;
    EXPECT_EQ(orv::SendSearch(search, entries.data(), 4, 1, 0, &count, "FE:FF:FF:FF"), 1);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(FieldText(entries[0].address), kRigP1);  // matched, then left
    // The same search through usable addresses records it.
    orv::g_discovery_calls.query_interfaces = orv::QueryInterfaceTable;
    EXPECT_EQ(orv::SendSearch(search, entries.data(), 4, 1, 0, &count, "FE:FF:FF:FF"), 1);
    EXPECT_EQ(count, 1u);
    orv::CloseSearch(search);
    orv::Cleanup();
}

}  // namespace
