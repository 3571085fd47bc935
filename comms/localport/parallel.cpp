/*
 * parallel.cpp - the parallel channel (LPT): the printer check
 * before every transfer try, the printer reset, the IEEE 1284 device-ID
 * query and the library-wide time-out of these three driver requests.
 *
 * Each of the three is one overlapped DeviceIoControl that waits at most
 * LptTimeOut; a request still pending then is cancelled and its
 * completion waited for before its event and buffers are released. A
 * status that cannot be read does not stop printing: the check lets the
 * transfer go ahead, as a port without a status line still prints.
 *
 * This file is compiled with the system code page CP932 as the execution
 * character set: two of its log lines are Japanese.
 */
#include <windows.h>

#include <cstring>

#include "calls.h"
#include "localport.h"
#include "log.h"

namespace orv {

std::atomic<DWORD> LptTimeOut{kDefaultLptTimeOut};

namespace {

// Parallel-port driver requests and their status bits.
constexpr DWORD kIoctlParQueryInformation = 0x160004;
constexpr DWORD kIoctlParSetInformation = 0x160008;
constexpr DWORD kIoctlParQueryDeviceId = 0x160030;
constexpr unsigned char kParallelInit = 0x01;
constexpr unsigned char kParallelOffLine = 0x08;
constexpr unsigned char kParallelPowerOff = 0x10;

enum class RequestOutcome { kSucceeded, kFailed, kTimedOut };

struct ParallelRequest {
    const char* function;  // first word of the waiting line
    DWORD code;
    void* input;
    DWORD input_size;
    void* output;
    DWORD output_size;
};

/* One device request with the operation's event made: start it, wait up
 * to LptTimeOut if it went pending, then close the event. *error receives
 * the last error right after DeviceIoControl. */
RequestOutcome RunParallelRequest(HANDLE port, OverlappedOp& op, const ParallelRequest& request,
                                  DWORD* error, DWORD* bytes) {
    *bytes = 0;
    BOOL done = g_localport_calls.device_io_control(port, request.code, request.input,
                                                    request.input_size, request.output,
                                                    request.output_size, bytes, op.control());
    DWORD start_error = GetLastError();
    *error = start_error;
    op.Started(done, start_error);
    if (!done && start_error == ERROR_IO_PENDING) {
        DWORD timeout = LptTimeOut;
        LogLine(kLogStamped, "%s WaitForSingleObject(%d)\n", request.function,
                static_cast<int>(timeout));
        if (op.Wait(timeout) == WAIT_TIMEOUT) {
            op.CloseEvent();  // cancels and waits for the cancellation
            *bytes = 0;
            return RequestOutcome::kTimedOut;
        }
        done = op.Query(bytes);
    }
    DWORD outcome_error = GetLastError();
    op.CloseEvent();
    SetLastError(outcome_error);
    return done ? RequestOutcome::kSucceeded : RequestOutcome::kFailed;
}

CheckOutcome CheckPrinter(HANDLE port, DWORD* error, TransferState*) {
    return PrinterCheck_LPT(port, error) == 1 ? CheckOutcome::kPassed : CheckOutcome::kFailed;
}

const TransferMember kRecvLpt = {"OvRecvPort_LPT", CheckPrinter, "PrinterCheck_LPT",
                                 "OvRecvPort_LPT", "dwRecvByte"};
const TransferMember kWriteLpt = {"OvWritePort_LPT", CheckPrinter, "PrinterCheck_LPT",
                                  "OvWritePort_LPT", "dwWriteByte"};

}  // namespace

int PrinterCheck_LPT(HANDLE port, DWORD* error) {
    TracedCall call("PrinterCheck_LPT");
    OverlappedOp op(port);
    if (!op.MakeEvent()) {
        *error = GetLastError();
        LogLine(kLogStamped, "PrinterCheck_LPT CreateEvent Fail ErrCode = 0x%08x\n",
                static_cast<unsigned>(*error));
        return 0;
    }
    unsigned char status = 0;
    DWORD bytes = 0;
    ParallelRequest query = {"PrinterCheck_LPT", kIoctlParQueryInformation, nullptr, 0, &status, 1};
    if (RunParallelRequest(port, op, query, error, &bytes) !=
        RequestOutcome::kSucceeded) {
        LogLine(kLogStamped, "PrinterCheck_LPT DeviceIoControl ErrCode = 0x%08x\n",
                static_cast<unsigned>(GetLastError()));
        return 1;
    }
    if (status & (kParallelOffLine | kParallelPowerOff)) {
        LogLine(kLogStamped,
                "PrinterCheck_LPT DeviceIoControl Err(PARALLEL_POWER_OFF | PARALLEL_OFF_LINE)\n");
        return 0;
    }
    LogLine(kLogStamped, "PrinterCheck_LPT Success\n");
    return 1;
}

HANDLE OpenPortLpt(const char* name, DWORD* error) {
    return OpenLocalPort("OvOpenPort_LPT", "LPT", name, error);
}

int ClosePortLpt(HANDLE port, DWORD* error) {
    return CloseLocalPort("OvClosePort_LPT", port, error);
}

int RecvPortLpt(HANDLE port, void* buffer, DWORD size, DWORD* received, DWORD timeout_ms,
                DWORD* error) {
    return ReceiveTransfer(kRecvLpt, port, buffer, size, received, timeout_ms, error);
}

int WritePortLpt(HANDLE port, const void* data, DWORD size, DWORD* written, DWORD timeout_ms,
                 DWORD* error) {
    return WriteTransfer(kWriteLpt, port, data, size, written, timeout_ms, error);
}

int SendCancelLpt(HANDLE port, DWORD* error) {
    TracedCall call("OvSendCancel_LPT");
    if (IsBadPortHandle(port) || error == nullptr) {
        RefuseArguments("OvSendCancel_LPT", nullptr, error);
        return 0;
    }
    LogLine(kLogStamped, "OvSendCancel_LPT DeviceIoControl PARALLEL_INIT Send\n");
    OverlappedOp op(port);
    if (!op.MakeEvent()) {
        *error = GetLastError();
        LogLine(kLogStamped, "OvSendCancel_LPT CreateEvent Fail ErrCode = 0x%08x\n",
                static_cast<unsigned>(*error));
        return 0;
    }
    LogLine(kLogStamped, "OvSendCancel_LPT タイムアウト (%dms): \n", static_cast<int>(LptTimeOut.load()));
    unsigned char init = kParallelInit;
    DWORD bytes = 0;
    ParallelRequest reset = {"OvSendCancel_LPT", kIoctlParSetInformation, &init, 1, nullptr, 0};
    RequestOutcome outcome = RunParallelRequest(port, op, reset, error, &bytes);
    if (outcome == RequestOutcome::kSucceeded) {
        LogLine(kLogStamped, "OvSendCancel_LPT Success\n");
        return 1;
    }
    // An unplugged printer needs no reset.
    if (outcome == RequestOutcome::kFailed && *error == ERROR_DEVICE_NOT_CONNECTED) {
        *error = ERROR_SUCCESS;
        return 1;
    }
    LogLine(kLogStamped, "OvSendCancel_LPT Error ErrorCode : 0x%08x\n", static_cast<unsigned>(*error));
    return 0;
}

int GetDeviceIdLpt(HANDLE port, void* buffer, DWORD size, DWORD* length, DWORD* error) {
    TracedCall call("OvGetDeviceID_LPT");
    if (IsBadPortHandle(port) || buffer == nullptr || length == nullptr || error == nullptr ||
        size == 0) {
        RefuseArguments("OvGetDeviceID_LPT", length, error);
        return 0;
    }
    LogLine(kLogStamped, "OvGetDeviceID_LPT DeviceIoControl Send\n");
    *length = 0;
    memset(buffer, 0, size);
    OverlappedOp op(port);
    if (!op.MakeEvent()) {
        *error = GetLastError();
        return 0;
    }
    LogLine(kLogStamped, "OvGetDeviceID_LPT タイムアウト (%dms): \n", static_cast<int>(LptTimeOut.load()));
    unsigned char answer[kDeviceIdAnswerSize] = {};
    DWORD bytes = 0;
    ParallelRequest query = {"OvGetDeviceID_LPT", kIoctlParQueryDeviceId, nullptr, 0, answer,
                             kDeviceIdRequest};
    if (RunParallelRequest(port, op, query, error, &bytes) != RequestOutcome::kSucceeded) {
        LogLine(kLogStamped, "OvGetDeviceID_LPT GetOverlappedResult ErrorCode : 0x%08x\n",
                static_cast<unsigned>(*error));
        return 0;
    }
    *length = DeliverDeviceId(answer, bytes, buffer, size, error);
    LogLine(kLogStamped, "OvGetDeviceID_LPT DeviceID Success\n");
    return 1;
}

int GetTimeOutLpt(DWORD* timeout_ms, DWORD* error) {
    if (timeout_ms == nullptr) {
        RefuseArguments("OvGetTimeOut_LPT", nullptr, error);
        return 0;
    }
    DWORD value = LptTimeOut;
    *timeout_ms = value;
    LogLine(kLogStamped, "OvGetTimeOut_LPT タイムアウトを取得しました。[%d]\n", static_cast<int>(value));
    if (error != nullptr)
        *error = GetLastError();
    return 1;
}

int SetTimeOutLpt(DWORD timeout_ms, DWORD* error) {
    LptTimeOut = timeout_ms;
    LogLine(kLogStamped, "OvSetTimeOut_LPT タイムアウトを %d に設定しました。\n", static_cast<int>(timeout_ms));
    if (error != nullptr)
        *error = GetLastError();
    return 1;
}

}  // namespace orv
