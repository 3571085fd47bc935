// The rig of tests/rigs/reach-rig.sh: hosts that do not answer, on the
// namespace network 198.18.8.0/24.
#ifndef ORV_TEST_REACH_RIG_H
#define ORV_TEST_REACH_RIG_H

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <string>

constexpr char kReachRigLocal[] = "198.18.8.1";
// The namespace answers packets for it with ICMP "host unreachable".
constexpr char kReachRigUnreachable[] = "198.18.8.66";
// Nothing ever answers.
constexpr char kReachRigSilent[] = "198.18.8.99";

inline bool ReachRigIsUp() {
    ULONG size = 0;
    if (GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER)
        return false;
    std::string buffer(size, '\0');
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(&buffer[0]);
    if (GetIpAddrTable(table, &size, FALSE) != NO_ERROR)
        return false;
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
        if (table->table[i].dwAddr == inet_addr(kReachRigLocal))
            return true;
    return false;
}

#define SKIP_WITHOUT_REACH_RIG()                                              \
    do {                                                                      \
        if (!ReachRigIsUp())                                                  \
            GTEST_SKIP() << "reach rig not up (tests/rigs/reach-rig.sh)";     \
    } while (0)

#endif  // ORV_TEST_REACH_RIG_H
