// Searches on a machine whose only address is 127.0.0.1 (the rig's
// namespace orv9-lo): nothing to send to, and still a complete run.
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

using LoopbackOnly = DiscoveryTest;

/* The caller's window timer during a run: a second run and a close of the
 * running handle. */
struct Nested {
    OvApi* api;
    OvHandle search;
    OvSearchEntry* entries;
    int run, close;
} g_nested;

void CALLBACK UseTheRunningHandle(HWND window, UINT, UINT_PTR timer, DWORD) {
    KillTimer(window, timer);
    DWORD count = 0;
    g_nested.run = g_nested.api->SendSearch(g_nested.search, g_nested.entries, 4, 1, 0, &count, "");
    g_nested.close = g_nested.api->CloseSearch(g_nested.search);
}

TEST_F(LoopbackOnly, SearchesRefuseNullsThenRunWithNothingToSendTo) {
    // Outside the namespace the searches would go to this machine's networks.
    if (!OnlyLoopback())
        GTEST_SKIP() << "not in the rig's loopback-only namespace (tests/rigs/discovery-rig.sh, root)";
    GuardedEntries entries(4);
    DWORD count = 2;
    EXPECT_EQ(api_.SendSearch(search_, nullptr, 4, 1, 0, &count, ""), 0);
    EXPECT_EQ(api_.SendSearch(search_, entries.data(), 4, 1, 0, nullptr, ""), 0);
    EXPECT_EQ(api_.GetError(search_), 0);
    EXPECT_EQ(count, 2u);

    // The DHCP search hears no interface and waits its time.
    Stopwatch watch;
    EXPECT_EQ(api_.SendSearchDhcp(search_, entries.data(), 1, 1, &count), 1);
    EXPECT_GE(watch.Seconds(), 0.98);
    EXPECT_EQ(count, 2u);
    // The ARP search sends no echo and still scans.
    EXPECT_EQ(api_.SendSearch(search_, entries.data(), 4, 0, 0, &count, ""), 1);
    EXPECT_EQ(api_.GetError(search_), 1);
    EXPECT_EQ(count, 0u);

    // While a run waits, its loop serves the caller's window, which tries
    // a second run and a close on the handle: both are refused at once,
    // and the run ends as its own.
    HWND caller = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    g_nested = {&api_, search_, entries.data(), -1, -1};
    ASSERT_TRUE(caller != nullptr && SetTimer(caller, 1, 20, UseTheRunningHandle) != 0);
    EXPECT_EQ(api_.SendSearch(search_, entries.data(), 4, 1, 0, &count, ""), 1);
    DestroyWindow(caller);
    EXPECT_EQ(g_nested.run, 0);
    EXPECT_EQ(g_nested.close, 0);
    EXPECT_EQ(api_.GetError(search_), 1);
}

}  // namespace
