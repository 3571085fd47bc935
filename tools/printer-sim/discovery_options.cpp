/*
 * discovery_options.cpp - parsing of the discovery options.
 *
 * As for every printer option, values are checked strictly: a MAC with a
 * typo is an error, not some other MAC.
 */
#include "discovery_options.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "options.h"

namespace {

constexpr int kMaxMs = 120000;
constexpr size_t kMaxDatagram = 65507;

bool ParseMs(const std::string& text, int min, int* value) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    int parsed = atoi(text.c_str());
    if (parsed < min || parsed > kMaxMs)
        return false;
    *value = parsed;
    return true;
}

/* 0 (none), or a period of at least 10 ms. */
bool ParsePeriod(const std::string& text, int* value) {
    if (text == "0") {
        *value = 0;
        return true;
    }
    return ParseMs(text, 10, value);
}

bool ParseHexBytes(const std::string& text, std::string* bytes) {
    if (text.empty() || text.size() % 2 != 0 || text.size() / 2 > kMaxDatagram)
        return false;
    std::string out;
    for (size_t i = 0; i < text.size(); i += 2) {
        if (!isxdigit(static_cast<unsigned char>(text[i])) || !isxdigit(static_cast<unsigned char>(text[i + 1])))
            return false;
        out.push_back(static_cast<char>(strtol(text.substr(i, 2).c_str(), nullptr, 16)));
    }
    *bytes = out;
    return true;
}

/* "none", or HEX[,HEX...]. */
bool ParseDatagrams(const std::string& text, std::vector<std::string>* datagrams) {
    std::vector<std::string> parsed;
    if (text != "none") {
        size_t at = 0;
        while (at <= text.size()) {
            size_t comma = text.find(',', at);
            size_t end = comma == std::string::npos ? text.size() : comma;
            std::string bytes;
            if (!ParseHexBytes(text.substr(at, end - at), &bytes))
                return false;
            parsed.push_back(bytes);
            at = end + 1;
        }
    }
    *datagrams = parsed;
    return true;
}

bool ParseUdp(const std::string& text, UdpListen* udp) {
    if (text == "off")
        *udp = UdpListen::kOff;
    else if (text == "own")
        *udp = UdpListen::kOwn;
    else if (text == "any")
        *udp = UdpListen::kAny;
    else
        return false;
    return true;
}

bool ParseSwitch(const std::string& text, bool* value) {
    if (text == "on" || text == "1")
        *value = true;
    else if (text == "off" || text == "0")
        *value = false;
    else
        return false;
    return true;
}

bool ParseMacOption(const std::string& text, std::string* mac) {
    unsigned char octets[6];
    if (!ParseMac(text, octets))
        return false;
    *mac = FormatMac(octets);
    return true;
}

bool ParseAddress(const std::string& text, std::string* address) {
    in_addr parsed;
    if (inet_pton(AF_INET, text.c_str(), &parsed) != 1)
        return false;
    *address = text;
    return true;
}

bool Parse(DiscoveryOptions* options, const std::string& name, const std::string& value) {
    if (name == "mac")
        return ParseMacOption(value, &options->mac);
    if (name == "udp")
        return ParseUdp(value, &options->udp);
    if (name == "udp_reply")
        return ParseSwitch(value, &options->udp_reply);
    if (name == "udp_delay_ms")
        return ParseMs(value, 0, &options->udp_delay_ms);
    if (name == "udp_junk")
        return ParseDatagrams(value, &options->udp_junk);
    if (name == "dhcp_every_ms")
        return ParsePeriod(value, &options->dhcp_every_ms);
    if (name == "dhcp_mac")
        return ParseMacOption(value, &options->dhcp_mac);
    if (name == "dhcp_to")
        return ParseAddress(value, &options->dhcp_to);
    if (name == "dhcp_junk")
        return ParseDatagrams(value, &options->dhcp_junk);
    return false;
}

}  // namespace

const std::vector<DiscoveryOptionHelp>& DiscoveryOptionsHelpRows() {
    static const std::vector<DiscoveryOptionHelp> rows = {
        {"mac", false, "MAC", "0A:4D:C2 and the address's last three octets",
         "MAC address the printer reports and answers SETA to"},
        {"udp", true, "off|own|any", "off",
         "discovery port 19541: on ADDRESS (unicast only), or on 0.0.0.0 (also broadcasts; netns only)"},
        {"udp_reply", false, "on|off", "on", "off: count GETA requests but never answer"},
        {"udp_delay_ms", false, "M", "0", "pause before each GETA answer"},
        {"udp_junk", false, "HEX[,HEX..]|none", "none", "datagrams sent to the asker before each answer"},
        {"dhcp_every_ms", false, "M", "0 (none)", "send a DHCP client request (DISCOVER) to port 67 every M ms (10 or more)"},
        {"dhcp_mac", false, "MAC", "mac", "client hardware address of the requests"},
        {"dhcp_to", false, "IP", "255.255.255.255", "where the requests go (outside a netns: 127.0.0.0/8 only)"},
        {"dhcp_junk", false, "HEX[,HEX..]|none", "none", "datagrams sent to port 67 with each request"},
    };
    return rows;
}

bool ApplyDiscoveryOption(PrinterOptions* options, const std::string& name, const std::string& value,
                          bool at_create, std::string* error) {
    error->clear();
    for (const DiscoveryOptionHelp& row : DiscoveryOptionsHelpRows()) {
        if (name != row.name)
            continue;
        if (row.create_only && !at_create) {
            *error = name + " can only be given to create";
            return false;
        }
        if (!Parse(&options->discovery, name, value)) {
            *error = "bad value for " + name + ": " + value + " (expected " + row.values + ")";
            return false;
        }
        return true;
    }
    return false;
}

bool ParseMac(const std::string& text, unsigned char* octets) {
    if (text.size() != 17)
        return false;
    for (size_t i = 0; i < 6; ++i) {
        const char* octet = text.c_str() + 3 * i;
        if (!isxdigit(static_cast<unsigned char>(octet[0])) || !isxdigit(static_cast<unsigned char>(octet[1])) ||
            (i < 5 && octet[2] != ':'))
            return false;
        octets[i] = static_cast<unsigned char>(strtol(std::string(octet, 2).c_str(), nullptr, 16));
    }
    return true;
}

std::string FormatMac(const unsigned char* octets) {
    char text[18];
    snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", octets[0], octets[1], octets[2], octets[3],
             octets[4], octets[5]);
    return text;
}
