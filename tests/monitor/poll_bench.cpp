/*
 * poll_bench - what one PollRecord costs against Wine's registry: prints
 * figures, asserts nothing (scripts/bench.sh runs it).
 *
 * Built twice. monitor_poll_bench links the monitor code as shipped and
 * times polls: wall time by the performance counter, and CPU time of the
 * polling thread from Linux's per-thread scheduler statistics (Wine's
 * thread times tick in 10 ms steps, too coarse for one poll; they are
 * shown as a mean over all polls). Under Wine every registry call is a
 * request that the wineserver does the work of, so with --server-pid the
 * server's CPU time is shown too. Files below Z:\proc are opened by the
 * wineserver, so "self" there is the server: the program finds its own
 * Linux process by the --tag word on its command line, and its polling
 * thread as the one of that process that gains CPU time while this
 * thread spins for a moment. monitor_poll_count
 * links the traced copy of the monitor code and counts the registry calls
 * each kind of poll makes.
 */
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "record.h"
#include "rig.h"
#ifdef ORV_COUNT_REGISTRY_CALLS
#include "trace_log.h"
#endif

using namespace orv;

namespace {

#ifndef ORV_COUNT_REGISTRY_CALLS
/* A Linux schedstat file ("ns-on-cpu ns-waiting slices"), read again and
 * again through one open handle. */
class CpuClock {
  public:
    explicit CpuClock(const std::string& path) {
        file_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    }
    ~CpuClock() {
        if (file_ != INVALID_HANDLE_VALUE)
            CloseHandle(file_);
    }
    CpuClock(const CpuClock&) = delete;
    CpuClock& operator=(const CpuClock&) = delete;

    bool ok() const { return file_ != INVALID_HANDLE_VALUE; }
    /* Nanoseconds on the CPU so far, 0 when unreadable. */
    unsigned long long Read() const {
        char text[128] = {};
        DWORD size = 0;
        SetFilePointer(file_, 0, nullptr, FILE_BEGIN);
        if (!ReadFile(file_, text, sizeof text - 1, &size, nullptr))
            return 0;
        return strtoull(text, nullptr, 10);
    }

  private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

/* The Linux process id of this program: the one whose command line holds
 * `tag`; 0 when none does (not under Wine, or no tag given). */
int FindOwnLinuxPid(const std::string& tag) {
    if (tag.empty())
        return 0;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &entry);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int found = 0;
    do {
        int pid = atoi(entry.cFileName);
        if (pid <= 0)
            continue;
        HANDLE file = CreateFileA(("Z:\\proc\\" + std::string(entry.cFileName) + "\\cmdline").c_str(),
                                  GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        char line[4096];
        DWORD size = 0;
        ReadFile(file, line, sizeof line, &size, nullptr);
        CloseHandle(file);
        for (DWORD i = 0; i < size; ++i)
            if (line[i] == '\0')
                line[i] = ' ';
        // The wrapper that started this program (timeout) carries the tag too.
        std::string command(line, size);
        if (command.find(tag) != std::string::npos && command.compare(0, 7, "timeout") != 0)
            found = pid;
    } while (found == 0 && FindNextFileA(search, &entry));
    FindClose(search);
    return found;
}

unsigned long long ReadSchedstat(const std::string& path) {
    CpuClock clock(path);
    return clock.ok() ? clock.Read() : 0;
}

/* The schedstat path of the Linux thread that runs this Windows thread,
 * or "" when it cannot be told. */
std::string FindOwnThreadClock(int pid) {
    if (pid <= 0)
        return "";
    std::string tasks = "Z:\\proc\\" + std::to_string(pid) + "\\task\\";
    std::vector<std::string> paths;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((tasks + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return "";
    do {
        if (atoi(entry.cFileName) > 0)
            paths.push_back(tasks + entry.cFileName + "\\schedstat");
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    std::vector<unsigned long long> before;
    for (const std::string& path : paths)
        before.push_back(ReadSchedstat(path));
    LARGE_INTEGER start, now, frequency;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    do
        QueryPerformanceCounter(&now);
    while ((now.QuadPart - start.QuadPart) * 1000 < 30 * frequency.QuadPart);  // 30 ms
    std::string best;
    unsigned long long best_gain = 0;
    for (size_t i = 0; i < paths.size(); ++i) {
        unsigned long long gain = ReadSchedstat(paths[i]) - before[i];
        if (gain > best_gain) {
            best_gain = gain;
            best = paths[i];
        }
    }
    return best;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Mean(const std::vector<double>& values) {
    double sum = 0;
    for (double v : values)
        sum += v;
    return sum / values.size();
}

void PrintFigure(const char* what, const std::vector<double>& microseconds) {
    printf("  %-34s median %8.1f us   mean %8.1f us\n", what, Median(microseconds), Mean(microseconds));
}

double ThreadCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto seconds = [](FILETIME t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

int TimePolls(MonitorRig& rig, int polls, int own_pid, int server_pid) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    CpuClock own(FindOwnThreadClock(own_pid));
    CpuClock server(server_pid > 0 ? "Z:\\proc\\" + std::to_string(server_pid) + "\\schedstat" : "");
    std::vector<double> wall, cpu, server_cpu;
    double coarse_start = ThreadCpuSeconds();
    for (int i = 0; i < polls; ++i) {
        unsigned long long own_before = own.ok() ? own.Read() : 0;
        unsigned long long server_before = server.ok() ? server.Read() : 0;
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        int result = PollRecord(rig.window(), rig.state(), 1);
        QueryPerformanceCounter(&end);
        unsigned long long own_after = own.ok() ? own.Read() : 0;
        unsigned long long server_after = server.ok() ? server.Read() : 0;
        if (result != kPollDone) {
            fprintf(stderr, "poll %d failed with %d\n", i, result);
            return 1;
        }
        rig.state().first_poll_done = 1;
        wall.push_back((end.QuadPart - start.QuadPart) * 1e6 / frequency.QuadPart);
        cpu.push_back((own_after - own_before) / 1e3);
        server_cpu.push_back((server_after - server_before) / 1e3);
    }
    double coarse = ThreadCpuSeconds() - coarse_start;
    printf("one PollRecord, %d polls, status code %d:\n", polls, rig.state().current_code);
    PrintFigure("wall time", wall);
    if (own.ok())
        PrintFigure("CPU time of the polling thread", cpu);
    else
        printf("  CPU time of the polling thread     (no per-thread clock here)\n");
    printf("  %-34s mean   %8.1f us   (GetThreadTimes over all polls)\n", "CPU time, coarse clock",
           coarse * 1e6 / polls);
    if (server.ok())
        PrintFigure("CPU time of the wineserver", server_cpu);
    return 0;
}
#endif

#ifdef ORV_COUNT_REGISTRY_CALLS
void CountOnePoll(MonitorRig& rig, const char* what) {
    unsigned long before = RegistryCallCount();
    int result = PollRecord(rig.window(), rig.state(), 1);
    printf("  %-44s %lu registry calls (result %d)\n", what, RegistryCallCount() - before, result);
    rig.state().first_poll_done = 1;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    int polls = 1000, server_pid = 0;
    std::string tag;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--polls") == 0)
            polls = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--server-pid") == 0)
            server_pid = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--tag") == 0)
            tag = argv[i + 1];
    }
    (void)server_pid;
    MonitorRig rig(LocalModeSettings());
    if (!rig.ok() || polls < 1) {
        fprintf(stderr, "poll_bench: no private registry or window\n");
        return 1;
    }
#ifdef ORV_COUNT_REGISTRY_CALLS
    printf("registry calls of one PollRecord:\n");
    CountOnePoll(rig, "first poll, ready (notice values read)");
    CountOnePoll(rig, "later poll, ready (notice values read)");
    SetRecordString(kErrCode, "302");
    SetRecordString(kTskMode, "1");
    CountOnePoll(rig, "later poll, paper out (no notice values)");
    return 0;
#else
    int own_pid = FindOwnLinuxPid(tag);
    int status = TimePolls(rig, polls, own_pid, server_pid);
    SetRecordString(kErrCode, "302");
    SetRecordString(kTskMode, "1");
    return status | TimePolls(rig, polls, own_pid, server_pid);
#endif
}
