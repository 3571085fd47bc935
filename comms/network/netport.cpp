/*
 * netport.cpp - the network print channel.
 *
 * A port is a non-blocking TCP socket to the printer's raw print port.
 * Every transfer polls it: one socket call, then a 100 ms pause while the
 * printer is busy, never a blocking call, so that a close from another
 * thread ends a transfer within one poll interval. A port may be used by
 * one reading, one writing and one closing thread at once: the read and
 * write semaphores make each socket call exclusive on its side, and the
 * `closing`, `reading` and `writing` values of the record let the close
 * wait until the transfers have stopped touching the socket. Transfers
 * enter a record only through the library's list of open ports, so that a
 * call arriving while the close drains or frees the record is either
 * waited for or finds the port gone; it never reaches freed memory, a
 * closed semaphore or a closed socket.
 *
 * The close shuts down the sending side first and reads what the printer
 * still sends (its last status bytes) before closing, for at most the
 * transfer time-out, so that a printer never sees its connection reset
 * while it is answering.
 *
 * The cancel is a separate short exchange on the command port with a
 * blocking socket of its own; it needs no open port.
 */
#include "netport.h"

#include <winsock2.h>

#include "internal.h"
#include "netif.h"
#include "socket_calls.h"

namespace orv {

namespace {

constexpr DWORD kConnectCycleSeconds = 1;
constexpr DWORD kConnectCyclePauseMs = 10;
constexpr DWORD kAddressInUsePauseMs = 500;
constexpr DWORD kClosePollMs = 100;
constexpr DWORD kCloseSettleMs = 500;
constexpr DWORD kCloseInsidePollMs = 10;
constexpr int kDrainBufferSize = 256;
constexpr int kCancelReplySize = 256;
constexpr DWORD kCancelPauseMs = 200;

// The 16-byte commands of the command port, sent without terminator.
constexpr char kSoftResetCommand[] = "SOFT_RESET     \n";
constexpr char kQuitCommand[] = "QUIT           \n";
constexpr int kCommandSize = 16;
static_assert(sizeof kSoftResetCommand - 1 == kCommandSize, "command size");
static_assert(sizeof kQuitCommand - 1 == kCommandSize, "command size");

ULONGLONG Now() {
    return GetTickCount64();
}

/* The record's transfer time-out: retry_count × wait_seconds seconds, in
 * milliseconds, capped at the configuration's longest wait. */
DWORD RecordTimeoutMs(const HandleRecord* record) {
    return TransferTimeoutMs(record->retry_count, record->wait_seconds);
}

bool TimedOut(ULONGLONG start, DWORD limit_ms) {
    return Now() - start >= limit_ms;
}

/* --- the open ports ---------------------------------------------------- */

/* Every port from its open until its close frees it. Transfers reach a
 * record only through this list, under its lock: a call that comes in
 * while a close is finishing is either counted in `calls_inside` before
 * the close takes the port off the list (and the close waits for it to
 * leave), or finds the port gone and touches nothing. A second close of
 * the same handle finds it claimed or gone and returns 0. */
class OpenPorts {
  public:
    void Add(HandleRecord* record) {
        AcquireSRWLockExclusive(&lock_);
        record->next_open_port = head_;
        head_ = record;
        ReleaseSRWLockExclusive(&lock_);
    }

    /* Counts a call as inside the record; false when it is not open. */
    bool EnterCall(HandleRecord* record) {
        AcquireSRWLockShared(&lock_);
        bool open = Find(record) != nullptr;
        if (open)
            ++record->calls_inside;
        ReleaseSRWLockShared(&lock_);
        return open;
    }

    /* Raises `closing` for the one close that gets the port; false for a
     * port that is not open or that another close already has. */
    bool ClaimForClose(HandleRecord* record) {
        AcquireSRWLockExclusive(&lock_);
        bool claimed = Find(record) != nullptr && record->closing == 0;
        if (claimed)
            ++record->closing;
        ReleaseSRWLockExclusive(&lock_);
        return claimed;
    }

    void Remove(HandleRecord* record) {
        AcquireSRWLockExclusive(&lock_);
        HandleRecord** link = Find(record);
        if (link != nullptr)
            *link = record->next_open_port;
        ReleaseSRWLockExclusive(&lock_);
    }

  private:
    /* The link that points at `record`, or nullptr. */
    HandleRecord** Find(HandleRecord* record) {
        for (HandleRecord** link = &head_; *link != nullptr; link = &(*link)->next_open_port)
            if (*link == record)
                return link;
        return nullptr;
    }

    SRWLOCK lock_ = SRWLOCK_INIT;
    HandleRecord* head_ = nullptr;
};

OpenPorts g_open_ports;

}  // namespace

void (*g_port_call_entered)(HandleRecord* record) = nullptr;

namespace {

/* One transfer call on a port: the record while the call is counted
 * inside it, nullptr for a null, failed or closed handle. */
class PortCall {
  public:
    explicit PortCall(OvHandle handle) : record_(RecordOf(handle)) {
        if (record_ != nullptr && !g_open_ports.EnterCall(record_))
            record_ = nullptr;
        if (record_ != nullptr && g_port_call_entered != nullptr)
            g_port_call_entered(record_);
    }
    // The decrement is the call's last touch of the record.
    ~PortCall() {
        if (record_ != nullptr)
            --record_->calls_inside;
    }
    PortCall(const PortCall&) = delete;
    PortCall& operator=(const PortCall&) = delete;

    HandleRecord* record() const { return record_; }

  private:
    HandleRecord* record_;
};

void CloseSemaphores(HandleRecord* record) {
    if (record->write_semaphore != nullptr)
        CloseHandle(record->write_semaphore);
    if (record->read_semaphore != nullptr)
        CloseHandle(record->read_semaphore);
    record->write_semaphore = nullptr;
    record->read_semaphore = nullptr;
}

/* The two semaphores of a port; 0, or the platform's error. */
DWORD CreateSemaphores(HandleRecord* record) {
    record->write_semaphore = CreateSemaphoreA(nullptr, 1, 1, nullptr);
    if (record->write_semaphore == nullptr)
        return GetLastError();
    record->read_semaphore = CreateSemaphoreA(nullptr, 1, 1, nullptr);
    if (record->read_semaphore == nullptr)
        return GetLastError();
    return 0;
}

void CloseRecordSocket(HandleRecord* record) {
    if (record->socket != INVALID_SOCKET)
        closesocket(record->socket);
    record->socket = INVALID_SOCKET;
}

/* --- connect ----------------------------------------------------------- */

/* The target address in network byte order: a dotted address as it
 * stands, otherwise the first address the name resolves to. */
bool ResolveTarget(HandleRecord* record, ULONG* target) {
    ULONG dotted = inet_addr(record->address);
    if (dotted != INADDR_NONE) {
        *target = dotted;
        return true;
    }
    hostent* host = gethostbyname(record->address);
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_addr_list[0] == nullptr) {
        int error = WSAGetLastError();
        record->last_error = error != 0 ? error : WSAHOST_NOT_FOUND;
        return false;
    }
    memcpy(target, host->h_addr_list[0], sizeof *target);
    return true;
}

/* Why a connection was not reported established within the wait: a
 * refusal (10061) or an unreachable network that the socket holds, else
 * the time-out (10060). The refusal still waits out the cycles; only the
 * reason differs, for the caller's GetLastError. */
int PendingConnectError(SOCKET socket) {
    int error = 0;
    int size = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
        error != 0)
        return error;
    return WSAETIMEDOUT;
}

/* Waits up to `open_timeout` one-second cycles for the connection to be
 * reported established; 0 or the error of the wait. A connection the
 * printer refuses is not reported writable and runs out the cycles. */
int WaitConnected(HandleRecord* record) {
    uint32_t cycles = ConnectCycles(record->open_timeout);
    for (uint32_t cycle = 0; cycle < cycles; ++cycle) {
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(record->socket, &writable);
        timeval wait = {static_cast<long>(kConnectCycleSeconds), 0};
        int ready = select(0, nullptr, &writable, nullptr, &wait);
        if (ready == SOCKET_ERROR)
            return WSAGetLastError();
        if (ready > 0)
            return 0;
        Sleep(kConnectCyclePauseMs);
    }
    return PendingConnectError(record->socket);
}

/* One connect attempt; 0 on success, else the error of the attempt.
 * The system's SYN retries stay on: a refused connection waits out the
 * cycles in any case (it is never reported writable), and Windows'
 * retries after a reset let a printer whose port opens during the wait
 * still be reached. */
int TryConnect(HandleRecord* record, const sockaddr_in& target) {
    u_long non_blocking = 1;
    if (ioctlsocket(record->socket, FIONBIO, &non_blocking) == SOCKET_ERROR)
        return WSAGetLastError();
    BindToTargetSubnet(record->socket, target.sin_addr.s_addr);
    if (g_socket_calls.connect(record->socket, reinterpret_cast<const sockaddr*>(&target),
                               sizeof target) == 0)
        return 0;
    int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK)
        return error;
    return WaitConnected(record);
}

/* Connects the record's socket to `port` of its host, retrying only after
 * an "address in use" answer, at most `retry_count` attempts, 500 ms
 * apart; the last failed attempt fails the connect at once. */
bool Connect(HandleRecord* record, unsigned short port) {
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    if (!ResolveTarget(record, &target.sin_addr.s_addr))
        return false;
    for (uint32_t attempt = 0; attempt < record->retry_count; ++attempt) {
        if (attempt > 0)
            Sleep(kAddressInUsePauseMs);
        record->socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (record->socket == INVALID_SOCKET) {
            record->last_error = WSAGetLastError();
            return false;
        }
        int error = TryConnect(record, target);
        if (error == 0) {
            record->last_error = 0;
            return true;
        }
        record->last_error = error;
        CloseRecordSocket(record);
        if (error != WSAEADDRINUSE)
            return false;
    }
    if (record->last_error == 0)
        record->last_error = WSAETIMEDOUT;  // no attempt made: a failed open still tells a reason
    return false;
}

/* --- close ------------------------------------------------------------- */

/* Reads and drops what the printer still sends, until it closes its side,
 * an error other than would-block, or the transfer time-out. */
void Drain(HandleRecord* record) {
    char scratch[kDrainBufferSize];
    ULONGLONG start = Now();
    DWORD limit = RecordTimeoutMs(record);
    for (;;) {
        int got = recv(record->socket, scratch, sizeof scratch, 0);
        if (got == 0)
            return;
        if (got == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)
            return;
        if (TimedOut(start, limit))
            return;
        Sleep(kPollMs);
    }
}

int Disconnect(HandleRecord* record) {
    if (record->socket == INVALID_SOCKET) {
        record->last_error = 0;
        return 1;
    }
    shutdown(record->socket, SD_SEND);
    Drain(record);
    shutdown(record->socket, SD_BOTH);
    if (closesocket(record->socket) == SOCKET_ERROR) {
        int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            record->last_error = error;
            return 0;
        }
    }
    record->last_error = 0;
    record->socket = INVALID_SOCKET;
    return 1;
}

/* Lets a socket call under way on either side finish: take and give back
 * both semaphores, read side first. */
void PassBothSemaphores(HandleRecord* record) {
    WaitForSingleObject(record->read_semaphore, INFINITE);
    WaitForSingleObject(record->write_semaphore, INFINITE);
    ReleaseSemaphore(record->write_semaphore, 1, nullptr);
    ReleaseSemaphore(record->read_semaphore, 1, nullptr);
}

/* Waits until no transfer is in a socket call or about to make one: a
 * transfer raises its flag before it looks at `closing`, so once the flags
 * are clear after `closing` was raised, every later look sees the close.
 * The pause outlasts one poll interval of the transfer loops. */
void WaitForTransfersToStop(HandleRecord* record) {
    while (record->reading != 0 || record->writing != 0)
        Sleep(kClosePollMs);
    Sleep(kCloseSettleMs);
}

/* After the port has left the list no call can enter; the calls still
 * counted inside have seen `closing` (or will at their next look) and
 * leave without touching the socket. */
void WaitForCallsToLeave(HandleRecord* record) {
    while (record->calls_inside != 0)
        Sleep(kCloseInsidePollMs);
}

/* --- transfers --------------------------------------------------------- */

/* One receive under the read semaphore; the byte count, or SOCKET_ERROR
 * with the error in *error. Clears `reading` when the call has returned. */
int ReceiveStep(HandleRecord* record, void* buffer, DWORD size, int* error) {
    int length = size > static_cast<DWORD>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    WaitForSingleObject(record->read_semaphore, INFINITE);
    int got = g_socket_calls.recv(record->socket, static_cast<char*>(buffer), length, 0);
    *error = got == SOCKET_ERROR ? WSAGetLastError() : 0;
    ReleaseSemaphore(record->read_semaphore, 1, nullptr);
    record->reading = 0;
    return got;
}

/* A receive that returned a byte count (0: the printer closed its side). */
int Received(HandleRecord* record, int got, DWORD* received) {
    record->last_error = 0;
    *received = static_cast<DWORD>(got);
    return 1;
}

/* One send under the write semaphore, like ReceiveStep. */
int SendStep(HandleRecord* record, const char* data, int size, int* error) {
    WaitForSingleObject(record->write_semaphore, INFINITE);
    int sent = g_socket_calls.send(record->socket, data, size, 0);
    *error = sent == SOCKET_ERROR ? WSAGetLastError() : 0;
    ReleaseSemaphore(record->write_semaphore, 1, nullptr);
    record->writing = 0;
    return sent;
}

/* Marks the start of a socket call on one side; false when the port is
 * closing, with the flag cleared again. */
bool Enter(std::atomic<LONG>& flag, const HandleRecord* record) {
    flag = 1;
    if (record->closing == 0)
        return true;
    flag = 0;
    return false;
}

/* The common start of the transfers: false (result 0) for missing
 * arguments, which also clear `last_error`. */
bool CheckTransferArguments(HandleRecord* record, const void* buffer, DWORD* count) {
    if (buffer == nullptr || count == nullptr) {
        record->last_error = 0;
        return false;
    }
    *count = 0;
    return true;
}

enum class PieceResult { kSent, kFailed };


/* Hands one piece to the socket layer, polling while the printer is busy.
 * The transfer time-out applies only after a partial send: a piece fails
 * when part of it was accepted after no progress for the whole time-out. */
PieceResult SendPiece(HandleRecord* record, const char* piece, int length) {
    ULONGLONG start = Now();
    DWORD limit = RecordTimeoutMs(record);
    if (!Enter(record->writing, record))
        return PieceResult::kFailed;
    for (;;) {
        int error;
        int sent = SendStep(record, piece, length, &error);
        if (sent == SOCKET_ERROR && error != WSAEWOULDBLOCK) {
            record->last_error = error;
            return PieceResult::kFailed;
        }
        if (sent != SOCKET_ERROR) {
            record->bytes_sent += sent;
            if (sent == length) {
                record->last_error = 0;
                return PieceResult::kSent;
            }
            if (TimedOut(start, limit)) {
                record->last_error = 0;
                return PieceResult::kFailed;
            }
            if (sent > 0) {
                piece += sent;
                length -= sent;
                start = Now();
            }
        }
        Sleep(kPollMs);
        if (!Enter(record->writing, record))
            return PieceResult::kFailed;
    }
}

/* --- cancel ------------------------------------------------------------ */

/* The wait for the printer's answer to the soft reset, bounded by the
 * transfer time-out of the configuration: a printer that keeps the
 * connection open without answering must not hold the caller for ever.
 * The values are read for this wait only; the library's last-read TIME
 * and RETRY belong to the opens. */
DWORD CancelReplyWaitMs(HandleRecord* record) {
    TimeAndRetry config = QueryTimeAndRetry();
    record->wait_seconds = config.wait_seconds;
    record->retry_count = config.retry_count;
    DWORD wait = RecordTimeoutMs(record);
    return wait < 1000 ? 1000 : wait;
}

/* Connects a blocking socket to the command port of `target` (network
 * byte order), sends the soft reset, takes one answer whatever it is,
 * says goodbye and disconnects. True once connected. */
bool CancelExchange(HandleRecord* record, ULONG target) {
    record->socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (record->socket == INVALID_SOCKET)
        return false;
    sockaddr_in peer = {};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(kCommandPort);
    peer.sin_addr.s_addr = target;
    BindToTargetSubnet(record->socket, target);
    DWORD reply_wait = CancelReplyWaitMs(record);
    setsockopt(record->socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&reply_wait),
               sizeof reply_wait);
    if (connect(record->socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        CloseRecordSocket(record);
        return false;
    }
    char reply[kCancelReplySize];
    send(record->socket, kSoftResetCommand, kCommandSize, 0);
    recv(record->socket, reply, sizeof reply, 0);
    send(record->socket, kQuitCommand, kCommandSize, 0);
    CloseRecordSocket(record);
    Sleep(kCancelPauseMs);
    return true;
}

}  // namespace

/* --- exported operations ----------------------------------------------- */

OvHandle OpenPort(const char* host) {
    if (host == nullptr)
        return FailOpen(ERROR_INVALID_PARAMETER);
    HandleRecord* record = AllocRecord();
    if (record == nullptr)
        return FailOpen(ERROR_NOT_ENOUGH_MEMORY);
    TimeAndRetry config = ReadTimeAndRetry();
    record->open_timeout = ReadOpenTimeout();
    record->wait_seconds = config.wait_seconds;
    record->retry_count = config.retry_count;
    DWORD error = CreateSemaphores(record);
    if (error == 0 && (host[0] == '\0' || !CopyHostText(record, host)))
        error = ERROR_INVALID_PARAMETER;
    else if (error == 0 && !Connect(record, kPrintPort))
        error = static_cast<DWORD>(record->last_error.load());
    if (error == 0) {
        g_open_ports.Add(record);
        return HandleOf(record);
    }
    CloseRecordSocket(record);
    CloseSemaphores(record);
    FreeRecord(record);
    return FailOpen(error);
}

int ClosePort(OvHandle handle) {
    HandleRecord* record = RecordOf(handle);
    if (record == nullptr || !g_open_ports.ClaimForClose(record))
        return 0;
    PassBothSemaphores(record);
    WaitForTransfersToStop(record);
    int result = Disconnect(record);
    // `closing` stays raised until the record is gone: a call that comes
    // in during the drain or after it is refused, never let at the socket
    // or the semaphores.
    g_open_ports.Remove(record);
    WaitForCallsToLeave(record);
    CloseSemaphores(record);
    FreeRecord(record);
    return result;
}

int ReadPort(OvHandle handle, void* buffer, DWORD size, DWORD* received) {
    PortCall call(handle);
    HandleRecord* record = call.record();
    if (record == nullptr)
        return 0;
    if (!CheckTransferArguments(record, buffer, received))
        return 0;
    ULONGLONG start = Now();
    DWORD limit = RecordTimeoutMs(record);
    if (!Enter(record->reading, record)) {
        record->last_error = -1;
        return 0;
    }
    for (;;) {
        int error;
        int got = ReceiveStep(record, buffer, size, &error);
        if (got != SOCKET_ERROR)
            return Received(record, got, received);
        if (error != WSAEWOULDBLOCK) {
            record->last_error = error;
            return 0;
        }
        if (TimedOut(start, limit)) {
            record->last_error = 0;
            return 1;
        }
        Sleep(kPollMs);
        if (!Enter(record->reading, record)) {
            record->last_error = -1;
            return 0;
        }
    }
}

int RecvPort(OvHandle handle, void* buffer, DWORD size, DWORD* received) {
    PortCall call(handle);
    HandleRecord* record = call.record();
    if (record == nullptr)
        return 0;
    if (!CheckTransferArguments(record, buffer, received))
        return 0;
    if (!Enter(record->reading, record)) {
        record->last_error = 0;
        return 0;
    }
    int error;
    int got = ReceiveStep(record, buffer, size, &error);
    if (got != SOCKET_ERROR)
        return Received(record, got, received);
    record->last_error = error == WSAEWOULDBLOCK ? 0 : error;
    return 0;
}

int WritePort(OvHandle handle, const void* data, DWORD size, DWORD* written) {
    PortCall call(handle);
    HandleRecord* record = call.record();
    if (record == nullptr)
        return 0;
    if (!CheckTransferArguments(record, data, written))
        return 0;
    record->bytes_sent = 0;
    const char* next = static_cast<const char*>(data);
    DWORD remaining = size;
    int result = 1;
    while (remaining > 0) {
        int length = static_cast<int>(remaining < kPieceSize ? remaining : kPieceSize);
        if (SendPiece(record, next, length) != PieceResult::kSent) {
            result = 0;
            break;
        }
        next += length;
        remaining -= length;
    }
    *written = static_cast<DWORD>(record->bytes_sent);
    return result;
}

int SendCancel(const char* address) {
    if (address == nullptr)
        return 0;
    HandleRecord* record = AllocRecord();
    if (record == nullptr)
        return 0;
    // Names are not resolved: only a dotted address gives a target.
    ULONG target = CopyHostText(record, address) ? inet_addr(record->address) : INADDR_NONE;
    int result = target != INADDR_NONE && CancelExchange(record, target) ? 1 : 0;
    FreeRecord(record);
    return result;
}

}  // namespace orv
