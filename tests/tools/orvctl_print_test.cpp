// orvctl print, started as a program against the printer simulator: the
// job streams, so one larger than a 32-bit process can hold (about 110 MiB
// under the 32-bit suite's emulator) arrives whole, and a job piped to
// standard input ("-") arrives whole too.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "printer_sim.h"
#include "temp_dir.h"

namespace {

constexpr DWORD kRunLimitMs = 180000;

std::string ProgramFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

/* A job of `size` bytes, made up as it is written, with its running
 * FNV-1a 64 digest as the simulator keeps it. */
class JobBytes {
  public:
    explicit JobBytes(unsigned long long size) : left_(size) {}
    /* The next piece, empty at the end. */
    const std::vector<unsigned char>& Next() {
        piece_.resize(left_ < kPiece ? static_cast<size_t>(left_) : kPiece);
        for (unsigned char& byte : piece_) {
            state_ ^= state_ << 13;
            state_ ^= state_ >> 17;
            state_ ^= state_ << 5;
            byte = static_cast<unsigned char>(state_);
            digest_ = (digest_ ^ byte) * 1099511628211ull;
        }
        left_ -= piece_.size();
        return piece_;
    }
    std::string Digest() const {
        char text[17];
        snprintf(text, sizeof text, "%016llx", digest_);
        return text;
    }

  private:
    static constexpr size_t kPiece = 1 << 20;
    unsigned long long left_;
    unsigned int state_ = 2463534242u;
    unsigned long long digest_ = 14695981039346656037ull;
    std::vector<unsigned char> piece_;
};

/* orvctl.exe with `arguments`, its output in a file; standard input from
 * `input` (inherited) when given. */
class Orvctl {
  public:
    Orvctl(const std::string& arguments, HANDLE input) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE output = CreateFileA("orvctl.out", GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                    CREATE_ALWAYS, 0, nullptr);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
        startup.hStdInput = input != nullptr ? input : GetStdHandle(STD_INPUT_HANDLE);
        std::string command = "\"" + ProgramFolder() + "orvctl.exe\" " + arguments;
        std::vector<char> line(command.begin(), command.end());
        line.push_back('\0');
        started_ = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process_) != FALSE;
        CloseHandle(output);
    }
    ~Orvctl() {
        if (!started_)
            return;
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process_.hProcess, 99);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    Orvctl(const Orvctl&) = delete;
    Orvctl& operator=(const Orvctl&) = delete;

    bool started() const { return started_; }
    /* Exit code, or -1 when it did not end within the limit. */
    int Wait() {
        if (WaitForSingleObject(process_.hProcess, kRunLimitMs) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return static_cast<int>(code);
    }
    std::string Output() const { return ReadWholeFile("orvctl.out"); }

  private:
    PROCESS_INFORMATION process_{};
    bool started_ = false;
};

void ExpectReceived(SimPrinter& printer, unsigned long long size, const JobBytes& job) {
    SimStats stats;
    EXPECT_TRUE(printer.WaitFor("received", static_cast<long long>(size), 10000, &stats));
    EXPECT_EQ(stats.Num("received"), static_cast<long long>(size));
    EXPECT_EQ(stats.Str("digest"), job.Digest());
}

TEST(OrvctlPrint, AJobLargerThanThe32BitEmulatorsMemoryArrivesWhole) {
    constexpr unsigned long long kSize = 160ull << 20;
    ScopedCurrentDir dir;
    SimPrinter printer(TestAddress());
    ASSERT_TRUE(printer.ok()) << printer.error();
    JobBytes job(kSize);
    {
        HANDLE file = CreateFileA("job.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        for (const auto* piece = &job.Next(); !piece->empty(); piece = &job.Next()) {
            DWORD written = 0;
            ASSERT_TRUE(WriteFile(file, piece->data(), static_cast<DWORD>(piece->size()), &written, nullptr));
        }
        CloseHandle(file);
    }
    Orvctl run("print " + printer.address() + " job.bin", nullptr);
    ASSERT_TRUE(run.started());
    int code = run.Wait();
    std::string output = run.Output();
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(output.find("(167772160 bytes)"), std::string::npos) << output;
    EXPECT_NE(output.find("sent 167772160 of 167772160 bytes (100%)"), std::string::npos) << output;
    ExpectReceived(printer, kSize, job);
}

TEST(OrvctlPrint, AJobPipedToStandardInputArrivesWhole) {
    constexpr unsigned long long kSize = 3ull << 20;
    ScopedCurrentDir dir;
    SimPrinter printer(TestAddress());
    ASSERT_TRUE(printer.ok()) << printer.error();
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    ASSERT_TRUE(CreatePipe(&read_end, &write_end, &inherit, 0));
    SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
    Orvctl run("print " + printer.address() + " -", read_end);
    CloseHandle(read_end);
    ASSERT_TRUE(run.started());
    JobBytes job(kSize);
    for (const auto* piece = &job.Next(); !piece->empty(); piece = &job.Next()) {
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(write_end, piece->data(), static_cast<DWORD>(piece->size()), &written, nullptr));
    }
    CloseHandle(write_end);
    int code = run.Wait();
    std::string output = run.Output();
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(output.find("printing standard input to"), std::string::npos) << output;
    EXPECT_NE(output.find("sent 3145728 bytes,"), std::string::npos) << output;
    ExpectReceived(printer, kSize, job);
}

}  // namespace
