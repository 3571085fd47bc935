/*
 * status.cpp - the status channel on the printer's command port.
 *
 * Each exchange runs inside a hidden window's message loop on the
 * caller's thread: the window connects when it is created, sends the
 * 16-byte request and waits for the socket layer's notification of the
 * reply or for timer 1, whichever comes first. The loop keeps the
 * caller's own windows served while the exchange waits. A status handle
 * owns its window class from open to close, so the class name is made
 * unique per handle (tick count, host, record address).
 *
 * The request kind travels with the exchange (the window's creation
 * parameter), not in the handle, so exchanges on different threads never
 * see each other's kind. One handle serves one exchange at a time; a
 * second exchange (or a close) while one runs on the handle, from another
 * thread or from a window procedure dispatched by the running loop, is
 * refused instead of tearing the running one apart.
 */
#include "status.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>

#include "hidden_window.h"
#include "internal.h"
#include "netif.h"
#include "netport.h"

namespace orv {

namespace {

constexpr char kClassBase[] = "DmrxStatusClass";
constexpr UINT kSocketMessage = WM_USER + 101;  // 1125: the reply is readable
constexpr int kReplyReceiveSize = 256;          // one receive of at most this
constexpr UINT kEndAtOnceMs = 1;

// The requests, 16 bytes each, sent without terminator.
constexpr char kDeviceIdRequest[] = "GET_DEVICE_ID  \n";
constexpr char kStatusRequest[] = "GET_RQSENSEDT  \n";
constexpr int kRequestSize = 16;
static_assert(sizeof kDeviceIdRequest - 1 == kRequestSize, "request size");
static_assert(sizeof kStatusRequest - 1 == kRequestSize, "request size");

/* The creation parameter of an exchange's window. */
struct StatusExchange {
    HandleRecord* record;
    StatusRequest request;
};

/* TIME in milliseconds for timer 1; a TIME beyond what a window timer can
 * hold waits as long as the timer can. */
UINT ReplyWaitMs(const HandleRecord* record) {
    // The configuration's longest wait is also the longest timer.
    static_assert(kMaxWaitMs <= USER_TIMER_MAXIMUM, "timer range");
    return SecondsToWaitMs(record->wait_seconds);
}

/* The last IPv4 address the host resolves to, in network byte order; 0,
 * or the resolution's error (11001 for a name that does not resolve). */
int ResolveLastIpv4(const char* host, ULONG* target) {
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* answers = nullptr;
    int error = getaddrinfo(host, nullptr, &hints, &answers);
    if (error != 0)
        return error;
    bool found = false;
    for (const addrinfo* answer = answers; answer != nullptr; answer = answer->ai_next) {
        if (answer->ai_family != AF_INET || answer->ai_addr == nullptr)
            continue;
        *target = reinterpret_cast<const sockaddr_in*>(answer->ai_addr)->sin_addr.s_addr;
        found = true;
    }
    freeaddrinfo(answers);
    return found ? 0 : WSANO_DATA;
}

/* The platform's own blocking connect to the command port. Windows
 * retries a refused connect and fails it only after about 2 s; unlike
 * the connect probe, the exchange keeps those retries (and the
 * retransmission of a lost SYN), since it waits as long as the platform's
 * connect does anyway and a printer's port that comes up meanwhile is
 * then still reached. */
bool ConnectCommandPort(SOCKET socket, ULONG target) {
    sockaddr_in peer = {};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(kCommandPort);
    peer.sin_addr.s_addr = target;
    BindToTargetSubnet(socket, target);
    if (connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0)
        return true;
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

/* Ends the exchange with outcome 0 as soon as the loop runs; `error`
 * is what the caller's GetLastError will tell. */
void FailExchange(HWND window, HandleRecord* record, DWORD error) {
    record->failure = error;
    record->last_error = 0;
    ArmRunTimer(window, kEndAtOnceMs);
}

/* Opens the socket, connects it to the command port and asks for the
 * reply notification; 0, or the error of the step that failed. */
DWORD ConnectForReply(HWND window, HandleRecord* record) {
    record->socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (record->socket == INVALID_SOCKET)
        return WSAGetLastError();
    ULONG target = 0;
    int resolved = ResolveLastIpv4(record->address, &target);
    if (resolved != 0)
        return resolved;
    if (!ConnectCommandPort(record->socket, target))
        return WSAGetLastError();
    if (WSAAsyncSelect(record->socket, window, kSocketMessage, FD_READ) == SOCKET_ERROR)
        return WSAGetLastError();
    return 0;
}

/* WM_CREATE: connect, ask for the reply notification, send the request
 * and arm the reply wait. */
void StartExchange(HWND window, const StatusExchange* exchange) {
    HandleRecord* record = exchange->record;
    DWORD error = ConnectForReply(window, record);
    if (error != 0) {
        FailExchange(window, record, error);
        return;
    }
    const char* request = exchange->request == StatusRequest::kDeviceId ? kDeviceIdRequest : kStatusRequest;
    send(record->socket, request, kRequestSize, 0);
    ArmRunTimer(window, ReplyWaitMs(record));
}

/* Message 1125: one receive; what it brought, cut to the caller's size,
 * is the reply. A notification with nothing to read still ends the
 * exchange, as a reply of length 0. (A connection closed or reset without
 * data raises no notification, as only readable data is asked for; such
 * an exchange runs into timer 1.) */
void TakeReply(HWND window, HandleRecord* record, WPARAM notified_socket) {
    if (notified_socket != record->socket)
        return;  // a socket already closed
    char reply[kReplyReceiveSize];
    int got = recv(record->socket, reply, sizeof reply, 0);
    DWORD copied = 0;
    if (got > 0) {
        copied = static_cast<DWORD>(got);
        if (static_cast<int64_t>(copied) > record->reply_capacity)
            copied = static_cast<DWORD>(record->reply_capacity);
        if (copied > 0)
            memcpy(record->reply_buffer, reply, copied);
    }
    record->reply_length = copied;
    KillTimer(window, kRunTimer);
    record->last_error = 1;
    DestroyWindow(window);
}

void EndExchange(HWND window, HandleRecord* record) {
    KillTimer(window, kRunTimer);
    if (record->failure == 0)
        record->failure = WSAETIMEDOUT;  // no reply within TIME seconds
    record->last_error = 0;
    DestroyWindow(window);
}

void CloseExchangeSocket(HandleRecord* record) {
    if (record->socket != INVALID_SOCKET)
        closesocket(record->socket);
    record->socket = INVALID_SOCKET;
}

LRESULT CALLBACK StatusWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CREATE) {
        LastErrorKept kept;
        StartExchange(window, static_cast<StatusExchange*>(AttachCreateParam(window, lparam)));
        return 0;
    }
    auto* exchange = static_cast<StatusExchange*>(AttachedParam(window));
    if (exchange == nullptr)
        return DefWindowProcA(window, message, wparam, lparam);
    switch (message) {
    case kSocketMessage:
        TakeReply(window, exchange->record, wparam);
        return 0;
    case WM_TIMER:
        if (wparam == kRunTimer)
            EndExchange(window, exchange->record);
        return 0;
    case WM_DESTROY:
        CloseExchangeSocket(exchange->record);
        PostRunEnd(window);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

/* Registers the handle's own class, "DmrxStatusClass <tick> <host>
 * <record>"; 0, or the platform's error. */
DWORD RegisterStatusClass(HandleRecord* record) {
    if (!FormatRunClassName(record->class_name, kClassNameSize, kClassBase, record->address, record))
        return ERROR_INVALID_PARAMETER;
    if (!RegisterHiddenClass(record->instance, record->class_name, StatusWindowProc))
        return GetLastError();
    return 0;
}

}  // namespace

OvHandle OpenStatus(const char* host) {
    if (host == nullptr)
        return FailOpen(ERROR_INVALID_PARAMETER);
    HandleRecord* record = AllocRecord();
    if (record == nullptr)
        return FailOpen(ERROR_NOT_ENOUGH_MEMORY);
    record->last_error = 0;
    TimeAndRetry config = ReadTimeAndRetry();
    record->wait_seconds = config.wait_seconds;
    record->retry_count = config.retry_count;
    // An empty text would resolve to this machine itself.
    DWORD error = host[0] == '\0' || !CopyHostText(record, host) ? ERROR_INVALID_PARAMETER
                                                                 : RegisterStatusClass(record);
    if (error == 0)
        return HandleOf(record);
    FreeRecord(record);
    return FailOpen(error);
}

int Exchange(OvHandle handle, StatusRequest request, void* buffer, DWORD size, DWORD* length) {
    HandleRecord* record = RecordOf(handle);
    if (record == nullptr)
        return 0;
    HandleClaim claim(record);
    if (!claim.held()) {
        if (length != nullptr)
            *length = 0;  // the running exchange's reply is not this call's
        return 0;
    }
    // A failed exchange reports no reply, never the previous one's.
    record->last_error = 0;
    record->reply_length = 0;
    record->failure = 0;
    if (length == nullptr)
        return 0;
    *length = 0;
    if (buffer == nullptr && size != 0)
        return 0;
    record->reply_capacity = size;
    record->reply_buffer = static_cast<unsigned char*>(buffer);
    StatusExchange exchange = {record, request};
    if (!RunHiddenWindow(record->instance, record->class_name, kHiddenWindowClipStyle, &exchange)) {
        record->failure = GetLastError();
        CloseExchangeSocket(record);  // opened by a WM_CREATE that ran all the same
    }
    *length = record->reply_length;
    if (record->last_error != 0)
        return 1;
    // OvGetError keeps its outcome 0; the reason goes to the thread.
    SetLastError(record->failure);
    return 0;
}

int CloseStatus(OvHandle handle) {
    HandleRecord* record = RecordOf(handle);
    if (record == nullptr || !ClaimHandle(record))
        return 0;
    BOOL unregistered = UnregisterHiddenClass(record->instance, record->class_name);
    FreeRecord(record);
    return unregistered ? 1 : 0;
}

}  // namespace orv
