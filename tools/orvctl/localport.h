/*
 * localport.h - orvctl's commands for the serial, parallel and USB ports.
 */
#ifndef ORV_ORVCTL_LOCALPORT_H
#define ORV_ORVCTL_LOCALPORT_H

#include "../common/ovapi.h"

/* True for "com", "lpt" and "usb", the first words of these commands. */
bool IsLocalPortCommand(const char* word);

/* Runs "com|lpt|usb ..." (argv[0] is the family); the exit code, 2 for a
 * command line it does not understand. */
int LocalPortCommand(OvApi& api, int argc, char** argv);

/* The usage lines of these commands. */
extern const char kLocalPortUsage[];

#endif  // ORV_ORVCTL_LOCALPORT_H
