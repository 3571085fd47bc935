// Discovery figures (a benchmark, not a test): the wall time and the CPU
// time of this process for one search of a kind, run in the discovery
// rig's library namespace (scripts/bench.sh starts it there and adds the
// packets sent and the wineserver's CPU time). Kinds:
//   arp          OvSendSearch, wait 1 s, the vendor list (one silent device)
//   arp-prefix   OvSendSearch, wait 1 s, prefix FE:FF:FF:FF
//   dhcp         OvSendSearch_DHCPreq, 2 s
//   udp          OvSendSearch_UDPBrCast to 198.18.9.255, 2 s
//   udp-silent   OvSendSearch_UDPUniCast to a host that never answers, 2 s
//   udp-unicast  OvSendSearch_UDPUniCast to a printer that answers
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "bench_clock.h"
#include "ovapi.h"

namespace {

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return CpuSeconds(kernel, user);
}

struct Run {
    int result;
    DWORD count;
    double listen_seconds;  // the time the search listens by design
};

Run Search(OvApi& api, OvHandle search, const char* kind, OvSearchEntry* entries) {
    DWORD count = 0;
    if (strcmp(kind, "arp") == 0)
        return {api.SendSearch(search, entries, 64, 1, 0, &count, ""), count, 1.0};
    if (strcmp(kind, "arp-prefix") == 0)
        return {api.SendSearch(search, entries, 64, 1, 0, &count, "FE:FF:FF:FF"), count, 1.0};
    if (strcmp(kind, "dhcp") == 0)
        return {api.SendSearchDhcp(search, entries, 2, 1, &count), count, 2.0};
    if (strcmp(kind, "udp") == 0)
        return {api.SendSearchUdpBroadcast(search, entries, 64, 2, 1, &count, "198.18.9.255"), count, 2.0};
    if (strcmp(kind, "udp-silent") == 0)
        return {api.SendSearchUdpUnicast(search, entries, 64, 2.0, 1, &count, "198.18.9.99"), count, 2.0};
    if (strcmp(kind, "udp-unicast") == 0)
        return {api.SendSearchUdpUnicast(search, entries, 64, 2.0, 1, &count, "198.18.9.11"), count, 0.0};
    return {-1, 0, 0};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: discovery_bench arp|arp-prefix|dhcp|udp|udp-silent|udp-unicast\n");
        return 2;
    }
    OvApi api;
    if (!api.Load() || !api.Startup(GetModuleHandleA(nullptr))) {
        fprintf(stderr, "cannot load or start orvcomms.dll\n");
        return 1;
    }
    OvHandle search = api.OpenSearch();
    std::vector<OvSearchEntry> entries(64);
    double cpu_before = ProcessCpuSeconds();
    ULONGLONG start = GetTickCount64();
    Run run = Search(api, search, argv[1], entries.data());
    double wall = (GetTickCount64() - start) / 1000.0;
    double cpu = ProcessCpuSeconds() - cpu_before;
    api.CloseSearch(search);
    api.Cleanup();
    if (run.result < 0) {
        fprintf(stderr, "unknown kind %s\n", argv[1]);
        return 2;
    }
    printf("%-12s wall %6.2f s  cpu %6.2f s", argv[1], wall, cpu);
    if (run.listen_seconds > 0)
        printf(" (%4.2f s per second listened)", cpu / run.listen_seconds);
    else
        printf("                              ");
    printf("  found %lu  result %d\n", static_cast<unsigned long>(run.count), run.result);
    return 0;
}
