/*
 * catalogue.h - the status message catalogue: one row for every status
 * code that the language monitor writes into ERR_CODE, with its icon and
 * its Japanese message and operator instructions, and ShowStatusMessage,
 * which puts a code's row into the status window.
 *
 * The rows are seven groups, chosen by the code's range; each group but F
 * ends in a row with code kEndOfGroup that catches every code of its range
 * without a row of its own, shown with the number filled in. Reserved
 * codes are ignored: the display keeps its previous state. For the ready
 * and printing states the window also shows notices for low paper in the
 * cut-sheet feeders and for a due print-head exchange; while one is shown
 * the current code is 150.
 *
 * Texts are Shift-JIS (code page 932), the system code page of the
 * machines the monitor runs on.
 *
 * Choices of this implementation:
 *  - A code 150 that comes from the record itself (and so has no notice)
 *    is shown through group A's terminator and its tray text is that
 *    message's title, like any other code without a row.
 */
#ifndef ORV_MONITOR_CATALOGUE_H
#define ORV_MONITOR_CATALOGUE_H

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "state.h"

namespace orv {

struct MessageEntry {
    int16_t code;       // status code of the row; kEndOfGroup ends a group
    uint16_t icon;      // icon resource id
    uint8_t formatted;  // 1: text holds one decimal placeholder for the code
    uint8_t ignored;    // 1: reserved code, ignored
    const char* text;   // message text, Shift-JIS
};

constexpr int16_t kEndOfGroup = 9999;
constexpr int16_t kNoticeCode = 150;  // ready or printing with a notice shown

/* Icon resources of the status monitor. */
constexpr uint16_t kIconPrinter = 199;      // ready, printing
constexpr uint16_t kIconInformation = 211;  // fetching information, notices
constexpr uint16_t kIconWarning = 212;      // operator-recoverable states
constexpr uint16_t kIconError = 213;        // paper path, communication, unlisted codes
constexpr uint16_t kIconAlarm = 226;        // hardware alarms

/* Controls of the status window that the catalogue sets. */
constexpr int kIconControl = 1026;
constexpr int kOkButton = 1044;
constexpr int kMessageField = 1060;
constexpr int kMessageFieldLimit = 1024;  // bytes read back when comparing

/* One group of rows, searched from its first row. */
struct MessageGroup {
    char name;                  // 'A' to 'G'
    const MessageEntry* rows;
    size_t count;
};

/* The seven groups, A to G, in search order. */
extern const MessageGroup kMessageGroups[7];

/* The group that a code falls into: A below 300, B 300-399, C 400-499,
 * D 500-599, E 700-799, F 1520-1599, G every other code. */
const MessageGroup& GroupOf(int code);

/* The row shown for a code: its own row, else its group's terminator. */
const MessageEntry& FindMessage(int code);

/* The codes for which the OK button is disabled and the print-cancel
 * button becomes the default: the exit jams and other errors that need
 * the printer switched off, the hardware alarms, and 1500 (no response). */
bool IsSeriousCode(int code);

/* The title of a message text, for the tray tip: after the opening
 * bracket, the number and one blank, up to "]", a line end or the end of
 * the text. Always terminated; cut to fit `size`. */
void ExtractTitle(const char* text, char* title, size_t size);

/* Shows the row of `code` in the status window: the icon (control 1026),
 * the message text (control 1060, written only when it differs from what
 * the field shows), the short status text of the state, and the OK
 * button's enabled state (control 1044). For codes 0 and 2 reads
 * CSF_FRONT, CSF_REAR and HEAD_SPAN from the open record keys for the
 * notices. For a reserved code only sets the state's current code back
 * to the previous one. Returns 1 when done, 0 when a notice value could
 * not be read (both record keys are then closed). */
int ShowStatusMessage(HWND window, MonitorState& state, int16_t code);

}  // namespace orv

#endif  // ORV_MONITOR_CATALOGUE_H
