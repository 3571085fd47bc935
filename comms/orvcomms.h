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
 * value (the reachability checks return 0 without sending anything), it
 * is never cut to a different host.
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

/* --- Network status channel (TCP port 9200) ---------------------------- */

/* Each OvGetStatus or OvGetDeviceID is one exchange: connect to port 9200
 * of the handle's host (the platform's blocking connect, which against a
 * host that never answers lasts as long as the system's own connect
 * time-out), send the 16-byte request "GET_RQSENSEDT  \n" or
 * "GET_DEVICE_ID  \n", wait up to TIME seconds for one reply, take one
 * receive of at most 256 bytes and disconnect. The reply bytes are handed
 * over unchanged; the library does not interpret them.
 *
 * The exchange runs a message loop on the calling thread (over a hidden
 * window), so the caller's own windows keep receiving their messages
 * while it waits; a WM_QUIT posted meanwhile is posted again when the
 * exchange returns. */

/* Ordinal 7. A status handle for `host` (name or dotted address; an empty
 * or over-long text is refused). Reads TIME and RETRY. Connects to
 * nothing yet. Returns the handle, or OV_INVALID_HANDLE. */
OvHandle OVAPI OvOpenStatus(const char* host);

/* Ordinal 9. Asks for the printer's status. 1 when a reply event came
 * within TIME seconds, and *length is the number of bytes copied to
 * `buffer`: at most min(size, 256); a longer reply is cut, the rest is
 * dropped. A size of 0 copies nothing and still returns 1 (length 0) when
 * the printer answers; `buffer` may then be NULL.
 * 0 when the host cannot be resolved or connected, or no reply came in
 * time; *length is then 0. A printer that closes or resets the connection
 * without sending anything has given no reply: the exchange listens for
 * readable data only, so it ends after TIME seconds with 0. OvGetError on the handle reads 1 after a
 * reply, 0 otherwise.
 * One exchange per handle at a time: a call on a handle whose exchange is
 * still running (from another thread, or from a window procedure run by
 * that exchange's loop) returns 0 at once and leaves the running one
 * alone. A NULL `length`, or a NULL `buffer` with a size above 0, returns
 * 0 without an exchange. */
int OVAPI OvGetStatus(OvHandle status, void* buffer, DWORD size, DWORD* length);

/* Ordinal 10. The same exchange asking for the IEEE 1284 device ID. */
int OVAPI OvGetDeviceID(OvHandle status, void* buffer, DWORD size, DWORD* length);

/* Ordinal 8. Frees the handle and its window class. Nonzero when the
 * class was unregistered; 0 for a null handle, and 0 while an exchange on
 * the handle is still running: the handle then stays open, close it
 * again once the exchange has returned. */
int OVAPI OvCloseStatus(OvHandle status);

/* --- Reachability ------------------------------------------------------ */

/* Ordinal 20. Sends one ICMP echo (32 bytes) to `address` (name or
 * dotted address) through the system's ICMP.DLL and waits up to 1 s.
 * 1 when an echo reply came back; 0 otherwise, also for an error reply
 * such as "host unreachable" from a router, a name that does not resolve
 * (nothing is sent), and a NULL, empty or over-long text. */
int OVAPI OvSendICMP(const char* address);

/* Ordinal 17. Starts a TCP connection to port 80 of `address` and waits up
 * to 1 s for its outcome in a message loop on the calling thread (like
 * the status exchange). 1 when the host answered: it accepted the
 * connection or refused it. 0 when nothing came within the second, when
 * the network reported the host unreachable, when the text is neither a
 * dotted address nor a name that resolves, and for a NULL, empty or
 * over-long text. The probe's wait starts in a state of its own
 * ("pending"), apart from every outcome, so a connection still pending
 * when the second is up counts as no answer, never as the answer. */
int OVAPI OvSendICMP_Async(const char* address);

/* Ordinal 16. Stores a library-wide flag and returns 1. No function reads
 * it: OvSendICMP always sends an echo and OvSendICMP_Async always probes
 * port 80. */
int OVAPI OvSetUseICMP(int flag);

#ifdef __cplusplus
}
#endif

#endif /* ORVCOMMS_H */
