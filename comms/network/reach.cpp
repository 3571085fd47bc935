/*
 * reach.cpp - whether an address answers at all.
 *
 * The echo check loads "ICMP.DLL" at run time, so the library itself
 * imports nothing beyond the platform's core DLLs, and sends one echo.
 * It loads the file by its full path in the system folder: given a bare
 * name, Windows looks in the host program's folder first, and a planted
 * ICMP.DLL there would run inside every tool that uses this library.
 * The connect probe starts a TCP connection to port 80 and waits for the
 * socket layer's connect notification inside a hidden window's message
 * loop, at most one second. Both build a record for the length of the
 * call only, so their single result is the returned value.
 *
 * "Answers" means the host itself answered: an echo reply, or the host's
 * TCP accepting or refusing the connection. An error that the network
 * reports on the host's behalf (host or network unreachable) is no answer.
 */
#include "reach.h"

#include <winsock2.h>
#include <windows.h>
#include <ipexport.h>
#include <mstcpip.h>

#include <atomic>
#include <cstring>
#include <memory>

#include "heap_blocks.h"
#include "hidden_window.h"
#include "internal.h"
#include "netif.h"
#include "socket_calls.h"

namespace orv {

namespace {

std::atomic<int> g_use_icmp{1};

using RecordPtr = std::unique_ptr<HandleRecord, decltype(&FreeRecord)>;

/* The private record of one check, with the caller's text copied in; an
 * empty text (which would name this machine) or one longer than the
 * record's field is refused, never cut to a different host. */
RecordPtr CheckRecord(const char* address) {
    RecordPtr record(nullptr, &FreeRecord);
    if (address == nullptr || address[0] == '\0')
        return record;
    record.reset(AllocRecord());
    if (record && !CopyHostText(record.get(), address))
        record.reset();
    return record;
}

/* --- echo check -------------------------------------------------------- */

constexpr char kIcmpLibrary[] = "ICMP.DLL";
constexpr DWORD kEchoTimeoutMs = 1000;
constexpr WORD kEchoDataSize = 32;
constexpr unsigned char kEchoFill = 0xA5;
constexpr DWORD kIcmpErrorSize = 8;
// One reply record with the echoed data, and the room for an ICMP error
// message that the echo call asks for on top.
constexpr DWORD kReplyAreaSize = sizeof(ICMP_ECHO_REPLY) + kEchoDataSize + kIcmpErrorSize;

using IcmpCreateFileFn = HANDLE(WINAPI*)();
using IcmpCloseHandleFn = BOOL(WINAPI*)(HANDLE);
using IcmpSendEchoFn = DWORD(WINAPI*)(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID,
                                      DWORD, DWORD);

/* The system folder's ICMP.DLL, loaded by its full path; nullptr when
 * the path does not fit or the file does not load. */
HMODULE LoadSystemIcmp() {
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, sizeof path);
    if (length == 0 || length + 1 + sizeof kIcmpLibrary > sizeof path)  // the separator, the name, its end
        return nullptr;
    path[length] = '\\';
    memcpy(path + length + 1, kIcmpLibrary, sizeof kIcmpLibrary);
    return LoadLibraryA(path);
}

class LoadedLibrary {
  public:
    explicit LoadedLibrary(HMODULE module) : module_(module) {}
    ~LoadedLibrary() {
        if (module_ != nullptr)
            FreeLibrary(module_);
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    HMODULE get() const { return module_; }

    template <typename Fn>
    bool Find(Fn* fn, const char* name) const {
        *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
        return *fn != nullptr;
    }

  private:
    HMODULE module_;
};

struct EchoInterface {
    IcmpCreateFileFn create = nullptr;
    IcmpCloseHandleFn close = nullptr;
    IcmpSendEchoFn send = nullptr;

    bool Find(const LoadedLibrary& library) {
        return library.Find(&create, "IcmpCreateFile") && library.Find(&close, "IcmpCloseHandle") &&
               library.Find(&send, "IcmpSendEcho");
    }
};

/* One echo on an open echo handle; 1 when an echo reply came back. The
 * echo call also counts error replies (such as "host unreachable" from a
 * router), so the reply's status decides. */
int SendOneEcho(const EchoInterface& echo, HANDLE handle, IPAddr target) {
    unsigned char data[kEchoDataSize];
    memset(data, kEchoFill, sizeof data);
    GlobalBlock reply(kReplyAreaSize);
    if (reply.get() == nullptr)
        return 0;
    DWORD replies = echo.send(handle, target, data, kEchoDataSize, nullptr, reply.get(),
                              kReplyAreaSize, kEchoTimeoutMs);
    if (replies == 0)
        return 0;
    return static_cast<const ICMP_ECHO_REPLY*>(reply.get())->Status == IP_SUCCESS ? 1 : 0;
}

int EchoCheck(const char* address) {
    LoadedLibrary library(LoadSystemIcmp());
    if (library.get() == nullptr)
        return 0;
    IPAddr target;
    if (!LookUpFirstIpv4(address, &target))
        return 0;
    EchoInterface echo;
    if (!echo.Find(library))
        return 0;
    HANDLE handle = echo.create();
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    int result = SendOneEcho(echo, handle, target);
    echo.close(handle);
    return result;
}

/* --- connect probe ----------------------------------------------------- */

constexpr unsigned short kProbePort = 80;
constexpr UINT kConnectMessage = WM_USER + 105;  // 1129: the connection attempt completed
constexpr UINT kProbeWaitMs = 1000;
constexpr UINT kEndAtOnceMs = 1;

/* The probe's outcome in the record's `last_error`. A run starts at
 * kPending, which no outcome uses, so a pending connection is never taken
 * for the answer (0). */
constexpr LONG kPending = -1;
constexpr LONG kAnswered = 0;       // accepted or refused by the host
constexpr LONG kNoSocket = 16;      // the TCP socket could not be opened
constexpr LONG kNoAddress = 17;     // neither a dotted address nor a name that resolves
constexpr LONG kStartFailed = 18;   // the attempt failed at once
constexpr LONG kTimedOut = 19;      // no notification within kProbeWaitMs
constexpr LONG kUnreachable = 20;   // the network reported the host unreachable

/* Windows retries a connect that meets a reset (two more SYNs, 500 ms
 * apart) and reports the refusal only after about 2 s, well after the
 * probe's second, so a printer whose port 80 is closed would read as
 * silent. Asking for no SYN retransmissions makes the refusal come at
 * once (Windows 10 version 1709 and later). Older Windows refuses the
 * request and Wine answers WSAEOPNOTSUPP: the probe then goes ahead as
 * before. A lost first SYN costs nothing: its retransmission would come
 * after the probe's second anyway. */
void AskForNoSynRetransmissions(SOCKET socket) {
    TCP_INITIAL_RTO_PARAMETERS parameters = {};
    parameters.Rtt = TCP_INITIAL_RTO_UNSPECIFIED_RTT;                           // USHORT 0xFFFF: the system's own
    parameters.MaxSynRetransmissions = TCP_INITIAL_RTO_NO_SYN_RETRANSMISSIONS;  // UCHAR 0xFE: none
    static_assert(SIO_TCP_INITIAL_RTO == 0x98000011, "control code");
    DWORD returned = 0;
    g_socket_calls.ioctl(socket, SIO_TCP_INITIAL_RTO, &parameters, sizeof parameters, nullptr, 0, &returned,
                         nullptr, nullptr);
}

void CloseProbeSocket(HandleRecord* record) {
    if (record->socket == INVALID_SOCKET)
        return;
    shutdown(record->socket, SD_BOTH);
    closesocket(record->socket);
    record->socket = INVALID_SOCKET;
}

/* Records the outcome, and the platform's error behind it for the
 * caller's GetLastError, and ends the run as soon as the loop runs. */
void Decide(HWND window, HandleRecord* record, LONG outcome, DWORD error) {
    record->last_error = outcome;
    record->failure = error;
    ArmRunTimer(window, kEndAtOnceMs);
}

/* WM_CREATE: start the connection and arm the one-second wait. */
void StartProbe(HWND window, HandleRecord* record) {
    record->socket = socket(AF_INET, SOCK_STREAM, 0);
    if (record->socket == INVALID_SOCKET) {
        Decide(window, record, kNoSocket, WSAGetLastError());
        return;
    }
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    target.sin_port = htons(kProbePort);
    if (!ResolveIpv4(record->address, &target.sin_addr.s_addr)) {
        CloseProbeSocket(record);
        Decide(window, record, kNoAddress, WSAHOST_NOT_FOUND);
        return;
    }
    BindToTargetSubnet(record->socket, target.sin_addr.s_addr);
    AskForNoSynRetransmissions(record->socket);
    BOOL reuse = TRUE;
    if (WSAAsyncSelect(record->socket, window, kConnectMessage, FD_CONNECT) == SOCKET_ERROR ||
        setsockopt(record->socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
                   sizeof reuse) == SOCKET_ERROR ||
        (g_socket_calls.connect(record->socket, reinterpret_cast<const sockaddr*>(&target),
                                sizeof target) == SOCKET_ERROR &&
         WSAGetLastError() != WSAEWOULDBLOCK)) {
        int error = WSAGetLastError();
        CloseProbeSocket(record);
        Decide(window, record, kStartFailed, error);
        return;
    }
    ArmRunTimer(window, kProbeWaitMs);
}

/* Message 1129. A refusal is an answer as good as an acceptance: the
 * host's own TCP turned the connection down. */
void TakeConnectEvent(HWND window, HandleRecord* record, WPARAM notified_socket, LPARAM event) {
    if (WSAGETSELECTEVENT(event) != FD_CONNECT || notified_socket != record->socket ||
        record->last_error != kPending)
        return;
    int error = WSAGETSELECTERROR(event);
    CloseProbeSocket(record);
    if (error == 0 || error == WSAECONNREFUSED)
        Decide(window, record, kAnswered, 0);
    else
        Decide(window, record, kUnreachable, error);
}

void EndProbe(HWND window, HandleRecord* record) {
    KillTimer(window, kRunTimer);
    if (record->last_error == kPending) {
        record->last_error = kTimedOut;
        record->failure = WSAETIMEDOUT;
        CloseProbeSocket(record);
    }
    DestroyWindow(window);
}

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CREATE) {
        LastErrorKept kept;
        StartProbe(window, static_cast<HandleRecord*>(AttachCreateParam(window, lparam)));
        return 0;
    }
    auto* record = static_cast<HandleRecord*>(AttachedParam(window));
    if (record == nullptr)
        return DefWindowProcA(window, message, wparam, lparam);
    switch (message) {
    case kConnectMessage:
        TakeConnectEvent(window, record, wparam, lparam);
        return 0;
    case WM_TIMER:
        if (wparam == kRunTimer)
            EndProbe(window, record);
        return 0;
    case WM_DESTROY:
        CloseProbeSocket(record);  // already closed unless the window was destroyed from outside
        PostRunEnd(window);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

/* One probe run under a class of its own: "HTTPCONNECT <tick> <address>
 * <block>", the block being a heap byte that exists only to make the name
 * unique among runs on other threads. True when the host answered;
 * otherwise the record's `failure` tells why. */
bool RunProbe(HandleRecord* record) {
    LocalBlock unique(1);
    if (unique.get() == nullptr) {
        record->failure = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    char class_name[kClassNameSize];
    if (!FormatRunClassName(class_name, sizeof class_name, "HTTPCONNECT", record->address, unique.get())) {
        record->failure = ERROR_INVALID_PARAMETER;
        return false;
    }
    ScopedHiddenClass window_class(record->instance, class_name, ProbeWindowProc);
    if (!window_class.registered()) {
        record->failure = window_class.error();
        return false;
    }
    record->last_error = kPending;
    if (!RunHiddenWindow(record->instance, class_name, kHiddenWindowClipStyle, record)) {
        record->failure = GetLastError();
        CloseProbeSocket(record);  // opened by a WM_CREATE that ran all the same
        return false;
    }
    return record->last_error == kAnswered;
}

}  // namespace

int SendIcmp(const char* address) {
    RecordPtr record = CheckRecord(address);
    if (!record)
        return 0;
    return EchoCheck(record->address);
}

namespace {

/* The probe with its record; 0 with the reason in *failure. */
int ProbeAddress(const char* address, DWORD* failure) {
    RecordPtr record = CheckRecord(address);
    if (!record) {
        *failure = ERROR_INVALID_PARAMETER;
        return 0;
    }
    if (RunProbe(record.get()))
        return 1;
    *failure = record->failure;
    return 0;
}

}  // namespace

int SendIcmpAsync(const char* address) {
    DWORD failure = 0;
    if (ProbeAddress(address, &failure))
        return 1;
    // Set after the record and the class are gone, whose release may
    // touch the thread's last error.
    SetLastError(failure);
    return 0;
}

int SetUseIcmp(int flag) {
    g_use_icmp = flag;
    return 1;
}

}  // namespace orv
