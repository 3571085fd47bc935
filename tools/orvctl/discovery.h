/*
 * discovery.h - the discovery commands of orvctl: search arp|dhcp|udp and
 * set, one line per device found.
 */
#ifndef ORVCTL_DISCOVERY_H
#define ORVCTL_DISCOVERY_H

#include "../common/ovapi.h"

/* argv[0] is "search" or "set"; the exit code of the command, 2 for a
 * usage error. */
int RunSearchCommand(OvApi& api, int argc, char** argv);
int RunSetCommand(OvApi& api, int argc, char** argv);

/* The usage lines of the commands. */
extern const char kDiscoveryUsage[];

#endif  // ORVCTL_DISCOVERY_H
