#include "peers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <regex>

namespace {

const char kTracePath[] = "Log\\orvcomms.log";
std::atomic<int> g_pipe_serial{0};

/* --- the hang watch ---------------------------------------------------- */

constexpr ULONGLONG kHangLimitMs = 90000;  // ctest ends a test at 120 s
constexpr DWORD kHangPollMs = 1000;

std::atomic<const char*> g_waiting_for{nullptr};

/* The last line of the library's log in the current directory. */
std::string LastTraceLine() {
    std::string text = ReadWholeFile(kTracePath);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    size_t start = text.rfind('\n');
    return text.empty() ? "(none)" : "\"" + text.substr(start == std::string::npos ? 0 : start + 1) + "\"";
}

/* Ends the program when one test runs past kHangLimitMs. Where a library
 * call waits, its last log line names the function and the step. A
 * DBWIN_BUFFER section left open means that every log line waits up to
 * 10 s for a debug-output reader (OutputDebugStringA): another process
 * was writing when a reader ended, and keeps the section alive. */
class HangWatch : public ::testing::EmptyTestEventListener {
  public:
    void OnTestProgramStart(const ::testing::UnitTest&) override {
        stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, &HangWatch::Run, this, 0, nullptr);
    }
    void OnTestProgramEnd(const ::testing::UnitTest&) override {
        if (thread_ != nullptr) {
            SetEvent(stop_);
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
        }
        if (stop_ != nullptr)
            CloseHandle(stop_);
    }
    void OnTestStart(const ::testing::TestInfo& test) override {
        std::lock_guard<std::mutex> hold(lock_);
        test_ = std::string(test.test_suite_name()) + "." + test.name();
        started_ = GetTickCount64();
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        std::lock_guard<std::mutex> hold(lock_);
        test_.clear();
    }

  private:
    static DWORD WINAPI Run(void* self) {
        static_cast<HangWatch*>(self)->Watch();
        return 0;
    }

    void Watch() {
        while (WaitForSingleObject(stop_, kHangPollMs) == WAIT_TIMEOUT) {
            std::lock_guard<std::mutex> hold(lock_);
            if (!test_.empty() && GetTickCount64() - started_ > kHangLimitMs)
                EndProgram();
        }
    }

    void EndProgram() {
        const char* note = g_waiting_for;
        HANDLE dbwin = OpenFileMappingA(FILE_MAP_READ, FALSE, "DBWIN_BUFFER");
        fprintf(stderr,
                "HANG: %s has not ended after %llu s; it waits for %s; the library's last log line: %s%s\n",
                test_.c_str(), kHangLimitMs / 1000, note != nullptr ? note : "a library call",
                LastTraceLine().c_str(),
                dbwin != nullptr ? "; DBWIN_BUFFER is open, so each log line waits up to 10 s for a "
                                   "debug-output reader"
                                 : "");
        fflush(stderr);
        fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
    }

    std::mutex lock_;
    std::string test_;       // the test running now, "" between tests
    ULONGLONG started_ = 0;
    HANDLE stop_ = nullptr;
    HANDLE thread_ = nullptr;
};

[[maybe_unused]] const bool g_hang_watch_installed = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new HangWatch);
    return true;
}();

/* One overlapped read or write on `handle`, waited for at most `ms`;
 * what it moved (a transfer still pending then is cancelled). */
DWORD Transfer(HANDLE handle, bool write, void* data, DWORD size, DWORD ms) {
    OVERLAPPED control = {};
    control.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD moved = 0;
    BOOL done = write ? WriteFile(handle, data, size, &moved, &control)
                      : ReadFile(handle, data, size, &moved, &control);
    if (!done && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(control.hEvent, ms) != WAIT_OBJECT_0)
            CancelIo(handle);
        GetOverlappedResult(handle, &control, &moved, TRUE);
    }
    CloseHandle(control.hEvent);
    return moved;
}

}  // namespace

WaitNote::WaitNote(const char* what) : previous_(g_waiting_for.exchange(what)) {}

WaitNote::~WaitNote() {
    g_waiting_for = previous_;
}

TraceFile::TraceFile() {
    if (!CreateDirectoryA("Log", nullptr))
        return;
    HANDLE file = CreateFileA(kTracePath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ok_ = file != INVALID_HANDLE_VALUE;
    if (ok_)
        CloseHandle(file);
}

std::vector<std::string> TraceFile::Lines(std::vector<bool>* stamped) const {
    static const std::regex kStamp(R"(^\[\d\d:\d\d:\d\d:\d\d\d\] )");
    std::string text = ReadWholeFile(kTracePath);
    std::vector<std::string> lines;
    for (size_t start = 0, end = 0; start < text.size(); start = end + 2) {
        end = text.find("\r\n", start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        bool has_stamp = std::regex_search(line, kStamp);
        if (stamped != nullptr)
            stamped->push_back(has_stamp);
        lines.push_back(has_stamp ? line.substr(15) : line);
        if (end == std::string::npos)
            break;
    }
    return lines;
}

int TraceFile::Count(const std::string& line) const {
    int n = 0;
    for (const std::string& l : Lines())
        n += l == line;
    return n;
}

void TraceFile::Clear() {
    HANDLE file = CreateFileA(kTracePath, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

DeviceEnd::~DeviceEnd() {
    if (handle_ != INVALID_HANDLE_VALUE)
        CloseHandle(handle_);
}

bool DeviceEnd::Send(const std::string& bytes) {
    WaitNote note("the port to take what the test's device end sends");
    DWORD size = static_cast<DWORD>(bytes.size());
    return Transfer(handle_, true, const_cast<char*>(bytes.data()), size, 10000) == size;
}

std::string DeviceEnd::Receive(size_t size, DWORD idle_ms) {
    WaitNote note("the bytes the test's device end receives");
    std::string got;
    char chunk[4096];
    while (got.size() < size) {
        DWORD want = static_cast<DWORD>(size - got.size() < sizeof chunk ? size - got.size() : sizeof chunk);
        DWORD n = Transfer(handle_, false, chunk, want, idle_ms);
        if (n == 0)
            break;
        got.append(chunk, n);
    }
    return got;
}

PipeDevice::PipeDevice(const std::string& tail, DWORD buffer_size) {
    char prefix[64];
    snprintf(prefix, sizeof prefix, "\\\\.\\pipe\\orv-%lu-%d-", GetCurrentProcessId(), g_pipe_serial++);
    name_ = prefix + tail;
    handle_ = CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                               PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, buffer_size,
                               buffer_size, 0, nullptr);
}

std::string Sjis(const char* utf8) {
    wchar_t wide[512];
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 512);
    char bytes[1024];
    int m = WideCharToMultiByte(932, 0, wide, n, bytes, sizeof bytes, nullptr, nullptr);
    return m > 0 ? std::string(bytes, m - 1) : std::string();
}

std::string Pattern(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 16);
    }
    return bytes;
}
