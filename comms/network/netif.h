/*
 * netif.h - the machine's IPv4 interface table, the binding of a socket
 * to the interface address on a target's subnet, and host texts resolved
 * to IPv4 addresses.
 */
#ifndef ORVCOMMS_NETIF_H
#define ORVCOMMS_NETIF_H

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

namespace orv {

/* The interface address table (GetIpAddrTable), owned; empty when the
 * query failed or the table has no rows. */
class InterfaceTable {
  public:
    InterfaceTable() = default;
    explicit InterfaceTable(MIB_IPADDRTABLE* table) : table_(table) {}
    ~InterfaceTable() { Release(); }
    InterfaceTable(InterfaceTable&& other) noexcept : table_(other.table_) { other.table_ = nullptr; }
    InterfaceTable& operator=(InterfaceTable&& other) noexcept;
    InterfaceTable(const InterfaceTable&) = delete;
    InterfaceTable& operator=(const InterfaceTable&) = delete;

    bool empty() const { return table_ == nullptr; }
    DWORD size() const { return table_ == nullptr ? 0 : table_->dwNumEntries; }
    const MIB_IPADDRROW& operator[](DWORD i) const { return table_->table[i]; }

  private:
    void Release();
    MIB_IPADDRTABLE* table_ = nullptr;  // local heap block
};

/* Asks once without a buffer; only an insufficient-buffer answer (122)
 * leads to the fetch into a block of the size given, and a fetch that
 * again answers 122 (the table grew in between) to another one at the new
 * size, a few times at most. */
InterfaceTable QueryInterfaceTable();

/* That same read for either IP Helper table (`fetch` being
 * GetIpAddrTable or GetIpNetTable, unsorted): a local heap block holding
 * at least one row, or nullptr. */
template <typename Table>
Table* FetchIpTable(DWORD(WINAPI* fetch)(Table*, PULONG, BOOL));

/* Binds `socket` (port 0) to the first interface address, other than
 * 127.0.0.1, that shares the target's subnet under that row's mask; a
 * failed bind tries the next row. With no such row the socket stays
 * unbound and the platform picks the local address at connect. `target`
 * is in network byte order. */
void BindToTargetSubnet(SOCKET socket, ULONG target);

/* The first IPv4 address the platform's host lookup (gethostbyname) gives
 * for `name`, in network byte order. */
bool LookUpFirstIpv4(const char* name, ULONG* address);

/* A dotted address as it stands, otherwise LookUpFirstIpv4. */
bool ResolveIpv4(const char* text, ULONG* address);

}  // namespace orv

#endif  // ORVCOMMS_NETIF_H
