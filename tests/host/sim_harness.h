/*
 * sim_harness.h - what the host tests of printer-sim share: starting the
 * simulator as a child process, a control client, plain client sockets
 * with bounded waits, and an address of the loopback network per test.
 *
 * Every test runs in its own process (ctest runs them two at a time), so
 * each derives its own 127.x.y.z from its name and starts its own control
 * server there.
 */
#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

/* A descriptor owned by a test; closed on destruction. */
class TestFd {
public:
    TestFd() = default;
    explicit TestFd(int fd) : fd_(fd) {}
    ~TestFd();
    TestFd(const TestFd&) = delete;
    TestFd& operator=(const TestFd&) = delete;
    TestFd(TestFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    TestFd& operator=(TestFd&& other) noexcept;
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

/* The simulator program (set by the build). */
std::string SimProgram();

/* 127.A.B.C for this test, from its full name; C is given. */
std::string TestAddress(int last_byte = 1);

/* A child process with its standard output in a pipe or a file. */
class Child {
public:
    Child() = default;
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    /* out_fd: the child's stdout and stderr (-1: /dev/null). */
    bool Spawn(const std::vector<std::string>& argv, int out_fd);
    /* Waits up to timeout_ms; true (and *status) when it ended. */
    bool Wait(int timeout_ms, int* status = nullptr);
    void Signal(int signal_number);
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

/* One line-based control connection. */
class ControlClient {
public:
    bool Connect(const std::string& address, int port, int timeout_ms);
    /* Sends line + LF and returns the answer line (without LF), or
     * "(no answer)" when none came within timeout_ms. */
    std::string Command(const std::string& line, int timeout_ms = 5000);
    void SendRaw(const std::string& bytes);
    std::string ReadLine(int timeout_ms);
    void Close() { fd_.Reset(); }

private:
    TestFd fd_;
    std::string buffer_;
};

/* Fixture: a control server on TestAddress(1):kControlPort, and a
 * control client connected to it. */
class SimTest : public ::testing::Test {
protected:
    static constexpr int kControlPort = 19101;
    void SetUp() override;
    void TearDown() override;

    /* create ID printer_address options..., expecting ok. */
    void CreatePrinter(const std::string& options, const std::string& id = "p");
    /* The value of key in the stats of printer id. */
    std::string Stat(const std::string& key, const std::string& id = "p");

    std::string control_address_;
    std::string printer_address_;   /* TestAddress(2) */
    std::string log_path_;
    Child server_;
    ControlClient control_;
};

/* The value of key in a "key=value key=value" line, "" when absent. */
std::string FieldOf(const std::string& line, const std::string& key);

/* A connected blocking TCP socket, or invalid (errno set). */
TestFd ConnectTcp(const std::string& address, int port, int timeout_ms = 2000);
bool SendAll(int fd, const std::string& bytes);
/* Waits up to timeout_ms for readable data (or end, or an error). */
bool WaitReadable(int fd, int timeout_ms);
/* (Sockets or pipes.) Reads until the peer ends the stream, an error or timeout_ms passes.
 * *end: 0 for end of stream, the errno of an error, -1 for the timeout. */
std::string ReadToEnd(int fd, int timeout_ms, int* end);
/* Reads until at least size bytes arrived or timeout_ms passed. */
std::string ReadAtLeast(int fd, size_t size, int timeout_ms);
/* Makes the next close() send a reset. */
void ArmReset(int fd);

/* FNV-1a 64 written out here again, so that the simulator's own is
 * checked against it rather than against itself. */
std::string Fnv1a64Hex(const std::string& bytes);
/* Deterministic bytes that are not a short repeating pattern. */
std::string PseudoRandomBytes(size_t size, uint32_t seed);

int64_t NowMs();
