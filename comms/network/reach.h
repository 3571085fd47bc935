/*
 * reach.h - the reachability checks: one ICMP echo through the
 * platform's echo interface, or a TCP connect probe to port 80.
 */
#ifndef ORVCOMMS_REACH_H
#define ORVCOMMS_REACH_H

namespace orv {

int SendIcmp(const char* address);
int SendIcmpAsync(const char* address);
/* Stores the library-wide use-ICMP flag; nothing in the library reads
 * it (each check always works its own way). */
int SetUseIcmp(int flag);

}  // namespace orv

#endif  // ORVCOMMS_REACH_H
