/*
 * dhcp.cpp - the DHCP-request search: devices that have no
 * address yet broadcast DHCP client requests to UDP port 67; listening
 * there on every interface finds them by their client hardware address.
 *
 * One non-blocking socket per interface, polled in turn every 100 ms, so
 * that the search can also tell on which local network each device was
 * heard. Only the client hardware address of a request is read; nothing
 * is ever answered. The search holds its handle while it listens.
 */
#include "discovery.h"
#include "internal.h"

namespace orv {

namespace {

constexpr unsigned short kDhcpServerPort = 67;
constexpr DWORD kPassPauseMs = 100;
constexpr int kReceiveSize = 2048;
constexpr size_t kHardwareAddressOffset = 28;  // chaddr of a BOOTP/DHCP message
// A datagram that ends before the hardware address does is no request:
// read at the offset, its zero padding could pass the device filter.
constexpr size_t kShortestRequest = kHardwareAddressOffset + 6;

/* One listening socket per row of the interface table, INVALID_SOCKET
 * for a row without one; every socket is closed with the table. */
class ListenerTable {
  public:
    explicit ListenerTable(DWORD rows)
        : sockets_(static_cast<SOCKET*>(LocalAlloc(LPTR, rows * sizeof(SOCKET)))), size_(rows) {
        for (DWORD i = 0; sockets_ != nullptr && i < size_; ++i)
            sockets_[i] = INVALID_SOCKET;
    }
    ~ListenerTable() {
        if (sockets_ == nullptr)
            return;
        for (DWORD i = 0; i < size_; ++i)
            Close(i);
        LocalFree(sockets_);
    }
    ListenerTable(const ListenerTable&) = delete;
    ListenerTable& operator=(const ListenerTable&) = delete;

    bool allocated() const { return sockets_ != nullptr; }
    SOCKET at(DWORD i) const { return sockets_[i]; }
    void Keep(DWORD i, ScopedSocket socket) { sockets_[i] = socket.Release(); }
    void Close(DWORD i) {
        if (sockets_[i] != INVALID_SOCKET)
            closesocket(sockets_[i]);
        sockets_[i] = INVALID_SOCKET;
    }

  private:
    SOCKET* sockets_;  // local heap block, `size_` entries
    DWORD size_;
};

/* A non-blocking socket on port 67 of the row's address; none for the
 * loopback row, when the port is taken (a DHCP server here) or when the
 * socket cannot be made non-blocking (it would hold the search in recv). */
ScopedSocket OpenListener(const MIB_IPADDRROW& row) {
    if (IsLoopbackRow(row))
        return ScopedSocket();
    ScopedSocket socket(::socket(AF_INET, SOCK_DGRAM, 0));
    if (!socket.valid())
        return socket;
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = row.dwAddr;
    local.sin_port = htons(kDhcpServerPort);
    if (bind(socket.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        !MakeNonBlocking(socket.get()))
        return ScopedSocket();
    return socket;
}

void WriteInterfaceEntry(OvInterfaceEntry* entry, const MIB_IPADDRROW& row) {
    char text[16];
    FormatAddress(row.dwAddr, text);
    CopyField(entry->address, text);
    FormatAddress(row.dwMask, text);
    CopyField(entry->mask, text);
    FormatAddress(row.dwAddr & row.dwMask, text);
    CopyField(entry->network, text);
}

struct Listening {
    ResultList* list;
    OvInterfaceEntry* interfaces;  // may be null
};

void RecordRequest(const unsigned char* request, const MIB_IPADDRROW& row, const Listening& run) {
    char mac[kMacTextSize];
    FormatMac(request + kHardwareAddressOffset, mac);
    if (!run.list->TakesDevice(mac))
        return;
    if (run.interfaces != nullptr)
        WriteInterfaceEntry(&run.interfaces[run.list->count()], row);
    run.list->WriteMac(mac);
    run.list->Add();
}

/* One receive on one row's socket; a failure takes the interface out. */
void PollListener(ListenerTable& listeners, DWORD i, const MIB_IPADDRROW& row, const Listening& run) {
    unsigned char request[kReceiveSize];
    size_t length = 0;
    Received received = ReceiveDatagram(listeners.at(i), request, sizeof request, &length);
    if (received == Received::kFailed)
        listeners.Close(i);
    else if (received == Received::kDatagram && length >= kShortestRequest)
        RecordRequest(request, row, run);
}

}  // namespace

int SendSearchDhcp(OvHandle handle, void* results, void* interfaces, DWORD capacity,
                   DWORD seconds, DWORD multiplier, DWORD* count) {
    HandleRecord* record = RecordOf(handle);
    if (record == nullptr || results == nullptr || count == nullptr)
        return 0;
    // The handle is held for the whole listening time, so that a close
    // (or another search) on it from another thread is refused rather
    // than freeing the record under the search.
    HandleClaim claim(record);
    if (!claim.held())
        return 0;
    DWORD limit_ms = KeepListeningTime(record, seconds, multiplier);

    InterfaceTable rows = QueryInterfaceTable();
    if (rows.empty())
        return 1;
    ListenerTable listeners(rows.size());
    if (!listeners.allocated())
        return 0;
    for (DWORD i = 0; i < rows.size(); ++i)
        listeners.Keep(i, OpenListener(rows[i]));

    ResultList list(results, count, capacity);
    Listening run = {&list, static_cast<OvInterfaceEntry*>(interfaces)};
    ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < limit_ms) {
        for (DWORD i = 0; i < rows.size(); ++i) {
            if (listeners.at(i) != INVALID_SOCKET)
                PollListener(listeners, i, rows[i], run);
        }
        Sleep(kPassPauseMs);
    }
    return 1;
}

}  // namespace orv
