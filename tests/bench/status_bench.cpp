// Status-channel figures (a benchmark, not a test): 200 OvGetStatus
// exchanges against the printer simulator beside 200 plain exchanges of
// the same request (blocking connect, send, one receive, close) on the
// same address, in the same run, interleaved so that both see the same
// machine load. Prints both medians and their ratio; the goal is a ratio
// of at most 1.5. Two platform costs that every exchange of the library
// pays and the plain one does not, the hidden window's run and the
// interface table query of the subnet binding, are also timed alone, so
// the library's own share can be told from the platform's.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench_clock.h"
#include "network/hidden_window.h"
#include "network/netif.h"
#include "ovapi.h"
#include "printer_sim.h"

namespace {

constexpr int kExchanges = 200;
constexpr char kAddress[] = "127.1.0.10";
constexpr char kRequest[] = "GET_RQSENSEDT  \n";
constexpr int kRequestSize = 16;
constexpr int kReplySize = 16;  // the simulator's default status reply

double MillisecondsSince(LARGE_INTEGER start) {
    return 1000.0 * SecondsSince(start);
}

/* One library exchange in milliseconds, or -1 when it failed. */
double LibraryExchange(OvApi& api, OvHandle status) {
    unsigned char reply[256];
    DWORD length = 0;
    LARGE_INTEGER start = Now();
    int got = api.GetStatus(status, reply, sizeof reply, &length);
    double ms = MillisecondsSince(start);
    return got == 1 && length == kReplySize ? ms : -1;
}

double PlainExchange() {
    LARGE_INTEGER start = Now();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(9200);
    to.sin_addr.s_addr = inet_addr(kAddress);
    char reply[256];
    bool ok = connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
              send(s, kRequest, kRequestSize, 0) == kRequestSize &&
              recv(s, reply, sizeof reply, 0) == kReplySize;
    closesocket(s);
    double ms = MillisecondsSince(start);
    return ok ? ms : -1;
}

/* Ends its run on a posted message, as an exchange ends on the reply's
 * notification (a timer would add the platform's 10 ms minimum). */
LRESULT CALLBACK EndAtOnce(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    constexpr UINT kEnd = WM_APP;
    if (message == WM_CREATE) {
        SetTimer(window, orv::kRunTimer, 4000, nullptr);
        PostMessageA(window, kEnd, 0, 0);
        return 0;
    }
    if (message == kEnd) {
        KillTimer(window, orv::kRunTimer);
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

/* A hidden-window run that ends at once: window, timer, loop, destroy. */
double HiddenWindowRun(HINSTANCE instance, const char* class_name) {
    LARGE_INTEGER start = Now();
    bool ran = orv::RunHiddenWindow(instance, class_name, orv::kHiddenWindowClipStyle, nullptr);
    double ms = MillisecondsSince(start);
    return ran ? ms : -1;
}

double TableQuery() {
    LARGE_INTEGER start = Now();
    orv::InterfaceTable table = orv::QueryInterfaceTable();
    return MillisecondsSince(start);
}

}  // namespace

int main() {
    OvApi api;
    if (!api.Load() || !api.Startup(GetModuleHandleA(nullptr))) {
        fprintf(stderr, "cannot load and start orvcomms.dll\n");
        return 1;
    }
    SimPrinter printer(kAddress);
    if (!printer.ok()) {
        fprintf(stderr, "printer simulator: %s\n", printer.error().c_str());
        return 1;
    }
    OvHandle status = api.OpenStatus(kAddress);
    if (status == OV_INVALID_HANDLE) {
        fprintf(stderr, "OvOpenStatus failed\n");
        return 1;
    }
    HINSTANCE instance = GetModuleHandleA(nullptr);
    const char kClass[] = "OrvStatusBench window";
    orv::ScopedHiddenClass window_class(instance, kClass, EndAtOnce);
    std::vector<double> library, plain, window_runs, tables;
    for (int i = 0; i < kExchanges; ++i) {
        double ours = LibraryExchange(api, status);
        double theirs = PlainExchange();
        double run = HiddenWindowRun(instance, kClass);
        if (ours < 0 || theirs < 0 || run < 0) {
            fprintf(stderr, "exchange %d failed (library %.3f, plain %.3f, window %.3f)\n", i, ours,
                    theirs, run);
            return 1;
        }
        library.push_back(ours);
        plain.push_back(theirs);
        window_runs.push_back(run);
        tables.push_back(TableQuery());
    }
    api.CloseStatus(status);
    api.Cleanup();

    double ours = Median(library), theirs = Median(plain);
    double window = Median(window_runs), table = Median(tables);
    printf("status exchange, %d each on %s (median):\n", kExchanges, kAddress);
    printf("  OvGetStatus                      %8.3f ms\n", ours);
    printf("  plain connect/send/recv/close    %8.3f ms\n", theirs);
    printf("  ratio library / plain            %8.2f (goal: at most 1.5)\n", ours / theirs);
    printf("  platform costs inside each OvGetStatus, timed alone:\n");
    printf("    hidden window run              %8.3f ms\n", window);
    printf("    interface table query          %8.3f ms\n", table);
    printf("  OvGetStatus without those        %8.3f ms (%.2f x plain)\n", ours - window - table,
           (ours - window - table) / theirs);
    return 0;
}
