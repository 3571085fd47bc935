/*
 * arp.cpp - the ARP scan that ends an OvSendSearch run.
 *
 * The broadcast echoes of the run have put the devices into the ARP
 * cache; here every neighbour whose MAC begins with a wanted vendor
 * prefix is confirmed with its own echo before it becomes a result, since
 * an ARP entry may outlive the device. The scan stops once the caller's
 * array is full. A device is recorded at most once per ARP entry, however
 * many usable addresses the interface that reaches it has.
 */
#include <cstring>

#include "discovery.h"
#include "network/iphelper_calls.h"

namespace orv {

DiscoveryCalls g_discovery_calls = {QueryInterfaceTable, ::recv, ::socket};

namespace {

// The flag of a disconnected interface address in the row's address type
// (MIB_IPADDR_DISCONNECTED): no probe goes out through such an address.
// The type is a set of flags: Windows reports a disconnected primary
// address as 0x9 (MIB_IPADDR_PRIMARY with it), so the bit decides, never
// the whole value. Wine reports no disconnected addresses at all.
constexpr unsigned short kDisconnectedAddress = MIB_IPADDR_DISCONNECTED;
static_assert(kDisconnectedAddress == 0x8, "address type flag");

struct VendorPrefix {
    const char* text;  // "" ends a list
    size_t length;     // characters compared
};

const VendorPrefix kVendorPrefixes[] = {
    {"FE:FF:FF:FF", 11}, {"0A:4D:C2:", 9}, {"02:5E:91:", 9}, {"06:E3:27:", 9},
    {"0E:78:B4:", 9},    {"02:1F:6C:", 9}, {"", 0},
};

bool MatchesPrefix(const char* mac, const VendorPrefix* prefixes) {
    for (const VendorPrefix* prefix = prefixes; prefix->text[0] != '\0'; ++prefix) {
        if (StartsWithNoCase(mac, prefix->text, prefix->length))
            return true;
    }
    return false;
}

/* Whether the interface has an address that is not disconnected. */
bool HasUsableAddress(DWORD interface_index) {
    InterfaceTable rows = g_discovery_calls.query_interfaces();
    for (DWORD i = 0; i < rows.size(); ++i) {
        if (rows[i].dwIndex == interface_index && (rows[i].wType & kDisconnectedAddress) == 0)
            return true;
    }
    return false;
}

void ScanRow(const MIB_IPNETROW& row, const VendorPrefix* prefixes, ResultList& list) {
    char mac[kMacTextSize];
    FormatMac(row.bPhysAddr, mac);
    if (!MatchesPrefix(mac, prefixes))
        return;
    char address[16];
    FormatAddress(row.dwAddr, address);
    // Written before the probe: a device that does not answer leaves its
    // address in the entry beyond the count, for the next one to take.
    list.WriteAddress(address);
    if (HasUsableAddress(row.dwIndex) && ProbeAddress(address) == 1) {
        list.WriteMac(mac);
        list.Add();
    }
}

}  // namespace

ArpTable::ArpTable() : table_(FetchIpTable(g_iphelper_calls.get_ip_net_table)) {}

ArpTable::~ArpTable() {
    if (table_ != nullptr)
        LocalFree(table_);
}

void ArpScan(const SearchJob& job) {
    ArpTable arp;
    if (arp.size() == 0)
        return;
    const VendorPrefix callers[] = {{job.prefix, strlen(job.prefix)}, {"", 0}};
    const VendorPrefix* prefixes = job.prefix[0] == '\0' ? kVendorPrefixes : callers;
    ResultList list(job.results, job.count, job.capacity);
    for (DWORD i = 0; i < arp.size() && !list.Full(); ++i)
        ScanRow(arp[i], prefixes, list);
}

}  // namespace orv
