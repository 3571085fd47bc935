// The interface table and the subnet binding, on this machine's real
// interfaces (and the namespace rig's, when it is up).
#include "net_fixture.h"
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

}  // namespace
