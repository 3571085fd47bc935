#include "peers.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <regex>

namespace {

const char kTracePath[] = "Log\\orvcomms.log";
std::atomic<int> g_pipe_serial{0};

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
    DWORD size = static_cast<DWORD>(bytes.size());
    return Transfer(handle_, true, const_cast<char*>(bytes.data()), size, 10000) == size;
}

std::string DeviceEnd::Receive(size_t size, DWORD idle_ms) {
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
