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
// An adapter that comes up between the call that sizes a table and the
// call that fills it makes the fill answer 122 with the new size; Wine's
// tables never change that fast. Each fill here finds one row more, as
// long as `grows` lasts.
struct GrowingTable {
    DWORD rows;
    int grows;
} g_growing;

template <typename Table>
DWORD WINAPI GrowingFetch(Table* table, PULONG size, BOOL) {
    if (table != nullptr && g_growing.grows-- > 0)
        ++g_growing.rows;
    ULONG needed = static_cast<ULONG>(offsetof(Table, table) + g_growing.rows * sizeof table->table[0]);
    if (table == nullptr || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    table->dwNumEntries = g_growing.rows;
    return NO_ERROR;
}

TEST(IpHelperTables, ATableThatGrowsBetweenSizingAndFillingIsReadAtItsNewSize) {
    orv::g_iphelper_calls = {GrowingFetch<MIB_IPADDRTABLE>, GrowingFetch<MIB_IPNETTABLE>};
    for (int grows : {1, 3, 1000}) {  // a table that keeps growing is given up, not waited for
        DWORD expected = grows < 1000 ? 1 + grows : 0;
        g_growing = {1, grows};
        EXPECT_EQ(orv::QueryInterfaceTable().size(), expected) << grows;
        g_growing = {1, grows};
        EXPECT_EQ(orv::ArpTable().size(), expected) << grows;
    }
    orv::g_iphelper_calls = {::GetIpAddrTable, ::GetIpNetTable};
}

}  // namespace
