/*
 * status.h - the status channel: one question on the printer's command
 * port 9200 per call (its status or its device ID), answered by one reply
 * that is handed to the caller unchanged.
 */
#ifndef ORVCOMMS_STATUS_H
#define ORVCOMMS_STATUS_H

#include <windows.h>

#include "orvcomms.h"

namespace orv {

/* What an exchange asks the printer; it belongs to that one exchange. */
enum class StatusRequest { kDeviceId, kStatus };

OvHandle OpenStatus(const char* host);
int Exchange(OvHandle handle, StatusRequest request, void* buffer, DWORD size, DWORD* length);
int CloseStatus(OvHandle handle);

}  // namespace orv

#endif  // ORVCOMMS_STATUS_H
