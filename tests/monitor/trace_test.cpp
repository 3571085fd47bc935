// The order and the access masks of the registry calls that the record
// code makes, seen through recording stand-ins (registry_trace.h): the
// defaults, the steps of a poll, and a value that changes between the
// size query and the read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "record.h"
#include "rig.h"
#include "trace_log.h"

using namespace orv;

namespace {

/* "function name" for each call, e.g. "size CAL_MODE". */
std::vector<std::string> Steps(const std::vector<RegistryCall>& calls) {
    std::vector<std::string> steps;
    for (const RegistryCall& call : calls)
        steps.push_back(call.name.empty() ? call.function : call.function + " " + call.name);
    return steps;
}

std::vector<std::string> ReadsOf(std::initializer_list<const char*> names) {
    std::vector<std::string> steps;
    for (const char* name : names) {
        steps.push_back(std::string("size ") + name);
        steps.push_back(std::string("read ") + name);
    }
    return steps;
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

class Trace : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(rig_.ok()); }
    void TearDown() override { SetReadHook(nullptr); }
    std::vector<RegistryCall> TracedPoll(int* result) {
        StartTrace();
        *result = PollRecord(rig_.window(), rig_.state(), 1);
        return StopTrace();
    }

    MonitorRig rig_{LocalModeSettings()};
};

TEST_F(Trace, DefaultsAreWrittenInOrderBracketedByRstDvd) {
    StartTrace();
    ASSERT_EQ(InitialiseStatusRecord(), 1);
    std::vector<RegistryCall> calls = StopTrace();
    std::vector<std::string> sets;
    for (const RegistryCall& call : calls) {
        if (call.function != "set")
            continue;
        std::string text = call.data;
        if (call.type == REG_SZ) {
            ASSERT_FALSE(text.empty());
            EXPECT_EQ(text.back(), '\0') << call.name;
            text.pop_back();
        } else {
            EXPECT_EQ(call.type, static_cast<DWORD>(REG_BINARY)) << call.name;
            EXPECT_EQ(text.size(), 1u) << call.name;
            text = std::to_string(static_cast<unsigned char>(text[0]));
        }
        sets.push_back(call.name + "=" + text);
    }
    std::vector<std::string> expected = {
        "RST_DVD=999",  "PRT_NAME=  ", "ERR_CODE=0000", "USR_NAME=  ",  "DOC_NAME=  ",
        "CAL_MODE=0",   "JOB_ID=5",    "DSP_MODE=2",    "PSV_HOST=  ",  "PSV_PORT=  ",
        "PRT_HALT=1",   "LM_JOB_CANCEL=RQ_NORMAL",      "HEAD_SPAN=0",  "CSF_FRONT=100",
        "CSF_REAR=100", "RST_DVD=0"};
    EXPECT_EQ(sets, expected);
}

TEST_F(Trace, InitialiseOpensEachKeyWithTheRunModesAccess) {
    for (const RunMode& mode : {LocalModeSettings(), GlobalModeSettings()}) {
        g_run_mode = mode;
        StartTrace();
        ASSERT_EQ(InitialiseStatusRecord(), 1);
        std::vector<RegistryCall> calls = StopTrace();
        ASSERT_GE(calls.size(), 4u);
        EXPECT_EQ(calls[0].function + " " + calls[0].name, "open SOFTWARE");
        EXPECT_EQ(calls[1].function + " " + calls[1].name, "create ORV");
        EXPECT_EQ(calls[2].function + " " + calls[2].name, "create KTRMonitor-msg");
        EXPECT_EQ(calls[3].function + " " + calls[3].name, "create 1");
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(calls[i].access, mode.parent_access);
        EXPECT_EQ(calls[3].access, mode.record_access);
    }
}

TEST_F(Trace, FirstFailingDefaultStopsTheSequence) {
    HKEY read_only;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRecordPath, 0, KEY_READ, &read_only), ERROR_SUCCESS);
    StartTrace();
    EXPECT_EQ(WriteRecordDefaults(read_only), ERROR_ACCESS_DENIED);
    std::vector<RegistryCall> calls = StopTrace();
    RegCloseKey(read_only);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "RST_DVD");
}

TEST_F(Trace, FirstPollReadsEveryValueInItsOrder) {
    int result = 0;
    std::vector<RegistryCall> calls = TracedPoll(&result);
    ASSERT_EQ(result, kPollDone);
    std::vector<std::string> expected =
        Join({{"open SOFTWARE\\ORV\\KTRMonitor-msg", "open 1"},
              ReadsOf({"CAL_MODE", "PRT_HALT", "PSV_HOST", "PSV_PORT", "PRT_NAME", "ERR_CODE"}),
              {"size TSK_MODE"},  // missing: no read follows
              {"read CSF_FRONT", "read CSF_REAR", "read HEAD_SPAN"},
              ReadsOf({"USR_NAME", "DOC_NAME", "JOB_ID"}),
              {"close", "close"}});
    EXPECT_EQ(Steps(calls), expected);
    // The record key is closed before its parent.
    EXPECT_EQ(calls[calls.size() - 2].key, calls[1].key);
    EXPECT_EQ(calls[calls.size() - 1].key, calls[0].key);
    EXPECT_EQ(calls[0].access, LocalModeSettings().parent_access);
    EXPECT_EQ(calls[1].access, LocalModeSettings().record_access);
}

TEST_F(Trace, LaterPollsSkipTheServerValuesAndErrorsSkipTheNotices) {
    ASSERT_EQ(SetRecordString(kErrCode, "302"), ERROR_SUCCESS);
    ASSERT_EQ(SetRecordString(kTskMode, "1"), ERROR_SUCCESS);
    rig_.state().first_poll_done = 1;
    int result = 0;
    std::vector<RegistryCall> calls = TracedPoll(&result);
    ASSERT_EQ(result, kPollDone);
    std::vector<std::string> expected =
        Join({{"open SOFTWARE\\ORV\\KTRMonitor-msg", "open 1"},
              ReadsOf({"CAL_MODE", "PRT_HALT", "PRT_NAME", "ERR_CODE", "TSK_MODE", "USR_NAME",
                       "DOC_NAME", "JOB_ID"}),
              {"close", "close"}});
    EXPECT_EQ(Steps(calls), expected);
}

TEST_F(Trace, GlobalModePollOpensWithReadAndSetValueAccess) {
    g_run_mode = GlobalModeSettings();
    int result = 0;
    std::vector<RegistryCall> calls = TracedPoll(&result);
    ASSERT_EQ(result, kPollDone);
    EXPECT_EQ(calls[0].access, static_cast<REGSAM>(0x20019));
    EXPECT_EQ(calls[1].access, static_cast<REGSAM>(0x2001B));
}

TEST_F(Trace, CalibrationModeStopsThePollBeforeAnyOtherValue) {
    ASSERT_EQ(SetRecordString(kCalMode, "1"), ERROR_SUCCESS);
    int result = 0;
    std::vector<RegistryCall> calls = TracedPoll(&result);
    EXPECT_EQ(result, kPollRecordGone);
    EXPECT_EQ(Steps(calls), Join({{"open SOFTWARE\\ORV\\KTRMonitor-msg", "open 1"},
                                  ReadsOf({"CAL_MODE"}),
                                  {"close", "close"}}));
}

TEST_F(Trace, AValueThatGrowsBetweenSizeAndReadIsReadAgain) {
    std::string longer(2000, 'L');
    bool grown = false;
    SetReadHook([&](const std::string& name) {
        if (name == kDocName && !grown) {
            grown = true;
            SetRecordString(kDocName, longer);
        }
    });
    int result = 0;
    std::vector<RegistryCall> calls = TracedPoll(&result);
    ASSERT_EQ(result, kPollDone);
    EXPECT_EQ(rig_.Text(1031), longer);
    int doc_reads = 0;
    for (const RegistryCall& call : calls)
        doc_reads += call.name == kDocName;
    EXPECT_EQ(doc_reads, 4);  // size, read (too small), size, read
}

TEST_F(Trace, AValueThatKeepsGrowingFailsTheReadAfterFourTries) {
    std::string text = "x";
    SetReadHook([&](const std::string& name) {
        if (name == kDocName) {
            text += std::string(700, 'y');
            SetRecordString(kDocName, text);
        }
    });
    int result = 0;
    std::vector<RegistryCall> calls = TracedPoll(&result);
    EXPECT_EQ(result, kPollFailed);
    int doc_reads = 0;
    for (const RegistryCall& call : calls)
        doc_reads += call.name == kDocName && call.function == "read";
    EXPECT_EQ(doc_reads, kStringReadAttempts);
}

TEST_F(Trace, PositionKeysAreOpenedWith2001FAndCreatedOnlyToWrite) {
    // The position operations hold "StatusRegSet_Mutex" (this program runs
    // under the ctest lock of the monitor's named objects).
    for (const RunMode& mode : {LocalModeSettings(), GlobalModeSettings()}) {
        g_run_mode = mode;
        LONG x, y;
        StartTrace();
        ASSERT_EQ(WritePosition(7, 8), 1);
        ASSERT_EQ(ReadPosition(&x, &y), 1);
        ASSERT_EQ(DeletePosition(), 1);
        std::vector<RegistryCall> calls = StopTrace();
        std::vector<std::string> keys;
        for (const RegistryCall& call : calls) {
            if (call.function != "open" && call.function != "create")
                continue;
            keys.push_back(call.function + " " + call.name);
            EXPECT_EQ(call.access, static_cast<REGSAM>(0x2001F)) << call.name;
        }
        EXPECT_EQ(keys, (std::vector<std::string>{
                            "create SOFTWARE\\ORV", "create KTRMonitor-Status",   // write
                            "open SOFTWARE\\ORV", "open KTRMonitor-Status",       // read
                            "open SOFTWARE\\ORV", "open KTRMonitor-Status"}));    // delete
    }
}

TEST_F(Trace, OnePollCanSeeValuesOfTwoMoments) {
    // The language monitor writes 302 after the poll has read ERR_CODE:
    // this poll shows the old code with the new document, the next the
    // new code.
    SetReadHook([](const std::string& name) {
        if (name == kUsrName) {
            SetRecordString(kErrCode, "302");
            SetRecordString(kDocName, "new.txt");
        }
    });
    int result = 0;
    TracedPoll(&result);
    ASSERT_EQ(result, kPollDone);
    SetReadHook(nullptr);
    EXPECT_EQ(rig_.state().current_code, 0);
    EXPECT_EQ(rig_.Text(1031), "new.txt");
    TracedPoll(&result);
    EXPECT_EQ(rig_.state().current_code, 302);
}

}  // namespace
