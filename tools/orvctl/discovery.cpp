/*
 * discovery.cpp - orvctl's discovery commands.
 *
 *   search arp  [--prefix P] [--wait S] [--capacity N]     OvSendSearch
 *   search dhcp [--seconds S] [--multiplier M]             OvSendSearch_DHCPreq2
 *   search udp  [--to ADDR] [--seconds S] [--repeat N]     OvSendSearch_UDPBrCast
 *   search udp  --unicast ADDR [--timeout T] [--repeat N]  OvSendSearch_UDPUniCast
 *   set MAC ADDR [ADDR2] [--to ADDR]                       OvSendSet_UDP
 *
 * Each search prints one line per device, then what the call returned.
 * The broadcast destination defaults to 255.255.255.255, as the library's
 * callers use it; give --to to keep the request on one network.
 */
#include "discovery.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kCapacity = OV_SEARCH_DEFAULT_CAPACITY;

struct Options {
    std::string prefix;
    DWORD wait = 3;
    DWORD capacity = kCapacity;
    DWORD seconds = 0;     // the library's default (5)
    DWORD multiplier = 0;  // the library's default (1)
    DWORD repeat = 0;      // the library's default (1)
    double timeout = 1.0;
    std::string to = "255.255.255.255";
    std::string unicast;
    std::vector<std::string> words;  // what is not an option
};

bool ParseNumber(const char* text, DWORD* value) {
    char* end;
    unsigned long parsed = strtoul(text, &end, 10);
    if (*text == '\0' || *end != '\0' || text[0] == '-')
        return false;
    *value = static_cast<DWORD>(parsed);
    return true;
}

bool ParseSeconds(const char* text, double* value) {
    char* end;
    *value = strtod(text, &end);
    return *text != '\0' && *end == '\0';
}

/* Reads --name value pairs and plain words; false on a bad option. */
bool ParseOptions(int argc, char** argv, int first, Options* options) {
    for (int i = first; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.compare(0, 2, "--") != 0) {
            options->words.push_back(arg);
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const char* value = argv[++i];
        bool ok = true;
        if (arg == "--prefix")
            options->prefix = value;
        else if (arg == "--wait")
            ok = ParseNumber(value, &options->wait);
        else if (arg == "--capacity")
            ok = ParseNumber(value, &options->capacity) && options->capacity > 0 && options->capacity <= 4096;
        else if (arg == "--seconds")
            ok = ParseNumber(value, &options->seconds);
        else if (arg == "--multiplier")
            ok = ParseNumber(value, &options->multiplier);
        else if (arg == "--repeat")
            ok = ParseNumber(value, &options->repeat);
        else if (arg == "--timeout")
            ok = ParseSeconds(value, &options->timeout);
        else if (arg == "--to")
            options->to = value;
        else if (arg == "--unicast")
            options->unicast = value;
        else
            ok = false;
        if (!ok) {
            fprintf(stderr, "orvctl: bad option %s %s\n", arg.c_str(), value);
            return false;
        }
    }
    return true;
}

std::string Field(const char (&field)[32]) {
    return std::string(field, strnlen(field, sizeof field));
}

void PrintDevices(const std::vector<OvSearchEntry>& entries, DWORD count, bool with_address) {
    for (DWORD i = 0; i < count && i < entries.size(); ++i) {
        if (with_address)
            printf("%-17s  %s\n", Field(entries[i].mac).c_str(), Field(entries[i].address).c_str());
        else
            printf("%s\n", Field(entries[i].mac).c_str());
    }
}

int Finish(const char* call, int result, DWORD count, int error) {
    printf("%lu device%s (%s: %d, OvGetError %d)\n", static_cast<unsigned long>(count), count == 1 ? "" : "s",
           call, result, error);
    fflush(stdout);
    return result ? 0 : 1;
}

int SearchArp(OvApi& api, OvHandle search, const Options& options) {
    std::vector<OvSearchEntry> entries(options.capacity);
    DWORD count = 0;
    printf("ARP search: broadcast echo, %lu s wait, prefix %s\n", static_cast<unsigned long>(options.wait),
           options.prefix.empty() ? "(vendor list)" : options.prefix.c_str());
    fflush(stdout);
    int result = api.SendSearch(search, entries.data(), options.capacity, options.wait, 0, &count,
                                options.prefix.c_str());
    PrintDevices(entries, count, true);
    return Finish("OvSendSearch", result, count, api.GetError(search));
}

int SearchDhcp(OvApi& api, OvHandle search, const Options& options) {
    std::vector<OvSearchEntry> entries(options.capacity);
    std::vector<OvInterfaceEntry> interfaces(options.capacity);
    DWORD count = 0;
    printf("DHCP-request search on port 67\n");
    fflush(stdout);
    int result = api.SendSearchDhcp2(search, entries.data(), interfaces.data(), options.capacity, options.seconds,
                                     options.multiplier, &count);
    for (DWORD i = 0; i < count && i < entries.size(); ++i)
        printf("%-17s  heard on %s (network %s/%s)\n", Field(entries[i].mac).c_str(),
               Field(interfaces[i].address).c_str(), Field(interfaces[i].network).c_str(),
               Field(interfaces[i].mask).c_str());
    return Finish("OvSendSearch_DHCPreq2", result, count, api.GetError(search));
}

int SearchUdp(OvApi& api, OvHandle search, const Options& options) {
    std::vector<OvSearchEntry> entries(options.capacity);
    DWORD count = 0;
    int result;
    const char* call;
    if (options.unicast.empty()) {
        printf("UDP search: GETA to %s:19541\n", options.to.c_str());
        fflush(stdout);
        call = "OvSendSearch_UDPBrCast";
        result = api.SendSearchUdpBroadcast(search, entries.data(), options.capacity, options.seconds,
                                            options.repeat, &count, options.to.c_str());
    } else {
        printf("UDP search: GETA to %s:19541 only\n", options.unicast.c_str());
        fflush(stdout);
        call = "OvSendSearch_UDPUniCast";
        result = api.SendSearchUdpUnicast(search, entries.data(), options.capacity, options.timeout,
                                          options.repeat, &count, options.unicast.c_str());
    }
    PrintDevices(entries, count, true);
    return Finish(call, result, count, api.GetError(search));
}

}  // namespace

const char kDiscoveryUsage[] =
    "  search arp [--prefix P] [--wait S] [--capacity N]\n"
    "                       ICMP broadcast, then the ARP table (vendor MAC prefixes)\n"
    "  search dhcp [--seconds S] [--multiplier M]\n"
    "                       DHCP client requests heard on port 67\n"
    "  search udp [--to ADDR] [--seconds S] [--repeat N]\n"
    "  search udp --unicast ADDR [--timeout T] [--repeat N]\n"
    "                       GETA on port 19541 (default --to 255.255.255.255)\n"
    "  set MAC ADDR [ADDR2] [--to ADDR]\n"
    "                       SETA: the device with MAC is to take ADDR (and ADDR2)\n";

int RunSearchCommand(OvApi& api, int argc, char** argv) {
    Options options;
    if (argc < 2 || !ParseOptions(argc, argv, 2, &options) || !options.words.empty())
        return 2;
    std::string kind = argv[1];
    if (kind != "arp" && kind != "dhcp" && kind != "udp")
        return 2;
    if (!api.Startup(GetModuleHandleA(nullptr))) {
        fprintf(stderr, "orvctl: OvStartup failed\n");
        return 1;
    }
    OvHandle search = api.OpenSearch();
    if (search == OV_INVALID_HANDLE) {
        fprintf(stderr, "orvctl: OvOpenSearch failed\n");
        api.Cleanup();
        return 1;
    }
    int code = kind == "arp" ? SearchArp(api, search, options)
               : kind == "dhcp" ? SearchDhcp(api, search, options)
                                : SearchUdp(api, search, options);
    api.CloseSearch(search);
    api.Cleanup();
    return code;
}

int RunSetCommand(OvApi& api, int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, 1, &options) || options.words.size() < 2 || options.words.size() > 3)
        return 2;
    const std::string& mac = options.words[0];
    const std::string& address = options.words[1];
    std::string address2 = options.words.size() == 3 ? options.words[2] : "0.0.0.0";
    if (!api.Startup(GetModuleHandleA(nullptr))) {
        fprintf(stderr, "orvctl: OvStartup failed\n");
        return 1;
    }
    int sent = api.SendSetUdp(1, mac.c_str(), address.c_str(), address2.c_str(), options.to.c_str());
    printf("OvSendSet_UDP(%s -> %s, %s, to %s): %d (%s)\n", mac.c_str(), address.c_str(), address2.c_str(),
           options.to.c_str(), sent, sent ? "sent" : "refused: MAC must read XX:XX:XX:XX:XX:XX, ADDR be dotted");
    api.Cleanup();
    return sent ? 0 : 1;
}
