/*
 * serial.cpp - the serial channel (COM): open, close, the two
 * check steps of its transfers, and the line settings.
 *
 * A serial receive try reads only when the driver's input queue holds
 * bytes, and no more than it holds, so that a read never waits for bytes
 * the printer has not sent. A serial write try first waits while the
 * port holds transmission for DSR (the printer's "not ready" line),
 * polling every 10 ms for up to 2 s.
 */
#include <windows.h>

#include "calls.h"
#include "localport.h"
#include "log.h"

namespace orv {

namespace {

constexpr int kDsrPolls = 200;
constexpr ULONGLONG kDsrPollPauseMs = 10;
constexpr ULONGLONG kDsrWaitMs = kDsrPolls * kDsrPollPauseMs;
constexpr ULONGLONG kSetCommStatePauseMs = 100;

/* The receive's check step: how many bytes wait in the input queue. A
 * failed query leaves the error as it was. */
CheckOutcome CheckInputQueue(HANDLE port, DWORD*, TransferState* state) {
    DWORD errors = 0;
    COMSTAT status = {};
    if (!g_localport_calls.clear_comm_error(port, &errors, &status))
        return CheckOutcome::kFailed;
    LogLine(kLogStamped, "OvRecvPort_COM ClearCommError comStat.cbInQue = %d(0x%04x)\n",
            static_cast<int>(status.cbInQue), static_cast<unsigned>(status.cbInQue));
    if (status.cbInQue == 0)
        return CheckOutcome::kNothingWaiting;
    state->waiting = status.cbInQue;
    return CheckOutcome::kPassed;
}

/* The write's check step. When the printer check fails the error is the
 * communication-error mask that the last successful query of this call
 * reported. */
CheckOutcome CheckPrinterReady(HANDLE port, DWORD* error, TransferState* state) {
    if (PrinterCheck_COM(port, &state->comm_errors))
        return CheckOutcome::kPassed;
    *error = state->comm_errors;
    return CheckOutcome::kFailed;
}

const TransferMember kRecvCom = {"OvRecvPort_COM", CheckInputQueue, "PrinterCheck_COM",
                                 "OvRecvPort_COM", "dwRecvByte"};
const TransferMember kWriteCom = {"OvWritePort_COM", CheckPrinterReady, "PrinterCheck_COM",
                                  "OvWritePort_COM", "dwRecvByte"};

}  // namespace

/* Polls until transmission is no longer held for DSR; true when it is
 * free. Each successful query's error mask is kept in *comm_errors.
 * The wait ends after 2 s by the tick count: on Windows each 10 ms pause
 * lasts a whole timer step of about 15.6 ms, so 200 of them would last
 * about 3.1 s there. The poll count only bounds the loop. */
bool PrinterCheck_COM(HANDLE port, DWORD* comm_errors) {
    TracedCall call("PrinterCheck_COM");
    const ULONGLONG start = Ticks();
    for (int poll = 0; poll < kDsrPolls; ++poll) {
        DWORD errors = 0;
        COMSTAT status = {};
        if (!g_localport_calls.clear_comm_error(port, &errors, &status)) {
            LogLine(kLogStamped, "PrinterCheck_COM Err(DSR)\n");
            return false;
        }
        *comm_errors = errors;
        if (!status.fDsrHold) {
            LogLine(kLogStamped, "PrinterCheck_COM Success\n");
            return true;
        }
        Pause(kDsrPollPauseMs);
        if (Ticks() - start >= kDsrWaitMs)
            break;
    }
    return false;
}

HANDLE OpenPortCom(const char* name, DWORD* error) {
    return OpenLocalPort("OvOpenPort_COM", "COM", name, error);
}

int ClosePortCom(HANDLE port, DWORD* error) {
    return CloseLocalPort("OvClosePort_COM", port, error);
}

int RecvPortCom(HANDLE port, void* buffer, DWORD size, DWORD* received, DWORD timeout_ms,
                DWORD* error) {
    return ReceiveTransfer(kRecvCom, port, buffer, size, received, timeout_ms, error);
}

int WritePortCom(HANDLE port, const void* data, DWORD size, DWORD* written, DWORD timeout_ms,
                 DWORD* error) {
    return WriteTransfer(kWriteCom, port, data, size, written, timeout_ms, error);
}

int GetComConf(HANDLE port, DCB* settings, DWORD* error) {
    TracedCall call("OvGetComConf");
    if (IsBadPortHandle(port) || settings == nullptr || error == nullptr) {
        RefuseArguments("OvGetComConf", nullptr, error);
        return 0;
    }
    LogLine(kLogStamped, "OvGetComConf GetCommState Send\n");
    BOOL got = GetCommState(port, settings);
    *error = GetLastError();
    if (got == 1)
        LogLine(kLogStamped, "OvGetComConf GetCommState Success\n");
    else
        LogLine(kLogStamped, "OvGetComConf GetCommState Code : 0x%08x\n",
                static_cast<unsigned>(*error));
    return got;
}

int SetComConf(HANDLE port, DCB* settings, DWORD* error) {
    TracedCall call("OvSetComConf_COM");
    if (IsBadPortHandle(port) || settings == nullptr) {
        if (error != nullptr)
            *error = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (error == nullptr)
        return 0;
    BOOL set = SetCommState(port, settings);
    *error = GetLastError();
    // Give the port's driver time to apply the new line settings.
    Pause(kSetCommStatePauseMs);
    if (set == 1)
        LogLine(kLogStamped, "OvSetComConf SetCommState Success\n");
    else
        LogLine(kLogStamped, "OvSetComConf SetCommState Code : 0x%08x\n",
                static_cast<unsigned>(*error));
    return set;
}

}  // namespace orv
