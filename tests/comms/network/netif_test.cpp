// The interface table and the subnet binding, on this machine's real
// interfaces (and the namespace rig's, when it is up).
#include <cstddef>

#include "discovery/discovery.h"
#include "net_fixture.h"
#include "network/iphelper_calls.h"
#include "network/netif.h"

namespace {

bool HasRow(const orv::InterfaceTable& table, const char* dotted) {
    for (DWORD i = 0; i < table.size(); ++i)
        if (table[i].dwAddr == inet_addr(dotted))
            return true;
    return false;
}

std::string LocalAddressOf(SOCKET s) {
    sockaddr_in local = {};
    int length = sizeof local;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return "unbound";
    if (local.sin_addr.s_addr == INADDR_ANY)
        return "unbound";
    return inet_ntoa(local.sin_addr);
}

using InterfaceTable = NetTest;

TEST_F(InterfaceTable, ListsTheLoopbackRow) {
    orv::InterfaceTable table = orv::QueryInterfaceTable();
    ASSERT_FALSE(table.empty());
    EXPECT_TRUE(HasRow(table, "127.0.0.1"));
}

TEST_F(InterfaceTable, BindingSkipsTheLoopbackRow) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    orv::BindToTargetSubnet(s, inet_addr("127.0.0.1"));
    EXPECT_EQ(LocalAddressOf(s), "unbound");
    closesocket(s);
}

TEST_F(InterfaceTable, BindingLeavesASocketForAnotherSubnetUnbound) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    orv::BindToTargetSubnet(s, inet_addr("198.51.100.7"));  // a documentation network
    EXPECT_EQ(LocalAddressOf(s), "unbound");
    closesocket(s);
}

TEST_F(InterfaceTable, BindingPicksTheRowOnTheTargetsSubnet) {
    SKIP_WITHOUT_RIG();
    orv::InterfaceTable table = orv::QueryInterfaceTable();
    EXPECT_TRUE(HasRow(table, kRigLocal));
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    orv::BindToTargetSubnet(s, inet_addr("198.18.1.200"));
    EXPECT_EQ(LocalAddressOf(s), kRigLocal);
    closesocket(s);
}

TEST_F(InterfaceTable, AFailedBindLeavesTheSocketAsItWas) {
    SKIP_WITHOUT_RIG();
    // A socket that is already bound cannot be bound again; the binding
    // goes on without error and the socket keeps its address.
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in any = {};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = inet_addr("127.0.0.1");
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    orv::BindToTargetSubnet(s, inet_addr("198.18.1.200"));
    EXPECT_EQ(LocalAddressOf(s), "127.0.0.1");
    closesocket(s);
}

// --- a table that grows between the two calls ---------------------------
// An adapter that comes up after the call that sizes a table and before
// the call that fills it makes the fill answer 122 with the new size.
// Wine's tables never change that fast, so the calls are played here.

struct GrowingTable {
    DWORD rows;
    int grows_left;  // fills that find one row more than the size given
    int calls;
} g_growing;

template <typename Table>
DWORD WINAPI GrowingFetch(Table* table, PULONG size, BOOL) {
    ++g_growing.calls;
    if (table != nullptr && g_growing.grows_left > 0) {
        --g_growing.grows_left;
        ++g_growing.rows;
    }
    ULONG needed = static_cast<ULONG>(offsetof(Table, table) + g_growing.rows * sizeof table->table[0]);
    if (table == nullptr || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    table->dwNumEntries = g_growing.rows;
    for (DWORD i = 0; i < g_growing.rows; ++i)
        table->table[i].dwAddr = htonl(0xC6124D01 + i);  // 198.18.77.1 onwards
    return NO_ERROR;
}

TEST(IpHelperTables, ATableThatGrowsBetweenSizingAndFillingIsReadAtItsNewSize) {
    orv::g_iphelper_calls.get_ip_addr_table = GrowingFetch<MIB_IPADDRTABLE>;
    orv::g_iphelper_calls.get_ip_net_table = GrowingFetch<MIB_IPNETTABLE>;
    const struct {
        int grows;
        DWORD rows;  // 0: given up
    } cases[] = {{0, 1}, {1, 2}, {3, 4}, {1000, 0}};
    for (const auto& c : cases) {
        g_growing = {1, c.grows, 0};
        orv::InterfaceTable interfaces = orv::QueryInterfaceTable();
        EXPECT_EQ(interfaces.size(), c.rows) << "interfaces, " << c.grows << " growths";
        EXPECT_LE(g_growing.calls, 8) << "a table that keeps growing holds the caller";
        g_growing = {1, c.grows, 0};
        orv::ArpTable neighbours;
        EXPECT_EQ(neighbours.size(), c.rows) << "ARP, " << c.grows << " growths";
        if (c.rows != 0) {
            EXPECT_EQ(neighbours[c.rows - 1].dwAddr, htonl(0xC6124D00 + c.rows));
        }
    }
    orv::g_iphelper_calls.get_ip_addr_table = ::GetIpAddrTable;
    orv::g_iphelper_calls.get_ip_net_table = ::GetIpNetTable;
}

}  // namespace
