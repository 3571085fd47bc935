/*
 * common.cpp - what the serial, parallel and USB channels share:
 * the framing of every traced call, the busy pause, the overlapped
 * operation with its own event, open and close by keyword, and the
 * delivery of an IEEE 1284 device ID.
 *
 * A local channel is only a device file opened for overlapped I/O; the
 * handle goes to the caller and nothing is kept between calls. Every
 * overlapped request goes through OverlappedOp, which never lets go of
 * its control block or event while the driver may still write into them:
 * a request still pending is cancelled and its completion waited for.
 */
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>

#include "calls.h"
#include "localport.h"
#include "log.h"

namespace orv {

LocalPortCalls g_localport_calls = {
    ::DeviceIoControl,
    ::CancelIo,
    ::ClearCommError,
    ::SetupDiGetClassDevsA,
    ::SetupDiEnumDeviceInterfaces,
    ::SetupDiGetDeviceInterfaceDetailA,
    ::SetupDiDestroyDeviceInfoList,
    ::GetTickCount64,
    BusyPause,
};

namespace {

constexpr ULONGLONG kPauseChunkMs = 500;

/* ASCII letters only, byte by byte: the names are in the system code
 * page, whose double-byte characters must not be touched. */
char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

/* The keyword test of the opens: the upper-case name holds `keyword`. A
 * name longer than kNameLimit fails, as it does not fit the copy. */
bool NameHasKeyword(const char* name, const char* keyword) {
    char upper[kNameLimit + 1];
    size_t length = strnlen(name, kNameLimit + 1);
    if (length > kNameLimit)
        return false;
    for (size_t i = 0; i < length; ++i)
        upper[i] = UpperAscii(name[i]);
    upper[length] = '\0';
    return strstr(upper, keyword) != nullptr;
}

}  // namespace

/* --- framing and pause ------------------------------------------------- */

TracedCall::TracedCall(const char* name) : name_(name) {
    LogLine(kLogStamped, ">>>>>>>>>>>>>>>>>\n");
    LogLine(kLogStamped, "%s Start\n", name_);
}

TracedCall::~TracedCall() {
    LogLine(kLogStamped, "%s End\n", name_);
    LogLine(kLogStamped, "<<<<<<<<<<<<<<<<<\n");
}

void Pause(ULONGLONG ms) {
    g_localport_calls.pause(ms);
}

ULONGLONG Ticks() {
    return g_localport_calls.tick_count();
}

void BusyPause(ULONGLONG ms) {
    while (ms > 0) {
        ULONGLONG chunk = ms < kPauseChunkMs ? ms : kPauseChunkMs;
        ULONGLONG start = GetTickCount64();
        while (GetTickCount64() - start < chunk) {
        }
        ms -= chunk;
    }
}

/* --- overlapped operation ---------------------------------------------- */

OverlappedOp::OverlappedOp(HANDLE device)
    : device_(device), event_(nullptr), control_(), pending_(false) {}

OverlappedOp::~OverlappedOp() {
    CloseEvent();
}

bool OverlappedOp::MakeEvent() {
    memset(&control_, 0, sizeof control_);
    event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event_ == nullptr)
        return false;
    control_.hEvent = event_;
    return true;
}

void OverlappedOp::Started(BOOL result, DWORD error) {
    pending_ = !result && error == ERROR_IO_PENDING;
}

DWORD OverlappedOp::Wait(DWORD ms) {
    return WaitForSingleObject(event_, ms);
}

BOOL OverlappedOp::Query(DWORD* bytes) {
    BOOL done = GetOverlappedResult(device_, &control_, bytes, FALSE);
    DWORD error = GetLastError();
    pending_ = !done && error == ERROR_IO_INCOMPLETE;
    SetLastError(error);
    return done;
}

DWORD OverlappedOp::CancelAndFinish(bool* completed) {
    if (completed != nullptr)
        *completed = false;
    if (!pending_)
        return 0;
    DWORD saved_error = GetLastError();
    g_localport_calls.cancel_io(device_);
    DWORD moved = 0;
    // A cancelled request completes (ERROR_OPERATION_ABORTED) with the
    // bytes it had moved; a serial port reports them, and they are real.
    // One that the driver completed before the cancel reached it
    // completes as it would have without the cancel: successfully.
    BOOL done = GetOverlappedResult(device_, &control_, &moved, TRUE);
    if (completed != nullptr)
        *completed = done != 0;
    pending_ = false;
    SetLastError(saved_error);
    return moved;
}

BOOL OverlappedOp::CloseEvent() {
    CancelAndFinish();
    if (event_ == nullptr)
        return TRUE;
    BOOL closed = CloseHandle(event_);
    event_ = nullptr;
    control_.hEvent = nullptr;
    return closed;
}

void RefuseArguments(const char* function, DWORD* count, DWORD* error) {
    LogLine(kLogStamped, "%s Parameter Error\n", function);
    if (count != nullptr)
        *count = 0;
    if (error != nullptr)
        *error = ERROR_INVALID_PARAMETER;
}

/* --- open and close ---------------------------------------------------- */

/* A failed open leaves its error in the thread's last error too, like
 * CreateFileA, so a caller without an error variable still learns why.
 * (The log lines, the end line included, keep the last error as it is.) */
HANDLE OpenLocalPort(const char* function, const char* keyword, const char* name, DWORD* error) {
    TracedCall call(function);
    if (name == nullptr || error == nullptr) {
        RefuseArguments(function, nullptr, error);
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (!NameHasKeyword(name, keyword)) {
        *error = ERROR_INVALID_PARAMETER;
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    *error = GetLastError();
    if (port != INVALID_HANDLE_VALUE)
        LogLine(kLogStamped, "%s Success\n", function);
    else
        LogLine(kLogStamped, "%s Error(INVALID_HANDLE_VALUE)\n", function);
    return port;
}

int CloseLocalPort(const char* function, HANDLE port, DWORD* error) {
    TracedCall call(function);
    if (IsBadPortHandle(port) || error == nullptr) {
        RefuseArguments(function, nullptr, error);
        return 0;
    }
    // End whatever another thread still has pending on the port, so that
    // its transfer stops waiting now; the transfer loop then finds the
    // handle closed and returns. On Windows a close alone leaves pending
    // requests to the driver's clean-up, which not every driver does.
    CancelIoEx(port, nullptr);
    BOOL closed = CloseHandle(port);
    *error = GetLastError();
    if (closed) {
        LogLine(kLogStamped, "%s Success\n", function);
        *error = ERROR_SUCCESS;
    } else {
        LogLine(kLogStamped, "%s Error(CloseHandle)\n", function);
    }
    return closed;
}

/* --- device ID --------------------------------------------------------- */

DWORD DeliverDeviceId(unsigned char* answer, DWORD answer_bytes, void* buffer, DWORD size,
                      DWORD* error) {
    LogLine(kLogStamped, "Device_ID Get\n");
    if (answer_bytes > kDeviceIdDelivered)
        answer_bytes = kDeviceIdDelivered;
    answer[answer_bytes] = 0;
    if (answer_bytes == 0) {
        LogLine(kLogStamped, "GetDeviceID = [NOT DATA]\n");
        return 0;
    }
    DWORD delivered = answer_bytes < size ? answer_bytes : size;
    memcpy(buffer, answer, delivered);
    if (delivered < answer_bytes)
        *error = ERROR_MORE_DATA;
    // The line reads the call's own buffer, which is always terminated,
    // never the caller's, which may be too small for a terminator.
    LogLine(kLogStamped, "GetDeviceID = [0x%02x%02x%s]\n", answer[0], answer[1],
            reinterpret_cast<const char*>(answer + 2));
    return delivered;
}

}  // namespace orv
