// lm-sim, the language-monitor simulator, run as its own process against
// this test's private registry (--registry-root), with the monitor's
// poll reading what it writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "catalogue.h"
#include "record.h"
#include "rig.h"
#include "temp_dir.h"

using namespace orv;

namespace {

constexpr DWORD kRunLimitMs = 20000;

std::string ProgramFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

/* A running lm-sim; its output goes to a file in the test's folder. */
class LmSim {
  public:
    LmSim(const MonitorRig& rig, const std::string& arguments) {
        static int serial = 0;
        output_path_ = "lm-sim-" + std::to_string(serial++) + ".out";
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE output = CreateFileA(output_path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                    CREATE_ALWAYS, 0, nullptr);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        std::string command = "\"" + ProgramFolder() + "lm-sim.exe\" --registry-root \"" +
                              rig.machine_sandbox().backing_path() + "\" " + arguments;
        std::vector<char> line(command.begin(), command.end());
        line.push_back('\0');
        started_ = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process_) != FALSE;
        CloseHandle(output);
    }
    ~LmSim() {
        if (started_) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(process_.hProcess, 99);
            CloseHandle(process_.hThread);
            CloseHandle(process_.hProcess);
        }
    }
    LmSim(const LmSim&) = delete;
    LmSim& operator=(const LmSim&) = delete;

    bool started() const { return started_; }
    bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }
    /* Exit code, or -1 when it did not end within the limit. */
    int Wait() {
        if (WaitForSingleObject(process_.hProcess, kRunLimitMs) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return static_cast<int>(code);
    }
    std::string Output() const { return ReadWholeFile(output_path_); }

  private:
    PROCESS_INFORMATION process_{};
    std::string output_path_;
    bool started_ = false;
};

int RunLmSim(const MonitorRig& rig, const std::string& arguments, std::string* output = nullptr) {
    LmSim sim(rig, arguments);
    if (!sim.started())
        return -2;
    int code = sim.Wait();
    if (output != nullptr)
        *output = sim.Output();
    return code;
}

std::string StoredText(const char* name) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRecordPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<no record>";
    char data[4096] = {};
    DWORD size = sizeof data - 1, type = 0;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return "<missing>";
    return std::string(data, size);
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

class LmSimRun : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(rig_.ok()); }
    int Poll() { return PollRecord(rig_.window(), rig_.state(), 1); }

    ScopedCurrentDir folder_;
    MonitorRig rig_{LocalModeSettings()};
};

TEST_F(LmSimRun, SetsTextsAndOneByteFeederValuesWithTheirTypes) {
    EXPECT_EQ(RunLmSim(rig_, "set ERR_CODE 302"), 0);
    EXPECT_EQ(RunLmSim(rig_, "set CSF_FRONT 5"), 0);
    EXPECT_EQ(RunLmSim(rig_, "set-sz HEAD_SPAN 90"), 0);
    EXPECT_EQ(RunLmSim(rig_, "set-bin CSF_REAR 0102"), 0);
    EXPECT_EQ(RunLmSim(rig_, "set DOC_NAME \"  \""), 0);
    EXPECT_EQ(StoredText(kErrCode), std::string("302", 4));
    EXPECT_EQ(StoredText(kCsfFront), std::string(1, 5));
    EXPECT_EQ(StoredText(kHeadSpan), std::string("90", 3));
    EXPECT_EQ(StoredText(kCsfRear), std::string("\x01\x02", 2));
    EXPECT_EQ(StoredText(kDocName), std::string("  ", 3));
    ASSERT_EQ(RunLmSim(rig_, "set ERR_CODE 0"), 0);
    ASSERT_EQ(RunLmSim(rig_, "set CSF_REAR 100"), 0);
    ASSERT_EQ(RunLmSim(rig_, "set HEAD_SPAN 0"), 0);
    ASSERT_EQ(Poll(), kPollDone);
    EXPECT_EQ(rig_.state().current_code, kNoticeCode);  // the front feeder at 5%
}

TEST_F(LmSimRun, RefusesBadValuesAndUnknownCommands) {
    EXPECT_EQ(RunLmSim(rig_, "set CSF_FRONT 256"), 2);
    EXPECT_EQ(RunLmSim(rig_, "set-bin CSF_FRONT 0g"), 2);
    EXPECT_EQ(RunLmSim(rig_, "frobnicate"), 2);
    EXPECT_EQ(StoredText(kCsfFront), std::string(1, 100));
}

TEST_F(LmSimRun, DefaultsCreateTheRecordTheMonitorReadsAsReady) {
    ASSERT_EQ(DeleteRecordKey(), ERROR_SUCCESS);
    ASSERT_EQ(RunLmSim(rig_, "defaults"), 0);
    EXPECT_EQ(StoredText(kErrCode), std::string("0000", 5));
    EXPECT_EQ(StoredText(kRstDvd), std::string("0", 2));
    ASSERT_EQ(Poll(), kPollDone);
    EXPECT_EQ(rig_.state().current_code, 0);
}

TEST_F(LmSimRun, RemoveDeletesKeyOneAndThePollEndsTheMonitor) {
    ASSERT_EQ(Poll(), kPollDone);
    ASSERT_EQ(RunLmSim(rig_, "remove"), 0);
    EXPECT_EQ(Poll(), kPollRecordGone);
    EXPECT_EQ(RunLmSim(rig_, "set ERR_CODE 2"), 1);  // no record to write into
}

TEST_F(LmSimRun, PrintShowsEveryValueWithItsType) {
    ASSERT_EQ(SetRecordString(kDocName, Sjis("報告書.txt")), ERROR_SUCCESS);
    std::string output;
    ASSERT_EQ(RunLmSim(rig_, "print", &output), 0);
    EXPECT_NE(output.find("ERR_CODE       REG_SZ     \"0000\""), std::string::npos) << output;
    EXPECT_NE(output.find("CSF_FRONT      REG_BINARY 100"), std::string::npos) << output;
    EXPECT_NE(output.find("\"" + Sjis("報告書.txt") + "\""), std::string::npos);
}

TEST_F(LmSimRun, HelpDocumentsTheCommandsAndTheScenarioFormat) {
    std::string output;
    ASSERT_EQ(RunLmSim(rig_, "--help", &output), 0);
    for (const char* word : {"set NAME VALUE", "remove", "answer-cancel", "run FILE", "at MS COMMAND"})
        EXPECT_NE(output.find(word), std::string::npos) << word;
}

TEST_F(LmSimRun, ScenarioDrivesThePollThroughPrintingPaperOutAndReadyToTheEnd) {
    WriteFile("printing.txt",
              "# printing, paper out, ready, record gone\n"
              "at 0    set ERR_CODE 2\n"
              "at 0    set DOC_NAME \"report one.txt\"\n"
              "at 600  set ERR_CODE 302\n"
              "at 1200 set ERR_CODE 0\n"
              "at 1200 set DOC_NAME \"  \"\n"
              "at 1800 remove\n");
    LmSim sim(rig_, "run printing.txt");
    ASSERT_TRUE(sim.started());
    std::vector<int> codes;
    int result = kPollDone;
    DWORD start = GetTickCount();
    while (result == kPollDone && GetTickCount() - start < kRunLimitMs) {
        result = Poll();
        rig_.state().first_poll_done = 1;
        int code = rig_.state().current_code;
        if (result == kPollDone && (codes.empty() || codes.back() != code))
            codes.push_back(code);
        Sleep(50);
    }
    // A poll that has key 1 open when it is removed fails its next read
    // (the key is deleted under it) instead of finding no key; either
    // result ends the monitor. The next poll finds no key.
    EXPECT_TRUE(result == kPollRecordGone || result == kPollFailed) << result;
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_EQ(Poll(), kPollRecordGone);
    // The first polls can come before the scenario's first step.
    if (!codes.empty() && codes.front() == 0)
        codes.erase(codes.begin());
    EXPECT_EQ(codes, (std::vector<int>{2, 302, 0}));
}

TEST_F(LmSimRun, ScenarioInUtf8IsWrittenInTheCodePage) {
    WriteFile("names.txt", "at 0 set DOC_NAME \"能率 表.txt\"\nat 0 set USR_NAME ソフト\n");
    ASSERT_EQ(RunLmSim(rig_, "run names.txt --utf8"), 0);
    EXPECT_EQ(StoredText(kDocName), Sjis("能率 表.txt") + '\0');
    ASSERT_EQ(Poll(), kPollDone);
    EXPECT_EQ(rig_.Text(1050), Sjis("ソフト"));
}

TEST_F(LmSimRun, BadScenarioIsRefusedWithItsLineBeforeAnyStepRuns) {
    WriteFile("backwards.txt", "at 100 set ERR_CODE 2\nat 50 set ERR_CODE 3\n");
    std::string output;
    EXPECT_EQ(RunLmSim(rig_, "run backwards.txt", &output), 2);
    EXPECT_NE(output.find("line 2"), std::string::npos) << output;
    WriteFile("unknown.txt", "at 0 set ERR_CODE 2\n\n# fine so far\nat 10 explode\n");
    EXPECT_EQ(RunLmSim(rig_, "run unknown.txt", &output), 2);
    EXPECT_NE(output.find("line 4"), std::string::npos) << output;
    EXPECT_EQ(StoredText(kErrCode), std::string("0000", 5));  // nothing ran
}

TEST_F(LmSimRun, CancelRequestIsAnsweredByBlankingTheDocumentAfterTheDelay) {
    ASSERT_EQ(SetRecordString(kDocName, "long job.txt"), ERROR_SUCCESS);
    LmSim sim(rig_, "answer-cancel 300 15000");
    ASSERT_TRUE(sim.started());
    Sleep(100);
    EXPECT_EQ(StoredText(kDocName), std::string("long job.txt", 13));  // nothing asked yet
    // What the print-cancel button writes.
    ASSERT_EQ(SetRecordString(kLmJobCancel, "RQ_CANCEL"), ERROR_SUCCESS);
    DWORD asked = GetTickCount();
    std::string document;
    for (int i = 0; i < 1000; ++i) {  // about 10 s at most
        document = StoredText(kDocName);
        if (document == std::string("  ", 3))
            break;
        Sleep(10);
    }
    DWORD waited = GetTickCount() - asked;
    EXPECT_EQ(document, std::string("  ", 3));
    EXPECT_GE(waited, 200u);  // loosely: the delay was kept
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_EQ(StoredText(kLmJobCancel), std::string("RQ_NORMAL", 10));
}

TEST_F(LmSimRun, ScenarioAnswersCancelRequestsWhileItRuns) {
    WriteFile("cancel.txt",
              "at 0 set DOC_NAME job.txt\n"
              "at 0 answer-cancel 0\n"
              "at 8000 end\n");
    LmSim sim(rig_, "run cancel.txt");
    ASSERT_TRUE(sim.started());
    // Allow for a slow start of the simulator's process.
    for (int i = 0; i < 600 && StoredText(kDocName) != std::string("job.txt", 8); ++i)
        Sleep(10);
    ASSERT_EQ(StoredText(kDocName), std::string("job.txt", 8));
    ASSERT_EQ(SetRecordString(kLmJobCancel, "RQ_CANCEL"), ERROR_SUCCESS);
    for (int i = 0; i < 600 && StoredText(kDocName) != std::string("  ", 3); ++i)
        Sleep(10);
    EXPECT_EQ(StoredText(kDocName), std::string("  ", 3));
    EXPECT_EQ(sim.Wait(), 0);
}

}  // namespace
