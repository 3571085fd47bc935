// Local-port figures (a benchmark, not a test): 1 MiB through the serial
// pair (COM21 -> COM22) and through a named pipe, once with the library's
// OvWritePort_* / OvRecvPort_* and once with a plain overlapped WriteFile /
// ReadFile loop, the processor time that the busy pause between tries
// costs per second of waiting, and the share of the pipe's time that the
// hex dump of each receive takes.
#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench_clock.h"
#include "localport/peers.h"
#include "log.h"
#include "ovapi.h"

namespace {

using Recv = decltype(&OvRecvPort_COM);

constexpr DWORD kJobBytes = 1u << 20;

/* One overlapped transfer waited for to its end; the bytes moved. */
DWORD PlainTransfer(HANDLE handle, bool write, void* data, DWORD size) {
    OVERLAPPED control = {};
    control.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD moved = 0;
    BOOL done = write ? WriteFile(handle, data, size, &moved, &control)
                      : ReadFile(handle, data, size, &moved, &control);
    if (!done && GetLastError() == ERROR_IO_PENDING)
        GetOverlappedResult(handle, &control, &moved, TRUE);
    CloseHandle(control.hEvent);
    return moved;
}

using Send = DWORD (*)(OvApi&, HANDLE, const std::string&);
using Take = DWORD (*)(OvApi&, HANDLE, char*, DWORD);

DWORD LibrarySendCom(OvApi& api, HANDLE h, const std::string& job) {
    DWORD written = 0, error = 0;
    api.WritePort_COM(h, job.data(), static_cast<DWORD>(job.size()), &written, 60000, &error);
    return written;
}
DWORD LibraryTakeCom(OvApi& api, HANDLE h, char* buffer, DWORD size) {
    DWORD received = 0, error = 0;
    api.RecvPort_COM(h, buffer, size, &received, 200, &error);
    return received;
}
DWORD LibrarySendUsb(OvApi& api, HANDLE h, const std::string& job) {
    DWORD written = 0, error = 0;
    api.WritePort_USB(h, job.data(), static_cast<DWORD>(job.size()), &written, 60000, &error);
    return written;
}
DWORD LibraryTakeUsb(OvApi& api, HANDLE h, char* buffer, DWORD size) {
    DWORD received = 0, error = 0;
    api.RecvPort_USB(h, buffer, size, &received, 200, &error);
    return received;
}
DWORD PlainSend(OvApi&, HANDLE h, const std::string& job) {
    std::string copy = job;
    return PlainTransfer(h, true, &copy[0], static_cast<DWORD>(copy.size()));
}
DWORD PlainTake(OvApi&, HANDLE h, char* buffer, DWORD size) {
    return PlainTransfer(h, false, buffer, size);
}

/* MiB/s of 1 MiB sent on `from` and taken in pieces of `piece` bytes on
 * `to`; -1 when not everything arrived intact. */
double Rate(OvApi& api, HANDLE from, HANDLE to, Send send, Take take, DWORD piece_size) {
    const std::string job = Pattern(kJobBytes, 1);
    std::string arrived;
    LARGE_INTEGER start = Now();
    std::thread writer([&] { send(api, from, job); });
    std::string piece(piece_size, '\0');
    int idle = 0;
    while (arrived.size() < job.size() && idle < 20) {
        DWORD n = take(api, to, &piece[0], piece_size);
        arrived.append(piece.data(), n);
        idle = n == 0 ? idle + 1 : 0;
    }
    double seconds = SecondsSince(start);
    writer.join();
    return arrived == job ? kJobBytes / 1048576.0 / seconds : -1;
}

double ThreadCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    return CpuSeconds(kernel, user);
}

/* Processor seconds per wall second of a receive that waits for nothing. */
double WaitingCost(Recv recv, HANDLE port) {
    char buffer[16];
    DWORD received = 0, error = 0;
    double cpu = ThreadCpuSeconds();
    LARGE_INTEGER start = Now();
    recv(port, buffer, sizeof buffer, &received, 1000, &error);
    return (ThreadCpuSeconds() - cpu) / SecondsSince(start);
}

/* Microseconds of one trace line when only the debugger output gets it. */
double TraceLineMicroseconds() {
    constexpr int kLines = 2000;
    LARGE_INTEGER start = Now();
    for (int i = 0; i < kLines; ++i)
        orv::LogLine(orv::kLogStamped, "OvRecvPort_COM ReadFile dwRecvByte = %d\n", i);
    return SecondsSince(start) * 1e6 / kLines;
}

/* Seconds of the hex dump that a receive of `bytes` writes (16 bytes a
 * debugger line), the median of a few. */
double DumpSeconds(DWORD bytes) {
    const std::string data = Pattern(bytes);
    std::vector<double> runs;
    for (int i = 0; i < 5; ++i) {
        LARGE_INTEGER start = Now();
        orv::LogDump(data.data(), data.size());
        runs.push_back(SecondsSince(start));
    }
    return Median(runs);
}

void Row(const char* what, double rate) {
    if (rate < 0)
        printf("  %-44s   failed\n", what);
    else
        printf("  %-44s %8.2f MiB/s\n", what, rate);
}

}  // namespace

int main() {
    OvApi api;
    if (!api.Load()) {
        fprintf(stderr, "cannot load orvcomms.dll\n");
        return 1;
    }
    DWORD error = 0;
    HANDLE com = api.OpenPort_COM(kSerialPort, &error);
    HANDLE peer = CreateFileA(kSerialPeer, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (com == INVALID_HANDLE_VALUE || peer == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "no serial pair (scripts/serial-env.sh start)\n");
        return 1;
    }
    printf("1 MiB through the serial pair %s -> %s and a named pipe\n", kSerialPort, kSerialPeer);
    // A pseudo-terminal queues at most 4095 bytes: a receive of 4096 needs
    // a second try, 50 ms later, almost every time.
    for (DWORD piece : {1024u, 4096u}) {
        printf(" receives of %lu bytes\n", piece);
        Row("serial: OvWritePort_COM / OvRecvPort_COM", Rate(api, com, peer, LibrarySendCom, LibraryTakeCom, piece));
        PurgeComm(peer, PURGE_RXCLEAR);
        Row("serial: overlapped WriteFile / ReadFile", Rate(api, com, peer, PlainSend, PlainTake, piece));
        PurgeComm(peer, PURGE_RXCLEAR);
    }

    PipeDevice pipe("usb#vid_04b8&pid_0005#bench", 65536);
    HANDLE usb = api.OpenPort_USB(pipe.name().c_str(), &error);
    if (usb == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot open the pipe\n");
        return 1;
    }
    printf(" receives of 4096 bytes\n");
    const double pipe_rate = Rate(api, usb, pipe.handle(), LibrarySendUsb, LibraryTakeUsb, 4096);
    Row("pipe: OvWritePort_USB / OvRecvPort_USB", pipe_rate);
    Row("pipe: overlapped WriteFile / ReadFile", Rate(api, usb, pipe.handle(), PlainSend, PlainTake, 4096));

    printf("processor time per second of waiting (receive, nothing arrives, time-out 1000 ms)\n");
    PurgeComm(com, PURGE_RXCLEAR);
    printf("  %-44s %8.2f s/s\n", "serial: tries 50 ms apart, busy pause", WaitingCost(api.RecvPort_COM, com));
    printf("  %-44s %8.2f s/s\n", "pipe: one wait of 1000 ms per try", WaitingCost(api.RecvPort_USB, usb));
    printf("one trace line, debugger output only: %.0f us (a receive try writes about 12)\n",
           TraceLineMicroseconds());
    // The pipe run's receives each got 4096 bytes at once and dumped them.
    const double dump = DumpSeconds(4096);
    const DWORD receives = kJobBytes / 4096;
    printf("hex dump of one 4096-byte receive (256 lines): %.1f ms", dump * 1e3);
    if (pipe_rate > 0)
        printf("; %lu of them are %.0f %% of the pipe's 1 MiB", static_cast<unsigned long>(receives),
               100.0 * receives * dump * pipe_rate);
    printf("\n");
    api.ClosePort_USB(usb, &error);
    api.ClosePort_COM(com, &error);
    CloseHandle(peer);
    return 0;
}
