// The diagnostic log: stamped and plain lines, the hex dump, the file that
// is written only when it exists, and the debugger output.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>
#include <vector>

#include "debug_capture.h"
#include "log.h"
#include "temp_dir.h"

namespace {

using orv::LogDump;
using orv::LogLine;

const char kLogFile[] = "Log\\orvcomms.log";

// A current directory with an empty "Log\orvcomms.log", which switches
// the file output on.
class LogFileOn : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(CreateDirectoryA("Log", nullptr));
        HANDLE file = CreateFileA(kLogFile, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }
    std::string Contents() { return ReadWholeFile(kLogFile); }

    ScopedCurrentDir dir_;
};

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

const std::regex kStamp(R"(^\[\d\d:\d\d:\d\d:\d\d\d\] )");

std::string Unstamped(const std::string& line) {
    return std::regex_replace(line, kStamp, "", std::regex_constants::format_first_only);
}

TEST_F(LogFileOn, StampedLineBeginsWithTheTimeInBracketsAndEndsWithCrLf) {
    LogLine(orv::kLogStamped, "OvOpenPort_COM Start %d %s\n", 42, "x");
    std::string text = Contents();
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(\[\d\d:\d\d:\d\d:\d\d\d\] OvOpenPort_COM Start 42 x\r\n)")))
        << text;
}

TEST_F(LogFileOn, PlainLineCarriesNoStamp) {
    LogLine(orv::kLogPlain, "row %s\n", "one");
    EXPECT_EQ(Contents(), "row one\r\n");
}

TEST_F(LogFileOn, LinesAreAppendedInOrder) {
    LogLine(orv::kLogPlain, "first\n");
    LogLine(orv::kLogPlain, "second\n");
    EXPECT_EQ(Contents(), "first\r\nsecond\r\n");
}

TEST_F(LogFileOn, CallerPlaceholdersAreExpandedOnceOnly) {
    // The argument's own "%d" must reach the file as it stands.
    LogLine(orv::kLogStamped, "%s\n", "100%d done");
    EXPECT_EQ(Unstamped(SplitLines(Contents()).at(0)), "100%d done");
}

TEST_F(LogFileOn, DumpOfSeventeenBytesGivesOneFullRowAndOnePaddedRow) {
    unsigned char bytes[17];
    for (int i = 0; i < 17; ++i)
        bytes[i] = static_cast<unsigned char>('A' + i);
    LogDump(bytes, sizeof bytes);
    std::vector<std::string> lines = SplitLines(Contents());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(Unstamped(lines[0]), "Data = ");
    EXPECT_NE(lines[0], "Data = ") << "the header line is stamped";
    EXPECT_EQ(lines[1],
              "41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50  ABCDEFGHIJKLMNOP");
    std::string last = "51" + std::string(47, ' ') + "Q" + std::string(15, ' ');
    EXPECT_EQ(lines[2], last);
    EXPECT_EQ(lines[1].size(), 65u);
    EXPECT_EQ(lines[2].size(), 65u);
}

TEST_F(LogFileOn, DumpShowsOnlyAsciiGraphicsAndHalfWidthKatakanaAsCharacters) {
    const unsigned char bytes[] = {0x7F, 0xA0, 0xE0, 0x1F, 0x20, 0x7E, 0xA1, 0xDF, 0x00, 0xFF};
    LogDump(bytes, sizeof bytes);
    std::vector<std::string> lines = SplitLines(Contents());
    ASSERT_EQ(lines.size(), 2u);
    std::string hex = "7f a0 e0 1f 20 7e a1 df 00 ff ";
    EXPECT_EQ(lines[1].substr(0, hex.size()), hex);
    EXPECT_EQ(lines[1].substr(49), std::string(".... ~\xA1\xDF..") + std::string(6, ' '));
}

TEST_F(LogFileOn, DumpOfExactly4096BytesIsWritten) {
    std::vector<unsigned char> bytes(4096, 0x30);
    LogDump(bytes.data(), bytes.size());
    std::vector<std::string> lines = SplitLines(Contents());
    ASSERT_EQ(lines.size(), 1u + 256u);
    EXPECT_EQ(Unstamped(lines[0]), "Data = ");
}

TEST_F(LogFileOn, DumpOf4097BytesWritesOnlyTheOverLine) {
    std::vector<unsigned char> bytes(4097, 0x30);
    LogDump(bytes.data(), bytes.size());
    std::vector<std::string> lines = SplitLines(Contents());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Unstamped(lines[0]), "Data Size = 4K Over");
    EXPECT_NE(lines[0], "Data Size = 4K Over") << "the line is stamped";
}

TEST_F(LogFileOn, DumpOfNothingWritesOnlyTheHeader) {
    LogDump("", 0);
    std::vector<std::string> lines = SplitLines(Contents());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Unstamped(lines[0]), "Data = ");
}

TEST_F(LogFileOn, MessageLongerThan511CharactersIsCutAt511) {
    std::string big(2000, 'm');
    LogLine(orv::kLogPlain, "%s", big.c_str());
    EXPECT_EQ(Contents(), std::string(511, 'm'));
}

TEST_F(LogFileOn, StampedFormatCutAtItsLimitDropsAPartialDirective) {
    // 15 stamp characters + 239 + "%s" cut after the "%" at 255 characters.
    std::string format = std::string(239, 'f') + "%s";
    LogLine(orv::kLogStamped, format.c_str(), "never printed");
    std::string line = Contents();
    EXPECT_EQ(Unstamped(line), std::string(239, 'f'));
}

TEST_F(LogFileOn, PlainFormatLongerThan255CharactersIsCut) {
    std::string format = std::string(300, 'p');
    LogLine(orv::kLogPlain, format.c_str());
    EXPECT_EQ(Contents(), std::string(255, 'p'));
}

TEST(LogFileOff, WithoutTheLogFolderNothingIsWrittenToDisk) {
    ScopedCurrentDir dir;
    LogLine(orv::kLogStamped, "nothing on disk\n");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("*", &found);
    int entries = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name != "." && name != "..")
                ++entries;
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    EXPECT_EQ(entries, 0);
}

TEST(LogFileOff, AFolderWithoutTheFileIsNotEnough) {
    ScopedCurrentDir dir;
    ASSERT_TRUE(CreateDirectoryA("Log", nullptr));
    LogLine(orv::kLogStamped, "still nothing\n");
    EXPECT_EQ(GetFileAttributesA(kLogFile), INVALID_FILE_ATTRIBUTES);
}

TEST(LogDebugOutput, EveryLineReachesTheDebuggerOutputWithOrWithoutTheFile) {
    DebugCapture capture;
    ASSERT_TRUE(capture.ok());
    ScopedCurrentDir dir;
    LogLine(orv::kLogPlain, "plain %d\n", 7);
    unsigned char two[2] = {0x41, 0x42};
    LogDump(two, sizeof two);
    std::vector<std::string> got;
    for (int i = 0; i < 100 && got.size() < 3; ++i) {
        Sleep(20);
        got = capture.Messages();
    }
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], "plain 7\n");
    EXPECT_EQ(Unstamped(got[1]), "Data = \n");
    EXPECT_EQ(got[2], "41 42" + std::string(44, ' ') + "AB" + std::string(14, ' ') + "\n");
}

TEST(LogErrorState, LoggingLeavesTheLastErrorAsItWas) {
    ScopedCurrentDir dir;
    SetLastError(ERROR_SEM_TIMEOUT);
    LogLine(orv::kLogStamped, "x\n");
    LogDump("abc", 3);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SEM_TIMEOUT));
}

TEST(LogTrim, PartialDirectivesAreDroppedAndCompleteOnesKept) {
    char a[] = "abc %";
    orv::TrimPartialConversion(a);
    EXPECT_STREQ(a, "abc ");
    char b[] = "abc %-08l";
    orv::TrimPartialConversion(b);
    EXPECT_STREQ(b, "abc ");
    char c[] = "abc %d";
    orv::TrimPartialConversion(c);
    EXPECT_STREQ(c, "abc %d");
    char d[] = "100%% %s";
    orv::TrimPartialConversion(d);
    EXPECT_STREQ(d, "100%% %s");
    char e[] = "100%%";
    orv::TrimPartialConversion(e);
    EXPECT_STREQ(e, "100%%");
}

}  // namespace
