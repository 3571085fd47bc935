/*
 * udp.cpp - the search and set protocol of the printers' print
 * servers: a 24-byte "LN4S" record on UDP port 19541. "GETA" asks every
 * device (or one) for its MAC and address; "SETA" gives the device with a
 * given MAC new addresses.
 *
 * Replies are taken from whoever sends them and read in the record's
 * layout, as the devices' own tools do; only a datagram too short to
 * hold the address field is ignored. The device filter and the duplicate
 * test decide what is recorded. The search loops poll
 * their non-blocking socket without pausing, so that a reply is taken the
 * moment it arrives. A search holds its handle for all its exchanges: a
 * close or another search on it from another thread is refused meanwhile.
 */
#include <cctype>
#include <cstring>

#include "discovery.h"
#include "internal.h"

namespace orv {

namespace {

constexpr unsigned short kDiscoveryPort = 19541;
constexpr size_t kRecordSize = 24;
constexpr char kMagic[] = "LN4S";
constexpr char kGetCommand[] = "GETA";
constexpr char kSetCommand[] = "SETA";
constexpr size_t kCommandOffset = 4;
constexpr size_t kMacOffset = 8;
constexpr size_t kAddressOffset = 16;
constexpr size_t kAddress2Offset = 20;
// A reply that ends before its address field does is no reply: read at
// the offsets, its zero padding would give the address 0.0.0.0.
constexpr size_t kShortestReply = kAddressOffset + 4;
constexpr int kReceiveSize = 2048;
constexpr DWORD kDefaultRepeat = 1;
constexpr double kMinimumTimeout = 0.1;  // seconds
constexpr DWORD kRepeatPauseMs = 1;
constexpr DWORD kSetPauseMs = 100;
constexpr DWORD kLongestPauseMs = 1000;  // pieces of a wait that outlasts the socket

void BuildRecord(unsigned char (&record)[kRecordSize], const char* command) {
    memset(record, 0, sizeof record);
    memcpy(record, kMagic, 4);
    memcpy(record + kCommandOffset, command, 4);
}

sockaddr_in DestinationOf(const char* text) {
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(kDiscoveryPort);
    // Text that is not a dotted address converts to INADDR_NONE, which is
    // the all-ones broadcast address 255.255.255.255.
    to.sin_addr.s_addr = inet_addr(text);
    return to;
}

bool AllowBroadcast(SOCKET socket) {
    BOOL on = TRUE;
    return setsockopt(socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                      sizeof on) == 0;
}

enum class Sent { kNoNetwork, kSent, kFailed };

/* Sends `request` to port 19541 of `destination` from `socket`, a new
 * datagram socket (broadcasts allowed when asked) that stays open for the
 * replies. Nothing is sent on a machine without a network, which is all
 * that the interface table tells here. */
Sent SendRequest(ScopedSocket& socket, const char* destination, bool broadcast,
                 const unsigned char (&request)[kRecordSize]) {
    if (QueryInterfaceTable().empty())
        return Sent::kNoNetwork;
    socket = ScopedSocket(::socket(AF_INET, SOCK_DGRAM, 0));
    if (!socket.valid())
        return Sent::kFailed;
    if (broadcast)
        AllowBroadcast(socket.get());
    sockaddr_in to = DestinationOf(destination);
    int sent = sendto(socket.get(), reinterpret_cast<const char*>(request), kRecordSize, 0,
                      reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent == SOCKET_ERROR ? Sent::kFailed : Sent::kSent;
}

void WaitOut(ULONGLONG start, ULONGLONG limit_ms) {
    for (ULONGLONG passed = GetTickCount64() - start; passed < limit_ms;
         passed = GetTickCount64() - start) {
        ULONGLONG left = limit_ms - passed;
        Sleep(static_cast<DWORD>(left < kLongestPauseMs ? left : kLongestPauseMs));
    }
}

void RecordReply(const unsigned char (&reply)[kReceiveSize], ResultList& list) {
    char mac[kMacTextSize];
    FormatMac(reply + kMacOffset, mac);
    ULONG address;
    memcpy(&address, reply + kAddressOffset, sizeof address);
    char address_text[16];
    FormatAddress(address, address_text);
    if (!list.TakesDevice(mac))
        return;
    list.WriteMac(mac);
    list.WriteAddress(address_text);
    list.Add();
}

struct Exchange {
    ResultList* list;
    const char* destination;
    bool broadcast;         // allow broadcasts on the socket
    ULONGLONG limit_ms;     // listening time
    bool first_reply_ends;  // unicast: the first reply ends the exchange
};

/* Listens on the socket for the exchange's time; the result of the
 * exchange. A short reply is ignored as if it had not come: it neither
 * counts nor ends a unicast exchange. A socket that cannot be made
 * non-blocking is treated as a failed receive, since a blocking receive
 * would outlast the listening time. */
int Listen(ScopedSocket& socket, const Exchange& exchange) {
    unsigned char reply[kReceiveSize];
    ULONGLONG start = GetTickCount64();
    bool listening = MakeNonBlocking(socket.get());
    while (GetTickCount64() - start < exchange.limit_ms) {
        size_t length = 0;
        Received received =
            listening ? ReceiveDatagram(socket.get(), reply, sizeof reply, &length) : Received::kFailed;
        if (received == Received::kFailed) {
            socket.Close();
            WaitOut(start, exchange.limit_ms);
            break;
        }
        if (received == Received::kNothing || length < kShortestReply)
            continue;
        RecordReply(reply, *exchange.list);
        if (exchange.first_reply_ends)
            return 1;
    }
    return exchange.list->count() != 0 ? 1 : 0;
}

int RunExchange(const Exchange& exchange) {
    unsigned char request[kRecordSize];
    BuildRecord(request, kGetCommand);
    memset(request + kMacOffset, 0xFF, 6);
    ScopedSocket socket;
    Sent sent = SendRequest(socket, exchange.destination, exchange.broadcast, request);
    if (sent != Sent::kSent)
        return sent == Sent::kNoNetwork ? 1 : 0;
    return Listen(socket, exchange);
}

int RepeatExchange(const Exchange& exchange, uint32_t repeat) {
    int result = 0;
    for (uint32_t i = 0; i < repeat; ++i) {
        result = RunExchange(exchange);
        Sleep(kRepeatPauseMs);
    }
    return result;
}

/* seconds × 1000 × repeat, truncated, and capped at kMaxWaitMs like
 * every other wait of the library (a huge product is then also no
 * conversion out of range). */
ULONGLONG UnicastLimitMs(double timeout, uint32_t repeat) {
    double milliseconds = timeout * 1000.0 * repeat;
    return milliseconds < kMaxWaitMs ? static_cast<ULONGLONG>(milliseconds) : kMaxWaitMs;
}

bool IsHexDigit(char c) {
    return isxdigit(static_cast<unsigned char>(c)) != 0;
}

int HexValue(char c) {
    return isdigit(static_cast<unsigned char>(c)) ? c - '0' : toupper(static_cast<unsigned char>(c)) - 'A' + 10;
}

/* A dotted address that converts (255.255.255.255 included). */
bool ConvertsAsAddress(const char* text, ULONG* address) {
    *address = inet_addr(text);
    return *address != INADDR_NONE || strcmp(text, "255.255.255.255") == 0;
}

}  // namespace

bool ParseMacText(const char* text, unsigned char (&octets)[6]) {
    if (strnlen(text, kMacTextSize) != kMacTextLength)
        return false;
    for (size_t i = 0; i < 6; ++i) {
        const char* octet = text + 3 * i;
        if (!IsHexDigit(octet[0]) || !IsHexDigit(octet[1]) || (i < 5 && octet[2] != ':'))
            return false;
        octets[i] = static_cast<unsigned char>(HexValue(octet[0]) * 16 + HexValue(octet[1]));
    }
    return true;
}

int SendSearchUdpBroadcast(OvHandle handle, void* results, DWORD capacity, DWORD seconds,
                           DWORD repeat, DWORD* count, const char* destination) {
    HandleRecord* record = RecordOf(handle);
    if (record == nullptr || results == nullptr || count == nullptr || destination == nullptr)
        return 0;
    HandleClaim claim(record);  // for every exchange; a close meanwhile is refused
    if (!claim.held())
        return 0;
    DWORD limit_ms = KeepListeningTime(record, seconds, repeat);
    ResultList list(results, count, capacity);
    Exchange exchange = {&list, destination, true, limit_ms, false};
    return RepeatExchange(exchange, record->retry_count);
}

int SendSearchUdpUnicast(OvHandle handle, void* results, DWORD capacity, double timeout,
                         DWORD repeat, DWORD* count, const char* destination) {
    HandleRecord* record = RecordOf(handle);
    if (record == nullptr || results == nullptr || count == nullptr || destination == nullptr)
        return 0;
    HandleClaim claim(record);
    if (!claim.held())
        return 0;
    // Written as "not at least": NaN is raised too.
    record->timeout_seconds = !(timeout >= kMinimumTimeout) ? kMinimumTimeout : timeout;
    record->retry_count = static_cast<int32_t>(repeat == 0 ? kDefaultRepeat : repeat);
    uint32_t times = static_cast<uint32_t>(record->retry_count);
    ResultList list(results, count, capacity);
    Exchange exchange = {&list, destination, false, UnicastLimitMs(record->timeout_seconds, times), true};
    return RepeatExchange(exchange, times);
}

int SendSetUdp(int enable, const char* mac, const char* address, const char* address2,
               const char* destination) {
    if (enable == 0)
        return 0;
    if (mac == nullptr || address == nullptr || address2 == nullptr || destination == nullptr)
        return 0;
    unsigned char octets[6];
    ULONG new_address;
    if (!ParseMacText(mac, octets) || !ConvertsAsAddress(address, &new_address))
        return 0;
    unsigned char request[kRecordSize];
    BuildRecord(request, kSetCommand);
    memcpy(request + kMacOffset, octets, sizeof octets);
    ULONG second_address = inet_addr(address2);
    memcpy(request + kAddressOffset, &new_address, 4);
    memcpy(request + kAddress2Offset, &second_address, 4);
    ScopedSocket socket;
    Sent sent = SendRequest(socket, destination, true, request);
    if (sent != Sent::kSent)
        return sent == Sent::kNoNetwork ? 1 : 0;
    Sleep(kSetPauseMs);
    return 1;
}

}  // namespace orv
