/*
 * find_printers.c - finds printers on the local networks through
 * orvcomms.dll and prints their addresses and MACs.
 *
 *   find_printers                   both searches below, UDP to 255.255.255.255
 *   find_printers arp [SECONDS]     ICMP broadcast, wait (3 s), then the ARP table
 *   find_printers udp [DESTINATION] the "GETA" request on UDP port 19541 to
 *                                   DESTINATION (a broadcast or one printer's address)
 *
 * The ARP search needs administrator rights (raw ICMP sockets); without
 * them it finds only printers already in the ARP table that answer.
 * Exit status 0 when the searches ran, 1 when the ARP search could not.
 *
 * Build (see Makefile): i686-w64-mingw32-gcc find_printers.c -I.. ../orvcomms.dll.a
 * and keep orvcomms.dll beside find_printers.exe.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "orvcomms.h"

#ifdef _MSC_VER
#pragma comment(lib, "orvcomms.lib")
#endif

#define MAX_FOUND 64 /* entries of the result array: the capacity passed */

static void PrintFound(const char* method, const OvSearchEntry* found, DWORD count) {
    DWORD i;
    for (i = 0; i < count; ++i)
        printf("%-15s  %s  (%s)\n", found[i].address, found[i].mac, method);
    if (count == 0)
        printf("no printers found by the %s search\n", method);
}

/* ICMP broadcast, a wait in the library's hidden window, the ARP table. */
static int SearchArp(OvHandle search, DWORD seconds) {
    OvSearchEntry found[MAX_FOUND];
    DWORD count = 0;
    printf("ARP search: waiting %lu s\n", (unsigned long)seconds);
    /* "" selects the built-in vendor prefixes. */
    if (!OvSendSearch(search, found, MAX_FOUND, seconds, 0, &count, "")) {
        DWORD error = GetLastError();
        fprintf(stderr, "ARP search could not run: error %lu%s\n", (unsigned long)error,
                error == 1400 ? " (no hidden window: under Wine, set Graphics=null)" : "");
        return 0;
    }
    PrintFound("ARP", found, count);
    return 1;
}

/* One "GETA" request and 2 s of listening; the count starts at 0 here,
 * and the search adds to it. */
static void SearchUdp(OvHandle search, const char* destination) {
    OvSearchEntry found[MAX_FOUND];
    DWORD count = 0;
    printf("UDP search: asking %s\n", destination);
    /* 0 means "nothing answered" as well as "the request could not be
     * sent"; the count tells them apart. */
    OvSendSearch_UDPBrCast(search, found, MAX_FOUND, 2, 1, &count, destination);
    PrintFound("UDP", found, count);
}

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "all";
    OvHandle search;
    int ok = 1;

    if (strcmp(mode, "all") != 0 && strcmp(mode, "arp") != 0 && strcmp(mode, "udp") != 0) {
        fprintf(stderr, "usage: find_printers [arp [SECONDS] | udp [DESTINATION]]\n");
        return 2;
    }
    if (!OvStartup(GetModuleHandleA(NULL))) {
        fprintf(stderr, "OvStartup failed: Windows Sockets 1.1 is not available\n");
        return 1;
    }
    search = OvOpenSearch();
    if (search == OV_INVALID_HANDLE) {
        fprintf(stderr, "OvOpenSearch failed: error %lu\n", (unsigned long)GetLastError());
        OvCleanup();
        return 1;
    }
    if (strcmp(mode, "udp") != 0)
        ok = SearchArp(search, strcmp(mode, "arp") == 0 && argc > 2 ? (DWORD)atoi(argv[2]) : 3) && ok;
    if (strcmp(mode, "arp") != 0)
        SearchUdp(search, strcmp(mode, "udp") == 0 && argc > 2 ? argv[2] : "255.255.255.255");
    OvCloseSearch(search);
    OvCleanup();
    return ok ? 0 : 1;
}
