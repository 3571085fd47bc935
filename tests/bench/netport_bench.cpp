// Print-channel figures (a benchmark, not a test): the rate of a 64 MiB
// OvWritePort against a printer that reads as fast as it can, beside a
// plain loop of blocking Winsock sends of the same piece size on the same
// address, and the wall time of one open + 1 KiB write + close. It runs
// the library's code linked in, so that it can count the write's 100 ms
// pauses: one after every send that would block or took part of a piece.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

#include "bench_clock.h"
#include "network/netport.h"
#include "ovapi.h"
#include "printer_sim.h"
#include "network/socket_calls.h"

namespace {

constexpr size_t kJobBytes = 64u << 20;
constexpr int kPiece = 16384;
constexpr int kRounds = 3;
constexpr char kAddress[] = "127.1.0.9";
constexpr double kPauseSeconds = 0.1;

std::atomic<long> g_would_block{0};  // sends that would block
std::atomic<long> g_part{0};         // sends that took part of a piece

int WSAAPI CountingSend(SOCKET s, const char* data, int length, int flags) {
    int sent = ::send(s, data, length, flags);
    if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK)
        ++g_would_block;
    else if (sent != SOCKET_ERROR && sent < length)
        ++g_part;
    return sent;
}

struct Write {
    double seconds;  // from the first byte handed over until the printer has them all; -1: failed
    long would_block, part;
};

Write LibraryWrite(SimPrinter& printer, const std::vector<char>& job) {
    printer.ResetStats();
    g_would_block = 0;
    g_part = 0;
    OvHandle port = orv::OpenPort(kAddress);
    if (port == OV_INVALID_HANDLE)
        return {-1, 0, 0};
    LARGE_INTEGER start = Now();
    DWORD written = 0;
    int ok = orv::WritePort(port, job.data(), static_cast<DWORD>(job.size()), &written);
    bool all = printer.WaitFor("received", static_cast<long long>(job.size()), 60000);
    double seconds = SecondsSince(start);
    orv::ClosePort(port);
    return {ok && all ? seconds : -1, g_would_block.load(), g_part.load()};
}

double PlainWrite(SimPrinter& printer, const std::vector<char>& job) {
    printer.ResetStats();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(9100);
    to.sin_addr.s_addr = inet_addr(kAddress);
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        closesocket(s);
        return -1;
    }
    LARGE_INTEGER start = Now();
    size_t sent = 0;
    while (sent < job.size()) {
        int piece = static_cast<int>(std::min<size_t>(kPiece, job.size() - sent));
        int n = send(s, job.data() + sent, piece, 0);
        if (n <= 0)
            break;
        sent += n;
    }
    bool all = printer.WaitFor("received", static_cast<long long>(job.size()), 60000);
    double seconds = SecondsSince(start);
    closesocket(s);
    return sent == job.size() && all ? seconds : -1;
}

double OpenWriteClose() {
    std::vector<char> kib(1024, 'k');
    LARGE_INTEGER start = Now();
    OvHandle port = orv::OpenPort(kAddress);
    if (port == OV_INVALID_HANDLE)
        return -1;
    DWORD written;
    orv::WritePort(port, kib.data(), 1024, &written);
    orv::ClosePort(port);
    return SecondsSince(start);
}

/* What one pair of semaphore calls costs here: every piece of a write
 * takes and gives back the write semaphore once. */
double SemaphorePairMicroseconds() {
    HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 1, nullptr);
    constexpr int kPairs = 4096;
    LARGE_INTEGER start = Now();
    for (int i = 0; i < kPairs; ++i) {
        WaitForSingleObject(semaphore, INFINITE);
        ReleaseSemaphore(semaphore, 1, nullptr);
    }
    double seconds = SecondsSince(start);
    CloseHandle(semaphore);
    return seconds * 1e6 / kPairs;
}

}  // namespace

int main() {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(1, 1), &wsa) != 0) {
        fprintf(stderr, "cannot start the socket layer\n");
        return 1;
    }
    orv::g_socket_calls.send = CountingSend;
    SimPrinter printer(kAddress);
    if (!printer.ok()) {
        fprintf(stderr, "printer simulator: %s\n", printer.error().c_str());
        return 1;
    }
    std::vector<char> job(kJobBytes, 'x');
    std::vector<Write> library;
    std::vector<double> plain;
    for (int round = 0; round < kRounds; ++round) {
        library.push_back(LibraryWrite(printer, job));
        plain.push_back(PlainWrite(printer, job));
    }
    auto failed = [](const Write& w) { return w.seconds < 0; };
    if (std::any_of(library.begin(), library.end(), failed) || *std::min_element(plain.begin(), plain.end()) < 0) {
        fprintf(stderr, "a transfer failed\n");
        return 1;
    }
    std::sort(library.begin(), library.end(), [](const Write& a, const Write& b) { return a.seconds < b.seconds; });
    const Write& median = library[library.size() / 2];
    double mib = kJobBytes / 1048576.0;
    double library_rate = mib / median.seconds;
    double plain_rate = mib / Median(plain);
    printf("write 64 MiB to %s:9100, median of %d rounds\n", kAddress, kRounds);
    printf("  OvWritePort                      %8.1f MiB/s\n", library_rate);
    printf("  blocking send loop (16384 B)     %8.1f MiB/s\n", plain_rate);
    printf("  ratio library / plain            %8.2f   (goal at least 0.90)\n", library_rate / plain_rate);
    long pauses = median.would_block + median.part;
    printf("  pauses of 100 ms in the write    %8ld   (would block %ld, part of a piece %ld) = %.1f s of %.1f s\n",
           pauses, median.would_block, median.part, pauses * kPauseSeconds, median.seconds);
    double pair_us = SemaphorePairMicroseconds();
    printf("  one semaphore wait + release     %8.1f us  (x %zu pieces = %.3f s of the write)\n",
           pair_us, kJobBytes / kPiece, pair_us * (kJobBytes / kPiece) / 1e6);

    std::vector<double> cycle;
    for (int i = 0; i < 5; ++i)
        cycle.push_back(OpenWriteClose());
    printf("OvOpenPort + 1 KiB OvWritePort + OvClosePort, median of 5: %.3f s\n", Median(cycle));
    printf("  (the close pauses 500 ms by design after the transfers end)\n");
    WSACleanup();
    return 0;
}
