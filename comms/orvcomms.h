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
 * OvGetError on the handle. Where there is no handle to ask (a failed
 * open, OvSendICMP_Async), or OvGetError holds only an outcome (the
 * status exchange, OvSendSearch), the reason is left in the thread's last
 * error: read GetLastError() right after the call. Each function below
 * says when it does that; success leaves the last error alone.
 * docs/library.md has the table of errors, the longest block of each call
 * and the rules for threads.
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
 * The values are unsigned: 0x80000000 and 0xFFFFFFFF are large numbers,
 * never negative ones. Every wait made from them (the transfer time-out
 * RETRY x TIME seconds, the reply waits, OPEN_TIMEOUT one-second cycles)
 * is computed without overflow and capped at OV_MAX_WAIT_MS milliseconds
 * (about 24.8 days), so a huge value means a long wait, never a short or
 * wrapped one. RETRY as a count of connect attempts is used as stored.
 *
 * Host texts: ANSI (system code page) zero-terminated, a host name or
 * dotted IPv4 address of at most 67 characters (OV_MAX_HOST); there are
 * no wide-character variants. A longer text is refused: the open fails with its failure
 * value (the reachability checks return 0 without sending anything), it
 * is never cut to a different host.
 */
#ifndef ORVCOMMS_H
#define ORVCOMMS_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Internal: ORVCOMMS_BUILD is defined only while the library is built;
 * OVAPI is the exports' calling convention (stdcall) and import. */
#ifdef ORVCOMMS_BUILD
#define OVAPI WINAPI
#else
#define OVAPI __declspec(dllimport) WINAPI
#endif

typedef INT_PTR OvHandle;
#define OV_INVALID_HANDLE ((OvHandle)-1)
#define OV_MAX_HOST 67

/* The longest wait the configuration values can ask for, in milliseconds
 * (2^31 - 1, about 24.8 days; also the longest timer Windows sets). */
#define OV_MAX_WAIT_MS 0x7FFFFFFFUL

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
 * 500 ms apart). Returns the port handle, or OV_INVALID_HANDLE with the
 * reason in GetLastError(): 87 a NULL, empty or over-long host, 8 no
 * memory, 11001 a name that does not resolve, 10061 refused (after the
 * OPEN_TIMEOUT cycles, like a host that does not answer), 10060 no answer,
 * otherwise the Windows Sockets error of the connect. */
OvHandle OVAPI OvOpenPort(const char* host);

/* Ordinal 6. Ends the transfers running on other threads (each returns
 * within about 100 ms), shuts down the sending side, reads and drops what
 * the printer still sends for at most RETRY x TIME seconds, closes and
 * frees the port. 1 when the socket closed cleanly, 0 for a null handle
 * or a failed close. A transfer that another thread starts while the close
 * runs (during the drain too) returns 0 as on a closing port, and the
 * close returns only after it has left; a second close of the handle while
 * the first runs returns 0. The handle is invalid afterwards in every
 * case: using it after OvClosePort has returned is the caller's fault. */
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

/* --- Local ports: serial (COM), parallel (LPT) and USB ------------------ */

/* A local port is a device file opened for overlapped I/O; the handle the
 * open returns is the platform's device handle itself (HANDLE), and
 * INVALID_HANDLE_VALUE means the open failed. Every function takes as its
 * last argument a pointer to a DWORD that receives a Windows system error
 * code: 87 (ERROR_INVALID_PARAMETER) for a bad argument, 258 (WAIT_TIMEOUT)
 * for a receive that ran out of time, otherwise the platform's last error
 * after the function's main step (on success it may be 0 or an older
 * value). A handle of NULL or INVALID_HANDLE_VALUE is refused with 87 by
 * every function. One transfer per handle at a time; the library takes no
 * lock. Every function traces its steps (see docs/library.md, "Diagnostic log").
 *
 * Closing from another thread: OvClosePort_COM/_LPT/_USB cancel whatever
 * is pending on the handle before closing it, so a receive or write
 * running on another thread ends within one try: it returns 0 with error
 * 6 (ERROR_INVALID_HANDLE) and the count of what moved before the close.
 * Use this only to stop a transfer that must not wait for its time-out:
 * Windows may give a closed handle's number to a new handle at once, and
 * a transfer that has not yet noticed the close would use that one.
 *
 * Names: the open looks for its keyword ("COM", "LPT", or "VID_" for USB)
 * anywhere in an upper-case copy of the name and then opens the name as
 * given. A name of more than OV_LOCAL_NAME_MAX (255) characters fails
 * like a name without the keyword: error 87, INVALID_HANDLE_VALUE, and no
 * open is tried. COM10 and above need the "\\.\COM10" form. A failed
 * open leaves its error in GetLastError() too (87 also for a NULL name or
 * error pointer).
 *
 * Transfers (OvRecvPort_*, OvWritePort_*): tries 50 ms apart until the
 * whole size has moved or the deadline (start + timeout_ms + 70 ms) has
 * passed; each try waits up to timeout_ms for its transfer, so a silent
 * device holds the call about twice timeout_ms. The result is that of the
 * last try; the count is what moved in all tries.
 *  - A receive delivers at most OV_LOCAL_RECV_MAX (4096) bytes per call;
 *    a larger size is served up to 4096 bytes and the rest waits for the
 *    next call. When bytes came, `size` bytes (at most 4096) of the buffer
 *    are written: the bytes received, then zeros. When nothing came the
 *    buffer is untouched. A receive that ran out of time sets error 258,
 *    also when it got part of the size (the count tells how much).
 *  - A serial receive reads only what fits: with 100 bytes waiting and a
 *    size of 10 it takes 10, and the other 90 stay for the next call.
 *  - A write try after a partial one goes on from the first byte not yet
 *    written, so the printer never gets bytes twice.
 *  - Bytes that a try moved before its transfer was cancelled (its wait
 *    ran out) count: the receive keeps them, the write counts them as
 *    written. A transfer that the driver completed just as its wait ran
 *    out counts as completed: the try succeeds (error 0), and a write
 *    that moved every byte returns 1 and sends nothing again.
 *  - A write that runs out of time keeps the error of its last try (996,
 *    ERROR_IO_INCOMPLETE, for a device that took nothing). */
#define OV_LOCAL_NAME_MAX 255
#define OV_LOCAL_RECV_MAX 4096

/* Serial. Ordinals 41 to 46. Before every write try the serial printer
 * check waits while transmission is held for DSR (polled every 10 ms for
 * up to 2 s by the tick count, so also 2 s on Windows, whose 10 ms
 * pauses last a 15.6 ms timer step); if it stays held, the try fails and
 * the error is the port's communication-error mask. A receive try reads
 * only when bytes wait. */
HANDLE OVAPI OvOpenPort_COM(const char* port, DWORD* error);
int OVAPI OvClosePort_COM(HANDLE port, DWORD* error);
int OVAPI OvRecvPort_COM(HANDLE port, void* buffer, DWORD size, DWORD* received,
                         DWORD timeout_ms, DWORD* error);
int OVAPI OvWritePort_COM(HANDLE port, const void* data, DWORD size, DWORD* written,
                          DWORD timeout_ms, DWORD* error);
/* The DCB is passed through whole (GetCommState / SetCommState); the
 * library sets no field, not even DCBlength. OvSetComConf with a null
 * error pointer returns 0 and leaves the port as it was. */
int OVAPI OvGetComConf(HANDLE port, DCB* settings, DWORD* error);
int OVAPI OvSetComConf(HANDLE port, DCB* settings, DWORD* error);

/* Parallel. Ordinals 33 to 40. Before every transfer try the printer's
 * status byte is read: off-line (0x08) or power-off (0x10) fails the try;
 * a status that cannot be read lets the try go ahead. The status query,
 * the reset and the device-ID query each wait at most the library-wide
 * parallel time-out (3000 ms at load; 0 means "do not wait"). */
HANDLE OVAPI OvOpenPort_LPT(const char* port, DWORD* error);
int OVAPI OvClosePort_LPT(HANDLE port, DWORD* error);
int OVAPI OvRecvPort_LPT(HANDLE port, void* buffer, DWORD size, DWORD* received,
                         DWORD timeout_ms, DWORD* error);
int OVAPI OvWritePort_LPT(HANDLE port, const void* data, DWORD size, DWORD* written,
                          DWORD timeout_ms, DWORD* error);
/* Resets the printer (PARALLEL_INIT). 1 when taken, and also (error 0)
 * when the printer is not connected (1167); 0 otherwise, with 997 when
 * the request did not complete within the parallel time-out. */
int OVAPI OvSendCancel_LPT(HANDLE port, DWORD* error);
/* The device-ID functions (LPT and USB) zero the whole buffer, then copy
 * the IEEE 1284 device ID (at most 255 bytes: two length bytes, then the
 * text) into it. Pass at least 256 bytes: the text is then always
 * terminated. An ID of more than 255 bytes comes back cut to its first
 * 255, as a success like a shorter one (its length bytes still give the
 * printer's whole length). *length is the number of bytes placed in the
 * buffer; when the ID is longer than the buffer it is cut to the
 * buffer's size, the function still succeeds and the error is 234
 * (ERROR_MORE_DATA). A failed or timed-out query returns 0 with *length
 * 0; an ID of more than 4094 bytes, which the driver refuses to return,
 * fails with the driver's 122 (ERROR_INSUFFICIENT_BUFFER). */
int OVAPI OvGetDeviceID_LPT(HANDLE port, void* buffer, DWORD size, DWORD* length,
                            DWORD* error);
/* The parallel time-out in ms, for every parallel port of the process.
 * Both return 1; OvGetTimeOut_LPT with a null `timeout_ms` returns 0
 * (error 87). The error pointer may be null for these two. */
int OVAPI OvGetTimeOut_LPT(DWORD* timeout_ms, DWORD* error);
int OVAPI OvSetTimeOut_LPT(DWORD timeout_ms, DWORD* error);

/* USB printer class. Ordinals 26 to 32. The port name is the device path
 * of an OvSendSearch_USB entry (a port name such as USB001 fails with 87).
 * The reset and the device-ID query wait for the driver without a limit;
 * the device ID's first byte is always 0 in the buffer. */
HANDLE OVAPI OvOpenPort_USB(const char* device_path, DWORD* error);
int OVAPI OvClosePort_USB(HANDLE port, DWORD* error);
int OVAPI OvRecvPort_USB(HANDLE port, void* buffer, DWORD size, DWORD* received,
                         DWORD timeout_ms, DWORD* error);
int OVAPI OvWritePort_USB(HANDLE port, const void* data, DWORD size, DWORD* written,
                          DWORD timeout_ms, DWORD* error);
int OVAPI OvSendCancel_USB(HANDLE port, DWORD* error);
int OVAPI OvGetDeviceID_USB(HANDLE port, void* buffer, DWORD size, DWORD* length,
                            DWORD* error);

/* One attached USB printer, 336 bytes, every field a terminated string. */
typedef struct UsbPrinterEntry {
    char vid[16];         /* vendor number (hex text after "vid_") */
    char pid[16];         /* product number (hex text after "pid_") */
    char serialno[32];    /* serial-number part of the device path */
    char DevicePath[256]; /* what OvOpenPort_USB opens */
    char PortName[16];    /* "USB001" ... */
} UsbPrinterEntry;

/* Ordinal 32. Lists the USB printers attached now. With `entries` NULL
 * (GET MODE) it only counts; otherwise (SEARCH MODE) it also fills
 * entries[0 .. *count-1]. Returns 1 when the device list could be taken
 * (also when it is empty), 0 for a null count or error pointer or when
 * the platform refused the list; the error is the platform's answer to
 * taking the list.
 *  - Only printers whose port number is known are counted, and only
 *    counted printers are written, in order: SEARCH MODE writes exactly
 *    *count entries and touches nothing else of the array, so an array
 *    sized by the GET MODE count is enough unless a printer is attached
 *    between the two calls (leave room for a few more).
 *  - vid, pid and serialno longer than their fields are cut to 15, 15
 *    and 31 characters; a printer whose device path is longer than 255
 *    characters, or whose "Port Number" is not a REG_DWORD, is left out.
 *    The registry key of any path that fits is formed whole, never cut.
 *  - An interface whose detail record the platform sizes below the
 *    record's fixed part is skipped; the enumeration goes on with the
 *    next one. */
int OVAPI OvSendSearch_USB(UsbPrinterEntry* entries, DWORD* count, DWORD* error);

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
 * while it waits; a WM_QUIT posted meanwhile is posted again, once, when
 * the exchange returns. The exchange ends without a WM_QUIT of its own,
 * so a message box or dialog that one of the caller's window procedures
 * opens meanwhile stays open until the user answers it (the call then
 * returns once that window procedure has returned). */

/* Ordinal 7. A status handle for `host` (name or dotted address; an empty
 * or over-long text is refused). Reads TIME and RETRY: the handle's
 * exchanges wait the TIME of its open, whatever the registry holds later.
 * Connects to nothing yet. Returns the handle, or OV_INVALID_HANDLE with
 * the reason in GetLastError(): 87 a NULL, empty or over-long host, 8 no
 * memory, or the platform's error when the window class cannot be
 * registered. */
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
 * reply, 0 otherwise. After a 0 from an exchange that was tried,
 * GetLastError() tells why: 10060 no reply within TIME seconds, the
 * Windows Sockets error of the connect (10061 refused, 10065 unreachable,
 * 11001 no such name), or the platform's error when the hidden window
 * could not be created (ERROR_INVALID_WINDOW_HANDLE, 1400, when the
 * platform gives none: a hook refused the window, or Wine runs without a
 * window driver).
 * One exchange per handle at a time: a call on a handle whose exchange is
 * still running (from another thread, or from a window procedure run by
 * that exchange's loop) returns 0 at once with *length 0 and leaves the
 * running one alone. A NULL `length`, or a NULL `buffer` with a size above 0, returns
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
 * when the second is up counts as no answer, never as the answer.
 * On Windows older than Windows 10 version 1709 a host that refuses may
 * be reported as silent (0, 10060): there the system retries a refused
 * connection for about 2 s before it reports the refusal, longer than the
 * probe waits, and the probe's request for no retries is refused.
 * After a 0, GetLastError() tells why: 10060 no answer within the second,
 * the network's error (10065, 10051) for an unreachable host, 11001 a
 * text that does not resolve, 87 a NULL, empty or over-long text, or the
 * hidden window's error as for OvGetStatus (1400 when the platform gives
 * none). */
int OVAPI OvSendICMP_Async(const char* address);

/* Ordinal 16. Stores a library-wide flag and returns 1. No function reads
 * it: OvSendICMP always sends an echo and OvSendICMP_Async always probes
 * port 80. */
int OVAPI OvSetUseICMP(int flag);

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
 * - Listening times (seconds x multiplier, seconds x repeat, timeout x
 *   repeat, and OvSendSearch's wait) are worked out without overflow and
 *   capped at OV_MAX_WAIT_MS: a huge product listens about 24.8 days,
 *   never a wrapped short time.
 * - Short datagrams are ignored as if they had not come: a DHCP datagram
 *   of fewer than 34 bytes (it ends before the client hardware address)
 *   and a UDP reply of fewer than 20 bytes (it ends before the address
 *   field); such a reply does not end a unicast exchange either.
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

/* Ordinal 11. A search handle, or OV_INVALID_HANDLE when memory ran out
 * (GetLastError() 8).
 * OvGetError on it: 1 after a completed OvSendSearch run, else 0. */
OvHandle OVAPI OvOpenSearch(void);

/* Ordinal 12. Frees the handle: 1, or 0 for a null handle, a failed free,
 * or while a search on the handle still runs (any of them, also the DHCP
 * and UDP searches; the handle then stays open: close it again once the
 * search has returned). */
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
 * window or its timer could not be created (no scan then). A window that
 * could not be created leaves its reason in GetLastError(), as for
 * OvGetStatus; OvGetError stays 0.
 * One search per handle at a time: called on a handle whose search still
 * runs (from a window procedure that the run's loop dispatched, or from
 * another thread), it returns 0 at once and leaves the running one alone;
 * so do the DHCP and UDP searches.
 * Without administrator rights Windows refuses the raw ICMP socket
 * (10013): no echo goes out, the run still waits and reads the ARP table,
 * but the direct echo that confirms each device needs a raw socket too,
 * so nothing is recorded. The DHCP and UDP searches need no such rights. */
int OVAPI OvSendSearch(OvHandle search, void* results, DWORD capacity, DWORD wait_seconds,
                       DWORD spare, DWORD* count, const char* prefix);

/* Ordinal 21. Listens on UDP port 67 of every interface for DHCP client
 * requests for `seconds` (0: 5) x `multiplier` (0: 1) seconds and records
 * the client hardware address (MAC field only) of each device whose MAC
 * begins with FE:FF:FF:FF or 0A:4D:C2, once. Capacity 255. Returns 1 (0
 * for a null handle or argument, when memory ran out, or on a handle
 * whose search still runs). An interface whose port 67 is taken (a DHCP
 * server on this machine: Internet Connection Sharing, a virtual switch)
 * is not heard, and a firewall may drop the requests unseen: the search
 * then still listens its whole time and returns 1 with nothing found. A
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
 * or argument, or on a handle whose search still runs). A reply longer
 * than 2048 bytes is dropped and listening goes on. */
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
