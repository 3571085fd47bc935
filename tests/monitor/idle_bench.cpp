/*
 * idle_bench - what the status monitor costs while it sits in the tray:
 * runs orvstsn.exe (local mode) idle for a while and prints its CPU time,
 * the wineserver's (which does the registry's work of the 500 ms polls
 * under Wine), and its GUI objects, handles and memory at the start and
 * the end. Prints figures, asserts nothing (scripts/bench.sh runs it).
 *
 *   monitor_idle_bench [--seconds N] [--server-pid PID]
 *
 * It uses the prefix's registry and the monitor's named mutex: run it
 * alone, not beside the tests.
 */
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "process_handles.h"
#include "program_rig.h"

namespace {

struct Sample {
    double cpu_seconds;     // the monitor's user and kernel time
    double server_seconds;  // the wineserver's, -1 when unknown
    DWORD gdi_objects;
    DWORD user_objects;
    long handles;
    long resident_kib;      // -1 when unknown
    DWORD tick;
};

/* CPU seconds of a Linux process from its schedstat (Z: is the Unix root). */
double LinuxCpuSeconds(int pid) {
    if (pid <= 0)
        return -1;
    std::string path = "Z:\\proc\\" + std::to_string(pid) + "\\schedstat";
    FILE* file = fopen(path.c_str(), "r");
    if (file == nullptr)
        return -1;
    unsigned long long nanoseconds = 0;
    int read = fscanf(file, "%llu", &nanoseconds);
    fclose(file);
    return read == 1 ? static_cast<double>(nanoseconds) / 1e9 : -1;
}

std::string ReadUnixFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    std::string content;
    char chunk[4096];
    DWORD size = 0;
    while (ReadFile(file, chunk, sizeof chunk, &size, nullptr) && size > 0)
        content.append(chunk, size);
    CloseHandle(file);
    return content;
}

/* The Linux process of the monitor: its command line names orvstsn.exe
 * and its environment this prefix. Under Wine another process's times
 * and memory are not reported, so they are read from Linux. */
int FindLinuxProcess() {
    char prefix[MAX_PATH] = {};
    GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    std::string wanted = std::string("WINEPREFIX=") + prefix;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int pid = 0;
    do {
        int candidate = atoi(found.cFileName);
        if (candidate <= 0)
            continue;
        std::string base = std::string("Z:\\proc\\") + found.cFileName;
        if (ReadUnixFile(base + "\\cmdline").find("orvstsn.exe") == std::string::npos)
            continue;
        std::string environment = ReadUnixFile(base + "\\environ");
        if (prefix[0] == '\0' || environment.find(wanted + '\0') != std::string::npos)
            pid = candidate;
    } while (pid == 0 && FindNextFileA(search, &found));
    FindClose(search);
    return pid;
}

/* Resident memory in KiB from Linux's statm (pages of 4 KiB). */
long ResidentKiB(int pid) {
    if (pid <= 0)
        return -1;
    unsigned long size = 0, resident = 0;
    std::string statm = ReadUnixFile("Z:\\proc\\" + std::to_string(pid) + "\\statm");
    if (sscanf(statm.c_str(), "%lu %lu", &size, &resident) != 2)
        return -1;
    return static_cast<long>(resident * 4);
}

Sample Take(const MonitorProcess& monitor, int monitor_pid, int server_pid) {
    Sample sample{};
    sample.cpu_seconds = LinuxCpuSeconds(monitor_pid);
    sample.server_seconds = LinuxCpuSeconds(server_pid);
    sample.gdi_objects = GetGuiResources(monitor.handle(), GR_GDIOBJECTS);
    sample.user_objects = GetGuiResources(monitor.handle(), GR_USEROBJECTS);
    sample.handles = CountHandlesOf(monitor.id());
    sample.resident_kib = ResidentKiB(monitor_pid);
    sample.tick = GetTickCount();
    return sample;
}

void PrintShare(const char* what, double start, double end, double wall) {
    if (start < 0 || end < 0) {
        printf("  %-34s unknown\n", what);
        return;
    }
    double used = end - start;
    printf("  %-34s %.3f s = %.3f %% of one core\n", what, used, 100.0 * used / wall);
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 60, server_pid = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--seconds") == 0)
            seconds = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--server-pid") == 0)
            server_pid = atoi(argv[i + 1]);
    }
    SpoolerRig machine;  // a clean record and position key, put back at the end
    SetReportedVersion("winxp");
    MonitorProcess monitor;
    HWND window = nullptr;
    if (!monitor.Start() || (window = monitor.WaitWindow()) == nullptr) {
        printf("the monitor did not start\n");
        SetReportedVersion(nullptr);
        return 1;
    }
    Sleep(2000);  // start-up done, in the tray, polling
    int monitor_pid = FindLinuxProcess();
    Sample start = Take(monitor, monitor_pid, server_pid);
    Sleep(static_cast<DWORD>(seconds) * 1000);
    Sample end = Take(monitor, monitor_pid, server_pid);
    double wall = (end.tick - start.tick) / 1000.0;

    printf("orvstsn.exe idle in the tray for %.1f s (polls every 500 ms)\n", wall);
    PrintShare("CPU time of orvstsn.exe", start.cpu_seconds, end.cpu_seconds, wall);
    PrintShare("CPU time of the wineserver", start.server_seconds, end.server_seconds, wall);
    printf("  %-34s start %lu, end %lu\n", "GDI objects (GetGuiResources)", start.gdi_objects, end.gdi_objects);
    printf("  %-34s start %lu, end %lu\n", "USER objects (GetGuiResources)", start.user_objects,
           end.user_objects);
    if (start.gdi_objects == 0 && end.gdi_objects == 0)
        printf("  (Wine's GetGuiResources answers 0; handles and memory below show growth instead)\n");
    printf("  %-34s start %ld, end %ld\n", "kernel handles", start.handles, end.handles);
    printf("  %-34s start %ld KiB, end %ld KiB\n", "resident memory", start.resident_kib, end.resident_kib);
    fflush(stdout);

    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    monitor.WaitExit(5000);
    SetReportedVersion(nullptr);
    return 0;
}
