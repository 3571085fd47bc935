/*
 * results.cpp - the result list that every search fills, and
 * the texts it holds.
 *
 * Callers own the array and the count and pass them in; the list is the
 * one place that indexes the array, so the capacity bound lives here and
 * nowhere else.
 */
#include "discovery.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "internal.h"

namespace orv {

namespace {

constexpr ULONG kLoopbackHostOrder = 0x7F000001;  // 127.0.0.1

// The two device prefixes of the DHCP and UDP searches, with the length
// compared of each.
constexpr char kFilterFirst[] = "FE:FF:FF:FF";
constexpr size_t kFilterFirstLength = 11;
constexpr char kFilterSecond[] = "0A:4D:C2";
constexpr size_t kFilterSecondLength = 8;

constexpr DWORD kDefaultListeningSeconds = 5;
constexpr DWORD kDefaultMultiplier = 1;

}  // namespace

void CopyField(char* field, const char* text) {
    size_t length = strnlen(text, kFieldSize - 1);
    memcpy(field, text, length);
    memset(field + length, 0, kFieldSize - length);
}

void FormatMac(const unsigned char* bytes, char (&text)[kMacTextSize]) {
    snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", bytes[0], bytes[1], bytes[2],
             bytes[3], bytes[4], bytes[5]);
}

bool StartsWithNoCase(const char* text, const char* prefix, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        unsigned char a = static_cast<unsigned char>(text[i]);
        unsigned char b = static_cast<unsigned char>(prefix[i]);
        if (toupper(a) != toupper(b))
            return false;
        if (a == '\0')
            return true;  // both ended together
    }
    return true;
}

bool PassesDeviceFilter(const char* mac) {
    return StartsWithNoCase(mac, kFilterFirst, kFilterFirstLength) ||
           StartsWithNoCase(mac, kFilterSecond, kFilterSecondLength);
}

bool ResultList::HasMac(const char* mac) const {
    DWORD below = *count_ < capacity_ ? *count_ : capacity_;
    // Over the MAC's own length, which stays within the caller's field
    // even when that field holds no terminator.
    size_t length = strnlen(mac, kFieldSize);
    for (DWORD i = 0; i < below; ++i) {
        if (StartsWithNoCase(entries_[i].mac, mac, length))
            return true;
    }
    return false;
}

ScopedSocket& ScopedSocket::operator=(ScopedSocket&& other) noexcept {
    if (this != &other) {
        Close();
        socket_ = other.socket_;
        other.socket_ = INVALID_SOCKET;
    }
    return *this;
}

void ScopedSocket::Close() {
    if (socket_ != INVALID_SOCKET)
        closesocket(socket_);
    socket_ = INVALID_SOCKET;
}

Received ReceiveDatagram(SOCKET socket, unsigned char* buffer, int size, size_t* length) {
    memset(buffer, 0, size);
    int got = g_discovery_calls.recv(socket, reinterpret_cast<char*>(buffer), size, 0);
    if (got != SOCKET_ERROR) {
        *length = static_cast<size_t>(got);
        return Received::kDatagram;
    }
    int error = WSAGetLastError();
    // Would block: nothing waiting. Message too long: a datagram longer
    // than any request or reply was cut to the buffer; it is dropped, and
    // the devices heard after it still count.
    return error == WSAEWOULDBLOCK || error == WSAEMSGSIZE ? Received::kNothing : Received::kFailed;
}

bool MakeNonBlocking(SOCKET socket) {
    u_long non_blocking = 1;
    return ioctlsocket(socket, FIONBIO, &non_blocking) == 0;
}

DWORD KeepListeningTime(HandleRecord* record, DWORD seconds, DWORD multiplier) {
    record->wait_seconds = seconds == 0 ? kDefaultListeningSeconds : seconds;
    record->retry_count = multiplier == 0 ? kDefaultMultiplier : multiplier;
    // In 32 bits the product would wrap: 2^29 seconds would be 0 ms.
    return SecondsToWaitMs(static_cast<uint64_t>(record->wait_seconds) * record->retry_count);
}

bool IsLoopbackRow(const MIB_IPADDRROW& row) {
    return row.dwAddr == htonl(kLoopbackHostOrder);
}

void FormatAddress(ULONG address, char (&text)[16]) {
    const unsigned char* octets = reinterpret_cast<const unsigned char*>(&address);
    snprintf(text, sizeof text, "%d.%d.%d.%d", octets[0], octets[1], octets[2], octets[3]);
}

}  // namespace orv
