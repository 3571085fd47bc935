/*
 * status_commands.h - orvctl's commands of the status channel and the
 * reachability checks (status_commands.cpp).
 */
#ifndef ORVCTL_STATUS_COMMANDS_H
#define ORVCTL_STATUS_COMMANDS_H

#include <string>
#include <vector>

#include "../common/ovapi.h"

/* status HOST / id HOST: one exchange, the reply shown as hex and text
 * (for the device ID also its MFG, MDL and CMD fields). */
int StatusCommand(OvApi& api, const char* host, bool device_id);

/* ping [--tcp] HOST: the echo check, or the connect probe with --tcp.
 * `args` are the words after "ping"; false when they are not that. */
bool PingArgsValid(int count, char** args);
int PingCommand(OvApi& api, int count, char** args);

/* The fields of an IEEE 1284 device ID ("KEY:VALUE;..."), in order, with
 * a leading two-byte length dropped; keys as written. */
struct DeviceIdField {
    std::string key;
    std::string value;
};
std::vector<DeviceIdField> ParseDeviceId(const unsigned char* bytes, size_t size);

#endif  // ORVCTL_STATUS_COMMANDS_H
