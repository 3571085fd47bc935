/*
 * usb.cpp - the USB printer-class channel: open by device path,
 * transfers without a check step, the soft reset and the IEEE 1284
 * device-ID query of the USB printer driver.
 *
 * The two driver requests are synchronous for the caller: the handle is
 * opened for overlapped I/O, so a request that goes pending is waited for
 * until the driver completes it, with no time limit of the library.
 */
#include <windows.h>

#include <cstring>

#include "calls.h"
#include "localport.h"
#include "log.h"

namespace orv {

namespace {

// USB printer-class driver requests.
constexpr DWORD kIoctlUsbPrintGet1284Id = 0x220034;
constexpr DWORD kIoctlUsbPrintSoftReset = 0x220040;

const TransferMember kRecvUsb = {"OvRecvPort_USB", nullptr, "", "OvRecvPort_USB", "dwRecvByte"};
// The completion line of the USB write has always been spelled this way;
// log readers match it as it stands.
const TransferMember kWriteUsb = {"OvWritePort_USB", nullptr, "", "OvWritevPort_USB",
                                  "dwRecvByte"};

/* One driver request, waited for until the driver completes it. *error
 * is the last error once the request has ended. */
BOOL RunUsbRequest(HANDLE port, DWORD code, void* output, DWORD output_size, DWORD* bytes,
                   DWORD* error) {
    *bytes = 0;
    OverlappedOp op(port);
    if (!op.MakeEvent()) {
        *error = GetLastError();
        return 0;
    }
    BOOL done = g_localport_calls.device_io_control(port, code, nullptr, 0, output, output_size,
                                                    bytes, op.control());
    DWORD request_error = GetLastError();
    op.Started(done, request_error);
    if (!done && request_error == ERROR_IO_PENDING) {
        op.Wait(INFINITE);
        done = op.Query(bytes);
        request_error = GetLastError();
    }
    *error = request_error;
    op.CloseEvent();
    return done;
}

}  // namespace

HANDLE OpenPortUsb(const char* name, DWORD* error) {
    return OpenLocalPort("OvOpenPort_USB", "VID_", name, error);
}

int ClosePortUsb(HANDLE port, DWORD* error) {
    return CloseLocalPort("OvClosePort_USB", port, error);
}

int RecvPortUsb(HANDLE port, void* buffer, DWORD size, DWORD* received, DWORD timeout_ms,
                DWORD* error) {
    return ReceiveTransfer(kRecvUsb, port, buffer, size, received, timeout_ms, error);
}

int WritePortUsb(HANDLE port, const void* data, DWORD size, DWORD* written, DWORD timeout_ms,
                 DWORD* error) {
    return WriteTransfer(kWriteUsb, port, data, size, written, timeout_ms, error);
}

int SendCancelUsb(HANDLE port, DWORD* error) {
    TracedCall call("OvSendCancel_USB");
    if (IsBadPortHandle(port) || error == nullptr) {
        RefuseArguments("OvSendCancel_USB", nullptr, error);
        return 0;
    }
    LogLine(kLogStamped, "OvSendCancel_USB DeviceIoControl SOFT_RESET Send\n");
    DWORD bytes = 0;
    BOOL done = RunUsbRequest(port, kIoctlUsbPrintSoftReset, nullptr, 0, &bytes, error);
    if (done == 1)
        LogLine(kLogStamped, "OvSendCancel_USB Success\n");
    else
        LogLine(kLogStamped, "OvSendCancel_USB Error ErrorCode : 0x%08x\n",
                static_cast<unsigned>(*error));
    return done;
}

int GetDeviceIdUsb(HANDLE port, void* buffer, DWORD size, DWORD* length, DWORD* error) {
    TracedCall call("OvGetDeviceID_USB");
    if (IsBadPortHandle(port) || buffer == nullptr || length == nullptr || error == nullptr ||
        size == 0) {
        RefuseArguments("OvGetDeviceID_USB", length, error);
        return 0;
    }
    *length = 0;
    memset(buffer, 0, size);
    LogLine(kLogStamped, "OvGetDeviceID_USB DeviceIoControl Send\n");
    unsigned char answer[kDeviceIdAnswerSize] = {};
    DWORD bytes = 0;
    BOOL done = RunUsbRequest(port, kIoctlUsbPrintGet1284Id, answer, kDeviceIdRequest, &bytes, error);
    if (!done) {
        LogLine(kLogStamped, "OvGetDeviceID_USB GetOverlappedResult ErrorCode : 0x%08x\n",
                static_cast<unsigned>(*error));
        return 0;
    }
    // The driver's first length byte is not handed on: callers see 0.
    if (bytes > 0)
        answer[0] = 0;
    *length = DeliverDeviceId(answer, bytes, buffer, size, error);
    LogLine(kLogStamped, "OvGetDeviceID_USB DeviceID Success\n");
    return done;
}

}  // namespace orv
