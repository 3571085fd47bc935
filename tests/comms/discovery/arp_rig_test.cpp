// The ARP-table search in the rig: printers FE:FF:FF:FF:00:01 and
// 0A:4D:C2:12:34:56 on the switch and 0A:4D:C2:00:10:02 on the second
// network answer echo, an ordinary host does too, and a vendor MAC at
// 198.18.9.14 never answers.
#include <algorithm>

#include "discovery/discovery.h"
#include "discovery_test.h"
#include "frame.h"
#include "internal.h"

namespace {

/* Empties the neighbour caches here and in the printers. A device only
 * enters this machine's ARP cache through the ARP request it sends to
 * answer the broadcast echo, and it sends none while it still has this
 * machine in its own cache. */
bool ForgetNeighbours() {
    return RunUnixCommand(
        "ip neigh flush dev orv9-lib && ip neigh flush dev orv9-l1 && "
        "for ns in orv9-p1 orv9-p2 orv9-h orv9-p3; do ip -n $ns neigh flush all; done");
}

using ArpSearch = RigTest;

TEST_F(ArpSearch, FindsTheVendorDevicesThatAnswerAfterTheBroadcastEcho) {
    ASSERT_TRUE(ForgetNeighbours());
    // No printer in the cache: only the broadcast echoes of the run can put them there.
    ASSERT_TRUE(RunUnixCommand("! ip neigh show | grep -v PERMANENT | grep -qiE 'lladdr (fe:ff:ff:ff|0a:4d:c2)'"));
    // As callers do that pass no capacity (255 entries), a spare word and
    // no prefix (the vendor list).
    GuardedEntries entries(OV_SEARCH_DEFAULT_CAPACITY);
    DWORD count = 7;
    Stopwatch watch;
    EXPECT_EQ(api_.SendSearch(search_, entries.data(), 0, 1, 0xDEADBEEF, &count, nullptr), 1);
    EXPECT_GE(watch.Seconds(), 0.98);
    EXPECT_EQ(api_.GetError(search_), 1);
    ASSERT_EQ(Macs(entries, count), (MacList{kRigP3Mac, kRigP2Mac, kRigP1Mac}));
    for (DWORD i = 0; i < count; ++i) {
        std::string mac = FieldText(entries[i].mac);
        EXPECT_EQ(FieldText(entries[i].address), mac == kRigP1Mac ? kRigP1 : mac == kRigP2Mac ? kRigP2 : kRigP3);
        EXPECT_TRUE(Untouched(entries[i].reserved));
    }
    // The silent vendor device was probed (three seconds) and not counted:
    // its address may wait beyond the count, with no MAC beside it.
    EXPECT_GE(watch.Seconds(), 3.9);
    std::string beyond = FieldText(entries[count].address);
    EXPECT_TRUE(beyond == kRigSilentVendor || Untouched(entries[count].address)) << beyond;
    EXPECT_TRUE(Untouched(entries[count].mac));
}

TEST_F(ArpSearch, ACallersPrefixReplacesTheVendorListAndTheArrayBoundsTheScan) {
    ASSERT_TRUE(ForgetNeighbours());
    // Replies to a run's broadcast echo that come in during a probe would
    // cut the probe short (a third address), so every run that probes
    // waits a second first.
    const struct {
        const char* prefix;
        DWORD capacity, wait;
        MacList found;  // as many of them as the array holds
    } cases[] = {
        {"fe:ff:ff:ff", 8, 1, {kRigP1Mac}},  // without regard to case
        {"0a:4d:c2:1", 8, 1, {kRigP2Mac}},
        {"FE:FF", 8, 1, {kRigP1Mac}},
        {kRigHostMac, 8, 1, {kRigHostMac}},  // an ordinary MAC, when asked for
        {"0A:4D:C2:", 1, 1, {kRigP3Mac, kRigP2Mac}},
        {"AA:BB:CC", 8, 0, {}},  // a wait of 0 scans at once
    };
    for (const auto& c : cases) {
        GuardedEntries entries(c.capacity);
        DWORD count = 5;
        Stopwatch watch;
        EXPECT_EQ(api_.SendSearch(search_, entries.data(), c.capacity, c.wait, 0, &count, c.prefix), 1) << c.prefix;
        EXPECT_EQ(api_.GetError(search_), 1);
        if (c.wait == 0) {
            EXPECT_LT(watch.Seconds(), 0.5) << "a wait of 0";
        }
        EXPECT_EQ(count, std::min<size_t>(c.found.size(), c.capacity)) << c.prefix;
        for (const std::string& mac : Macs(entries, count))
            EXPECT_NE(std::find(c.found.begin(), c.found.end(), mac), c.found.end()) << c.prefix << ": " << mac;
    }
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

TEST(EchoProbe, TakesOnlyAnEchoReplyWithItsIdentifierFromTheAddressAsked) {
    SKIP_OUTSIDE_RIG(kRigLibrary);
    ASSERT_EQ(orv::Startup(GetModuleHandleA(nullptr)), 1);
    const struct {
        const char* address;
        const char* what;
        int answered;
        double min_seconds, max_seconds;
    } cases[] = {
        // Costs one attempt and a second's pause; the next reply is right.
        {kRigEchoOtherIdentifier, "another identifier first", 1, 0.95, 3.5},
        {kRigEchoOtherType, "another type first", 1, 0.95, 3.5},
        // Ends the probe at once.
        {kRigEchoThirdAddress, "a reply from a third address", 0, 0, 2.5},
    };
    for (const auto& c : cases) {
        Stopwatch watch;
        EXPECT_EQ(orv::ProbeAddress(c.address), c.answered) << c.what;
        EXPECT_GE(watch.Seconds(), c.min_seconds) << c.what;
        EXPECT_LT(watch.Seconds(), c.max_seconds) << c.what;
    }
    orv::Cleanup();
}

/* The interface table with every address of the type g_address_type:
 * Windows combines the type's flags; Wine reports the primary one only. */
WORD g_address_type;
orv::InterfaceTable InterfacesOfType() {
    orv::InterfaceTable table = orv::QueryInterfaceTable();
    for (DWORD i = 0; i < table.size(); ++i)
        const_cast<MIB_IPADDRROW&>(table[i]).wType = g_address_type;
    return table;
}

TEST(ArpScan, TheDisconnectedFlagStopsTheProbeWhateverOtherTypeFlagsAreSet) {
    SKIP_OUTSIDE_RIG(kRigLibrary);
    ASSERT_EQ(orv::Startup(GetModuleHandleA(nullptr)), 1);
    OvHandle search = orv::OpenSearch();
    orv::g_discovery_calls.query_interfaces = InterfacesOfType;
    // Disconnected with primary (an unplugged cable), dynamic, deleted; then usable ones.
    for (WORD type : {0x9, 0xC, 0x48, 0x5, 0x81}) {
        g_address_type = type;
        GuardedEntries entries(4);
        DWORD count = 0;
        EXPECT_EQ(orv::SendSearch(search, entries.data(), 4, 1, 0, &count, "FE:FF:FF:FF"), 1) << type;
        EXPECT_EQ(count, (type & 0x8) != 0 ? 0u : 1u) << "address type " << type;
    }
    orv::g_discovery_calls.query_interfaces = orv::QueryInterfaceTable;
    orv::CloseSearch(search);
    orv::Cleanup();
}

/* Windows refuses a raw socket to a standard user (10013). */
int g_raw_refusals;
SOCKET WSAAPI RefusingRawSockets(int family, int type, int protocol) {
    if (type != SOCK_RAW)
        return ::socket(family, type, protocol);
    ++g_raw_refusals;
    WSASetLastError(WSAEACCES);
    return INVALID_SOCKET;
}

TEST(ArpScan, WithoutRawSocketsTheRunStillWaitsAndScansTheArpCacheButConfirmsNoDevice) {
    SKIP_OUTSIDE_RIG(kRigLibrary);
    ASSERT_TRUE(ForgetNeighbours());
    // The printer is in the cache already; the others could enter it only
    // through the broadcast echo, which cannot go out.
    ASSERT_TRUE(RunUnixCommand(std::string("ip neigh replace ") + kRigP1 + " lladdr fe:ff:ff:ff:00:01 dev orv9-lib nud stale"));
    ASSERT_EQ(orv::Startup(GetModuleHandleA(nullptr)), 1);
    OvHandle search = orv::OpenSearch();
    GuardedEntries entries(4);
    DWORD count = 7;
    g_raw_refusals = 0;
    orv::g_discovery_calls.socket = RefusingRawSockets;
    Stopwatch watch;
    // (The rig's silent vendor device has a static entry: only the printer's prefix is asked for.)
    EXPECT_EQ(orv::SendSearch(search, entries.data(), 4, 1, 0, &count, "FE:FF:FF:FF"), 1);
    EXPECT_GE(watch.Seconds(), 0.95) << "the run did not wait";
    orv::g_discovery_calls.socket = ::socket;
    EXPECT_EQ(orv::RecordOf(search)->last_error, 1);
    // Matched in the cache; the probe, which needs a raw socket too, did not confirm it.
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(FieldText(entries[0].address), kRigP1);
    EXPECT_GE(g_raw_refusals, 3) << "an echo per interface, then the probe";
    EXPECT_TRUE(RunUnixCommand("! ip neigh show | grep -qi 'lladdr 0a:4d:c2'")) << "an echo went out";
    orv::CloseSearch(search);
    orv::Cleanup();
}

}  // namespace
