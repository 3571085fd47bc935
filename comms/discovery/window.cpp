/*
 * window.cpp - the search handle and the ARP-table search
 * (OvSendSearch).
 *
 * A run sends one ICMP echo to the broadcast address of every interface,
 * so that the devices answer and thereby enter this machine's ARP cache,
 * then waits in a hidden window's message loop until its timer fires and
 * reads the ARP table (arp.cpp). The wait runs the thread's
 * message loop rather than sleeping, so a caller's own windows on the
 * same thread stay responsive during the search. As those windows may
 * call the library meanwhile, a run holds its handle: a second run or a
 * close of the handle is refused until the run has ended.
 */
#include <cstdio>

#include "discovery.h"
#include "internal.h"
#include "network/hidden_window.h"

namespace orv {

namespace {

constexpr char kSearchClassBase[] = "DmrxSearchClass";

void SendBroadcastEcho(const MIB_IPADDRROW& row) {
    ScopedSocket socket(g_discovery_calls.socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
    // Windows gives raw sockets to administrators only (10013 for anyone
    // else): no echo goes out, and the run still waits and scans.
    if (!socket.valid())
        return;
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = row.dwAddr;
    bind(socket.get(), reinterpret_cast<sockaddr*>(&local), sizeof local);
    // Windows sends to a broadcast address without this option; Linux,
    // and so Wine, refuses the send (WSAEACCES) unless it is set.
    BOOL on = TRUE;
    setsockopt(socket.get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);

    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = (row.dwAddr & row.dwMask) | ~row.dwMask;
    unsigned char echo[kBroadcastEchoSize];
    BuildBroadcastEcho(echo, static_cast<DWORD>(GetTickCount64()));
    sendto(socket.get(), reinterpret_cast<const char*>(echo), sizeof echo, 0,
           reinterpret_cast<sockaddr*>(&to), sizeof to);
}

void SendBroadcastEchoes() {
    InterfaceTable rows = QueryInterfaceTable();
    for (DWORD i = 0; i < rows.size(); ++i) {
        if (!IsLoopbackRow(rows[i]))
            SendBroadcastEcho(rows[i]);
    }
}

/* The wait in milliseconds, held to what a timer can take (24.8 days). */
UINT TimerMilliseconds(DWORD wait_seconds) {
    static_assert(kMaxWaitMs <= USER_TIMER_MAXIMUM, "timer range");
    return SecondsToWaitMs(wait_seconds);
}

LRESULT OnCreate(HWND window, LPARAM lparam) {
    LastErrorKept kept;
    auto* job = static_cast<SearchJob*>(AttachCreateParam(window, lparam));
    *job->count = 0;
    SendBroadcastEchoes();
    ArmRunTimer(window, TimerMilliseconds(job->wait_seconds));
    return 0;
}

LRESULT OnTimer(HWND window, WPARAM timer) {
    if (timer != kRunTimer)
        return 0;
    KillTimer(window, kRunTimer);
    auto* job = static_cast<SearchJob*>(AttachedParam(window));
    HandleRecord* record = RecordOf(job->handle);
    if (record != nullptr) {
        record->last_error = 1;
        ArpScan(*job);
    }
    DestroyWindow(window);
    return 0;
}

LRESULT CALLBACK SearchWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE:
            return OnCreate(window, lparam);
        case WM_TIMER:
            return OnTimer(window, wparam);
        case WM_DESTROY:
            PostRunEnd(window);
            return 0;
        default:
            return DefWindowProcA(window, message, wparam, lparam);
    }
}

}  // namespace

OvHandle OpenSearch() {
    HandleRecord* record = AllocRecord();
    return record == nullptr ? FailOpen(ERROR_NOT_ENOUGH_MEMORY) : HandleOf(record);
}

int CloseSearch(OvHandle handle) {
    HandleRecord* record = RecordOf(handle);
    if (record == nullptr || !ClaimHandle(record))
        return 0;
    return FreeRecord(record) ? 1 : 0;
}

int SendSearch(OvHandle handle, void* results, DWORD capacity, DWORD wait_seconds, DWORD spare,
               DWORD* count, const char* prefix) {
    HandleRecord* record = RecordOf(handle);
    if (record == nullptr)
        return 0;
    // One run per handle: a second one would take over the handle's class
    // name and outcome while the first still waits.
    HandleClaim claim(record);
    if (!claim.held())
        return 0;
    record->last_error = 0;
    if (results == nullptr || count == nullptr)
        return 0;
    SearchJob job = {handle,
                     results,
                     capacity == 0 ? kDefaultCapacity : capacity,
                     wait_seconds,
                     spare,
                     count,
                     prefix == nullptr ? "" : prefix,
                     record->class_name};
    snprintf(record->class_name, kClassNameSize, "%s %llu", kSearchClassBase,
             static_cast<unsigned long long>(GetTickCount64()));
    DWORD window_error = 0;
    {
        ScopedHiddenClass search_class(record->instance, record->class_name, SearchWindowProc);
        if (!RunHiddenWindow(record->instance, record->class_name, kHiddenWindowStyle, &job))
            window_error = search_class.registered() ? GetLastError() : search_class.error();
    }
    if (record->last_error != 0)
        return 1;
    // A window that could not be made leaves OvGetError at 0; its reason
    // goes to the thread, once the class is gone.
    if (window_error != 0)
        SetLastError(window_error);
    return 0;
}

}  // namespace orv
