/*
 * discovery.h - device discovery: the search handle's searches and the
 * result list they all fill, shared by the files of the module:
 *
 *   results.cpp            the result list, MAC texts, the device filter
 *   icmp.cpp               echo requests, their checksum, the echo probe
 *   window.cpp             OvSendSearch: broadcast echoes, hidden window
 *   arp.cpp                the ARP scan at the end of an OvSendSearch run
 *   dhcp.cpp               the DHCP-request search (port 67)
 *   udp.cpp                the "LN4S" search and set (port 19541)
 */
#ifndef ORVCOMMS_DISCOVERY_H
#define ORVCOMMS_DISCOVERY_H

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "heap_blocks.h"
#include "network/netif.h"
#include "orvcomms.h"

namespace orv {

struct HandleRecord;

/* --- results: the result list ------------------------------------------ */

constexpr size_t kFieldSize = 32;              // each text field of an entry
constexpr size_t kEntrySize = 3 * kFieldSize;  // result and interface entries
constexpr size_t kMacTextSize = 18;            // "FE:FF:FF:FF:00:01" and terminator
constexpr size_t kMacTextLength = kMacTextSize - 1;
constexpr DWORD kDefaultCapacity = OV_SEARCH_DEFAULT_CAPACITY;
static_assert(sizeof(OvSearchEntry) == kEntrySize, "result entry layout");
static_assert(sizeof(OvInterfaceEntry) == kEntrySize, "interface entry layout");

/* Copies `text` into a 32-byte field, cut at 31 characters, and fills
 * the rest of the field with zero bytes. */
void CopyField(char* field, const char* text);

/* "%02X:%02X:%02X:%02X:%02X:%02X" of six bytes. */
void FormatMac(const unsigned char* bytes, char (&text)[kMacTextSize]);

/* Whether `text` begins with the first `length` characters of `prefix`,
 * compared without regard to case. */
bool StartsWithNoCase(const char* text, const char* prefix, size_t length);

/* The device filter of the DHCP and UDP searches: "FE:FF:FF:FF" over 11
 * characters or "0A:4D:C2" over 8, without regard to case. */
bool PassesDeviceFilter(const char* mac);

/* The caller's result array and count. Nothing is ever written at an
 * index at or beyond the capacity, and the duplicate test reads only the
 * entries below both the count and the capacity, so a count that the
 * caller left larger than its array is never followed past the array. */
class ResultList {
  public:
    ResultList(void* entries, DWORD* count, DWORD capacity)
        : entries_(static_cast<OvSearchEntry*>(entries)), count_(count), capacity_(capacity) {}

    DWORD count() const { return *count_; }
    bool Full() const { return *count_ >= capacity_; }
    void Reset() { *count_ = 0; }

    /* An entry below the count whose MAC field equals `mac` over the
     * length of `mac`, without regard to case. */
    bool HasMac(const char* mac) const;

    /* Whether the DHCP and UDP searches record a device with this MAC:
     * it passes the device filter, is not below the count yet, and the
     * array has room. */
    bool TakesDevice(const char* mac) const { return PassesDeviceFilter(mac) && !HasMac(mac) && !Full(); }

    /* Write a field of the entry at index count; only while !Full(). */
    void WriteAddress(const char* text) { CopyField(entries_[*count_].address, text); }
    void WriteMac(const char* text) { CopyField(entries_[*count_].mac, text); }
    void Add() { ++*count_; }

  private:
    OvSearchEntry* entries_;  // the caller's array
    DWORD* count_;            // the caller's count
    DWORD capacity_;          // entries the array holds
};

/* A socket closed when the object goes out of scope. */
class ScopedSocket {
  public:
    ScopedSocket() = default;
    explicit ScopedSocket(SOCKET socket) : socket_(socket) {}
    ~ScopedSocket() { Close(); }
    ScopedSocket(ScopedSocket&& other) noexcept : socket_(other.socket_) { other.socket_ = INVALID_SOCKET; }
    ScopedSocket& operator=(ScopedSocket&& other) noexcept;
    ScopedSocket(const ScopedSocket&) = delete;
    ScopedSocket& operator=(const ScopedSocket&) = delete;

    SOCKET get() const { return socket_; }
    bool valid() const { return socket_ != INVALID_SOCKET; }
    void Close();
    /* Hands the socket over to the caller, who closes it. */
    SOCKET Release() {
        SOCKET socket = socket_;
        socket_ = INVALID_SOCKET;
        return socket;
    }

  private:
    SOCKET socket_ = INVALID_SOCKET;
};

/* One receive on a non-blocking datagram socket into `buffer`, which is
 * zero-filled first; `length` receives the datagram's length, and the
 * callers ignore a datagram that ends before the last field they read. */
enum class Received { kNothing, kDatagram, kFailed };
Received ReceiveDatagram(SOCKET socket, unsigned char* buffer, int size, size_t* length);

/* Makes a socket non-blocking; false when the platform refuses, and the
 * socket must not be polled then (a receive would wait for a datagram). */
bool MakeNonBlocking(SOCKET socket);

/* Keeps a listening search's seconds (0: five) and multiplier (0: one) in
 * the handle's fields and returns their product in milliseconds, worked
 * out in 64 bits and capped at kMaxWaitMs (OV_MAX_WAIT_MS), like every
 * other wait of the library. */
DWORD KeepListeningTime(HandleRecord* record, DWORD seconds, DWORD multiplier);

/* 127.0.0.1 in network byte order: the row every search leaves out. */
bool IsLoopbackRow(const MIB_IPADDRROW& row);

/* Dotted text of an address in network byte order. */
void FormatAddress(ULONG address, char (&text)[16]);

/* --- icmp: echo requests and the address echo probe -------------------- */

constexpr size_t kBroadcastEchoSize = 45;
constexpr size_t kProbeEchoSize = 44;

/* The Internet checksum (RFC 1071) of `size` bytes, the 16-bit words
 * summed as they lie in memory, to be stored the same way. */
uint16_t InternetChecksum(const unsigned char* data, size_t size);

/* The echo request sent to each interface's broadcast address. */
void BuildBroadcastEcho(unsigned char (&echo)[kBroadcastEchoSize], DWORD tick);

/* The echo request of one attempt of the address echo probe. */
void BuildProbeEcho(unsigned char* echo, uint16_t identifier, uint16_t sequence, DWORD tick);

/* Three echo attempts to `address_text` (a dotted address or a host
 * name); 1 when the device answered, else 0. */
int ProbeAddress(const char* address_text);

/* --- window: OvSendSearch ---------------------------------------------- */

/* What one OvSendSearch run hands to its window: the arguments of the
 * call, in the order of the call, and the class name of the run. */
struct SearchJob {
    OvHandle handle;
    void* results;
    DWORD capacity;       // the third argument: entries the array holds
    DWORD wait_seconds;
    DWORD spare;          // the fifth argument, kept and not read
    DWORD* count;
    const char* prefix;   // "" for the built-in vendor prefixes
    char* class_name;     // the handle's class_name buffer
};

int SendSearch(OvHandle handle, void* results, DWORD capacity, DWORD wait_seconds, DWORD spare,
               DWORD* count, const char* prefix);

/* --- arp: the ARP scan -------------------------------------------------- */

/* Records the neighbours with a wanted MAC prefix that answer the echo
 * probe. Called when the run's timer fires. */
void ArpScan(const SearchJob& job);

/* The ARP table (GetIpNetTable, unsorted, read as FetchIpTable reads it),
 * owned; empty when it cannot be read or has no rows. */
class ArpTable {
  public:
    ArpTable();
    ~ArpTable();
    ArpTable(const ArpTable&) = delete;
    ArpTable& operator=(const ArpTable&) = delete;

    DWORD size() const { return table_ == nullptr ? 0 : table_->dwNumEntries; }
    const MIB_IPNETROW& operator[](DWORD i) const { return table_->table[i]; }

  private:
    MIB_IPNETTABLE* table_;  // local heap block, or nullptr
};

/* The interface table as the ARP scan sees it, the receive of the DHCP
 * and UDP searches, and the socket of the broadcast echo and the echo
 * probe; tests replace them to give an address type that this platform
 * never reports, a receive that fails, or the refusal of a raw socket
 * that Windows gives a standard user (Wine quietly makes such a socket a
 * ping socket instead). */
struct DiscoveryCalls {
    InterfaceTable (*query_interfaces)();
    int(WSAAPI* recv)(SOCKET, char*, int, int);
    SOCKET(WSAAPI* socket)(int, int, int);
};
extern DiscoveryCalls g_discovery_calls;

/* --- dhcp: the DHCP-request search -------------------------------------- */

int SendSearchDhcp(OvHandle handle, void* results, void* interfaces, DWORD capacity,
                   DWORD seconds, DWORD multiplier, DWORD* count);

/* --- udp: search and set on port 19541 ---------------------------------- */

int SendSearchUdpBroadcast(OvHandle handle, void* results, DWORD capacity, DWORD seconds,
                           DWORD repeat, DWORD* count, const char* destination);
int SendSearchUdpUnicast(OvHandle handle, void* results, DWORD capacity, double timeout,
                         DWORD repeat, DWORD* count, const char* destination);
int SendSetUdp(int enable, const char* mac, const char* address, const char* address2,
               const char* destination);

/* Six octets from "XX:XX:XX:XX:XX:XX" (17 characters, hexadecimal digits
 * of either case, colons between); false for any other text. */
bool ParseMacText(const char* text, unsigned char (&octets)[6]);

/* --- window: the search handle ------------------------------------------ */

OvHandle OpenSearch();
int CloseSearch(OvHandle handle);

}  // namespace orv

#endif  // ORVCOMMS_DISCOVERY_H
