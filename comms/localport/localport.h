/*
 * localport.h - the local port channels (serial, parallel, USB) inside
 * the library. exports.cpp forwards each exported function to the entry
 * point of the same name here; the sections after the entry points are
 * what the .cpp files of this folder share among themselves.
 */
#ifndef ORVCOMMS_LOCALPORT_H
#define ORVCOMMS_LOCALPORT_H

#include <windows.h>

#include <atomic>

#include "orvcomms.h"

namespace orv {

/* --- entry points (one per export) ------------------------------------- */

HANDLE OpenPortCom(const char* name, DWORD* error);
int ClosePortCom(HANDLE port, DWORD* error);
int RecvPortCom(HANDLE port, void* buffer, DWORD size, DWORD* received, DWORD timeout_ms,
                DWORD* error);
int WritePortCom(HANDLE port, const void* data, DWORD size, DWORD* written, DWORD timeout_ms,
                 DWORD* error);
int GetComConf(HANDLE port, DCB* settings, DWORD* error);
int SetComConf(HANDLE port, DCB* settings, DWORD* error);

HANDLE OpenPortLpt(const char* name, DWORD* error);
int ClosePortLpt(HANDLE port, DWORD* error);
int RecvPortLpt(HANDLE port, void* buffer, DWORD size, DWORD* received, DWORD timeout_ms,
                DWORD* error);
int WritePortLpt(HANDLE port, const void* data, DWORD size, DWORD* written, DWORD timeout_ms,
                 DWORD* error);
int SendCancelLpt(HANDLE port, DWORD* error);
int GetDeviceIdLpt(HANDLE port, void* buffer, DWORD size, DWORD* length, DWORD* error);
int GetTimeOutLpt(DWORD* timeout_ms, DWORD* error);
int SetTimeOutLpt(DWORD timeout_ms, DWORD* error);

HANDLE OpenPortUsb(const char* name, DWORD* error);
int ClosePortUsb(HANDLE port, DWORD* error);
int RecvPortUsb(HANDLE port, void* buffer, DWORD size, DWORD* received, DWORD timeout_ms,
                DWORD* error);
int WritePortUsb(HANDLE port, const void* data, DWORD size, DWORD* written, DWORD timeout_ms,
                 DWORD* error);
int SendCancelUsb(HANDLE port, DWORD* error);
int GetDeviceIdUsb(HANDLE port, void* buffer, DWORD size, DWORD* length, DWORD* error);
int SendSearchUsb(UsbPrinterEntry* entries, DWORD* count, DWORD* error);

/* The parallel time-out in ms: the longest wait of each parallel device
 * request, for every parallel port of the process. 3000 at load. */
constexpr DWORD kDefaultLptTimeOut = 3000;
extern std::atomic<DWORD> LptTimeOut;

/* Serial printer check, run before every serial write try: true when the
 * port does not hold transmission for DSR, polled 10 ms apart for 2 s.
 * Keeps the error mask of each successful ClearCommError in *comm_errors. */
bool PrinterCheck_COM(HANDLE port, DWORD* comm_errors);

/* Parallel printer check, run before every parallel transfer try: 1 when
 * the printer may be used, 0 when it is off-line or off, or when its
 * event cannot be made. Sets *error itself. */
int PrinterCheck_LPT(HANDLE port, DWORD* error);

/* --- common: what every family shares ---------------------------------- */

constexpr DWORD kStagingSize = OV_LOCAL_RECV_MAX;  // receive staging buffer
constexpr size_t kNameLimit = OV_LOCAL_NAME_MAX;   // characters the keyword test reads
/* Device IDs. Windows' parallel and USB printer drivers never cut an ID
 * to the request's output size: one that does not fit fails with
 * ERROR_INSUFFICIENT_BUFFER (122) and returns nothing. So the driver is
 * asked with room for any real ID, and the call hands on at most
 * kDeviceIdDelivered bytes of it. The USB printer class driver puts the
 * output size into the USB request itself, and some printers fail one
 * above 4094 bytes. */
constexpr size_t kDeviceIdAnswerSize = 4096;  // device-ID buffer of a call
constexpr DWORD kDeviceIdRequest = 4094;      // bytes asked of the driver
constexpr DWORD kDeviceIdDelivered = 255;     // most bytes handed to the caller

/* Writes ">>>>>>>>>>>>>>>>>" and "NAME Start" when made, and "NAME End"
 * and "<<<<<<<<<<<<<<<<<" when it ends, on every path of a traced call. */
class TracedCall {
  public:
    explicit TracedCall(const char* name);
    ~TracedCall();
    TracedCall(const TracedCall&) = delete;
    TracedCall& operator=(const TracedCall&) = delete;

  private:
    const char* name_;
};

/* Busy pause on the 64-bit tick count, in chunks of at most 500 ms. It
 * neither sleeps nor yields: the channels' waits are measured on the
 * same tick count as their deadlines. On Windows the tick count moves in
 * steps of about 15.6 ms, so a pause of 10 ms that follows another lasts
 * a whole step: a wait with a total is bounded by the elapsed ticks
 * (Ticks), never by a count of pauses. */
void Pause(ULONGLONG ms);

/* The 64-bit tick count of every deadline and elapsed time. */
ULONGLONG Ticks();

/* A handle the local-port functions refuse: null or INVALID_HANDLE_VALUE. */
inline bool IsBadPortHandle(HANDLE port) {
    return port == nullptr || port == INVALID_HANDLE_VALUE;
}

/* A call refused for its arguments: writes "NAME Parameter Error", sets
 * the count (if any) to 0 and the error to ERROR_INVALID_PARAMETER, each
 * only where the caller gave a pointer. */
void RefuseArguments(const char* function, DWORD* count, DWORD* error);

/* One overlapped operation on a device handle, with an event of its own
 * (manual reset, not signalled, unnamed). The control block and the
 * buffers of a request that went pending must stay valid until the
 * driver has finished with them, so an operation still pending when it is
 * closed or destroyed is cancelled and waited for first. */
class OverlappedOp {
  public:
    explicit OverlappedOp(HANDLE device);
    ~OverlappedOp();
    OverlappedOp(const OverlappedOp&) = delete;
    OverlappedOp& operator=(const OverlappedOp&) = delete;

    /* Makes the event and zeroes the control block; false (last error
     * set by the platform) when the event cannot be made. */
    bool MakeEvent();
    OVERLAPPED* control() { return &control_; }

    /* Tells the operation how its start call ended, so that it knows
     * whether the driver still holds the request. */
    void Started(BOOL result, DWORD error);

    /* Waits for the event; the wait's result. */
    DWORD Wait(DWORD ms);

    /* GetOverlappedResult without waiting; the platform's last error is
     * left for the caller to read on the next line. */
    BOOL Query(DWORD* bytes);

    /* If the request is still pending: CancelIo, then wait until the
     * cancellation has completed. The bytes the request moved before it
     * ended (0 when nothing was pending). *completed (if given) is set
     * when the request ended successfully all the same: the driver had
     * completed it before the cancel reached it. */
    DWORD CancelAndFinish(bool* completed = nullptr);

    /* Finishes a pending request, then closes the event; the result of
     * CloseHandle (1 when there was no event to close). */
    BOOL CloseEvent();

  private:
    HANDLE device_;       // the caller's device handle; not owned
    HANDLE event_;        // this operation's event, or null
    OVERLAPPED control_;  // the control block the driver writes into
    bool pending_;        // the driver still holds the request
};

/* Open and close, the same for the three families but for the keyword. */
HANDLE OpenLocalPort(const char* function, const char* keyword, const char* name, DWORD* error);
int CloseLocalPort(const char* function, HANDLE port, DWORD* error);

/* The transfer loop shared by the six receive and write functions. */
enum class CheckOutcome {
    kPassed,          // go on with the transfer
    kFailed,          // the try fails (result 0); the check has set the error if it sets one
    kNothingWaiting,  // serial receive: no bytes wait; the try succeeds without reading
};

/* What a try's check step may learn and keep across the tries of a call. */
struct TransferState {
    DWORD waiting = 0;           // serial receive: bytes in the driver's input queue
    DWORD comm_errors = 0;       // serial write: mask of the last ClearCommError that succeeded
};

using CheckStep = CheckOutcome (*)(HANDLE port, DWORD* error, TransferState* state);

struct TransferMember {
    const char* name;              // exported name, the first word of every line
    CheckStep check;               // nullptr: no check step
    const char* check_name;        // in the line "NAME CHECK Error"
    const char* completion_name;   // first word of the completion query's line
    const char* completion_count;  // "dwRecvByte" or "dwWriteByte" in that line
};

int ReceiveTransfer(const TransferMember& member, HANDLE port, void* buffer, DWORD size,
                    DWORD* received, DWORD timeout_ms, DWORD* error);
int WriteTransfer(const TransferMember& member, HANDLE port, const void* data, DWORD size,
                  DWORD* written, DWORD timeout_ms, DWORD* error);

/* Copies a device ID answer (in a zero-filled kDeviceIdAnswerSize
 * buffer) into the caller's buffer, which the caller zeroed before the
 * request, and writes the ID's log lines. An ID longer than
 * kDeviceIdDelivered bytes is cut there, as if the driver had returned
 * no more: the answer is terminated at the cut, so the log line ends
 * there too. Returns the bytes placed in the buffer; sets *error to
 * ERROR_MORE_DATA when the ID had to be cut to the caller's buffer. */
DWORD DeliverDeviceId(unsigned char* answer, DWORD answer_bytes, void* buffer, DWORD size,
                      DWORD* error);

}  // namespace orv

#endif  // ORVCOMMS_LOCALPORT_H
