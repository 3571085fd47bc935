/*
 * orvcomms.h - the public interface of orvcomms.dll, the communications
 * library for ORV dot-matrix printers.
 *
 * Every function is exported by name with a fixed ordinal and uses the
 * stdcall (WINAPI) calling convention; on 32-bit Windows the exported
 * names carry no decoration, so GetProcAddress(module, "OvStartup") works.
 *
 * Results of the network functions: 1 for success and 0 for failure, or a
 * handle and OV_INVALID_HANDLE (-1). The reason of a failure is read with
 * OvGetError on the handle.
 *
 * Handles are as wide as a pointer (OvHandle is INT_PTR): 32 bits in the
 * 32-bit library, 64 bits in the 64-bit one.
 *
 * Configuration (read at every open from HKEY_CURRENT_USER, key
 * "Software\ORV_DMRXDLL", each a REG_DWORD; missing or 0 means the default):
 *   TIME          seconds; reply wait of the status exchange and, times
 *                 RETRY, the transfer time-out (default 4)
 *   RETRY         connect attempts after "address in use" (default 2)
 *   OPEN_TIMEOUT  one-second waits for a connection (default 1)
 * A value stored as text (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) or longer
 * than 4 bytes reads as the default.
 *
 * Host texts: a host name or dotted IPv4 address of at most 67 characters
 * (OV_MAX_HOST). A longer text is refused: the open fails with its failure
 * value, it is never cut to a different host.
 */
#ifndef ORVCOMMS_H
#define ORVCOMMS_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef ORVCOMMS_BUILD
#define OVAPI WINAPI
#else
#define OVAPI __declspec(dllimport) WINAPI
#endif

typedef INT_PTR OvHandle;
#define OV_INVALID_HANDLE ((OvHandle)-1)
#define OV_MAX_HOST 67

/* --- Frame ------------------------------------------------------------- */

/* Ordinal 1. Starts Windows Sockets at version 1.1 and keeps `instance`
 * for the hidden windows of the status, search and reachability calls.
 * Returns 1 when the socket layer granted exactly 1.1, else 0 (and the
 * socket layer is cleaned up again). Call once before any network call. */
int OVAPI OvStartup(HINSTANCE instance);

/* Ordinal 2. Shuts the socket layer down; 1 on success, else 0 (also when
 * no OvStartup preceded it). */
int OVAPI OvCleanup(void);

/* Ordinal 14. The handle's last error: for a port handle the last Windows
 * Sockets error (0 for none, never 10035), -1 when a read was stopped by a
 * close; for a status or search handle 1 after a successful exchange or
 * run, 0 otherwise. 0 for a null handle. */
int OVAPI OvGetError(OvHandle handle);

#ifdef __cplusplus
}
#endif

#endif /* ORVCOMMS_H */
