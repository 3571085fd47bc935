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

#include "iphelper_calls.h"

namespace orv {

IpHelperCalls g_iphelper_calls = {::GetIpAddrTable, ::GetIpNetTable};

namespace {

constexpr ULONG kLoopbackHostOrder = 0x7F000001;  // 127.0.0.1
// Fills tried at the size last given. Each retry needs a table that grew
// since the call before, so a few are plenty; the bound keeps a table that
// keeps growing from holding the caller.
constexpr int kTableFetches = 4;

}  // namespace

template <typename Table>
Table* FetchIpTable(DWORD(WINAPI* fetch)(Table*, PULONG, BOOL)) {
    ULONG size = 0;
    if (fetch(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER)
        return nullptr;
    for (int i = 0; i < kTableFetches; ++i) {
        auto* table = static_cast<Table*>(LocalAlloc(LPTR, size));
        if (table == nullptr)
            return nullptr;
        // A table sized by one call and filled by the next may have grown
        // in between (an adapter came up): the fill then answers 122 with
        // the new size, and the search must not see "no network".
        DWORD result = fetch(table, &size, FALSE);
        if (result == NO_ERROR && table->dwNumEntries != 0)
            return table;
        LocalFree(table);
        if (result != ERROR_INSUFFICIENT_BUFFER)
            return nullptr;
    }
    return nullptr;
}

template MIB_IPADDRTABLE* FetchIpTable(DWORD(WINAPI*)(MIB_IPADDRTABLE*, PULONG, BOOL));
template MIB_IPNETTABLE* FetchIpTable(DWORD(WINAPI*)(MIB_IPNETTABLE*, PULONG, BOOL));

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
    return InterfaceTable(FetchIpTable(g_iphelper_calls.get_ip_addr_table));
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
