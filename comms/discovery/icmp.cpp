/*
 * icmp.cpp - the ICMP echo requests of the ARP-table search:
 * the broadcast echo that makes devices enter the ARP cache, and the
 * address echo probe that confirms each candidate afterwards.
 *
 * Both go through raw ICMP sockets, which the platform grants to
 * administrators only; without them the probe answers 0 and the search
 * finds nothing. A raw socket receives every ICMP message that reaches
 * the machine, so the probe checks the sender and its own identifier (the
 * process id) before it takes a reply as the answer.
 */
#include "discovery.h"

#include <cstring>

namespace orv {

namespace {

constexpr unsigned char kEchoRequest = 8;
constexpr unsigned char kEchoReply = 0;
constexpr size_t kChecksumOffset = 2;

// Broadcast echo: identifier and sequence are the bytes 01 00; the
// filler byte at 8 is covered by the checksum, so its value is free.
constexpr unsigned char kBroadcastIdentifier[2] = {0x01, 0x00};
constexpr unsigned char kBroadcastSequence[2] = {0x01, 0x00};
constexpr unsigned char kBroadcastFiller = 0x00;
constexpr size_t kBroadcastTickOffset = 9;
constexpr size_t kBroadcastPayloadOffset = 13;
constexpr unsigned char kBroadcastPayloadFirst = 0x20;

// Address echo probe.
constexpr size_t kProbeTickOffset = 8;
constexpr size_t kProbePayloadOffset = 12;
constexpr unsigned char kProbePayloadByte = 0x45;  // 'E'
constexpr size_t kProbeBufferSize = 1024;
constexpr uint16_t kProbeAttempts = 3;
constexpr DWORD kProbeSocketTimeoutMs = 1000;
constexpr DWORD kUnexpectedReplyPauseMs = 1000;
constexpr size_t kIcmpHeaderSize = 8;

void PutLittleEndian16(unsigned char* at, uint16_t value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}

void PutLittleEndian32(unsigned char* at, DWORD value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

void StoreChecksum(unsigned char* message, size_t size) {
    message[kChecksumOffset] = 0;
    message[kChecksumOffset + 1] = 0;
    uint16_t checksum = InternetChecksum(message, size);
    memcpy(message + kChecksumOffset, &checksum, sizeof checksum);
}

bool SetTimeout(SOCKET socket, int option, DWORD milliseconds) {
    return setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&milliseconds),
                      sizeof milliseconds) == 0;
}

enum class Attempt { kAnswered, kNext, kFailed };

/* An IPv4 datagram holding our echo reply: long enough, type echo reply,
 * and carrying our identifier. */
bool IsOurReply(const unsigned char* datagram, int length, uint16_t identifier) {
    size_t header = (datagram[0] & 0x0F) * 4u;
    if (length < 0 || static_cast<size_t>(length) < header + kIcmpHeaderSize)
        return false;
    uint16_t replied;
    memcpy(&replied, datagram + header + 4, sizeof replied);
    return datagram[header] == kEchoReply && replied == identifier;
}

enum class Sent { kSent, kTimedOut, kFailed };

Sent SendProbe(SOCKET socket, const sockaddr_in& to, const unsigned char* request) {
    if (sendto(socket, reinterpret_cast<const char*>(request), kProbeEchoSize, 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to) != SOCKET_ERROR)
        return Sent::kSent;
    int error = WSAGetLastError();
    return error == WSAETIMEDOUT ? Sent::kTimedOut : Sent::kFailed;
}

Attempt AwaitProbeReply(SOCKET socket, const sockaddr_in& to, unsigned char* reply,
                        uint16_t identifier) {
    sockaddr_in from = {};
    int from_length = sizeof from;
    int got = recvfrom(socket, reinterpret_cast<char*>(reply), kProbeBufferSize, 0,
                       reinterpret_cast<sockaddr*>(&from), &from_length);
    if (got == SOCKET_ERROR) {
        int error = WSAGetLastError();
        return error == WSAETIMEDOUT ? Attempt::kNext : Attempt::kFailed;
    }
    // Another host speaking during the probe: the device is not taken.
    if (from.sin_addr.s_addr != to.sin_addr.s_addr)
        return Attempt::kFailed;
    if (IsOurReply(reply, got, identifier))
        return Attempt::kAnswered;
    Sleep(kUnexpectedReplyPauseMs);
    return Attempt::kNext;
}

Attempt ProbeOnce(SOCKET socket, const sockaddr_in& to, unsigned char* request,
                  unsigned char* reply, uint16_t identifier, uint16_t sequence) {
    BuildProbeEcho(request, identifier, sequence, static_cast<DWORD>(GetTickCount64()));
    switch (SendProbe(socket, to, request)) {
        case Sent::kTimedOut:
            return Attempt::kNext;
        case Sent::kFailed:
            return Attempt::kFailed;
        case Sent::kSent:
            break;
    }
    return AwaitProbeReply(socket, to, reply, identifier);
}

}  // namespace

uint16_t InternetChecksum(const unsigned char* data, size_t size) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < size; i += 2) {
        uint16_t word;
        memcpy(&word, data + i, sizeof word);
        sum += word;
    }
    if (size % 2 != 0) {
        const unsigned char last[2] = {data[size - 1], 0};
        uint16_t word;
        memcpy(&word, last, sizeof word);
        sum += word;
    }
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum += sum >> 16;
    return static_cast<uint16_t>(~sum);
}

void BuildBroadcastEcho(unsigned char (&echo)[kBroadcastEchoSize], DWORD tick) {
    memset(echo, 0, sizeof echo);
    echo[0] = kEchoRequest;
    memcpy(echo + 4, kBroadcastIdentifier, 2);
    memcpy(echo + 6, kBroadcastSequence, 2);
    echo[8] = kBroadcastFiller;
    PutLittleEndian32(echo + kBroadcastTickOffset, tick);
    for (size_t i = 0; i < kBroadcastEchoSize - kBroadcastPayloadOffset; ++i)
        echo[kBroadcastPayloadOffset + i] = static_cast<unsigned char>(kBroadcastPayloadFirst + i);
    StoreChecksum(echo, sizeof echo);
}

void BuildProbeEcho(unsigned char* echo, uint16_t identifier, uint16_t sequence, DWORD tick) {
    echo[0] = kEchoRequest;
    echo[1] = 0;
    PutLittleEndian16(echo + 4, identifier);
    PutLittleEndian16(echo + 6, sequence);
    PutLittleEndian32(echo + kProbeTickOffset, tick);
    memset(echo + kProbePayloadOffset, kProbePayloadByte, kProbeEchoSize - kProbePayloadOffset);
    StoreChecksum(echo, kProbeEchoSize);
}

int ProbeAddress(const char* address_text) {
    ScopedSocket socket(g_discovery_calls.socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
    if (!socket.valid())
        return 0;
    if (!SetTimeout(socket.get(), SO_RCVTIMEO, kProbeSocketTimeoutMs) ||
        !SetTimeout(socket.get(), SO_SNDTIMEO, kProbeSocketTimeoutMs))
        return 0;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    if (!ResolveIpv4(address_text, &to.sin_addr.s_addr))
        return 0;
    BindToTargetSubnet(socket.get(), to.sin_addr.s_addr);

    LocalBlock request(kProbeBufferSize);
    LocalBlock reply(kProbeBufferSize);
    if (request.empty() || reply.empty())
        return 0;
    uint16_t identifier = static_cast<uint16_t>(GetCurrentProcessId());
    for (uint16_t sequence = 0; sequence < kProbeAttempts; ++sequence) {
        Attempt attempt = ProbeOnce(socket.get(), to, request.as<unsigned char>(),
                                    reply.as<unsigned char>(), identifier, sequence);
        if (attempt == Attempt::kAnswered)
            return 1;
        if (attempt == Attempt::kFailed)
            return 0;
    }
    return 0;
}

}  // namespace orv
