// The status record exchange against Wine's registry: the defaults, the
// read primitives and conversions, and the poll against a stand-in status
// window. Each test process has its own HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER (rig.h). The window-position key, which needs the
// monitor's named mutex, is tested in position_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "catalogue.h"
#include "record.h"
#include "rig.h"

using namespace orv;

namespace {

struct StoredValue {
    LONG status;
    DWORD type;
    std::string data;  // every byte stored, terminator included
};

StoredValue ReadStored(HKEY root, const char* path, const char* name) {
    StoredValue value{0, 0, {}};
    HKEY key;
    value.status = RegOpenKeyExA(root, path, 0, KEY_READ, &key);
    if (value.status != ERROR_SUCCESS)
        return value;
    char data[4096];
    DWORD size = sizeof data;
    value.status = RegQueryValueExA(key, name, nullptr, &value.type, reinterpret_cast<BYTE*>(data), &size);
    if (value.status == ERROR_SUCCESS)
        value.data.assign(data, size);
    RegCloseKey(key);
    return value;
}

StoredValue ReadRecordValue(const char* name) {
    return ReadStored(HKEY_LOCAL_MACHINE, kRecordPath, name);
}

class Poll : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(rig_.ok()); }
    int Run() { return PollRecord(rig_.window(), rig_.state(), 1); }
    /* A poll after the first, as the timer runs it. */
    int RunLater() {
        rig_.state().first_poll_done = 1;
        return Run();
    }
    bool KeysClosed() {
        return !rig_.state().record_key.is_open() && !rig_.state().parent_key.is_open();
    }

    MonitorRig rig_{LocalModeSettings()};
};

/* --- defaults ------------------------------------------------------------ */

TEST(RecordDefaults, EveryValueIsStoredWithItsTypeAndTerminator) {
    MonitorRig rig(LocalModeSettings());
    ASSERT_TRUE(rig.ok());
    const struct {
        const char* name;
        const char* text;
    } strings[] = {{"RST_DVD", "0"},  {"PRT_NAME", "  "}, {"ERR_CODE", "0000"}, {"USR_NAME", "  "},
                   {"DOC_NAME", "  "}, {"CAL_MODE", "0"}, {"JOB_ID", "5"},      {"DSP_MODE", "2"},
                   {"PSV_HOST", "  "}, {"PSV_PORT", "  "}, {"PRT_HALT", "1"},
                   {"LM_JOB_CANCEL", "RQ_NORMAL"}};
    for (const auto& s : strings) {
        StoredValue value = ReadRecordValue(s.name);
        ASSERT_EQ(value.status, ERROR_SUCCESS) << s.name;
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << s.name;
        EXPECT_EQ(value.data, std::string(s.text, strlen(s.text) + 1)) << s.name;
    }
    const struct {
        const char* name;
        char byte;
    } bytes[] = {{"HEAD_SPAN", 0x00}, {"CSF_FRONT", 0x64}, {"CSF_REAR", 0x64}};
    for (const auto& b : bytes) {
        StoredValue value = ReadRecordValue(b.name);
        ASSERT_EQ(value.status, ERROR_SUCCESS) << b.name;
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_BINARY)) << b.name;
        EXPECT_EQ(value.data, std::string(1, b.byte)) << b.name;
    }
    // TSK_MODE is the language monitor's alone.
    EXPECT_EQ(ReadRecordValue("TSK_MODE").status, ERROR_FILE_NOT_FOUND);
}

TEST(RecordDefaults, OverwriteWhatTheLanguageMonitorLeft) {
    MonitorRig rig(LocalModeSettings());
    ASSERT_TRUE(rig.ok());
    ASSERT_EQ(SetRecordString(kErrCode, "302"), ERROR_SUCCESS);
    ASSERT_EQ(SetRecordString(kLmJobCancel, "RQ_CANCEL"), ERROR_SUCCESS);
    ASSERT_EQ(SetRecordByte(kCsfFront, 3), ERROR_SUCCESS);
    ASSERT_EQ(InitialiseStatusRecord(), 1);
    EXPECT_EQ(ReadRecordValue(kErrCode).data, std::string("0000", 5));
    EXPECT_EQ(ReadRecordValue(kLmJobCancel).data, std::string("RQ_NORMAL", 10));
    EXPECT_EQ(ReadRecordValue(kCsfFront).data, std::string(1, 0x64));
}

TEST(RecordDefaults, InitialiseCreatesTheRecordKeysBelowSoftware) {
    MonitorRig rig(LocalModeSettings(), false);
    ASSERT_TRUE(rig.ok());
    // Without SOFTWARE (always there on a real machine) there is nothing to open.
    EXPECT_EQ(InitialiseStatusRecord(), 0);
    HKEY software;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &software, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(software);
    EXPECT_EQ(InitialiseStatusRecord(), 1);
    EXPECT_EQ(ReadRecordValue(kRstDvd).data, std::string("0", 2));
    EXPECT_EQ(ReadRecordValue(kErrCode).data, std::string("0000", 5));
}

TEST(RecordDefaults, GlobalModeWritesTheDefaultsIntoAnInstalledRecord) {
    MonitorRig rig(GlobalModeSettings());
    ASSERT_TRUE(rig.ok());
    ASSERT_EQ(SetRecordString(kDocName, "left over"), ERROR_SUCCESS);
    EXPECT_EQ(InitialiseStatusRecord(), 1);
    EXPECT_EQ(ReadRecordValue(kDocName).data, std::string("  ", 3));
}

/* --- conversions --------------------------------------------------------- */

TEST(DecimalText, ConvertsLikeAtoiAndSaturatesOutOfRange) {
    EXPECT_EQ(ToInt16("0302"), 302);
    EXPECT_EQ(ToInt16("0000"), 0);
    EXPECT_EQ(ToInt16("abc"), 0);
    EXPECT_EQ(ToInt16(""), 0);
    EXPECT_EQ(ToInt16("  \t42x"), 42);
    EXPECT_EQ(ToInt16("-5"), -5);
    EXPECT_EQ(ToInt16("+7"), 7);
    EXPECT_EQ(ToInt16("- 7"), 0);
    EXPECT_EQ(ToInt16("32767"), 32767);
    EXPECT_EQ(ToInt16("65838"), 32767);  // not 302, as wrapping would give
    EXPECT_EQ(ToInt16("-99999"), -32768);
    EXPECT_EQ(ToInt32("2147483647"), 2147483647);
    EXPECT_EQ(ToInt32("2147483648"), 2147483647);
    EXPECT_EQ(ToInt32("-2147483649"), -2147483647 - 1);
    EXPECT_EQ(ToInt32("99999999999999999999999"), 2147483647);
}

/* --- the poll ------------------------------------------------------------ */

TEST_F(Poll, FreshRecordShowsReadyWithStatusCodeZero) {
    ASSERT_EQ(Run(), kPollDone);
    MonitorState& state = rig_.state();
    EXPECT_EQ(state.current_code, 0);
    EXPECT_EQ(rig_.Text(kMessageField), Sjis("[0000 印刷可能]"));
    EXPECT_EQ(rig_.Title(), Sjis("ステータスモニタ :   "));
    // The title's prefix, byte by byte: ス テ ー タ ス モ ニ タ.
    EXPECT_EQ(rig_.Title().substr(0, 16), "\x83\x58\x83\x65\x81\x5b\x83\x5e\x83\x58\x83\x82\x83\x6a\x83\x5e");
    EXPECT_EQ(rig_.Text(1050), "  ");
    EXPECT_EQ(rig_.Text(1031), "  ");
    EXPECT_EQ(state.job_id, 5);
    EXPECT_STREQ(state.printer_name, "  ");
    EXPECT_STREQ(state.server_host, "  ");
    EXPECT_STREQ(state.short_text, Sjis("印刷可能...").c_str());
    EXPECT_EQ(state.flash_enabled, 0);
    EXPECT_TRUE(KeysClosed());
}

TEST_F(Poll, ShowsWhatTheLanguageMonitorWrote) {
    ASSERT_EQ(SetRecordString(kPrtName, "ORV orv2100"), ERROR_SUCCESS);
    ASSERT_EQ(SetRecordString(kErrCode, "0302"), ERROR_SUCCESS);
    ASSERT_EQ(SetRecordString(kUsrName, Sjis("山田")), ERROR_SUCCESS);
    ASSERT_EQ(SetRecordString(kDocName, Sjis("表計算ソフト - 能率表.xls")), ERROR_SUCCESS);
    ASSERT_EQ(SetRecordString(kJobId, "42"), ERROR_SUCCESS);
    ASSERT_EQ(Run(), kPollDone);
    EXPECT_EQ(rig_.state().current_code, 302);
    EXPECT_EQ(rig_.Title(), Sjis("ステータスモニタ : ORV orv2100"));
    EXPECT_EQ(rig_.Text(1050), Sjis("山田"));
    EXPECT_EQ(rig_.Text(1031), Sjis("表計算ソフト - 能率表.xls"));
    EXPECT_EQ(rig_.Text(1031).substr(0, 2), "\x95\x5c");  // 表, trail byte 0x5C
    EXPECT_EQ(rig_.state().job_id, 42);
    EXPECT_EQ(rig_.Icon(), TestIcon(kIconWarning));
}

TEST_F(Poll, EachPollMovesTheCurrentCodeToPrevious) {
    ASSERT_EQ(SetRecordString(kErrCode, "2"), ERROR_SUCCESS);
    ASSERT_EQ(Run(), kPollDone);
    ASSERT_EQ(SetRecordString(kErrCode, "302"), ERROR_SUCCESS);
    ASSERT_EQ(RunLater(), kPollDone);
    EXPECT_EQ(rig_.state().previous_code, 2);
    EXPECT_EQ(rig_.state().current_code, 302);
    ASSERT_EQ(RunLater(), kPollDone);
    EXPECT_EQ(rig_.state().previous_code, 302);
}

TEST_F(Poll, ErrCodeKeepsItsFirstSevenCharacters) {
    ASSERT_EQ(SetRecordString(kErrCode, "0000302999"), ERROR_SUCCESS);
    ASSERT_EQ(Run(), kPollDone);
    EXPECT_EQ(rig_.state().current_code, 302);
    ASSERT_EQ(SetRecordString(kErrCode, std::string(5000, '9')), ERROR_SUCCESS);
    ASSERT_EQ(RunLater(), kPollDone);
    EXPECT_EQ(rig_.state().current_code, 32767);
}

TEST_F(Poll, LongDocumentNameGrowsTheValueBufferAndLaterReadsKeepIt) {
    EXPECT_EQ(rig_.state().value_buffer.capacity(), kValueBufferStartSize);
    std::string long_name(3000, 'd');
    ASSERT_EQ(SetRecordString(kDocName, long_name), ERROR_SUCCESS);
    ASSERT_EQ(Run(), kPollDone);
    EXPECT_EQ(rig_.Text(1031), long_name);
    DWORD grown = rig_.state().value_buffer.capacity();
    EXPECT_GE(grown, 3001u);
    ASSERT_EQ(SetRecordString(kDocName, "ab"), ERROR_SUCCESS);
    ASSERT_EQ(RunLater(), kPollDone);
    EXPECT_EQ(rig_.Text(1031), "ab");  // no tail of the longer name
    EXPECT_EQ(rig_.state().value_buffer.capacity(), grown);
}

TEST_F(Poll, PrinterNameOver511BytesIsCutWithoutSplittingACharacter) {
    ASSERT_EQ(SetRecordString(kPrtName, std::string(2000, 'P')), ERROR_SUCCESS);
    ASSERT_EQ(Run(), kPollDone);
    EXPECT_EQ(std::string(rig_.state().printer_name), std::string(511, 'P'));
    EXPECT_EQ(rig_.Title(), Sjis("ステータスモニタ : ") + std::string(511, 'P'));
    std::string japanese = "AB";
    for (int i = 0; i < 300; ++i)
        japanese += "\x94\x5c";  // 能
    ASSERT_EQ(SetRecordString(kPrtName, japanese), ERROR_SUCCESS);
    ASSERT_EQ(RunLater(), kPollDone);
    EXPECT_EQ(std::string(rig_.state().printer_name), japanese.substr(0, 510));
}

TEST_F(Poll, ServerHostAndPortAreReadAtTheFirstPollOnly) {
    ASSERT_EQ(SetRecordString(kPsvHost, "printsrv"), ERROR_SUCCESS);
    ASSERT_EQ(SetRecordString(kPsvPort, "9100"), ERROR_SUCCESS);
    ASSERT_EQ(Run(), kPollDone);
    EXPECT_STREQ(rig_.state().server_host, "printsrv");
    EXPECT_STREQ(rig_.state().server_port, "9100");
    ASSERT_EQ(SetRecordString(kPsvHost, "other"), ERROR_SUCCESS);
    ASSERT_EQ(DeleteRecordValue(kPsvPort), ERROR_SUCCESS);
    ASSERT_EQ(RunLater(), kPollDone);
    EXPECT_STREQ(rig_.state().server_host, "printsrv");
}

TEST_F(Poll, OnlyTheExactTextOneEnablesFlashing) {
    const struct {
        const char* text;
        int32_t flash;
    } cases[] = {{"1", 1}, {"01", 0}, {"1 ", 0}, {"2", 0}, {"", 0}, {"1", 1}};
    for (const auto& c : cases) {
        ASSERT_EQ(SetRecordString(kTskMode, c.text), ERROR_SUCCESS);
        ASSERT_EQ(RunLater(), kPollDone);
        EXPECT_EQ(rig_.state().flash_enabled, c.flash) << '"' << c.text << '"';
    }
    ASSERT_EQ(DeleteRecordValue(kTskMode), ERROR_SUCCESS);
    ASSERT_EQ(RunLater(), kPollDone);  // a missing TSK_MODE only disables flashing
    EXPECT_EQ(rig_.state().flash_enabled, 0);
}

TEST_F(Poll, RemovedRecordKeyEndsTheMonitorButAMissingParentIsAFailure) {
    ASSERT_EQ(Run(), kPollDone);
    ASSERT_EQ(DeleteRecordKey(), ERROR_SUCCESS);
    EXPECT_EQ(RunLater(), kPollRecordGone);
    EXPECT_TRUE(KeysClosed());
    ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRecordParentPath), ERROR_SUCCESS);
    EXPECT_EQ(RunLater(), kPollFailed);
    EXPECT_TRUE(KeysClosed());
}

/* Sets the DACL of an open key: no entries at all (nobody may open it), or
 * none (everybody may). */
LONG SetKeyDacl(HKEY key, bool deny_everyone) {
    SECURITY_DESCRIPTOR descriptor;
    ACL empty;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !InitializeAcl(&empty, sizeof empty, ACL_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, deny_everyone ? &empty : nullptr, FALSE))
        return static_cast<LONG>(GetLastError());
    return RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
}

TEST_F(Poll, ARecordKeyThatCannotBeOpenedFailsThePollRatherThanEndingIt) {
    // Only a missing key 1 means the language monitor ended the run; a key
    // that is there but refused (access denied) is a failed poll.
    ASSERT_EQ(Run(), kPollDone);
    HKEY record;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRecordPath, 0, KEY_ALL_ACCESS, &record), ERROR_SUCCESS);
    ASSERT_EQ(SetKeyDacl(record, true), ERROR_SUCCESS);
    EXPECT_EQ(RunLater(), kPollFailed);
    EXPECT_TRUE(KeysClosed());
    EXPECT_EQ(SetKeyDacl(record, false), ERROR_SUCCESS);  // the sandbox can delete it again
    RegCloseKey(record);
    EXPECT_EQ(RunLater(), kPollDone);
}

TEST_F(Poll, CalibrationModeOneEndsTheMonitor) {
    ASSERT_EQ(SetRecordString(kCalMode, "2"), ERROR_SUCCESS);
    EXPECT_EQ(Run(), kPollDone);
    ASSERT_EQ(SetRecordString(kCalMode, "1"), ERROR_SUCCESS);
    EXPECT_EQ(RunLater(), kPollRecordGone);
    EXPECT_TRUE(KeysClosed());
    ASSERT_EQ(SetRecordString(kCalMode, " 01"), ERROR_SUCCESS);
    EXPECT_EQ(RunLater(), kPollRecordGone);
}

TEST_F(Poll, EveryRequiredValueMissingFailsThePollAndClosesTheKeys) {
    for (const char* name : {kCalMode, kPrtHalt, kPrtName, kErrCode, kUsrName, kDocName, kJobId,
                             kPsvHost, kPsvPort, kCsfFront, kCsfRear, kHeadSpan}) {
        ASSERT_EQ(InitialiseStatusRecord(), 1);
        ASSERT_EQ(DeleteRecordValue(name), ERROR_SUCCESS);
        rig_.state().first_poll_done = 0;
        EXPECT_EQ(Run(), kPollFailed) << name;
        EXPECT_TRUE(KeysClosed()) << name;
    }
}

TEST_F(Poll, NoticeValuesAreNeededOnlyForReadyAndPrinting) {
    ASSERT_EQ(DeleteRecordValue(kCsfFront), ERROR_SUCCESS);
    ASSERT_EQ(SetRecordString(kErrCode, "302"), ERROR_SUCCESS);
    EXPECT_EQ(Run(), kPollDone);
    ASSERT_EQ(SetRecordString(kErrCode, "2"), ERROR_SUCCESS);
    EXPECT_EQ(RunLater(), kPollFailed);
}

TEST_F(Poll, PrinterHaltValueMustExistButItsTextDoesNotMatter) {
    for (const char* text : {"0", "1", "abc", ""}) {
        ASSERT_EQ(SetRecordString(kPrtHalt, text), ERROR_SUCCESS);
        EXPECT_EQ(RunLater(), kPollDone) << text;
    }
}

TEST_F(Poll, ValuesOfOtherTypesAreReadAsTheirBytes) {
    DWORD code = 302;  // stored as 2E 01 00 00: the text "."
    ASSERT_EQ(SetRecordRaw(kErrCode, REG_DWORD, &code, sizeof code), ERROR_SUCCESS);
    ASSERT_EQ(SetRecordRaw(kPrtName, REG_BINARY, "ORVORVORV", 3), ERROR_SUCCESS);  // no terminator
    ASSERT_EQ(SetRecordRaw(kUsrName, REG_MULTI_SZ, "a\0b\0", 5), ERROR_SUCCESS);
    ASSERT_EQ(Run(), kPollDone);
    EXPECT_EQ(rig_.state().current_code, 0);
    EXPECT_STREQ(rig_.state().printer_name, "ORV");
    EXPECT_EQ(rig_.Text(1050), "a");
}

TEST_F(Poll, AValueWithoutTerminatorEndsAtItsOwnBytes) {
    // Calibration mode is read first in a poll, into a buffer that still
    // holds the job id of the poll before.
    ASSERT_EQ(SetRecordString(kJobId, "12345"), ERROR_SUCCESS);
    ASSERT_EQ(Run(), kPollDone);
    ASSERT_EQ(SetRecordRaw(kCalMode, REG_BINARY, "1", 1), ERROR_SUCCESS);
    EXPECT_EQ(RunLater(), kPollRecordGone);
}

TEST(PollGlobalMode, ReadsTheRecordWithTheNarrowerAccess) {
    MonitorRig rig(GlobalModeSettings());
    ASSERT_TRUE(rig.ok());
    ASSERT_EQ(SetRecordString(kErrCode, "310"), ERROR_SUCCESS);
    ASSERT_EQ(PollRecord(rig.window(), rig.state(), 0), kPollDone);
    EXPECT_EQ(rig.state().current_code, 310);
    // The record key lets the monitor set values (the cancel request and
    // the printer check do); its parent is only for reading.
    ASSERT_EQ(OpenRecordKeys(rig.state()), ERROR_SUCCESS);
    const BYTE text[] = "RQ_CANCEL";
    EXPECT_EQ(RegSetValueExA(rig.state().record_key.get(), kLmJobCancel, 0, REG_SZ, text, sizeof text),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(rig.state().parent_key.get(), "X", 0, REG_SZ, text, sizeof text),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(CloseRecordKeys(rig.state()), 1);
    EXPECT_EQ(CloseRecordKeys(rig.state()), 1);  // closing closed keys is harmless
}

/* --- the read primitives ------------------------------------------------- */

TEST_F(Poll, ByteValueMustHoldExactlyOneByte) {
    MonitorState& state = rig_.state();
    ASSERT_EQ(OpenRecordKeys(state), ERROR_SUCCESS);
    EXPECT_NE(ReadByteValue(kCsfFront, state), 0);
    EXPECT_EQ(state.byte_slot, 0x64);
    ASSERT_EQ(SetRecordRaw(kCsfFront, REG_BINARY, "", 0), ERROR_SUCCESS);
    state.byte_slot = 77;
    EXPECT_EQ(ReadByteValue(kCsfFront, state), 0);
    EXPECT_EQ(state.byte_slot, 77);
    DWORD four = 5;
    ASSERT_EQ(SetRecordRaw(kCsfFront, REG_DWORD, &four, 4), ERROR_SUCCESS);
    EXPECT_EQ(ReadByteValue(kCsfFront, state), 0);
    EXPECT_EQ(ReadByteValue("NO_SUCH_VALUE", state), 0);
    CloseRecordKeys(state);
}

}  // namespace
