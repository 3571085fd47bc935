/*
 * discovery_options.h - the options of a simulated printer's discovery
 * side: its answers to the "LN4S" search on UDP port 19541 and the DHCP
 * client requests it sends to port 67.
 *
 * They are items of the same "name=value" syntax as the other printer
 * options; options.cpp hands every name it does not know to this table.
 */
#pragma once

#include <string>
#include <vector>

enum class UdpListen { kOff, kOwn, kAny };

struct DiscoveryOptions {
    std::string mac;                   /* MAC of the printer; "" = 0A:4D:C2 and the address's last 3 octets */
    UdpListen udp = UdpListen::kOff;   /* port 19541: off, on the address, or on 0.0.0.0 (netns only) */
    bool udp_reply = true;             /* false: count requests, never answer */
    int udp_delay_ms = 0;              /* pause before each answer */
    std::vector<std::string> udp_junk; /* datagrams sent to the asker before each answer */
    int dhcp_every_ms = 0;             /* period of the DHCP client requests, 0 = none */
    std::string dhcp_mac;              /* client hardware address; "" = mac */
    std::string dhcp_to = "255.255.255.255";
    std::vector<std::string> dhcp_junk; /* datagrams sent to port 67 with each request */
};

struct PrinterOptions;

/* Applies "name=value" when name is a discovery option: true when done,
 * false with *error set when the value is bad or the option is create
 * only, false with *error empty when the name is not a discovery option. */
bool ApplyDiscoveryOption(PrinterOptions* options, const std::string& name, const std::string& value,
                          bool at_create, std::string* error);

/* "FE:FF:FF:FF:00:01" (either case) into six bytes. */
bool ParseMac(const std::string& text, unsigned char* octets);
/* Six bytes as "FE:FF:FF:FF:00:01". */
std::string FormatMac(const unsigned char* octets);

/* One option's description, for the help text of options.cpp. */
struct DiscoveryOptionHelp {
    const char* name;
    bool create_only;
    const char* values;
    const char* fallback;
    const char* meaning;
};
const std::vector<DiscoveryOptionHelp>& DiscoveryOptionsHelpRows();
