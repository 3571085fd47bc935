// The message catalogue: every row, and what ShowStatusMessage puts into
// the status window for each kind of code. The record keys are opened as
// the poll would have them open, on a private HKEY_LOCAL_MACHINE.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "catalogue.h"
#include "catalogue_expected.h"
#include "record.h"
#include "rig.h"

using namespace orv;

namespace {

std::string Formatted(const char* format, int code) {
    char text[2048];
    snprintf(text, sizeof text, format, code);
    return text;
}

class Catalogue : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(rig_.ok());
        ASSERT_EQ(OpenRecordKeys(rig_.state()), ERROR_SUCCESS);
    }
    void TearDown() override { CloseRecordKeys(rig_.state()); }

    int Show(int code) {
        MonitorState& state = rig_.state();
        state.previous_code = state.current_code;
        state.current_code = static_cast<int16_t>(code);
        return ShowStatusMessage(rig_.window(), state, static_cast<int16_t>(code));
    }
    std::string Message() const { return rig_.Text(kMessageField); }
    std::string ShortText() { return rig_.state().short_text; }

    MonitorRig rig_{LocalModeSettings()};
};

const ExpectedRow* Expected(char group, int code) {
    for (const ExpectedRow& row : kExpectedRows)
        if (row.group == group && row.code == code)
            return &row;
    return nullptr;
}

TEST(CatalogueRows, EveryGroupHoldsExactlyTheListedRowsWithTheirShiftJisTexts) {
    size_t expected_count = sizeof kExpectedRows / sizeof kExpectedRows[0];
    size_t count = 0;
    for (const MessageGroup& group : kMessageGroups) {
        for (size_t i = 0; i < group.count; ++i, ++count) {
            const MessageEntry& row = group.rows[i];
            SCOPED_TRACE(std::string(1, group.name) + " " + std::to_string(row.code));
            const ExpectedRow* expected = Expected(group.name, row.code);
            ASSERT_NE(expected, nullptr);
            EXPECT_EQ(row.icon, expected->icon);
            EXPECT_EQ(row.formatted != 0, expected->formatted);
            EXPECT_EQ(row.ignored != 0, expected->ignored);
            EXPECT_EQ(std::string(row.text), Sjis(expected->text));
        }
        // Every group ends in its terminator.
        EXPECT_EQ(group.rows[group.count - 1].code, kEndOfGroup) << group.name;
    }
    EXPECT_EQ(count, expected_count);
}

TEST(CatalogueRows, GroupsFollowTheCodeRanges) {
    const struct {
        int code;
        char group;
    } cases[] = {{-32768, 'A'}, {-5, 'A'}, {0, 'A'},     {299, 'A'},  {300, 'B'},  {399, 'B'},
                 {400, 'C'},    {499, 'C'}, {500, 'D'},  {599, 'D'},  {600, 'G'},  {699, 'G'},
                 {700, 'E'},    {799, 'E'}, {800, 'G'},  {1519, 'G'}, {1520, 'F'}, {1599, 'F'},
                 {1600, 'G'},   {32767, 'G'}};
    for (const auto& c : cases)
        EXPECT_EQ(GroupOf(c.code).name, c.group) << c.code;
}

TEST(CatalogueRows, TheseWellKnownWordsCarryTheirShiftJisBytes) {
    // Written out by hand, not converted: each has 0x5C ("\") as its
    // second byte, which a careless conversion or escape would eat.
    EXPECT_NE(strstr(FindMessage(0).text, "\x88\xf3\x8d\xfc\x89\xc2\x94\x5c"), nullptr);  // 印刷可能
    EXPECT_NE(strstr(FindMessage(1500).text, "\x83\x70\x83\x5c\x83\x52\x83\x93"), nullptr);  // パソコン
    EXPECT_EQ(Sjis("表"), "\x95\x5c");
    EXPECT_EQ(Sjis("能"), "\x94\x5c");
}

TEST_F(Catalogue, EveryCodeWithARowShowsItsIconTextAndTitle) {
    for (const ExpectedRow& row : kExpectedRows) {
        if (row.code == kEndOfGroup || row.ignored)
            continue;
        SCOPED_TRACE(row.code);
        ASSERT_EQ(Show(row.code), 1);
        EXPECT_EQ(Message(), Sjis(row.text));
        EXPECT_EQ(rig_.Icon(), TestIcon(row.icon));
        if (row.title[0] != '\0') {
            EXPECT_EQ(ShortText(), Sjis(row.title));
        }
        EXPECT_EQ(rig_.state().current_code, row.code);
    }
}

TEST_F(Catalogue, ReadyPrintingAndFetchingHaveTheirOwnShortTexts) {
    ASSERT_EQ(Show(0), 1);
    EXPECT_EQ(ShortText(), Sjis("印刷可能..."));
    ASSERT_EQ(Show(2), 1);
    EXPECT_EQ(ShortText(), Sjis("印刷中..."));
    ASSERT_EQ(Show(100), 1);
    EXPECT_EQ(ShortText(), Sjis("情報取得中..."));
}

TEST_F(Catalogue, CodesWithoutARowShowTheirGroupsTextWithTheNumber) {
    const struct {
        int code;
        const char* text;
        const char* title;
    } cases[] = {
        {350, "[0350 プリンタ異常]\r\nプリンターで異常が発生しました。\r\nプリンターの状態を確認してください。",
         "プリンタ異常"},
        {1550, "[1550 通信エラー]\r\nプリンターとの通信が異常となりました。\r\nプリンターの電源を再投入してください。",
         "通信エラー"},
        {650, "[ 650 システムエラー]\r\nシステムエラーが発生しました。\r\nいったん印刷を終了し、再度印刷を行ってください。",
         // "%4d" pads with a blank, which the title rule takes for the one
         // after the number; the digits stay in the title.
         "650 システムエラー"},
        {2000, "[2000 システムエラー]\r\nシステムエラーが発生しました。\r\nいったん印刷を終了し、再度印刷を行ってください。",
         "システムエラー"},
        {-5, "[-005 プリンタ異常]\r\nプリンターで異常が発生しました。\r\nプリンターの状態を確認してください。",
         // Likewise the sign takes the place of that blank.
         "005 プリンタ異常"},
        {716, "[0716 プリンタ異常]\r\nプリンターで異常が発生しました。\r\nプリンターの状態を確認してください。",
         "プリンタ異常"},
        {12345, "[12345 システムエラー]\r\nシステムエラーが発生しました。\r\nいったん印刷を終了し、再度印刷を行ってください。",
         "システムエラー"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        ASSERT_EQ(Show(c.code), 1);
        EXPECT_EQ(Message(), Sjis(c.text));
        EXPECT_EQ(ShortText(), Sjis(c.title));
        EXPECT_EQ(rig_.Icon(), TestIcon(kIconError));
    }
}

TEST_F(Catalogue, Code304ShowsTheTextOf305) {
    ASSERT_EQ(Show(304), 1);
    EXPECT_EQ(Message(), Sjis(Expected('B', 305)->text));
    EXPECT_EQ(ShortText(), Sjis("連帳後退エラー"));
    EXPECT_EQ(rig_.state().current_code, 304);
}

TEST_F(Catalogue, ReservedCodesKeepThePreviousCodeAndChangeNothingOnScreen) {
    for (int reserved : {400, 401, 405, 409, 701, 706}) {
        SCOPED_TRACE(reserved);
        ASSERT_EQ(Show(703), 1);  // an alarm: OK disabled
        std::string message = Message();
        std::string short_text = ShortText();
        HICON icon = rig_.Icon();
        ASSERT_EQ(Show(reserved), 1);
        EXPECT_EQ(rig_.state().current_code, 703);
        EXPECT_EQ(Message(), message);
        EXPECT_EQ(ShortText(), short_text);
        EXPECT_EQ(rig_.Icon(), icon);
        EXPECT_FALSE(rig_.OkEnabled());
    }
}

TEST_F(Catalogue, OkButtonIsDisabledOnlyForTheSeriousCodes) {
    const int serious[] = {402, 403, 404, 406, 407, 408, 700, 702, 703, 704, 705, 707, 708,
                           709, 710, 711, 712, 713, 714, 715, 1500};
    const int others[] = {0, 2, 100, 300, 302, 310, 350, 499, 500, 716, 1550, 1900, 2000, -5};
    for (int code : serious) {
        ASSERT_EQ(Show(0), 1);
        ASSERT_EQ(Show(code), 1);
        EXPECT_FALSE(rig_.OkEnabled()) << code;
        EXPECT_TRUE(IsSeriousCode(code)) << code;
    }
    for (int code : others) {
        ASSERT_EQ(Show(1500), 1);
        ASSERT_EQ(Show(code), 1);
        EXPECT_TRUE(rig_.OkEnabled()) << code;
        EXPECT_FALSE(IsSeriousCode(code)) << code;
    }
    // The reserved 701 leaves the button as it was.
    ASSERT_EQ(Show(0), 1);
    ASSERT_EQ(Show(701), 1);
    EXPECT_TRUE(rig_.OkEnabled());
}

TEST_F(Catalogue, ReadyWithTheFrontFeederAtFivePercentShowsItsNotice) {
    ASSERT_EQ(SetRecordByte(kCsfFront, 5), ERROR_SUCCESS);
    ASSERT_EQ(Show(0), 1);
    EXPECT_EQ(Message(), Sjis("[0000 印刷可能]\r\n前ＣＳＦに用紙が残り少なくなりました。( 用紙残量 :  5% )"));
    EXPECT_EQ(ShortText(), Sjis("印刷可能...前CSFﾆｱｴﾝﾌﾟﾃｨ: 5% "));
    EXPECT_EQ(rig_.Icon(), TestIcon(kIconInformation));
    EXPECT_EQ(rig_.state().current_code, kNoticeCode);
}

TEST_F(Catalogue, PrintingWithHeadSpanHundredAsksForTheHeadExchange) {
    ASSERT_EQ(SetRecordByte(kHeadSpan, 100), ERROR_SUCCESS);
    ASSERT_EQ(Show(2), 1);
    EXPECT_EQ(Message(), Sjis((std::string(Expected('A', 2)->text) + "\r\nヘッド交換をしてください。").c_str()));
    EXPECT_EQ(ShortText(), Sjis("印刷中...ﾍｯﾄﾞ交換"));
    EXPECT_EQ(rig_.Icon(), TestIcon(kIconInformation));
    EXPECT_EQ(rig_.state().current_code, kNoticeCode);
    EXPECT_TRUE(rig_.OkEnabled());
}

TEST_F(Catalogue, AllThreeNoticesAppearFrontRearHeadAndTheTipStaysUnder64Bytes) {
    ASSERT_EQ(SetRecordByte(kCsfFront, 20), ERROR_SUCCESS);
    ASSERT_EQ(SetRecordByte(kCsfRear, 0), ERROR_SUCCESS);
    ASSERT_EQ(SetRecordByte(kHeadSpan, 90), ERROR_SUCCESS);
    ASSERT_EQ(Show(0), 1);
    EXPECT_EQ(Message(), Sjis("[0000 印刷可能]"
                              "\r\n前ＣＳＦに用紙が残り少なくなりました。( 用紙残量 : 20% )"
                              "\r\n後ＣＳＦに用紙が残り少なくなりました。( 用紙残量 :  0% )"
                              "\r\nヘッド交換準備をしてください。"));
    EXPECT_EQ(ShortText(), Sjis("印刷可能...前CSFﾆｱｴﾝﾌﾟﾃｨ:20% 後CSFﾆｱｴﾝﾌﾟﾃｨ: 0% ﾍｯﾄﾞ交換準備"));
    EXPECT_LT(ShortText().size(), 64u);
    EXPECT_EQ(rig_.state().current_code, kNoticeCode);
}

TEST_F(Catalogue, FeedersAbove20AndOtherHeadValuesGiveNoNotice) {
    ASSERT_EQ(SetRecordByte(kCsfFront, 21), ERROR_SUCCESS);
    ASSERT_EQ(SetRecordByte(kCsfRear, 255), ERROR_SUCCESS);
    for (BYTE head : {0, 89, 91, 99, 101, 255}) {
        ASSERT_EQ(SetRecordByte(kHeadSpan, head), ERROR_SUCCESS);
        ASSERT_EQ(Show(0), 1);
        EXPECT_EQ(Message(), Sjis("[0000 印刷可能]")) << int(head);
        EXPECT_EQ(rig_.state().current_code, 0);
        EXPECT_EQ(rig_.Icon(), TestIcon(kIconPrinter));
    }
}

TEST_F(Catalogue, NoticeValuesAreReadOnlyForReadyAndPrinting) {
    ASSERT_EQ(DeleteRecordValue(kCsfRear), ERROR_SUCCESS);
    ASSERT_EQ(Show(302), 1);
    EXPECT_TRUE(rig_.state().record_key.is_open());
    EXPECT_EQ(Show(2), 0);
    // A missing notice value closes both record keys.
    EXPECT_FALSE(rig_.state().record_key.is_open());
    EXPECT_FALSE(rig_.state().parent_key.is_open());
}

TEST_F(Catalogue, NoticeValueLongerThanOneByteFails) {
    const BYTE two[2] = {5, 5};
    ASSERT_EQ(SetRecordRaw(kHeadSpan, REG_BINARY, two, 2), ERROR_SUCCESS);
    EXPECT_EQ(Show(0), 0);
}

TEST_F(Catalogue, Code150FromTheRecordIsShownAsAnUnlistedCode) {
    ASSERT_EQ(Show(150), 1);
    EXPECT_EQ(Message(), Sjis(Formatted(Expected('A', 9999)->text, 150).c_str()));
    EXPECT_EQ(ShortText(), Sjis("プリンタ異常"));
}

LRESULT CALLBACK CountSetText(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    WNDPROC original = reinterpret_cast<WNDPROC>(GetPropA(window, "orig"));
    if (message == WM_SETTEXT)
        SetPropA(window, "count", reinterpret_cast<HANDLE>(
                                      reinterpret_cast<INT_PTR>(GetPropA(window, "count")) + 1));
    return CallWindowProcA(original, window, message, wparam, lparam);
}

TEST_F(Catalogue, MessageFieldIsWrittenOnlyWhenItsTextChanges) {
    HWND field = GetDlgItem(rig_.window(), kMessageField);
    SetPropA(field, "orig", reinterpret_cast<HANDLE>(GetWindowLongPtrA(field, GWLP_WNDPROC)));
    SetWindowLongPtrA(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountSetText));
    auto writes = [&] { return reinterpret_cast<INT_PTR>(GetPropA(field, "count")); };
    ASSERT_EQ(Show(302), 1);
    EXPECT_EQ(writes(), 1);
    ASSERT_EQ(Show(302), 1);
    ASSERT_EQ(Show(302), 1);
    EXPECT_EQ(writes(), 1);
    ASSERT_EQ(Show(303), 1);
    EXPECT_EQ(writes(), 2);
    SetWindowLongPtrA(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GetPropA(field, "orig")));
    RemovePropA(field, "orig");
    RemovePropA(field, "count");
}

TEST_F(Catalogue, MissingIconLeavesTheIconEmptyButShowsTheText) {
    rig_.state().instance = GetModuleHandleA("kernel32.dll");
    ASSERT_EQ(Show(302), 1);
    EXPECT_EQ(rig_.Icon(), nullptr);
    EXPECT_EQ(Message(), Sjis(Expected('B', 302)->text));
}

TEST(Title, RunsFromAfterTheNumberToTheBracketOrTheLineEnd) {
    char title[64];
    ExtractTitle("[0300 abc]\r\nrest", title, sizeof title);
    EXPECT_STREQ(title, "abc");
    ExtractTitle("[12 no bracket\r\nrest]", title, sizeof title);
    EXPECT_STREQ(title, "no bracket");
    ExtractTitle("[7 to the end", title, sizeof title);
    EXPECT_STREQ(title, "to the end");
    ExtractTitle("[1 x\nno carriage return]", title, sizeof title);
    EXPECT_STREQ(title, "");
    ExtractTitle("", title, sizeof title);
    EXPECT_STREQ(title, "");
    ExtractTitle("[", title, sizeof title);
    EXPECT_STREQ(title, "");
    ExtractTitle("[0001 a very long title]", title, 5);
    EXPECT_STREQ(title, "a ve");
}

}  // namespace
