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
 * run, 0 otherwise. 0 for a null handle. Every function that takes a
 * handle treats OV_INVALID_HANDLE like the null handle. */
int OVAPI OvGetError(OvHandle handle);

/* --- Network print channel (TCP port 9100) ----------------------------- */

/* Ordinal 3. Connects to port 9100 of `host` (name or dotted address; an
 * empty or over-long text is refused). The socket is bound to this
 * machine's interface address on the printer's subnet when there is one.
 * Waits up to OPEN_TIMEOUT one-second cycles for the connection; only an
 * "address in use" answer leads to another attempt (at most RETRY in all,
 * 500 ms apart). Returns the port handle, or OV_INVALID_HANDLE. */
OvHandle OVAPI OvOpenPort(const char* host);

/* Ordinal 6. Ends the transfers running on other threads (each returns
 * within about 100 ms), shuts down the sending side, reads and drops what
 * the printer still sends for at most RETRY x TIME seconds, closes and
 * frees the port. 1 when the socket closed cleanly, 0 for a null handle
 * or a failed close. The handle is invalid afterwards in every case. */
int OVAPI OvClosePort(OvHandle port);

/* The transfers: port handle, buffer, size in bytes, count out. Results
 * and OvGetError after each:
 *
 *                     OvReadPort        OvRecvPort       OvWritePort(_Async)
 *   null buffer/count 0, error 0        0, error 0       0, error 0
 *   socket error      0, the error      0, the error     0, the error
 *   nothing pending   polls every 100ms 0, error 0       polls, no limit
 *   time-out          1, count 0        -                0, error 0 (*)
 *   port closing      0, error -1       0, error 0       0, error unchanged
 *   printer closed    1, count 0        1, count 0       (a send error)
 *
 * The time-out is RETRY x TIME seconds (8 s by default). (*) A write fails
 * by time-out only when part of a piece is accepted after no progress for
 * the whole time-out. The write's count is the number of bytes sent, on
 * failure too; writes go out in pieces of at most 16384 bytes. */

/* Ordinal 4. Waits up to the time-out for data. */
int OVAPI OvReadPort(OvHandle port, void* buffer, DWORD size, DWORD* received);

/* Ordinal 18. One receive without waiting. */
int OVAPI OvRecvPort(OvHandle port, void* buffer, DWORD size, DWORD* received);

/* Ordinal 19. Sends the whole buffer. */
int OVAPI OvWritePort(OvHandle port, const void* data, DWORD size, DWORD* written);

/* Ordinal 5. The same transfer as OvWritePort; it also returns only when
 * the transfer has ended. */
int OVAPI OvWritePort_Async(OvHandle port, const void* data, DWORD size, DWORD* written);

/* Ordinal 15. Tells the printer at the dotted address `address` (names are
 * not resolved) to drop its job: connects to its command port 9200, sends
 * "SOFT_RESET", takes one answer, sends "QUIT" and disconnects, then
 * pauses 200 ms. 1 once connected, 0 when no connection could be made.
 * The wait for the answer is bounded by RETRY x TIME seconds (8 s by
 * default, at least 1 s). Needs no open port. */
int OVAPI OvSendCancel(const char* address);

/* --- Device discovery -------------------------------------------------- */

/* Searches fill the caller's array of result entries and add to the
 * caller's count; the handle comes from OvOpenSearch. Rules common to
 * every search:
 *
 * - Capacity: a search writes only entries at indexes below the capacity
 *   and records a device only while count < capacity. OvSendSearch takes
 *   the capacity in its third argument and OvSendSearch_DHCPreq2 and the
 *   UDP searches in theirs; OvSendSearch_DHCPreq has none and uses
 *   OV_SEARCH_DEFAULT_CAPACITY, as does OvSendSearch when its third
 *   argument is 0 (callers that pass 0 there keep working; give such
 *   calls an array of 255 entries).
 * - Count: entries below the count take part in the duplicate tests of
 *   the DHCP and UDP searches, which read only entries below both the
 *   count and the capacity. OvSendSearch sets the count to 0 first; the
 *   other searches add to the count they are given.
 * - A null results array or count pointer is refused: the search returns
 *   0 and does nothing. A null prefix (OvSendSearch) means the built-in
 *   vendor prefixes, as "" does. A null destination text is refused.
 * - Texts are zero-terminated and zero-filled to the end of their field. */
typedef struct OvSearchEntry {
    char address[32];   /* dotted IPv4 address of the device */
    char mac[32];       /* "FE:FF:FF:FF:00:01": upper-case, 17 characters */
    char reserved[32];  /* never written */
} OvSearchEntry;

/* Where OvSendSearch_DHCPreq2 heard the device of the result entry with
 * the same index. */
typedef struct OvInterfaceEntry {
    char address[32];   /* this machine's interface address, dotted */
    char mask[32];      /* its subnet mask */
    char network[32];   /* address AND mask */
} OvInterfaceEntry;

#define OV_SEARCH_DEFAULT_CAPACITY 255

/* Ordinal 11. A search handle, or OV_INVALID_HANDLE when memory ran out.
 * OvGetError on it: 1 after a completed OvSendSearch run, else 0. */
OvHandle OVAPI OvOpenSearch(void);

/* Ordinal 12. Frees the handle: 1, or 0 for a null handle or a failed
 * free. */
int OVAPI OvCloseSearch(OvHandle search);

/* Ordinal 13. The ARP-table search: sends one ICMP echo to the broadcast
 * address of each interface (raw sockets: administrators only), waits
 * `wait_seconds` in a private message loop (the thread's other windows
 * are served meanwhile), then reads the ARP table. Every neighbour whose
 * MAC begins with `prefix` (compared without regard to case over the
 * prefix's length; "" or NULL: the built-in vendor prefixes) and answers
 * a direct echo (three tries of one second) is recorded with its address
 * and MAC, once per ARP entry. `capacity`: entries the array holds (0:
 * 255). `spare` is not read. The address field of the entry at index
 * count may hold the address of a device that matched but did not answer.
 * Returns 1 when the run completed (the count tells how many devices were
 * found), 0 for a null handle, a null array or count, or when the search
 * window could not be created. */
int OVAPI OvSendSearch(OvHandle search, void* results, DWORD capacity, DWORD wait_seconds,
                       DWORD spare, DWORD* count, const char* prefix);

/* Ordinal 21. Listens on UDP port 67 of every interface for DHCP client
 * requests for `seconds` (0: 5) x `multiplier` (0: 1) seconds and records
 * the client hardware address (MAC field only) of each device whose MAC
 * begins with FE:FF:FF:FF or 0A:4D:C2, once. Capacity 255. Returns 1 (0
 * for a null handle or argument, or when memory ran out). An interface
 * whose port 67 is taken (a DHCP server on this machine) is not heard. A
 * datagram longer than 2048 bytes is dropped and listening goes on. */
int OVAPI OvSendSearch_DHCPreq(OvHandle search, void* results, DWORD seconds, DWORD multiplier,
                               DWORD* count);

/* Ordinal 22. As OvSendSearch_DHCPreq with the caller's capacity, and
 * with an array of OvInterfaceEntry (`interfaces`, may be NULL) that
 * receives, at the index of each device recorded, the interface that
 * heard it. */
int OVAPI OvSendSearch_DHCPreq2(OvHandle search, void* results, void* interfaces, DWORD capacity,
                                DWORD seconds, DWORD multiplier, DWORD* count);

/* Ordinal 23. Sends the "LN4S" "GETA" request to UDP port 19541 of
 * `destination` (a dotted address, as a rule a broadcast address; text
 * that is not a dotted address sends to 255.255.255.255) and records the
 * answering devices (MAC and address) that pass the device filter of
 * OvSendSearch_DHCPreq, once each. Each of `repeat` (0: 1) exchanges sends
 * one request and listens `seconds` (0: 5) x `repeat` seconds, polling
 * without pause. Returns 1 when the count is not 0 after the last
 * exchange, 0 when it is or the last send failed (and for a null handle
 * or argument). A reply longer than 2048 bytes is dropped and listening
 * goes on. */
int OVAPI OvSendSearch_UDPBrCast(OvHandle search, void* results, DWORD capacity, DWORD seconds,
                                 DWORD repeat, DWORD* count, const char* destination);

/* Ordinal 25. The same request to one device: each of `repeat` (0: 1)
 * exchanges waits up to `timeout` (seconds, at least 0.1; NaN counts as
 * below) x `repeat` for the first reply, records it when it passes the
 * filter and ends with 1. Without a reply the result is 1 when the count
 * is not 0, else 0. */
int OVAPI OvSendSearch_UDPUniCast(OvHandle search, void* results, DWORD capacity, double timeout,
                                  DWORD repeat, DWORD* count, const char* destination);

/* Ordinal 24. Sends the "SETA" request to UDP port 19541 of
 * `destination` (as for OvSendSearch_UDPBrCast): the device with MAC
 * `mac` is to take `address` and `address2`. No reply is awaited (100 ms
 * pause). `mac` must be exactly six two-digit hexadecimal octets of
 * either case separated by colons ("FE:FF:FF:FF:00:01"), and `address` a
 * dotted IPv4 address; anything else, a NULL text or `enable` 0 returns 0
 * and sends nothing. `address2` is sent as converted (text that is not a
 * dotted address gives 255.255.255.255). Returns 1 when sent, or when
 * this machine reports no interface (nothing is sent then). */
int OVAPI OvSendSet_UDP(int enable, const char* mac, const char* address, const char* address2,
                        const char* destination);

#ifdef __cplusplus
}
#endif

#endif /* ORVCOMMS_H */
