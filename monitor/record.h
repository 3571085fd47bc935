/*
 * record.h - the status record that the printer's language monitor keeps
 * for the status monitor, and the window-position key.
 *
 * The language monitor (a spooler component outside this program) writes
 * the printer's state into HKEY_LOCAL_MACHINE\SOFTWARE\ORV\KTRMonitor-msg\1
 * while it talks to the printer. The status monitor writes the defaults
 * when it starts, polls the record every 500 ms and writes back only a
 * status code from the printer check and the cancel request. Nothing
 * locks the record: each value is read on its own, so one poll can see
 * values of two different moments. Every access opens the keys, uses
 * them and closes them again; the keys live in the MonitorState while
 * open.
 *
 * All REG_SZ values are single-byte strings of the system code page,
 * stored with their terminator; numbers in them are decimal text.
 *
 * Choices of this implementation for values the language monitor gets
 * wrong (none of them can overrun a buffer):
 *  - A string value is read whatever its registry type, and always ends
 *    at the bytes read; a value that grows between the size query and the
 *    read is read again (at most kStringReadAttempts times in all).
 *  - ERR_CODE keeps its first 7 characters; PRT_NAME, PSV_HOST and
 *    PSV_PORT keep at most 511 bytes, cut before a double-byte character
 *    that would not fit whole.
 *  - Decimal texts convert like atoi (leading white space, a sign, the
 *    digits up to the first non-digit, 0 when there are none), but an
 *    out-of-range number saturates at the type's limit instead of
 *    wrapping, so no over-long code reads as an unrelated one.
 *  - A byte value (HEAD_SPAN, CSF_FRONT, CSF_REAR) must hold exactly one
 *    byte; an empty or longer value fails like a missing one.
 *  - A position value counts only when it holds exactly 4 bytes.
 */
#ifndef ORV_MONITOR_RECORD_H
#define ORV_MONITOR_RECORD_H

#include <windows.h>

#include <cstdint>

#include "state.h"

namespace orv {

/* --- keys ---------------------------------------------------------------- */

constexpr char kSoftwareKey[] = "SOFTWARE";
constexpr char kOrvKey[] = "ORV";
constexpr char kRecordParentName[] = "KTRMonitor-msg";
constexpr char kRecordParentPath[] = "SOFTWARE\\ORV\\KTRMonitor-msg";
constexpr char kRecordPath[] = "SOFTWARE\\ORV\\KTRMonitor-msg\\1";
constexpr char kOrvPath[] = "SOFTWARE\\ORV";
constexpr char kPositionKeyName[] = "KTRMonitor-Status";
constexpr char kPositionMutexName[] = "StatusRegSet_Mutex";
constexpr REGSAM kPositionAccess = 0x2001F;  // KEY_READ | KEY_WRITE, in every run mode

/* --- values of the record ---------------------------------------------- */

constexpr char kRstDvd[] = "RST_DVD";          // "999" while the defaults are written
constexpr char kPrtName[] = "PRT_NAME";        // printer name
constexpr char kErrCode[] = "ERR_CODE";        // status code
constexpr char kUsrName[] = "USR_NAME";        // owner of the job
constexpr char kDocName[] = "DOC_NAME";        // document; "  " or " " when none
constexpr char kCalMode[] = "CAL_MODE";        // 1 ends the monitor
constexpr char kJobId[] = "JOB_ID";            // spooler job id
constexpr char kDspMode[] = "DSP_MODE";        // display mode, read once at start
constexpr char kPsvHost[] = "PSV_HOST";        // read at the first poll only
constexpr char kPsvPort[] = "PSV_PORT";        // read at the first poll only
constexpr char kPrtHalt[] = "PRT_HALT";        // must be present
constexpr char kLmJobCancel[] = "LM_JOB_CANCEL"; // cancel request to the language monitor
constexpr char kTskMode[] = "TSK_MODE";        // "1" enables caption flashing
constexpr char kHeadSpan[] = "HEAD_SPAN";      // 1 byte: 90 exchange soon, 100 exchange due
constexpr char kCsfFront[] = "CSF_FRONT";      // 1 byte: paper left in the front feeder, %
constexpr char kCsfRear[] = "CSF_REAR";        // 1 byte: paper left in the rear feeder, %

/* --- values of the position key ---------------------------------------- */

constexpr char kPositionLeft[] = "Position_left";  // REG_BINARY, 4 bytes, signed
constexpr char kPositionTop[] = "Position_top";
constexpr char kStsRun[] = "STS_RUN";              // run marker, REG_SZ

constexpr size_t kStatusCodeTextSize = 8;  // 7 characters and the terminator
constexpr int kStringReadAttempts = 4;

/* Poll results. */
constexpr int kPollFailed = 0;
constexpr int kPollDone = 1;
constexpr int kPollRecordGone = 2;  // key 1 removed, or calibration mode

/* Writes a REG_SZ value of an open key, its terminator included. */
LONG SetStringValue(HKEY key, const char* name, const char* text);

/* --- defaults ------------------------------------------------------------ */

/* Writes the start defaults into the open record key, each value on its
 * own: RST_DVD "999" first, the string values, the three byte values,
 * then RST_DVD "0". The first failing write stops the sequence; its
 * result is returned (ERROR_SUCCESS when all were written). */
LONG WriteRecordDefaults(HKEY record_key);

/* Start-up's preparation of the record: opens SOFTWARE under
 * HKEY_LOCAL_MACHINE with the run mode's parent access, creates or opens
 * ORV and KTRMonitor-msg with the same access and key 1 with the record
 * access, writes the defaults, and closes the keys. 1 on success, 0 on
 * any failure (the keys opened so far are closed). */
int InitialiseStatusRecord();

/* --- access -------------------------------------------------------------- */

/* Opens KTRMonitor-msg below HKEY_LOCAL_MACHINE with the parent access
 * and then key 1 with the record access, into the state's two keys.
 * Returns the failing open's result; when key 1 fails the parent key is
 * closed again. */
LONG OpenRecordKeys(MonitorState& state);

/* The shared closing step: the record key, then the parent key (also when
 * the first close fails). 1 when both closed (or were closed already),
 * else 0. */
int CloseRecordKeys(MonitorState& state);

/* Reads a string value of the open record key into the state's value
 * buffer, growing it to fit. Nonzero on success; the text is then
 * terminated right after the bytes read. */
int ReadStringValue(const char* name, MonitorState& state);

/* Reads a 1-byte value of the open record key into the state's byte slot.
 * Nonzero on success. */
int ReadByteValue(const char* name, MonitorState& state);

/* The decimal conversions of record texts. */
int16_t ToInt16(const char* text);
int32_t ToInt32(const char* text);

/* One poll of the record, run by the status window at its start and by
 * its 500 ms timer. Reads the record into the state, shows the status
 * message (catalogue.h), sets the window title to "ステータスモニタ : "
 * and the printer name, the user name into control 1050 and the document
 * name into control 1031. `from_timer` tells who called and changes
 * nothing. Returns kPollDone, kPollFailed, or kPollRecordGone when key 1
 * is missing or CAL_MODE is 1; the caller ends the program on the last
 * two. The keys are closed on every return. */
int PollRecord(HWND window, MonitorState& state, int from_timer);

/* --- window position ---------------------------------------------------- */

/* Each runs under the mutex "StatusRegSet_Mutex" against
 * SOFTWARE\ORV\KTRMonitor-Status below the run mode's position root, and
 * returns 1 on success, 0 on failure. Read fails unless both values hold
 * 4 bytes; delete succeeds only when both values were deleted. */
int ReadPosition(LONG* left, LONG* top);
int WritePosition(LONG left, LONG top);
int DeletePosition();

}  // namespace orv

#endif  // ORV_MONITOR_RECORD_H
