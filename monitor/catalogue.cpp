/*
 * catalogue.cpp - the message rows and ShowStatusMessage.
 *
 * The texts are kept here in UTF-8 for reading and editing; the build
 * compiles this file with -fexec-charset=CP932, so every literal reaches
 * the window as the Shift-JIS bytes the system code page expects. "\r\n"
 * is the line break of the multi-line message field; the leading blanks
 * of continuation lines indent them under the numbered step above.
 */
#include "catalogue.h"

#include <cstdio>
#include <cstring>

#include "record.h"

namespace orv {

namespace {

/* --- the rows ------------------------------------------------------------ */

// The printer-error text: the terminator of groups A to E.
constexpr char kPrinterErrorText[] =
    "[%04d プリンタ異常]\r\n"
    "プリンターで異常が発生しました。\r\n"
    "プリンターの状態を確認してください。";

// Shown for 304 and 305.
constexpr char kReverseFeedText[] =
    "[0305 連帳後退エラー]\r\n"
    "後退させる用紙が長過ぎます。\r\n"
    "《操作手順》\r\n"
    "１．用紙を排出口で切って「用紙セット」スイッチを押\r\n"
    "    し、用紙を後退させます。\r\n"
    "注）印刷を中止する時は「印刷中止」ボタンをクリック\r\n"
    "    した後、プリンターの電源を再投入してください。\r\n"
    "    この操作をしないと正しく印刷されないことがあり\r\n"
    "    ます。";

// Shown for 408; the reserved 409 carries it too.
constexpr char kLineFeedJamText[] =
    "[0408 改行ジャム]\r\n"
    "紙送り中に紙づまりが発生しました。\r\n"
    "《操作手順》\r\n"
    "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
    "    クリックします。\r\n"
    "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
    "    あります。\r\n"
    "２．プリンター（給紙口、内部、排出部）の用紙を取り\r\n"
    "    除きます。\r\n"
    "３．プリンターの電源を入れて、再度印刷を行います。\r\n"
    "注）段差のある用紙を使用すると、改行ジャムエラーが\r\n"
    "    発生することがあります。その場合はプリンターの\r\n"
    "    機能設定で｢ｶｲｷﾞｮｳｼﾞｬﾑｹﾝﾁ｣を｢ﾑｺｳ｣にしてください。";

const MessageEntry kGroupA[] = {
    {0, kIconPrinter, 0, 0, "[0000 印刷可能]"},
    {2, kIconPrinter, 0, 0,
     "[0002 印刷中]\r\n"
     "\r\n"
     "注）印刷を中止する時はプリンターをオフラインにして\r\n"
     "    「印刷中止」ボタンをクリックした後、プリンター\r\n"
     "    の電源を再投入してください。\r\n"
     "    この操作をしないと正しく印刷されないことがあり\r\n"
     "    ます。"},
    {100, kIconInformation, 0, 0, "[情報取得中]"},
    {kEndOfGroup, kIconError, 1, 0, kPrinterErrorText},
};

const MessageEntry kGroupB[] = {
    {300, kIconWarning, 0, 0,
     "[0300 オフライン]\r\n"
     "プリンターがオフラインです。\r\n"
     "《操作手順》\r\n"
     "１．プリンターをオンラインにしてください。\r\n"
     "２．印刷する用紙と連単切替レバーの位置が、一致して\r\n"
     "    いるか確認してください。\r\n"
     "注）印刷を中止する時は「印刷中止」ボタンをクリック\r\n"
     "    した後、プリンターの電源を再投入してください。\r\n"
     "    この操作をしないと正しく印刷されないことがあり\r\n"
     "    ます。"},
    {301, kIconWarning, 0, 0,
     "[0301 用紙なし（カットシートフィーダー）]\r\n"
     "選択されているカットシートフィーダーに用紙がありま\r\n"
     "せん。\r\n"
     "《操作手順》\r\n"
     "１．選択されているカットシートフィーダーに用紙を補\r\n"
     "    給して、「用紙セット」スイッチを押します。\r\n"
     "注）印刷を中止する時は「印刷中止」ボタンをクリック\r\n"
     "    した後、プリンターの電源を再投入してください。\r\n"
     "    この操作をしないと正しく印刷されないことがあり\r\n"
     "    ます。"},
    {302, kIconWarning, 0, 0,
     "[0302 用紙なし]\r\n"
     "用紙がありません。\r\n"
     "《操作手順（手差し）》\r\n"
     "１．用紙を手差し口にセットしプリンターをオンライン\r\n"
     "    にします。\r\n"
     "《操作手順（トラクター）》\r\n"
     "１．トラクターに用紙を掛けて「用紙セット」スイッチ\r\n"
     "    を押します。\r\n"
     "２．用紙の吸入が終わったらプリンターをオンラインに\r\n"
     "    します。\r\n"
     "注）アプリケーションでの下端余白の設定が、プリンタ\r\n"
     "    ーの下端余白より狭い時は、次ページの印字開始位\r\n"
     "    置がずれることがあります。\r\n"
     "注）印刷を中止する時は「印刷中止」ボタンをクリック\r\n"
     "    した後、プリンターの電源を再投入してください。\r\n"
     "    この操作をしないと正しく印刷されないことがあり\r\n"
     "    ます。"},
    {303, kIconWarning, 0, 0,
     "[0303 単票抜き取り待ち]\r\n"
     "排紙した用紙が単票テーブルに残っています。\r\n"
     "《操作手順》\r\n"
     "１．単票テーブル上の用紙を取り除きます。\r\n"
     "注）印刷を中止する時は「印刷中止」ボタンをクリック\r\n"
     "    した後、プリンターの電源を再投入してください。\r\n"
     "    この操作をしないと正しく印刷されないことがあり\r\n"
     "    ます。"},
    {304, kIconWarning, 0, 0, kReverseFeedText},
    {305, kIconWarning, 0, 0, kReverseFeedText},
    {306, kIconWarning, 0, 0,
     "[0306 用紙吸入エラー]\r\n"
     "用紙が正しく吸入できませんでした。\r\n"
     "・用紙が斜めに入った。\r\n"
     "・用紙セット範囲外に用紙がセットされた。\r\n"
     "・用紙が引き込めなかった。\r\n"
     "・使用できない幅の用紙がセットされた。\r\n"
     "《操作手順》\r\n"
     "１．単票テーブル上の用紙を取り除きます。\r\n"
     "２．用紙をセットしプリンターをオンラインにします。\r\n"
     "注）単票セットフリーモード時は、単票セット位置を\r\n"
     "    用紙セット範囲にセットしてください。\r\n"
     "注）印刷を中止する時は「印刷中止」ボタンをクリック\r\n"
     "    した後、プリンターの電源を再投入してください。\r\n"
     "    この操作をしないと正しく印刷されないことがあり\r\n"
     "    ます。"},
    {307, kIconWarning, 0, 0,
     "[0307 吸入ジャム（手差し）]\r\n"
     "用紙の吸入中に紙づまりが発生しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンター（給紙口、内部）の用紙を取り除きます。\r\n"
     "２．用紙をセットしプリンターをオンラインにします。\r\n"
     "注）プリンターの電源を切った場合は、電源を入れる前\r\n"
     "    に、「印刷中止」ボタンをクリックしてください。\r\n"
     "    印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。"},
    {308, kIconWarning, 0, 0,
     "[0308 吸入ジャム（カットシートフィーダー）]\r\n"
     "用紙の吸入中に紙づまりが発生しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンター（給紙口、内部）の用紙を取り除きます。\r\n"
     "２．用紙をセットしプリンターをオンラインにします。\r\n"
     "注）プリンターの電源を切った場合は、電源を入れる前\r\n"
     "    に、「印刷中止」ボタンをクリックしてください。\r\n"
     "    印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。"},
    {309, kIconWarning, 0, 0,
     "[0309 吸入ジャム（トラクター）]\r\n"
     "用紙の吸入中に紙づまりが発生しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンター（給紙口、内部）の用紙を取り除きます。\r\n"
     "２．トラクターに用紙を掛けて「用紙セット」スイッチ\r\n"
     "    を押します。\r\n"
     "３．用紙の吸入が終わったらプリンターをオンラインに\r\n"
     "    します。\r\n"
     "注）プリンターの電源を切った場合は、電源を入れる前\r\n"
     "    に、「印刷中止」ボタンをクリックしてください。\r\n"
     "    印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。"},
    {310, kIconWarning, 0, 0,
     "[0310 カバーオープン]\r\n"
     "トップカバーが開いています。\r\n"
     "《操作手順》\r\n"
     "１．トップカバーを閉じてプリンターをオンラインにし\r\n"
     "    ます。\r\n"
     "注）印刷を中止する時は「印刷中止」ボタンをクリック\r\n"
     "    した後、プリンターの電源を再投入してください。\r\n"
     "    この操作をしないと正しく印刷されないことがあり\r\n"
     "    ます。"},
    {kEndOfGroup, kIconError, 1, 0, kPrinterErrorText},
};

const MessageEntry kGroupC[] = {
    {400, kIconError, 0, 1, "[0400 リザーブ]"},
    {401, kIconError, 0, 1, "[0401 リザーブ]"},
    {402, kIconError, 0, 0,
     "[0402 排出ジャム（手差し）]\r\n"
     "用紙の排出中に紙づまりが発生しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．プリンター（給紙口、内部、排出部）の用紙を取り\r\n"
     "    除きます。\r\n"
     "３．プリンターの電源を入れて、再度印刷を行います。"},
    {403, kIconError, 0, 0,
     "[0403 排出ジャム（カットシートフィーダー）]\r\n"
     "用紙の排出中に紙づまりが発生しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．プリンター（給紙口、内部、排出部）の用紙を取り\r\n"
     "    除きます。\r\n"
     "３．プリンターの電源を入れて、再度印刷を行います。"},
    {404, kIconError, 0, 0,
     "[0404 排出ジャム（トラクター）]\r\n"
     "用紙の排出中に紙づまりが発生しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．プリンター（給紙口、内部、排出部）の用紙を取り\r\n"
     "    除きます。\r\n"
     "３．プリンターの電源を入れて、再度印刷を行います。"},
    {405, kIconError, 0, 1, "[0405 リザーブ]"},
    {406, kIconError, 0, 0,
     "[0406 印字桁ずれ]\r\n"
     "印字の桁ずれを検出しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．プリンター（給紙口、内部、排出部）の用紙を取り\r\n"
     "    除きます。\r\n"
     "３．その他の異物が無いか確認します。\r\n"
     "    異物があった場合は取り除きます。\r\n"
     "４．手で印字ヘッドが両端まで動くことを確認します。\r\n"
     "５．プリンターの電源を入れて、再度印刷を行います。"},
    {407, kIconError, 0, 0,
     "[0407 用紙厚異常]\r\n"
     "使用できない厚さの用紙に印刷しようとしています。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．このプリンターで使える用紙か、用紙の仕様を確認\r\n"
     "    してください。\r\n"
     "３．プリンター（給紙口、内部）の用紙を取り除きます。\r\n"
     "４．プリンターの電源を入れて、再度印刷を行います。"},
    {408, kIconError, 0, 0, kLineFeedJamText},
    {409, kIconError, 0, 1, kLineFeedJamText},
    {kEndOfGroup, kIconError, 1, 0, kPrinterErrorText},
};

const MessageEntry kGroupD[] = {
    {500, kIconError, 0, 0,
     "[0500 通信エラー]\r\n"
     "プリンターとの通信が異常となりました。\r\n"
     "プリンターの電源を再投入してください。"},
    {kEndOfGroup, kIconError, 1, 0, kPrinterErrorText},
};

const MessageEntry kGroupE[] = {
    {700, kIconAlarm, 0, 0,
     "[0700 ＲＯＭ/ＲＡＭアラーム]\r\n"
     "ＲＯＭ/ＲＡＭの異常を検出しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．プリンターの電源を入れて、再度印刷を行います。"},
    {701, kIconAlarm, 0, 1, "[0701 リザーブ]"},
    {702, kIconAlarm, 0, 0,
     "[0702 斜行ユニットアラーム]\r\n"
     "斜行ユニットホームポジション検出に失敗しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．単票テーブルの奥に異物がないか確認します。\r\n"
     "３．プリンターの電源を入れて、再度印刷を行います。"},
    {703, kIconAlarm, 0, 0,
     "[0703 ＨＣＰＰアラーム]\r\n"
     "ＨＣＰＰホームポジション検出に失敗しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．プリンターの電源を入れて、再度印刷を行います。"},
    {704, kIconAlarm, 0, 0,
     "[0704 ＡＰＴＣアラーム]\r\n"
     "ＡＰＴＣホームポジション検出に失敗しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．プリンターの電源を入れて、再度印刷を行います。"},
    {705, kIconAlarm, 0, 0,
     "[0705 ＬＥＳアラーム]\r\n"
     "印字キャリアホームポジション検出に失敗しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．プリンター（給紙口、内部、排出部）の用紙を取り\r\n"
     "    除きます。\r\n"
     "３．その他の異物が無いか確認します。\r\n"
     "    異物があった場合は取り除きます。\r\n"
     "４．手で印字ヘッドが両端まで動くことを確認します。\r\n"
     "５．プリンターの電源を入れて、再度印刷を行います。"},
    {706, kIconAlarm, 0, 1, "[0706 リザーブ]"},
    {707, kIconAlarm, 0, 0,
     "[0707 ファンアラーム]\r\n"
     "ファンの異常を検出しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．プリンターの電源を入れて、再度印刷を行います。"},
    {708, kIconAlarm, 0, 0,
     "[0708 ＣＳＦモーターアラーム]\r\n"
     "ＣＳＦモータードライバの異常を検出しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．プリンターの電源を入れて、再度印刷を行います。"},
    {709, kIconAlarm, 0, 0,
     "[0709 リボンモーターアラーム]\r\n"
     "リボンモータードライバの異常を検出しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．プリンターの電源を入れて、再度印刷を行います。"},
    {710, kIconAlarm, 0, 0,
     "[0710 ＯＶＥＲＬＯＡＤアラーム]\r\n"
     "電源電圧の異常を検出しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．プリンターの電源を入れて、再度印刷を行います。"},
    {711, kIconAlarm, 0, 0,
     "[0711 ＬＯＷ ＶＯＬアラーム]\r\n"
     "電源電圧の異常を検出しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．プリンターの電源を入れて、再度印刷を行います。"},
    {712, kIconAlarm, 0, 0,
     "[0712 ＨＩＧＨ ＶＯＬアラーム]\r\n"
     "電源電圧の異常を検出しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．プリンターの電源を入れて、再度印刷を行います。"},
    {713, kIconAlarm, 0, 0,
     "[0713 ヘッドアラーム]\r\n"
     "印字ヘッドドライバの異常を検出しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．プリンターの電源を入れて、再度印刷を行います。"},
    {714, kIconAlarm, 0, 0,
     "[0714 ＬＦアラーム]\r\n"
     "ＬＦモーター及びトラクターモータードライバの異常を\r\n"
     "検出しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．プリンターの電源を入れて、再度印刷を行います。"},
    {715, kIconAlarm, 0, 0,
     "[0715 ＳＰアラーム]\r\n"
     "スペースモータードライバの異常を検出しました。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を切って、「印刷中止」ボタンを\r\n"
     "    クリックします。\r\n"
     "注）印刷中止をしない場合、正しく印刷されないことが\r\n"
     "    あります。\r\n"
     "２．プリンターの電源を入れて、再度印刷を行います。"},
    {kEndOfGroup, kIconError, 1, 0, kPrinterErrorText},
};

const MessageEntry kGroupF[] = {
    {kEndOfGroup, kIconError, 1, 0,
     "[%4d 通信エラー]\r\n"
     "プリンターとの通信が異常となりました。\r\n"
     "プリンターの電源を再投入してください。"},
};

const MessageEntry kGroupG[] = {
    {1500, kIconError, 0, 0,
     "[1500 応答なし]\r\n"
     "プリンターからの応答がありません。\r\n"
     "《操作手順》\r\n"
     "１．プリンターの電源を確認します。\r\n"
     "２．プリンターケーブルの接続を確認します。\r\n"
     "    確実に接続されていますか？\r\n"
     "    断線していませんか？\r\n"
     "３．プリンターのエラー監視機能が有効になっているか\r\n"
     "    確認します。\r\n"
     "４．パソコンのプリンターポート設定が双方向通信可能\r\n"
     "    な設定になっているか確認します。\r\n"
     "５．プリンターがオンラインになっているか確認してく\r\n"
     "    ださい。\r\n"
     "６．プリンターエラーが発生していないか確認します。\r\n"
     "    プリンターエラーが発生している場合は、「印刷中\r\n"
     "    止」ボタンをクリックし、プリンターエラーを解除\r\n"
     "    してからプリンターの電源を再投入してください"},
    {1900, kIconError, 0, 0,
     "[1900 メモリ不足]\r\n"
     "メモリ不足が発生しました。\r\n"
     "不要なアプリケーションを終了してください。"},
    {kEndOfGroup, kIconError, 1, 0,
     "[%4d システムエラー]\r\n"
     "システムエラーが発生しました。\r\n"
     "いったん印刷を終了し、再度印刷を行ってください。"},
};

/* --- notices --------------------------------------------------------------- */

constexpr int kLowPaperPercent = 20;  // a feeder at or below this is running low
constexpr BYTE kHeadExchangeSoon = 90;
constexpr BYTE kHeadExchangeDue = 100;

constexpr char kReadyShortText[] = "印刷可能...";
constexpr char kPrintingShortText[] = "印刷中...";
constexpr char kFetchingShortText[] = "情報取得中...";

struct FeederNotice {
    const char* value_name;
    const char* message;     // followed by the percentage and " )"
    const char* short_text;  // followed by the percentage and " "
};

const FeederNotice kFeederNotices[] = {
    {kCsfFront, "\r\n前ＣＳＦに用紙が残り少なくなりました。( 用紙残量 : ", "前CSFﾆｱｴﾝﾌﾟﾃｨ:"},
    {kCsfRear, "\r\n後ＣＳＦに用紙が残り少なくなりました。( 用紙残量 : ", "後CSFﾆｱｴﾝﾌﾟﾃｨ:"},
};

constexpr char kHeadSoonMessage[] = "\r\nヘッド交換準備をしてください。";
constexpr char kHeadSoonShortText[] = "ﾍｯﾄﾞ交換準備";
constexpr char kHeadDueMessage[] = "\r\nヘッド交換をしてください。";
constexpr char kHeadDueShortText[] = "ﾍｯﾄﾞ交換";

/* A text assembled in a fixed buffer; appending past its end cuts the
 * text (no catalogue text with every notice comes near the size). */
template <size_t N>
struct Text {
    char bytes[N] = {};
    size_t length = 0;

    void Append(const char* piece) {
        length += CopyTextCut(bytes + length, N - length, piece);
    }
};

using MessageText = Text<2 * kMessageFieldLimit>;
using ShortText = Text<kTextBufferSize>;

/* What a row turns into before it reaches the window. */
struct Display {
    int16_t code;        // working status code: the row's, or 150 with a notice
    uint16_t icon;
    bool has_notice;
    MessageText message;
    ShortText short_text;  // built only by the notices
};

void AddNotice(Display& display, const char* message, const char* short_text) {
    display.code = kNoticeCode;
    display.icon = kIconInformation;
    display.has_notice = true;
    display.message.Append(message);
    display.short_text.Append(short_text);
}

void AddFeederNotice(Display& display, const FeederNotice& notice, BYTE percent) {
    char figure[8];
    snprintf(figure, sizeof figure, "%2d%%", percent);
    AddNotice(display, notice.message, notice.short_text);
    display.message.Append(figure);
    display.message.Append(" )");
    display.short_text.Append(figure);
    display.short_text.Append(" ");
}

/* Reads the three notice values first, then adds the notices in their
 * order: front feeder, rear feeder, head. False when a value is missing. */
bool AddNotices(MonitorState& state, Display& display) {
    BYTE feeder[2];
    for (size_t i = 0; i < 2; ++i) {
        if (!ReadByteValue(kFeederNotices[i].value_name, state))
            return false;
        feeder[i] = state.byte_slot;
    }
    if (!ReadByteValue(kHeadSpan, state))
        return false;
    BYTE head = state.byte_slot;
    display.short_text.Append(display.code == 0 ? kReadyShortText : kPrintingShortText);
    for (size_t i = 0; i < 2; ++i)
        if (feeder[i] <= kLowPaperPercent)
            AddFeederNotice(display, kFeederNotices[i], feeder[i]);
    if (head == kHeadExchangeSoon)
        AddNotice(display, kHeadSoonMessage, kHeadSoonShortText);
    else if (head == kHeadExchangeDue)
        AddNotice(display, kHeadDueMessage, kHeadDueShortText);
    return true;
}

/* --- the window ------------------------------------------------------------ */

void SetMessageField(HWND window, const char* text) {
    // Rewriting an unchanged text would reset the field's scroll position
    // every 500 ms while the user reads the instructions.
    char present[kMessageFieldLimit] = {};
    GetDlgItemTextA(window, kMessageField, present, sizeof present);
    if (strcmp(present, text) != 0)
        SetDlgItemTextA(window, kMessageField, text);
}

void SetShortText(MonitorState& state, const Display& display) {
    const char* text = nullptr;
    if (display.has_notice)
        text = display.short_text.bytes;
    else if (display.code == 0)
        text = kReadyShortText;
    else if (display.code == 2)
        text = kPrintingShortText;
    else if (display.code == 100)
        text = kFetchingShortText;
    if (text != nullptr)
        CopyTextCut(state.short_text, sizeof state.short_text, text);
    else
        ExtractTitle(display.message.bytes, state.short_text, sizeof state.short_text);
}

}  // namespace

/* --- lookup ---------------------------------------------------------------- */

const MessageGroup kMessageGroups[7] = {
    {'A', kGroupA, sizeof kGroupA / sizeof kGroupA[0]},
    {'B', kGroupB, sizeof kGroupB / sizeof kGroupB[0]},
    {'C', kGroupC, sizeof kGroupC / sizeof kGroupC[0]},
    {'D', kGroupD, sizeof kGroupD / sizeof kGroupD[0]},
    {'E', kGroupE, sizeof kGroupE / sizeof kGroupE[0]},
    {'F', kGroupF, sizeof kGroupF / sizeof kGroupF[0]},
    {'G', kGroupG, sizeof kGroupG / sizeof kGroupG[0]},
};

const MessageGroup& GroupOf(int code) {
    if (code < 300)
        return kMessageGroups[0];
    if (code < 400)
        return kMessageGroups[1];
    if (code < 500)
        return kMessageGroups[2];
    if (code < 600)
        return kMessageGroups[3];
    if (code >= 700 && code < 800)
        return kMessageGroups[4];
    if (code >= 1520 && code < 1600)
        return kMessageGroups[5];
    return kMessageGroups[6];
}

const MessageEntry& FindMessage(int code) {
    const MessageGroup& group = GroupOf(code);
    if (group.name == 'F')
        return group.rows[0];
    // Every group but F ends in its terminator, so the walk stops inside.
    size_t i = 0;
    while (group.rows[i].code != code && group.rows[i].code != kEndOfGroup)
        ++i;
    return group.rows[i];
}

bool IsSeriousCode(int code) {
    return (code >= 402 && code <= 404) || (code >= 406 && code <= 408) || code == 700 ||
           (code >= 702 && code <= 705) || (code >= 707 && code <= 715) || code == 1500;
}

void ExtractTitle(const char* text, char* title, size_t size) {
    const char* p = text;
    if (*p != '\0')
        ++p;  // the opening bracket
    while (*p >= '0' && *p <= '9')
        ++p;
    if (*p != '\0')
        ++p;  // the blank after the number
    const char* start = p;
    while (*p != '\0' && *p != ']' && *p != '\n')
        ++p;
    const char* end = p;
    if (*p == '\n' && end > start)
        --end;  // the carriage return before the line feed
    size_t length = static_cast<size_t>(end - start);
    if (length > size - 1)
        length = size - 1;
    memcpy(title, start, length);
    title[length] = '\0';
}

/* --- showing a code -------------------------------------------------------- */

int ShowStatusMessage(HWND window, MonitorState& state, int16_t code) {
    const MessageEntry& row = FindMessage(code);
    if (row.ignored) {
        state.current_code = state.previous_code;
        return 1;
    }
    Display display;
    display.code = code;
    display.icon = row.icon;
    display.has_notice = false;
    if (row.formatted)
        snprintf(display.message.bytes, sizeof display.message.bytes, row.text, code);
    else
        CopyTextCut(display.message.bytes, sizeof display.message.bytes, row.text);
    display.message.length = strlen(display.message.bytes);
    if (row.code == 0 || row.code == 2) {
        if (!AddNotices(state, display)) {
            CloseRecordKeys(state);
            return 0;
        }
        if (display.has_notice)
            state.current_code = kNoticeCode;
    }
    // A missing icon leaves the control empty; the text is still shown.
    HICON icon = LoadIconA(state.instance, MAKEINTRESOURCEA(display.icon));
    SendDlgItemMessageA(window, kIconControl, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
    SetMessageField(window, display.message.bytes);
    SetShortText(state, display);
    EnableWindow(GetDlgItem(window, kOkButton), IsSeriousCode(display.code) ? FALSE : TRUE);
    return 1;
}

}  // namespace orv
