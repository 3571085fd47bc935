/*
 * record.cpp - the status record exchange: defaults, the two read
 * primitives, the poll, and the window-position key under its mutex.
 *
 * The poll runs every 500 ms for the whole login session, so it does no
 * more registry calls than the values need: one size query and one read
 * per string, one read per byte value, two opens and two closes.
 */
#include "record.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "catalogue.h"
#include "run_mode.h"

namespace orv {

namespace {

constexpr int kUserNameControl = 1050;
constexpr int kDocumentNameControl = 1031;
constexpr char kTitlePrefix[] = "ステータスモニタ : ";

struct StringDefault {
    const char* name;
    const char* text;
};

/* The start defaults, in the order they are written. */
const StringDefault kStringDefaults[] = {
    {kPrtName, "  "},    {kErrCode, "0000"}, {kUsrName, "  "},  {kDocName, "  "},
    {kCalMode, "0"},     {kJobId, "5"},      {kDspMode, "2"},   {kPsvHost, "  "},
    {kPsvPort, "  "},    {kPrtHalt, "1"},    {kLmJobCancel, "RQ_NORMAL"},
};

struct ByteDefault {
    const char* name;
    BYTE value;
};

const ByteDefault kByteDefaults[] = {
    {kHeadSpan, 0x00},
    {kCsfFront, 0x64},
    {kCsfRear, 0x64},
};

LONG SetByte(HKEY key, const char* name, BYTE value) {
    return RegSetValueExA(key, name, 0, REG_BINARY, &value, 1);
}

/* Steps of the poll after the keys are open. Each returns false when its
 * read fails; the poll then closes the keys and fails. */

bool ReadFirstPollValues(MonitorState& state) {
    state.value_buffer.Clear();
    if (!ReadStringValue(kPsvHost, state))
        return false;
    CopyTextCut(state.server_host, sizeof state.server_host, state.value_buffer.data());
    state.value_buffer.Clear();
    if (!ReadStringValue(kPsvPort, state))
        return false;
    CopyTextCut(state.server_port, sizeof state.server_port, state.value_buffer.data());
    return true;
}

bool ReadStatusCode(MonitorState& state) {
    char code_text[kStatusCodeTextSize] = {};
    state.value_buffer.Clear();
    if (!ReadStringValue(kErrCode, state))
        return false;
    // Only the first 7 characters count.
    CopyTextCut(code_text, sizeof code_text, state.value_buffer.data());
    state.previous_code = state.current_code;
    state.current_code = ToInt16(code_text);
    return true;
}

void ReadFlashMode(MonitorState& state) {
    state.value_buffer.Clear();
    bool read = ReadStringValue(kTskMode, state) != 0;
    state.flash_enabled = read && strcmp(state.value_buffer.data(), "1") == 0;
}

void SetTitle(HWND window, const MonitorState& state) {
    char title[sizeof kTitlePrefix + kTextBufferSize];
    snprintf(title, sizeof title, "%s%s", kTitlePrefix, state.printer_name);
    SetWindowTextA(window, title);
}

bool ShowTextValue(HWND window, int control, const char* name, MonitorState& state) {
    state.value_buffer.Clear();
    if (!ReadStringValue(name, state))
        return false;
    SetDlgItemTextA(window, control, state.value_buffer.data());
    return true;
}

/* Steps 6 to 13 of the poll: everything after the first-poll values. */
bool ReadAndShow(HWND window, MonitorState& state) {
    state.value_buffer.Clear();
    if (!ReadStringValue(kPrtName, state))
        return false;
    CopyTextCut(state.printer_name, sizeof state.printer_name, state.value_buffer.data());
    if (!ReadStatusCode(state))
        return false;
    ReadFlashMode(state);
    if (ShowStatusMessage(window, state, state.current_code) != 1)
        return false;
    SetTitle(window, state);
    if (!ShowTextValue(window, kUserNameControl, kUsrName, state) ||
        !ShowTextValue(window, kDocumentNameControl, kDocName, state))
        return false;
    state.value_buffer.Clear();
    if (!ReadStringValue(kJobId, state))
        return false;
    state.job_id = ToInt32(state.value_buffer.data());
    return true;
}

int FailPoll(MonitorState& state) {
    CloseRecordKeys(state);
    return kPollFailed;
}

/* Parses the decimal prefix of a text, saturating at the given limits. */
int64_t ParseDecimal(const char* text, int64_t low, int64_t high) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > high - low)  // beyond either limit; stop before overflow
            break;
    }
    if (negative)
        value = -value;
    return value < low ? low : value > high ? high : value;
}

/* One operation on the position key: holds "StatusRegSet_Mutex", then
 * opens (or, for writing, creates) SOFTWARE\ORV and KTRMonitor-Status
 * below the run mode's position root. The keys close before the mutex is
 * released, on every path. */
class PositionKey {
  public:
    explicit PositionKey(bool create) : hold_(kPositionMutexName) {
        if (!hold_.held())
            return;
        HKEY root = g_run_mode.position_root;
        LONG result = create ? orv_.Create(root, kOrvPath, kPositionAccess)
                             : orv_.Open(root, kOrvPath, kPositionAccess);
        if (result != ERROR_SUCCESS)
            return;
        result = create ? status_.Create(orv_.get(), kPositionKeyName, kPositionAccess)
                        : status_.Open(orv_.get(), kPositionKeyName, kPositionAccess);
        open_ = result == ERROR_SUCCESS;
    }

    bool is_open() const { return open_; }
    HKEY get() const { return status_.get(); }

  private:
    NamedMutexHold hold_;  // first member: released after the keys close
    RegKey orv_;
    RegKey status_;
    bool open_ = false;
};

bool ReadPositionValue(HKEY key, const char* name, LONG* value) {
    BYTE bytes[4];
    DWORD size = sizeof bytes;
    if (RegQueryValueExA(key, name, nullptr, nullptr, bytes, &size) != ERROR_SUCCESS ||
        size != sizeof bytes)
        return false;
    // Stored little-endian, whatever the machine.
    *value = static_cast<LONG>(static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                               static_cast<uint32_t>(bytes[2]) << 16 |
                               static_cast<uint32_t>(bytes[3]) << 24);
    return true;
}

LONG WritePositionValue(HKEY key, const char* name, LONG value) {
    uint32_t bits = static_cast<uint32_t>(value);
    BYTE bytes[4] = {static_cast<BYTE>(bits), static_cast<BYTE>(bits >> 8),
                     static_cast<BYTE>(bits >> 16), static_cast<BYTE>(bits >> 24)};
    return RegSetValueExA(key, name, 0, REG_BINARY, bytes, sizeof bytes);
}

}  // namespace

LONG SetStringValue(HKEY key, const char* name, const char* text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(strlen(text) + 1));
}

/* --- defaults ------------------------------------------------------------ */

LONG WriteRecordDefaults(HKEY record_key) {
    // RST_DVD brackets the writing, so the language monitor can tell a
    // record being reset ("999") from a fresh one ("0").
    LONG status = SetStringValue(record_key, kRstDvd, "999");
    for (const StringDefault& value : kStringDefaults) {
        if (status != ERROR_SUCCESS)
            return status;
        status = SetStringValue(record_key, value.name, value.text);
    }
    for (const ByteDefault& value : kByteDefaults) {
        if (status != ERROR_SUCCESS)
            return status;
        status = SetByte(record_key, value.name, value.value);
    }
    if (status != ERROR_SUCCESS)
        return status;
    return SetStringValue(record_key, kRstDvd, "0");
}

int InitialiseStatusRecord() {
    RegKey software, orv, parent, record;
    REGSAM parent_access = g_run_mode.parent_access;
    if (software.Open(HKEY_LOCAL_MACHINE, kSoftwareKey, parent_access) != ERROR_SUCCESS ||
        orv.Create(software.get(), kOrvKey, parent_access) != ERROR_SUCCESS ||
        parent.Create(orv.get(), kRecordParentName, parent_access) != ERROR_SUCCESS ||
        record.Create(parent.get(), "1", g_run_mode.record_access) != ERROR_SUCCESS)
        return 0;
    return WriteRecordDefaults(record.get()) == ERROR_SUCCESS ? 1 : 0;
}

/* --- access -------------------------------------------------------------- */

LONG OpenRecordKeys(MonitorState& state) {
    LONG status = state.parent_key.Open(HKEY_LOCAL_MACHINE, kRecordParentPath,
                                        g_run_mode.parent_access);
    if (status != ERROR_SUCCESS)
        return status;
    status = state.record_key.Open(state.parent_key.get(), state.record_subkey,
                                   g_run_mode.record_access);
    if (status != ERROR_SUCCESS)
        state.parent_key.Close();
    return status;
}

int CloseRecordKeys(MonitorState& state) {
    LONG record = state.record_key.Close();
    LONG parent = state.parent_key.Close();
    return record == ERROR_SUCCESS && parent == ERROR_SUCCESS ? 1 : 0;
}

int ReadStringValue(const char* name, MonitorState& state) {
    HKEY key = state.record_key.get();
    LocalBuffer& buffer = state.value_buffer;
    for (int attempt = 0; attempt < kStringReadAttempts; ++attempt) {
        DWORD size = 0;
        if (RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS ||
            size == MAXDWORD)
            return 0;
        DWORD needed = size + 1;
        if (!buffer.Reserve(needed))
            return 0;
        DWORD read = needed;
        LONG status = RegQueryValueExA(key, name, nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(buffer.data()), &read);
        // The terminator goes right after the bytes read: a value stored
        // without one, or of another type, must not run into older bytes.
        if (status == ERROR_SUCCESS && read < buffer.capacity()) {
            buffer.data()[read] = '\0';
            return 1;
        }
        // Otherwise the language monitor made the value longer between the
        // two calls: ask for its size again.
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
            return 0;
    }
    return 0;
}

int ReadByteValue(const char* name, MonitorState& state) {
    BYTE value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(state.record_key.get(), name, nullptr, nullptr, &value, &size) !=
            ERROR_SUCCESS ||
        size != sizeof value)
        return 0;
    state.byte_slot = value;
    return 1;
}

int16_t ToInt16(const char* text) {
    return static_cast<int16_t>(ParseDecimal(text, INT16_MIN, INT16_MAX));
}

int32_t ToInt32(const char* text) {
    return static_cast<int32_t>(ParseDecimal(text, INT32_MIN, INT32_MAX));
}

/* --- the poll ------------------------------------------------------------ */

int PollRecord(HWND window, MonitorState& state, int from_timer) {
    (void)from_timer;
    if (state.parent_key.Open(HKEY_LOCAL_MACHINE, kRecordParentPath, g_run_mode.parent_access) !=
        ERROR_SUCCESS)
        return kPollFailed;
    LONG status = state.record_key.Open(state.parent_key.get(), state.record_subkey,
                                        g_run_mode.record_access);
    if (status != ERROR_SUCCESS) {
        state.parent_key.Close();
        // The language monitor removes key 1 to end the monitor.
        return status == ERROR_FILE_NOT_FOUND ? kPollRecordGone : kPollFailed;
    }
    if (!ReadStringValue(kCalMode, state))
        return FailPoll(state);
    if (ToInt16(state.value_buffer.data()) == 1) {
        CloseRecordKeys(state);
        return kPollRecordGone;
    }
    // PRT_HALT must be there; its value means nothing to the monitor.
    if (!ReadStringValue(kPrtHalt, state))
        return FailPoll(state);
    if (state.first_poll_done == 0 && !ReadFirstPollValues(state))
        return FailPoll(state);
    if (!ReadAndShow(window, state))
        return FailPoll(state);
    return CloseRecordKeys(state) ? kPollDone : kPollFailed;
}

/* --- window position ---------------------------------------------------- */

int ReadPosition(LONG* left, LONG* top) {
    PositionKey key(false);
    LONG read_left = 0, read_top = 0;
    if (!key.is_open() || !ReadPositionValue(key.get(), kPositionLeft, &read_left) ||
        !ReadPositionValue(key.get(), kPositionTop, &read_top))
        return 0;
    *left = read_left;
    *top = read_top;
    return 1;
}

int WritePosition(LONG left, LONG top) {
    PositionKey key(true);
    return key.is_open() && WritePositionValue(key.get(), kPositionLeft, left) == ERROR_SUCCESS &&
                   WritePositionValue(key.get(), kPositionTop, top) == ERROR_SUCCESS
               ? 1 : 0;
}

int DeletePosition() {
    PositionKey key(false);
    if (!key.is_open())
        return 0;
    LONG left = RegDeleteValueA(key.get(), kPositionLeft);
    LONG top = RegDeleteValueA(key.get(), kPositionTop);
    return left == ERROR_SUCCESS && top == ERROR_SUCCESS ? 1 : 0;
}

}  // namespace orv
