// The search handle and what every search refuses before it sends or
// listens: null handles, arrays, counts and destinations.
#include <functional>
#include <iterator>
#include <thread>

#include "discovery/discovery.h"
#include "discovery_test.h"
#include "internal.h"
#include "network/iphelper_calls.h"

namespace {

using SearchHandle = DiscoveryTest;

struct Refusal {
    const char* what;
    std::function<int(OvApi&, OvHandle, OvSearchEntry*, DWORD*)> call;
};

// Each search with one bad argument; the others are fine. (The ARP
// search's null array and count are refused in a namespace without a
// network, loopback_only_test.cpp: were the refusal broken, the search
// would broadcast on this machine's networks.)
const Refusal kRefusals[] = {
    {"ARP, null handle", [](OvApi& a, OvHandle, OvSearchEntry* r, DWORD* n) { return a.SendSearch(0, r, 4, 0, 0, n, ""); }},
    {"DHCP, null handle", [](OvApi& a, OvHandle, OvSearchEntry* r, DWORD* n) { return a.SendSearchDhcp(0, r, 1, 1, n); }},
    {"DHCP, null count", [](OvApi& a, OvHandle h, OvSearchEntry* r, DWORD*) { return a.SendSearchDhcp(h, r, 1, 1, nullptr); }},
    {"DHCP2, null array", [](OvApi& a, OvHandle h, OvSearchEntry*, DWORD* n) { return a.SendSearchDhcp2(h, nullptr, nullptr, 4, 1, 1, n); }},
    {"DHCP2, failure handle", [](OvApi& a, OvHandle, OvSearchEntry* r, DWORD* n) { return a.SendSearchDhcp2(OV_INVALID_HANDLE, r, nullptr, 4, 1, 1, n); }},
    {"broadcast, null handle", [](OvApi& a, OvHandle, OvSearchEntry* r, DWORD* n) { return a.SendSearchUdpBroadcast(0, r, 4, 1, 1, n, "127.0.0.1"); }},
    {"broadcast, null destination", [](OvApi& a, OvHandle h, OvSearchEntry* r, DWORD* n) { return a.SendSearchUdpBroadcast(h, r, 4, 1, 1, n, nullptr); }},
    {"broadcast, null count", [](OvApi& a, OvHandle h, OvSearchEntry* r, DWORD*) { return a.SendSearchUdpBroadcast(h, r, 4, 1, 1, nullptr, "127.0.0.1"); }},
    {"unicast, null handle", [](OvApi& a, OvHandle, OvSearchEntry* r, DWORD* n) { return a.SendSearchUdpUnicast(0, r, 4, 1.0, 1, n, "127.0.0.1"); }},
    {"unicast, null array", [](OvApi& a, OvHandle h, OvSearchEntry*, DWORD* n) { return a.SendSearchUdpUnicast(h, nullptr, 4, 1.0, 1, n, "127.0.0.1"); }},
    {"unicast, null destination", [](OvApi& a, OvHandle h, OvSearchEntry* r, DWORD* n) { return a.SendSearchUdpUnicast(h, r, 4, 1.0, 1, n, nullptr); }},
};

TEST_F(SearchHandle, NullArgumentsAreRefusedAtOnceAndTouchNothing) {
    for (const Refusal& refusal : kRefusals) {
        GuardedEntries entries(4);
        DWORD count = 3;
        Stopwatch watch;
        EXPECT_EQ(refusal.call(api_, search_, entries.data(), &count), 0) << refusal.what;
        EXPECT_LT(watch.Seconds(), 0.5) << refusal.what;
        EXPECT_EQ(count, 3u) << refusal.what;
        EXPECT_TRUE(Untouched(entries[0].mac) && Untouched(entries[0].address)) << refusal.what;
    }
    // A fresh handle reads 0 until a run completes; the null and failure
    // handles do not close.
    EXPECT_EQ(api_.GetError(search_), 0);
    OvHandle second = api_.OpenSearch();
    ASSERT_NE(second, OV_INVALID_HANDLE);
    EXPECT_EQ(api_.CloseSearch(second), 1);
    EXPECT_EQ(api_.CloseSearch(0), 0);
    EXPECT_EQ(api_.CloseSearch(OV_INVALID_HANDLE), 0);
}

TEST(ListeningTime, IsTheProductInMillisecondsCappedLikeEveryWait) {
    const struct {
        DWORD seconds, multiplier, ms;
    } cases[] = {
        {0, 0, 5000},  // five seconds, once
        {3, 2, 6000},
        {2147483, 1, 2147483000},
        {1u << 29, 1, OV_MAX_WAIT_MS},  // 0 in 32 bits
        {4294968, 1, OV_MAX_WAIT_MS},   // 704 in 32 bits
        {0xFFFFFFFF, 0xFFFFFFFF, OV_MAX_WAIT_MS},
    };
    for (const auto& c : cases) {
        orv::HandleRecord record{};
        EXPECT_EQ(orv::KeepListeningTime(&record, c.seconds, c.multiplier), c.ms) << c.seconds << " x " << c.multiplier;
    }
}

// --- a close during a listening search -----------------------------------
// The interface table with the loopback row alone, so that the searches
// listen and send on loopback only; its read tells that a search runs.
HANDLE g_search_inside;
DWORD WINAPI LoopbackOnlyTable(PMIB_IPADDRTABLE table, PULONG size, BOOL) {
    SetEvent(g_search_inside);
    if (table == nullptr || *size < sizeof *table) {
        *size = sizeof *table;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    *table = {};
    table->dwNumEntries = 1;
    table->table[0] = {htonl(INADDR_LOOPBACK), 1, htonl(0xFF000000), 0, 0, 0, MIB_IPADDR_PRIMARY};
    return NO_ERROR;
}

TEST_F(SearchHandle, EveryListeningSearchHoldsItsHandleSoThatACloseMeanwhileFails) {
    const std::string nobody = TestAddress();  // no simulated printer there
    const std::function<int(OvHandle, OvSearchEntry*, DWORD*)> searches[] = {
        [](OvHandle h, OvSearchEntry* r, DWORD* n) { return orv::SendSearchDhcp(h, r, nullptr, 4, 1, 1, n); },
        [&](OvHandle h, OvSearchEntry* r, DWORD* n) { return orv::SendSearchUdpBroadcast(h, r, 4, 1, 1, n, nobody.c_str()); },
        [&](OvHandle h, OvSearchEntry* r, DWORD* n) { return orv::SendSearchUdpUnicast(h, r, 4, 1.0, 1, n, nobody.c_str()); },
    };
    g_search_inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    orv::g_iphelper_calls.get_ip_addr_table = LoopbackOnlyTable;
    for (size_t i = 0; i < std::size(searches); ++i) {
        OvHandle handle = orv::OpenSearch();
        ResetEvent(g_search_inside);
        GuardedEntries entries(4), others(4);
        DWORD count = 0, other_count = 0;
        std::thread running([&] { searches[i](handle, entries.data(), &count); });
        ASSERT_EQ(WaitForSingleObject(g_search_inside, 5000), WAIT_OBJECT_0) << i;
        EXPECT_EQ(orv::CloseSearch(handle), 0) << "search " << i << ": the record was freed under it";
        Stopwatch watch;
        EXPECT_EQ(searches[i](handle, others.data(), &other_count), 0) << "search " << i << ", a second one";
        EXPECT_LT(watch.Seconds(), 0.5) << i;
        running.join();
        EXPECT_EQ(orv::CloseSearch(handle), 1) << i;
    }
    orv::g_iphelper_calls.get_ip_addr_table = ::GetIpAddrTable;
    CloseHandle(g_search_inside);
}

}  // namespace
