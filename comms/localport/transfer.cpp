/*
 * transfer.cpp - the transfer loop of the six receive and write
 * functions (serial, parallel, USB).
 *
 * A transfer call repeats one overlapped try, 50 ms apart, until the whole
 * size has moved or its deadline (start + time-out + 70 ms) has passed.
 * A try runs the family's check step, makes a fresh event, starts the
 * read or write, and waits for it up to the full time-out; what is still
 * outstanding then is cancelled and its completion waited for before the
 * event and buffer are used again. The families differ only in their
 * check step and a few words of their log lines (TransferMember).
 *
 * Receives go through a 4096-byte staging buffer of the call and ask each
 * try only for the room left in it (on a serial port, no more than the
 * bytes waiting), so nothing read is ever dropped. Writes go on from the
 * first byte not yet written, and bytes that a cancelled try had moved
 * count, so the printer never gets the same bytes twice.
 *
 * The library keeps nothing per port, so a close from another thread
 * reaches a running transfer only through the handle: the close cancels
 * what is pending, and the loop ends as soon as a try finds the handle
 * closed, instead of trying again until its deadline.
 */
#include <windows.h>

#include <cstring>

#include "calls.h"
#include "localport.h"
#include "log.h"

namespace orv {

namespace {

constexpr ULONGLONG kTryPauseMs = 50;
constexpr ULONGLONG kDeadlineMarginMs = 70;

enum class Direction { kReceive, kWrite };

/* One try's part of the transfer. */
struct TryIo {
    Direction direction;
    void* into;        // receive: the staging buffer at the offset reached
    const void* from;  // write: the first byte not yet written
    DWORD request;     // bytes to ask for
};

const char* StartCallName(Direction direction) {
    return direction == Direction::kReceive ? "ReadFile" : "WriteFile";
}

BOOL StartTransfer(HANDLE port, const TryIo& io, DWORD* bytes, OVERLAPPED* control) {
    if (io.direction == Direction::kReceive)
        return ReadFile(port, io.into, io.request, bytes, control);
    return WriteFile(port, io.from, io.request, bytes, control);
}

void LogStarted(const TransferMember& member, Direction direction, DWORD bytes) {
    if (direction == Direction::kReceive)
        LogLine(kLogStamped, "%s ReadFile dwRecvByte = %d\n", member.name, static_cast<int>(bytes));
    else
        LogLine(kLogStamped, "%s dwWriteByte = %d\n", member.name, static_cast<int>(bytes));
}

/* The transfer went pending: wait for it the full time-out, ask for its
 * result without waiting, and cancel it if it is still outstanding. */
BOOL FinishPending(const TransferMember& member, OverlappedOp& op, DWORD timeout_ms, DWORD* error,
                   DWORD* moved) {
    LogLine(kLogStamped, "%s ERROR_IO_PENDING\n", member.name);
    DWORD wait = op.Wait(timeout_ms);
    LogLine(kLogStamped, "%s TimeOut = %d\n", member.name, static_cast<int>(timeout_ms));
    LogLine(kLogStamped, "%s WaitForSingleObject ErrorCode : 0x%08x\n", member.name,
            static_cast<unsigned>(wait));
    DWORD bytes = 0;
    BOOL done = op.Query(&bytes);
    DWORD query_error = GetLastError();
    *error = query_error;
    *moved += bytes;
    LogLine(kLogStamped, "%s GetOverlappedResult %s = %d\n", member.completion_name,
            member.completion_count, static_cast<int>(bytes));
    if (wait == WAIT_OBJECT_0) {
        LogLine(kLogStamped, "%s WaitForSingleObject WAIT_OBJECT_0\n", member.name);
        return done;
    }
    if (wait == WAIT_TIMEOUT)
        LogLine(kLogStamped, "%s WaitForSingleObject WAIT_TIMEOUT\n", member.name);
    else
        LogLine(kLogStamped, "%s WaitForSingleObject OTHER\n", member.name);
    LogLine(kLogStamped, "%s GetOverlappedResult ErrorCode : 0x%08x\n", member.name,
            static_cast<unsigned>(query_error));
    bool completed = false;
    *moved += op.CancelAndFinish(&completed);
    if (wait != WAIT_TIMEOUT)
        LogLine(kLogStamped, "%s CancelIo\n", member.name);
    // The driver completed the transfer between the query and the cancel,
    // which then has nothing left to undo: the try succeeded with the
    // count the completion gave, which the next try does not send again.
    if (completed) {
        *error = ERROR_SUCCESS;
        return 1;
    }
    return done;
}

/* The transfer failed at once, so the try failed, except a read refused
 * with ERROR_ACCESS_DENIED: that counts as a try that succeeded without
 * data, as printer tools polling a port's back channel expect. Such a
 * receive goes on trying until its time-out, then reports success with a
 * count of 0 and WAIT_TIMEOUT. */
BOOL FailedAtOnce(const TransferMember& member, HANDLE port, Direction direction, DWORD error) {
    g_localport_calls.cancel_io(port);
    LogLine(kLogStamped, "%s %s ErrorCode : 0x%08x\n", member.name, StartCallName(direction),
            static_cast<unsigned>(error));
    return direction == Direction::kReceive && error == ERROR_ACCESS_DENIED;
}

/* The check step; false when the try ends there with `*result`. */
bool RunCheck(const TransferMember& member, HANDLE port, DWORD* error, TransferState* state,
              BOOL* result) {
    state->waiting = 0;
    if (member.check == nullptr)
        return true;
    switch (member.check(port, error, state)) {
    case CheckOutcome::kPassed:
        return true;
    case CheckOutcome::kNothingWaiting:
        *result = 1;
        return false;
    case CheckOutcome::kFailed:
        break;
    }
    LogLine(kLogStamped, "%s %s Error\n", member.name, member.check_name);
    *result = 0;
    return false;
}

/* One try: check, fresh event, start, wait, cancel what is left, close
 * the event. Adds the bytes it moved to *moved; returns the try result. */
BOOL TransferTry(const TransferMember& member, HANDLE port, TryIo io, DWORD timeout_ms, DWORD* error,
                 TransferState* state, DWORD* moved) {
    BOOL result = 0;
    if (!RunCheck(member, port, error, state, &result))
        return result;
    // A serial receive asks for no more than the bytes waiting.
    if (state->waiting != 0 && state->waiting < io.request)
        io.request = state->waiting;

    OverlappedOp op(port);
    if (!op.MakeEvent()) {
        DWORD event_error = GetLastError();
        LogLine(kLogStamped, "%s CreateEvent Fail ErrCode = 0x%08x\n", member.name,
                static_cast<unsigned>(event_error));
        *error = event_error;
        return 0;
    }
    LogLine(kLogStamped, "%s CreateEvent Success\n", member.name);
    LogLine(kLogStamped, "%s %s Send\n", member.name, StartCallName(io.direction));

    DWORD bytes = 0;
    BOOL started = StartTransfer(port, io, &bytes, op.control());
    DWORD start_error = GetLastError();
    *error = start_error;
    op.Started(started, start_error);
    LogStarted(member, io.direction, bytes);
    if (started) {
        *moved += bytes;
        result = started;
    } else if (start_error == ERROR_IO_PENDING) {
        result = FinishPending(member, op, timeout_ms, error, moved);
    } else {
        result = FailedAtOnce(member, port, io.direction, start_error);
    }

    if (op.CloseEvent() != 1) {
        result = 0;
        LogLine(kLogStamped, "%s CloseHandle(Event) Error\n", member.name);
    } else {
        LogLine(kLogStamped, "%s CloseHandle(Event) Success\n", member.name);
    }
    return result;
}

/* The pause between tries; true when the deadline has passed after it. */
bool PauseAndCheckDeadline(const TransferMember& member, ULONGLONG deadline) {
    Pause(kTryPauseMs);
    LogLine(kLogStamped, "%s Wait50\n", member.name);
    return Ticks() > deadline;
}

/* A port closed while the call ran (from another thread): no later try
 * can move anything, so the call ends with ERROR_INVALID_HANDLE. */
bool PortClosed(const TransferMember& member, HANDLE port, DWORD* error, BOOL* result) {
    DWORD flags = 0;
    if (GetHandleInformation(port, &flags))
        return false;
    LogLine(kLogStamped, "%s Port Closed\n", member.name);
    *error = ERROR_INVALID_HANDLE;
    *result = 0;
    return true;
}

bool TransferArgumentsBad(HANDLE port, const void* buffer, DWORD size, DWORD* count, DWORD* error) {
    return IsBadPortHandle(port) || buffer == nullptr || count == nullptr || error == nullptr ||
           size == 0;
}

}  // namespace

int ReceiveTransfer(const TransferMember& member, HANDLE port, void* buffer, DWORD size,
                    DWORD* received, DWORD timeout_ms, DWORD* error) {
    TracedCall call(member.name);
    if (TransferArgumentsBad(port, buffer, size, received, error)) {
        RefuseArguments(member.name, received, error);
        return 0;
    }
    unsigned char staging[kStagingSize];
    memset(staging, 0, sizeof staging);
    const DWORD wanted = size < kStagingSize ? size : kStagingSize;
    *received = 0;
    TransferState state;
    const ULONGLONG deadline = Ticks() + timeout_ms + kDeadlineMarginMs;

    DWORD total = 0;
    BOOL result = 0;
    bool timed_out = false;
    for (;;) {
        TryIo io = {Direction::kReceive, staging + total, nullptr, wanted - total};
        result = TransferTry(member, port, io, timeout_ms, error, &state, &total);
        if (total >= wanted) {
            LogLine(kLogStamped, "%s dwRecvSize = %d, dwRecvTotal = %d\n", member.name,
                    static_cast<int>(total), static_cast<int>(size));
            break;
        }
        if (PortClosed(member, port, error, &result))
            break;
        if (PauseAndCheckDeadline(member, deadline)) {
            timed_out = true;
            break;
        }
    }

    if (total > 0) {
        memcpy(buffer, staging, wanted);
        LogLine(kLogStamped, "%s dwReadTotal = %d\n", member.name, static_cast<int>(total));
        LogDump(buffer, total < wanted ? total : wanted);
    }
    if (timed_out) {
        *error = WAIT_TIMEOUT;
        LogLine(kLogStamped, "%s WAIT_TIMEOUT Result\n", member.name);
    }
    *received = total;
    return result;
}

int WriteTransfer(const TransferMember& member, HANDLE port, const void* data, DWORD size,
                  DWORD* written, DWORD timeout_ms, DWORD* error) {
    TracedCall call(member.name);
    if (TransferArgumentsBad(port, data, size, written, error)) {
        RefuseArguments(member.name, written, error);
        return 0;
    }
    *written = 0;
    TransferState state;
    const ULONGLONG deadline = Ticks() + timeout_ms + kDeadlineMarginMs;
    const auto* bytes = static_cast<const unsigned char*>(data);

    DWORD total = 0;
    BOOL result = 0;
    for (;;) {
        TryIo io = {Direction::kWrite, nullptr, bytes + total, size - total};
        result = TransferTry(member, port, io, timeout_ms, error, &state, &total);
        if (total >= size || PortClosed(member, port, error, &result) ||
            PauseAndCheckDeadline(member, deadline))
            break;
    }

    *written = total;
    if (total > 0) {
        LogLine(kLogStamped, "%s dwWriteTotal = %d\n", member.name, static_cast<int>(total));
        LogDump(data, total < size ? total : size);
    }
    return result;
}

}  // namespace orv
