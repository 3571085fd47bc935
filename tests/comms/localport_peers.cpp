#include "localport_peers.h"

#include <atomic>
#include <cstdio>
#include <regex>

namespace {

const char kTracePath[] = "Log\\orvcomms.log";
std::atomic<int> g_pipe_serial{0};

/* One overlapped read or write on `handle`, waited for at most `ms`;
 * what it moved (a read still pending then is cancelled). */
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

std::string ReceiveFrom(HANDLE handle, size_t size, DWORD idle_ms) {
    std::string got;
    char chunk[4096];
    while (got.size() < size) {
        DWORD want = static_cast<DWORD>(size - got.size() < sizeof chunk ? size - got.size() : sizeof chunk);
        DWORD n = Transfer(handle, false, chunk, want, idle_ms);
        if (n == 0)
            break;
        got.append(chunk, n);
    }
    return got;
}

bool SendTo(HANDLE handle, const std::string& bytes) {
    std::string copy = bytes;
    return Transfer(handle, true, &copy[0], static_cast<DWORD>(copy.size()), 10000) == copy.size();
}

}  // namespace

/* --- trace file -------------------------------------------------------- */

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
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        bool has_stamp = std::regex_search(line, kStamp);
        if (stamped != nullptr)
            stamped->push_back(has_stamp);
        lines.push_back(has_stamp ? line.substr(15) : line);
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    return lines;
}

bool TraceFile::Has(const std::string& line) const {
    for (const std::string& l : Lines())
        if (l == line)
            return true;
    return false;
}

std::string TraceFile::Text() const {
    return ReadWholeFile(kTracePath);
}

void TraceFile::Clear() {
    HANDLE file = CreateFileA(kTracePath, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

/* --- pipe device ------------------------------------------------------- */

PipeDevice::PipeDevice(const std::string& tail, DWORD buffer_size) {
    char prefix[64];
    snprintf(prefix, sizeof prefix, "\\\\.\\pipe\\orv-%lu-%d-", GetCurrentProcessId(), g_pipe_serial++);
    name_ = prefix + tail;
    pipe_ = CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                             PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, buffer_size,
                             buffer_size, 0, nullptr);
}

PipeDevice::~PipeDevice() {
    if (pipe_ != INVALID_HANDLE_VALUE)
        CloseHandle(pipe_);
}

bool PipeDevice::Send(const std::string& bytes) {
    return SendTo(pipe_, bytes);
}

std::string PipeDevice::Receive(size_t size, DWORD idle_ms) {
    return ReceiveFrom(pipe_, size, idle_ms);
}

/* --- serial peer ------------------------------------------------------- */

SerialPeer::SerialPeer() {
    port_ = CreateFileA(kSerialPeer, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED, nullptr);
}

SerialPeer::~SerialPeer() {
    if (port_ != INVALID_HANDLE_VALUE)
        CloseHandle(port_);
}

bool SerialPeer::Send(const std::string& bytes) {
    return SendTo(port_, bytes);
}

std::string SerialPeer::Receive(size_t size, DWORD idle_ms) {
    return ReceiveFrom(port_, size, idle_ms);
}

void SerialPeer::Purge(HANDLE other_end) {
    // Bytes still on their way through the pair arrive a little later.
    for (int round = 0; round < 3; ++round) {
        PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR);
        PurgeComm(other_end, PURGE_RXCLEAR | PURGE_TXCLEAR);
        Sleep(20);
    }
}

DWORD BytesWaiting(HANDLE serial_port) {
    DWORD errors = 0;
    COMSTAT status = {};
    return ClearCommError(serial_port, &errors, &status) ? status.cbInQue : 0;
}

bool WaitForBytes(HANDLE serial_port, DWORD count, DWORD limit_ms) {
    ULONGLONG start = GetTickCount64();
    while (BytesWaiting(serial_port) < count) {
        if (GetTickCount64() - start > limit_ms)
            return false;
        Sleep(5);
    }
    return true;
}

std::string Sjis(const char* utf8) {
    wchar_t wide[512];
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 512);
    char bytes[1024];
    int m = WideCharToMultiByte(932, 0, wide, n, bytes, sizeof bytes, nullptr, nullptr);
    return m > 0 ? std::string(bytes, m - 1) : std::string();
}

std::string Pattern(size_t size, unsigned first) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((first + i) & 0xFF);
    return bytes;
}
