/*
 * sim_harness.cpp - child processes, control client, sockets and
 * addresses for the printer-sim tests.
 */
#include "sim_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <ctime>

TestFd::~TestFd() {
    Reset();
}

TestFd& TestFd::operator=(TestFd&& other) noexcept {
    if (this != &other) {
        Reset(other.fd_);
        other.fd_ = -1;
    }
    return *this;
}

void TestFd::Reset(int fd) {
    if (fd_ >= 0)
        close(fd_);
    fd_ = fd;
}

std::string SimProgram() {
    return PRINTER_SIM_PROGRAM;
}

int64_t NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string TestAddress(int last_byte) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : name) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    /* 127.100-199.x.y: away from 127.0.0.x, which other programs use. */
    unsigned a = 100 + static_cast<unsigned>(hash % 100);
    unsigned b = static_cast<unsigned>((hash >> 16) % 256);
    unsigned c = static_cast<unsigned>((hash >> 32) % 64) * 4;
    return "127." + std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c + last_byte);
}

Child::~Child() {
    if (pid_ > 0) {
        Signal(SIGKILL);
        Wait(5000);
    }
}

bool Child::Spawn(const std::vector<std::string>& argv, int out_fd) {
    pid_ = fork();
    if (pid_ < 0)
        return false;
    if (pid_ == 0) {
        int null_fd = open("/dev/null", O_RDWR);
        dup2(null_fd, STDIN_FILENO);
        dup2(out_fd >= 0 ? out_fd : null_fd, STDOUT_FILENO);
        dup2(out_fd >= 0 ? out_fd : null_fd, STDERR_FILENO);
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return true;
}

bool Child::Wait(int timeout_ms, int* status) {
    if (pid_ <= 0)
        return true;
    int64_t deadline = NowMs() + timeout_ms;
    do {
        int raw = 0;
        pid_t done = waitpid(pid_, &raw, WNOHANG);
        if (done == pid_ || done < 0) {
            if (status)
                *status = raw;
            pid_ = -1;
            return true;
        }
        usleep(5000);
    } while (NowMs() < deadline);
    return false;
}

void Child::Signal(int signal_number) {
    if (pid_ > 0)
        kill(pid_, signal_number);
}

bool ControlClient::Connect(const std::string& address, int port, int timeout_ms) {
    /* The server may still be starting: try again until it listens. */
    int64_t deadline = NowMs() + timeout_ms;
    do {
        fd_ = ConnectTcp(address, port, 500);
        if (fd_.Valid())
            return true;
        usleep(10000);
    } while (NowMs() < deadline);
    return false;
}

void ControlClient::SendRaw(const std::string& bytes) {
    SendAll(fd_.Get(), bytes);
}

std::string ControlClient::ReadLine(int timeout_ms) {
    int64_t deadline = NowMs() + timeout_ms;
    for (;;) {
        size_t newline = buffer_.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffer_.substr(0, newline);
            buffer_.erase(0, newline + 1);
            return line;
        }
        int64_t left = deadline - NowMs();
        if (left <= 0 || !WaitReadable(fd_.Get(), static_cast<int>(left)))
            return "(no answer)";
        char chunk[4096];
        ssize_t n = recv(fd_.Get(), chunk, sizeof chunk, 0);
        if (n <= 0)
            return "(no answer)";
        buffer_.append(chunk, static_cast<size_t>(n));
    }
}

std::string ControlClient::Command(const std::string& line, int timeout_ms) {
    SendRaw(line + "\n");
    return ReadLine(timeout_ms);
}

void SimTest::SetUp() {
    control_address_ = TestAddress(1);
    printer_address_ = TestAddress(2);
    log_path_ = "/tmp/printer-sim-test-" + std::to_string(getpid()) + ".log";
    TestFd log(open(log_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    ASSERT_TRUE(log.Valid());
    ASSERT_TRUE(server_.Spawn({SimProgram(), "--serve", control_address_ + ":" + std::to_string(kControlPort)},
                              log.Get()));
    ASSERT_TRUE(control_.Connect(control_address_, kControlPort, 5000)) << "control server did not start";
}

void SimTest::TearDown() {
    control_.Command("quit", 2000);
    if (!server_.Wait(5000))
        ADD_FAILURE() << "control server did not exit after quit";
    if (HasFailure()) {
        /* The simulator's own account of the test, to read against it. */
        FILE* log = fopen(log_path_.c_str(), "r");
        char line[1024];
        while (log && fgets(line, sizeof line, log))
            fputs(line, stderr);
        if (log)
            fclose(log);
    }
    unlink(log_path_.c_str());
}

void SimTest::CreatePrinter(const std::string& options, const std::string& id) {
    std::string line = "create " + id + " " + printer_address_ + (options.empty() ? "" : " " + options);
    ASSERT_EQ(control_.Command(line), "ok") << line;
}

std::string SimTest::Stat(const std::string& key, const std::string& id) {
    std::string answer = control_.Command("stats " + id);
    EXPECT_EQ(answer.substr(0, 3), "ok ") << answer;
    return FieldOf(answer, key);
}

std::string FieldOf(const std::string& line, const std::string& key) {
    std::string needle = " " + key + "=";
    size_t at = (" " + line).find(needle);
    if (at == std::string::npos)
        return "";
    size_t start = at + needle.size() - 1;
    size_t end = line.find(' ', start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

TestFd ConnectTcp(const std::string& address, int port, int timeout_ms) {
    TestFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &target.sin_addr);
    int flags = fcntl(fd.Get(), F_GETFL);
    fcntl(fd.Get(), F_SETFL, flags | O_NONBLOCK);
    if (connect(fd.Get(), reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        if (errno != EINPROGRESS)
            return TestFd();
        pollfd wait = {fd.Get(), POLLOUT, 0};
        if (poll(&wait, 1, timeout_ms) != 1) {
            errno = ETIMEDOUT;
            return TestFd();
        }
        int err = 0;
        socklen_t size = sizeof err;
        getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &err, &size);
        if (err != 0) {
            errno = err;
            return TestFd();
        }
    }
    fcntl(fd.Get(), F_SETFL, flags);
    return fd;
}

bool SendAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool WaitReadable(int fd, int timeout_ms) {
    pollfd wait = {fd, POLLIN, 0};
    return poll(&wait, 1, timeout_ms) == 1;
}

std::string ReadToEnd(int fd, int timeout_ms, int* end) {
    std::string data;
    int64_t deadline = NowMs() + timeout_ms;
    for (;;) {
        int64_t left = deadline - NowMs();
        if (left <= 0 || !WaitReadable(fd, static_cast<int>(left))) {
            *end = -1;
            return data;
        }
        char chunk[65536];
        ssize_t n = read(fd, chunk, sizeof chunk);   /* sockets and pipes */
        if (n > 0) {
            data.append(chunk, static_cast<size_t>(n));
        } else if (n == 0) {
            *end = 0;
            return data;
        } else if (errno != EAGAIN && errno != EINTR) {
            *end = errno;
            return data;
        }
    }
}

std::string ReadAtLeast(int fd, size_t size, int timeout_ms) {
    std::string data;
    int64_t deadline = NowMs() + timeout_ms;
    while (data.size() < size) {
        int64_t left = deadline - NowMs();
        if (left <= 0 || !WaitReadable(fd, static_cast<int>(left)))
            break;
        char chunk[65536];
        ssize_t n = read(fd, chunk, sizeof chunk);   /* sockets and pipes */
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            break;
        if (n > 0)
            data.append(chunk, static_cast<size_t>(n));
    }
    return data;
}

void ArmReset(int fd) {
    linger hard = {1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

std::string Fnv1a64Hex(const std::string& bytes) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    char text[17];
    snprintf(text, sizeof text, "%016" PRIx64, hash);
    return text;
}

std::string PseudoRandomBytes(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}
