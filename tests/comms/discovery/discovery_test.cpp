#include "discovery_test.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

constexpr char kRigControlAddress[] = "198.18.9.250";
constexpr u_short kRigControlPort = 19109;
constexpr DWORD kControlTimeoutMs = 5000;

/* A touch of the guard page ends the test program at once: the platform's
 * crash dialog would hold it until the test's time-out. */
LONG WINAPI EndOnCrash(EXCEPTION_POINTERS* crash) {
    fprintf(stderr, "exception %08lx at %p\n", crash->ExceptionRecord->ExceptionCode,
            crash->ExceptionRecord->ExceptionAddress);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

GuardedEntries::GuardedEntries(DWORD capacity) : capacity_(capacity) {
    SetUnhandledExceptionFilter(EndOnCrash);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    size_t bytes = capacity * sizeof(OvSearchEntry);
    size_t page = system.dwPageSize;
    size_t pages = (bytes + page - 1) / page + 1;  // and the guard page
    block_ = VirtualAlloc(nullptr, pages * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    char* guard = static_cast<char*>(block_) + (pages - 1) * page;
    DWORD old;
    VirtualProtect(guard, page, PAGE_NOACCESS, &old);
    entries_ = reinterpret_cast<OvSearchEntry*>(guard - bytes);
    memset(entries_, 'x', bytes);
}

GuardedEntries::~GuardedEntries() {
    VirtualFree(block_, 0, MEM_RELEASE);
}

std::string FieldText(const char (&field)[32]) {
    return std::string(field, strnlen(field, sizeof field));
}

bool Untouched(const char (&field)[32]) {
    return std::all_of(field, field + sizeof field, [](char c) { return c == 'x'; });
}

std::vector<std::string> Macs(GuardedEntries& entries, DWORD count) {
    std::vector<std::string> macs;
    for (DWORD i = 0; i < count && i < entries.capacity(); ++i)
        macs.push_back(FieldText(entries[i].mac));
    std::sort(macs.begin(), macs.end());
    return macs;
}

void DiscoveryTest::SetUp() {
    ASSERT_TRUE(api_.Load());
    ASSERT_EQ(api_.Startup(GetModuleHandleA(nullptr)), 1);
    search_ = api_.OpenSearch();
    ASSERT_NE(search_, OV_INVALID_HANDLE);
}

void DiscoveryTest::TearDown() {
    if (search_ != OV_INVALID_HANDLE) {
        EXPECT_EQ(api_.CloseSearch(search_), 1);
    }
    api_.Cleanup();
}

std::string RigStat(const std::string& printer, const std::string& key) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return "";
    std::string answer;
    SOCKET control = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    DWORD timeout = kControlTimeoutMs;
    setsockopt(control, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&timeout), sizeof timeout);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = inet_addr(kRigControlAddress);
    to.sin_port = htons(kRigControlPort);
    if (connect(control, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
        std::string line = "stats " + printer + "\n";
        send(control, line.data(), static_cast<int>(line.size()), 0);
        char buffer[4096];
        int got;
        while (answer.find('\n') == std::string::npos &&
               (got = recv(control, buffer, sizeof buffer, 0)) > 0)
            answer.append(buffer, got);
    }
    closesocket(control);
    WSACleanup();
    std::istringstream words(answer);
    std::string word;
    while (words >> word) {
        if (word.compare(0, key.size() + 1, key + "=") == 0)
            return word.substr(key.size() + 1);
    }
    return "";
}

bool RunUnixCommand(const std::string& command, DWORD timeout_ms) {
    // Wine starts a Unix program without a process object: the end of the
    // command cannot be waited for from here, so it leaves a file behind
    // when it succeeded.
    // Process ids repeat across Wine prefixes: the counter makes the name
    // unique across the processes of all namespaces.
    static std::atomic<int> serial{0};
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    std::string marker = "/tmp/orv9-done-" + std::to_string(GetCurrentProcessId()) + "-" +
                         std::to_string(now.QuadPart) + "-" + std::to_string(serial++);
    std::string windows_marker = "Z:" + marker;
    std::replace(windows_marker.begin(), windows_marker.end(), '/', '\\');
    DeleteFileA(windows_marker.c_str());
    std::string line = "Z:\\bin\\bash -c \"" + command + " && touch " + marker + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // Nor does it hand back handles: it reports success but leaves the
    // handles and ids as whatever its stack held, which can be live
    // handles of this process (the thread's desktop, and the next window
    // then hangs). They are never used or closed.
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    bool done = WaitUntil([&] { return GetFileAttributesA(windows_marker.c_str()) != INVALID_FILE_ATTRIBUTES; },
                          timeout_ms);
    DeleteFileA(windows_marker.c_str());
    return done;
}
