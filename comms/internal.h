/*
 * internal.h - what the modules of orvcomms share and callers never see:
 * the handle record behind every network handle, the library-wide values
 * and the registry configuration. One section per module.
 */
#ifndef ORVCOMMS_INTERNAL_H
#define ORVCOMMS_INTERNAL_H

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "orvcomms.h"

namespace orv {

/* --- frame: the handle record ------------------------------------------ */

constexpr size_t kAddressSize = 68;     // 67 characters and the terminator
constexpr size_t kClassNameSize = 260;  // 259 characters and the terminator

/* The zero-filled record behind every network handle; its address is the
 * handle. Allocated from the local heap by the opens (and for the length
 * of one call by the cancel and reachability calls), freed by the matching
 * close. The fields keep the order and meaning of the library's record. */
struct HandleRecord {
    HINSTANCE instance;             // module under which hidden window classes are registered
    SOCKET socket;                  // INVALID_SOCKET (-1) when none is open
    char address[kAddressSize];     // host text given by the caller
    int64_t reply_capacity;         // status: size of the caller's reply buffer
    uint32_t reply_length;          // status: bytes delivered by the last exchange
    uint64_t bytes_sent;            // port: bytes sent by the write in progress (writer thread)
    uint32_t wait_seconds;          // TIME; discovery keeps its own wait here
    unsigned char* reply_buffer;    // status: the caller's reply buffer
    uint32_t retry_count;           // RETRY; discovery keeps its own repeat count here
    char class_name[kClassNameSize];// name of this record's hidden window class
    std::atomic<LONG> last_error;   // what OvGetError returns; any thread
    uint32_t open_timeout;          // OPEN_TIMEOUT: one-second connect waits
    HANDLE write_semaphore;         // port: held around each send
    HANDLE read_semaphore;          // port: held around each receive
    std::atomic<LONG> closing;      // port: raised by OvClosePort, read by the transfers
    std::atomic<LONG> reading;      // port: 1 while a receive is in progress
    std::atomic<LONG> writing;      // port: 1 while a send is in progress
    double timeout_seconds;         // unicast search time-out
    std::atomic<LONG> calls_inside; // port: transfer calls between entry and return
    HandleRecord* next_open_port;   // port: the list of open ports (netport.cpp, under its lock)
    std::atomic<LONG> busy;         // status, search: 1 while an exchange, a search or the close holds it
    DWORD failure;                  // status, probe: the platform's error behind the last 0 result
};

/* Allocates a zero-filled record with `socket` set to INVALID_SOCKET and
 * `instance` copied from the library instance; nullptr when the local heap
 * has no room. */
HandleRecord* AllocRecord();

/* Frees a record made by AllocRecord; nullptr is ignored. False when the
 * local heap refused the free. */
bool FreeRecord(HandleRecord* record);

/* Takes a status or search handle's `busy` flag in one step, so that
 * two callers never both hold it; false when another call holds it. The
 * waiting calls (an exchange, an OvSendSearch run) run the thread's
 * message loop, so that other call may come from one of the caller's own
 * window procedures as well as from another thread; the DHCP and UDP
 * searches hold it too, against a close from another thread. */
inline bool ClaimHandle(HandleRecord* record) {
    LONG idle = 0;
    return record->busy.compare_exchange_strong(idle, 1);
}

/* Holds the flag for the length of one exchange or run; held() is false
 * when another call already holds it, and the call is then refused. A
 * close takes the flag with ClaimHandle and keeps it, as it frees the
 * record. */
class HandleClaim {
  public:
    explicit HandleClaim(HandleRecord* record) : record_(record), held_(ClaimHandle(record)) {}
    ~HandleClaim() {
        if (held_)
            record_->busy = 0;
    }
    HandleClaim(const HandleClaim&) = delete;
    HandleClaim& operator=(const HandleClaim&) = delete;

    bool held() const { return held_; }

  private:
    HandleRecord* record_;
    bool held_;
};

/* The failure value of an open. The reason goes to the thread's last
 * error (GetLastError), as the caller has no handle to ask: call it last,
 * after everything the open made is released. */
inline OvHandle FailOpen(DWORD error) {
    SetLastError(error);
    return OV_INVALID_HANDLE;
}

/* Copies a host text into `address`. A text that does not fit (more than
 * 67 characters) is refused rather than cut to a different host: the
 * function returns false and leaves `address` empty. */
bool CopyHostText(HandleRecord* record, const char* host);

/* The record behind a handle; nullptr for the null handle, and also for
 * the failure value of an open, which a caller may well pass on (asking
 * OvGetError why the open failed) and which must not be dereferenced. */
inline HandleRecord* RecordOf(OvHandle handle) {
    if (handle == OV_INVALID_HANDLE)
        return nullptr;
    return reinterpret_cast<HandleRecord*>(handle);
}
inline OvHandle HandleOf(HandleRecord* record) {
    return reinterpret_cast<OvHandle>(record);
}

/* --- frame: library-wide values ---------------------------------------- */

/* The module instance given to OvStartup; copied into every new record. */
extern std::atomic<HINSTANCE> g_instance;

/* --- frame: configuration ---------------------------------------------- */

constexpr uint32_t kDefaultTime = 4;         // seconds
constexpr uint32_t kDefaultRetry = 2;        // attempts
constexpr uint32_t kDefaultOpenTimeout = 1;  // one-second cycles

/* The longest wait that the configuration can ask for, in milliseconds
 * (OV_MAX_WAIT_MS of orvcomms.h). The values are unsigned 32-bit numbers,
 * and every wait made from them is computed in 64 bits and capped here, so
 * a huge value means a long wait, never a negative or wrapped short one. */
constexpr DWORD kMaxWaitMs = OV_MAX_WAIT_MS;

/* The configuration values, read from HKEY_CURRENT_USER\Software\ORV_DMRXDLL
 * with the key opened afresh for each value. 0, missing, text or longer
 * than 4 bytes gives the default. */
struct TimeAndRetry {
    uint32_t wait_seconds;  // TIME
    uint32_t retry_count;   // RETRY
};

/* Reads TIME, then RETRY, and keeps them as the library's last-read TIME
 * and RETRY. Only the opens (OvOpenPort, OvOpenStatus) call it. */
TimeAndRetry ReadTimeAndRetry();

/* The same read, keeping nothing: for calls that only bound a wait of
 * their own with the values (the cancel). */
TimeAndRetry QueryTimeAndRetry();

uint32_t ReadOpenTimeout();

/* The last TIME and RETRY values read by any open. */
TimeAndRetry LastTimeAndRetry();

/* `seconds` in milliseconds, capped at kMaxWaitMs. */
DWORD SecondsToWaitMs(uint64_t seconds);

/* The transfer time-out, RETRY x TIME seconds, in milliseconds, capped at
 * kMaxWaitMs. */
DWORD TransferTimeoutMs(uint32_t retry_count, uint32_t wait_seconds);

/* OPEN_TIMEOUT one-second cycles, capped so that their waits stay within
 * kMaxWaitMs. */
uint32_t ConnectCycles(uint32_t open_timeout);

/* One value as stored: the 32-bit number, or 0 when the key or value is
 * missing, the value is text or it is longer than 4 bytes. */
DWORD ReadConfigValue(const char* name);

}  // namespace orv

#endif  // ORVCOMMS_INTERNAL_H
