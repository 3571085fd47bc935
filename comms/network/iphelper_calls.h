/*
 * iphelper_calls.h - the two IP Helper tables that the library reads,
 * the interface address table and the ARP table. Tests replace the calls
 * to give what Wine never reports: a table that grows between the call
 * that sizes it and the call that fills it (an adapter coming up), and
 * address types with several flags set. They point at the real
 * functions; only tests linking the internal library replace them.
 */
#ifndef ORVCOMMS_IPHELPER_CALLS_H
#define ORVCOMMS_IPHELPER_CALLS_H

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

namespace orv {

struct IpHelperCalls {
    DWORD(WINAPI* get_ip_addr_table)(PMIB_IPADDRTABLE, PULONG, BOOL);
    DWORD(WINAPI* get_ip_net_table)(PMIB_IPNETTABLE, PULONG, BOOL);
};

extern IpHelperCalls g_iphelper_calls;

}  // namespace orv

#endif  // ORVCOMMS_IPHELPER_CALLS_H
