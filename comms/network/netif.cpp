/*
 * netif.cpp - the interface table walk shared by the network channels.
 *
 * A printer tool often runs on a machine with several networks; binding
 * the socket to the interface on the printer's own subnet makes the
 * connection leave by that interface, whatever the routing table prefers.
 * The loopback row is never used for binding.
 */
#include "netif.h"

#include <cstring>

namespace orv {

namespace {

constexpr ULONG kLoopbackHostOrder = 0x7F000001;  // 127.0.0.1

}  // namespace

InterfaceTable& InterfaceTable::operator=(InterfaceTable&& other) noexcept {
    if (this != &other) {
        Release();
        table_ = other.table_;
        other.table_ = nullptr;
    }
    return *this;
}

void InterfaceTable::Release() {
    if (table_ != nullptr)
        LocalFree(table_);
    table_ = nullptr;
}

InterfaceTable QueryInterfaceTable() {
    ULONG size = 0;
    if (GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER)
        return InterfaceTable();
    auto* table = static_cast<MIB_IPADDRTABLE*>(LocalAlloc(LPTR, size));
    if (table == nullptr)
        return InterfaceTable();
    if (GetIpAddrTable(table, &size, FALSE) != NO_ERROR || table->dwNumEntries == 0) {
        LocalFree(table);
        return InterfaceTable();
    }
    return InterfaceTable(table);
}

void BindToTargetSubnet(SOCKET socket, ULONG target) {
    InterfaceTable rows = QueryInterfaceTable();
    for (DWORD i = 0; i < rows.size(); ++i) {
        const MIB_IPADDRROW& row = rows[i];
        if (row.dwAddr == htonl(kLoopbackHostOrder))
            continue;
        if ((row.dwAddr & row.dwMask) != (target & row.dwMask))
            continue;
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_port = 0;
        local.sin_addr.s_addr = row.dwAddr;
        if (bind(socket, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0)
            return;
    }
}

bool LookUpFirstIpv4(const char* name, ULONG* address) {
    hostent* host = gethostbyname(name);
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != sizeof *address ||
        host->h_addr_list[0] == nullptr)
        return false;
    memcpy(address, host->h_addr_list[0], sizeof *address);
    return true;
}

bool ResolveIpv4(const char* text, ULONG* address) {
    ULONG dotted = inet_addr(text);
    if (dotted == INADDR_NONE)
        return LookUpFirstIpv4(text, address);
    *address = dotted;
    return true;
}

}  // namespace orv
