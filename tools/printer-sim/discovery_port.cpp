/*
 * discovery_port.cpp - the printer's discovery side.
 *
 * Port 19541 takes 24-byte "LN4S" records. "GETA" is answered with a
 * record carrying the printer's MAC (bytes 8-13) and the address it
 * reports (bytes 16-19); "SETA" for the printer's MAC makes the bytes
 * 16-19 of the request the reported address, so later answers carry it
 * (the printer keeps listening where it was: only the report moves).
 * A "GETA" or "SETA" request that is not exactly the 24-byte record, with
 * FF FF FF FF FF FF and zeros in a GETA's bytes 8-23 and zeros in a
 * SETA's bytes 14-15, is counted as malformed and neither answered nor
 * applied, so that the tests see a client's request that strays from
 * the record. Anything else is counted and dropped, as a device drops
 * what it does not understand.
 *
 * udp=any listens on 0.0.0.0 so that broadcasts arrive too; answers then
 * still leave from the printer's own address (IP_PKTINFO). That is only
 * allowed inside a network namespace, where no other program shares the
 * port; likewise DHCP requests leave this machine's own namespace only
 * towards 127.0.0.0/8.
 */
#include "discovery_port.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "discovery_options.h"
#include "net.h"
#include "options.h"
#include "printer.h"

namespace {

constexpr uint16_t kDiscoveryPort = 19541;
constexpr uint16_t kDhcpServerPort = 67;
constexpr size_t kRecordSize = 24;
constexpr size_t kMacOffset = 8;
constexpr size_t kAddressOffset = 16;
constexpr size_t kAddress2Offset = 20;
constexpr int kDatagramsPerEvent = 64;
constexpr size_t kReceiveSize = 65536;
constexpr size_t kDhcpRequestSize = 300;       // the smallest BOOTP message
constexpr size_t kDhcpHardwareOffset = 28;     // chaddr
constexpr size_t kDhcpCookieOffset = 236;
constexpr int kDhcpLogEvery = 100;             // requests between log lines

bool IsLoopbackNet(const std::string& address) {
    in_addr parsed;
    return inet_pton(AF_INET, address.c_str(), &parsed) == 1 && (ntohl(parsed.s_addr) >> 24) == 127;
}

std::string AddressText(in_addr address) {
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::string AddressAt(const unsigned char* data) {
    in_addr address;
    memcpy(&address.s_addr, data, 4);
    return AddressText(address);
}

std::string Record(const char* command, const unsigned char* mac, in_addr address) {
    std::string record(kRecordSize, '\0');
    memcpy(&record[0], "LN4S", 4);
    memcpy(&record[4], command, 4);
    memcpy(&record[kMacOffset], mac, 6);
    memcpy(&record[kAddressOffset], &address.s_addr, 4);
    return record;
}

/* Whether a GETA or SETA request is the 24-byte record with its fixed
 * bytes. */
bool WellFormed(const unsigned char* data, size_t size, bool get) {
    static const unsigned char kGetFields[kRecordSize - kMacOffset] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    if (size != kRecordSize)
        return false;
    if (get)
        return memcmp(data + kMacOffset, kGetFields, sizeof kGetFields) == 0;
    return data[kMacOffset + 6] == 0 && data[kMacOffset + 7] == 0;
}

std::string DhcpDiscover(const unsigned char* mac, uint32_t xid) {
    std::string message(kDhcpRequestSize, '\0');
    unsigned char* bytes = reinterpret_cast<unsigned char*>(&message[0]);
    bytes[0] = 1;      // op: request
    bytes[1] = 1;      // htype: Ethernet
    bytes[2] = 6;      // hlen
    uint32_t xid_net = htonl(xid);
    memcpy(bytes + 4, &xid_net, 4);
    bytes[10] = 0x80;  // flags: answer by broadcast
    memcpy(bytes + kDhcpHardwareOffset, mac, 6);
    const unsigned char options[] = {
        0x63, 0x82, 0x53, 0x63,                      // magic cookie
        53, 1, 1,                                    // DHCP message type: DISCOVER
        61, 7, 1, mac[0], mac[1], mac[2], mac[3], mac[4], mac[5],  // client id
        255,                                         // end
    };
    memcpy(bytes + kDhcpCookieOffset, options, sizeof options);
    return message;
}

}  // namespace

DiscoveryPort::DiscoveryPort(Printer& printer, in_addr address)
    : printer_(printer), loop_(printer.GetLoop()), address_(address), reported_(address) {}

DiscoveryPort::~DiscoveryPort() {
    loop_.Unwatch(udp_watch_);
    loop_.CancelTimer(dhcp_timer_);
    for (const auto& pending : answer_timers_)
        loop_.CancelTimer(pending.second);
}

std::string DiscoveryPort::Mac() const {
    const std::string& mac = printer_.Options().discovery.mac;
    if (!mac.empty())
        return mac;
    const unsigned char* octets = reinterpret_cast<const unsigned char*>(&address_.s_addr);
    const unsigned char derived[6] = {0x0A, 0x4D, 0xC2, octets[1], octets[2], octets[3]};
    return FormatMac(derived);
}

bool DiscoveryPort::Accepts(const PrinterOptions& next, std::string* error) const {
    if (next.netns.empty() && next.discovery.dhcp_every_ms > 0 && !IsLoopbackNet(next.discovery.dhcp_to)) {
        *error = "dhcp_to " + next.discovery.dhcp_to + " outside 127.0.0.0/8 needs a netns printer";
        return false;
    }
    return true;
}

bool DiscoveryPort::Start(std::string* error) {
    const PrinterOptions& options = printer_.Options();
    if (!Accepts(options, error))
        return false;
    if (options.discovery.udp != UdpListen::kOff) {
        if (options.discovery.udp == UdpListen::kAny && options.netns.empty()) {
            *error = "udp=any needs a netns printer (use udp=own)";
            return false;
        }
        sockaddr_in endpoint = {};
        endpoint.sin_family = AF_INET;
        endpoint.sin_port = htons(kDiscoveryPort);
        endpoint.sin_addr.s_addr = options.discovery.udp == UdpListen::kAny ? htonl(INADDR_ANY) : address_.s_addr;
        udp_ = OpenUdp(endpoint, options.netns, error);
        if (!udp_.Valid())
            return false;
        int on = 1;
        setsockopt(udp_.Get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on);  // tells each datagram's destination
        udp_watch_ = loop_.Watch(udp_.Get(), POLLIN, [this](short) { ReadDatagrams(); });
        printer_.Event("udp: listening on " + FormatEndpoint(endpoint) + " as " + Mac());
    }
    if (options.discovery.dhcp_every_ms > 0 && !OpenDhcpSocket(error)) {
        loop_.Unwatch(udp_watch_);
        udp_watch_ = 0;
        udp_.Reset();
        return false;
    }
    ScheduleDhcp();
    return true;
}

void DiscoveryPort::OptionsChanged() {
    loop_.CancelTimer(dhcp_timer_);
    dhcp_timer_ = 0;
    std::string error;
    if (printer_.Options().discovery.dhcp_every_ms > 0 && !dhcp_.Valid() && !OpenDhcpSocket(&error)) {
        printer_.Event("dhcp: " + error);
        return;
    }
    ScheduleDhcp();
}

bool DiscoveryPort::OpenDhcpSocket(std::string* error) {
    sockaddr_in endpoint = {};
    endpoint.sin_family = AF_INET;
    endpoint.sin_addr = address_;  // its device carries the limited broadcast
    dhcp_ = OpenUdp(endpoint, printer_.Options().netns, error);
    return dhcp_.Valid();
}

namespace {

/* The destination address of a datagram received with IP_PKTINFO. */
in_addr DestinationOf(msghdr& message) {
    in_addr to = {};
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            memcpy(&info, CMSG_DATA(header), sizeof info);
            to = info.ipi_addr;
        }
    }
    return to;
}

}  // namespace

void DiscoveryPort::ReadDatagrams() {
    static unsigned char buffer[kReceiveSize];
    for (int i = 0; i < kDatagramsPerEvent; ++i) {
        sockaddr_in from = {};
        char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        iovec data = {buffer, sizeof buffer};
        msghdr message = {};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        ssize_t got = recvmsg(udp_.Get(), &message, 0);
        if (got < 0)
            return;
        Handle(from, DestinationOf(message), buffer, static_cast<size_t>(got));
    }
}

void DiscoveryPort::Handle(const sockaddr_in& from, in_addr to, const unsigned char* data, size_t size) {
    bool ln4s = size >= 8 && memcmp(data, "LN4S", 4) == 0;
    bool get = ln4s && memcmp(data + 4, "GETA", 4) == 0;
    bool set = ln4s && memcmp(data + 4, "SETA", 4) == 0;
    if ((get || set) && !WellFormed(data, size, get)) {
        ++stats_.malformed;
        size_t shown = size < 2 * kRecordSize ? size : 2 * kRecordSize;
        printer_.Event("udp: malformed " + std::string(get ? "GETA" : "SETA") + " of " + std::to_string(size) +
                       " bytes from " + FormatEndpoint(from) + ": " +
                       ToHex(std::string(reinterpret_cast<const char*>(data), shown)));
    } else if (get) {
        ++stats_.geta;
        stats_.geta_to = AddressText(to);
        AnswerGet(from);
    } else if (set) {
        ++stats_.seta;
        ApplySet(from, data, size);
    } else {
        ++stats_.udp_other;
        printer_.Event("udp: ? " + std::to_string(size) + " bytes from " + FormatEndpoint(from));
    }
}

void DiscoveryPort::AnswerGet(const sockaddr_in& from) {
    const DiscoveryOptions& options = printer_.Options().discovery;
    if (!options.udp_reply) {
        printer_.Event("udp: GETA from " + FormatEndpoint(from) + ", not answered");
        return;
    }
    for (const std::string& junk : options.udp_junk)
        SendTo(from, junk);
    if (options.udp_delay_ms == 0) {
        SendAnswer(from);
        return;
    }
    uint64_t serial = next_answer_++;
    answer_timers_[serial] = loop_.After(options.udp_delay_ms, [this, serial, from] {
        answer_timers_.erase(serial);
        SendAnswer(from);
    });
}

void DiscoveryPort::SendAnswer(const sockaddr_in& to) {
    unsigned char mac[6];
    ParseMac(Mac(), mac);
    SendTo(to, Record("GETA", mac, reported_));
    printer_.Event("udp: GETA from " + FormatEndpoint(to) + ", answered " + Mac() + " " + AddressText(reported_));
}

void DiscoveryPort::ApplySet(const sockaddr_in& from, const unsigned char* data, size_t) {
    std::string target = FormatMac(data + kMacOffset);
    stats_.seta_last = target + "/" + AddressAt(data + kAddressOffset) + "/" + AddressAt(data + kAddress2Offset);
    if (target != Mac()) {
        printer_.Event("udp: SETA from " + FormatEndpoint(from) + " for " + target + ", not ours");
        return;
    }
    ++stats_.seta_applied;
    memcpy(&reported_.s_addr, data + kAddressOffset, 4);
    printer_.Event("udp: SETA from " + FormatEndpoint(from) + ": address now " + AddressText(reported_));
}

void DiscoveryPort::SendTo(const sockaddr_in& to, const std::string& bytes) {
    // The answer leaves from the printer's address even when the socket
    // listens on 0.0.0.0.
    char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    iovec data = {const_cast<char*>(bytes.data()), bytes.size()};
    msghdr message = {};
    message.msg_name = const_cast<sockaddr_in*>(&to);
    message.msg_namelen = sizeof to;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info = {};
    info.ipi_spec_dst = address_;
    memcpy(CMSG_DATA(header), &info, sizeof info);
    if (sendmsg(udp_.Get(), &message, 0) < 0)
        printer_.Event("udp: send to " + FormatEndpoint(to) + " failed: " + ErrorText(errno));
}

void DiscoveryPort::ScheduleDhcp() {
    int period = printer_.Options().discovery.dhcp_every_ms;
    if (period <= 0 || !dhcp_.Valid())
        return;
    dhcp_timer_ = loop_.After(period, [this] {
        dhcp_timer_ = 0;
        SendDhcp();
        ScheduleDhcp();
    });
}

void DiscoveryPort::SendDhcp() {
    const DiscoveryOptions& options = printer_.Options().discovery;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(kDhcpServerPort);
    inet_pton(AF_INET, options.dhcp_to.c_str(), &to.sin_addr);
    unsigned char mac[6];
    ParseMac(options.dhcp_mac.empty() ? Mac() : options.dhcp_mac, mac);
    for (const std::string& junk : options.dhcp_junk)
        sendto(dhcp_.Get(), junk.data(), junk.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    std::string request = DhcpDiscover(mac, dhcp_xid_++);
    if (sendto(dhcp_.Get(), request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
        if (!dhcp_failed_logged_)
            printer_.Event("dhcp: send to " + FormatEndpoint(to) + " failed: " + ErrorText(errno));
        dhcp_failed_logged_ = true;
        return;
    }
    if (stats_.dhcp_sent++ % kDhcpLogEvery == 0)
        printer_.Event("dhcp: request " + std::to_string(stats_.dhcp_sent) + " for " + FormatMac(mac) + " to " +
                       FormatEndpoint(to));
}

std::string DiscoveryPort::StatsLine() const {
    return "geta=" + std::to_string(stats_.geta) + " seta=" + std::to_string(stats_.seta) +
           " seta_applied=" + std::to_string(stats_.seta_applied) + " malformed=" + std::to_string(stats_.malformed) +
           " udp_other=" + std::to_string(stats_.udp_other) +
           " dhcp_sent=" + std::to_string(stats_.dhcp_sent) + " udp_address=" + AddressText(reported_) +
           " seta_last=" + stats_.seta_last + " geta_to=" + stats_.geta_to + " mac=" + Mac();
}

bool DiscoveryPort::NumericStat(const std::string& key, uint64_t* value) const {
    const std::pair<const char*, uint64_t> numbers[] = {
        {"geta", stats_.geta},           {"seta", stats_.seta},           {"seta_applied", stats_.seta_applied},
        {"malformed", stats_.malformed}, {"udp_other", stats_.udp_other}, {"dhcp_sent", stats_.dhcp_sent},
    };
    for (const auto& number : numbers) {
        if (key == number.first) {
            *value = number.second;
            return true;
        }
    }
    return false;
}

void DiscoveryPort::ResetStats() {
    stats_ = DiscoveryStats();
}
