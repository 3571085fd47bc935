/*
 * netport.h - the network print channel: a raw TCP connection to the
 * printer's port 9100, its transfers, its draining close, and the soft
 * reset through the command port 9200.
 */
#ifndef ORVCOMMS_NETPORT_H
#define ORVCOMMS_NETPORT_H

#include <windows.h>

#include "orvcomms.h"

namespace orv {

struct HandleRecord;

constexpr unsigned short kPrintPort = 9100;
constexpr unsigned short kCommandPort = 9200;
constexpr DWORD kPieceSize = 16384;     // largest piece handed to one send
constexpr DWORD kPollMs = 100;          // pause between tries of a transfer

OvHandle OpenPort(const char* host);
int ClosePort(OvHandle handle);
int ReadPort(OvHandle handle, void* buffer, DWORD size, DWORD* received);
int RecvPort(OvHandle handle, void* buffer, DWORD size, DWORD* received);
int WritePort(OvHandle handle, const void* data, DWORD size, DWORD* written);
int SendCancel(const char* address);

/* Called by every transfer call once it is counted inside its port and
 * before it looks at the port; null outside tests. A test holds a call
 * there while a close runs, to see that the close frees the record only
 * after the call has left it. */
extern void (*g_port_call_entered)(HandleRecord* record);

}  // namespace orv

#endif  // ORVCOMMS_NETPORT_H
