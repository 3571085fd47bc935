/*
 * state.h - MonitorState, the one program-wide state of the status
 * monitor.
 *
 * Start-up builds it once, the status window and its timer keep a pointer
 * to it, and exit frees it. It holds what the last poll of the status
 * record read (the record is the language monitor's; see record.h), the
 * two registry keys of the access in progress, and the buffers that the
 * reads fill. Everything in it belongs to the user-interface thread.
 */
#ifndef ORV_MONITOR_STATE_H
#define ORV_MONITOR_STATE_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "handles.h"

namespace orv {

constexpr DWORD kValueBufferStartSize = 1024;  // grows for longer values
constexpr size_t kTextBufferSize = 512;        // printer name, short text, server host and port

struct MonitorState {
    HINSTANCE instance = nullptr;     // icons and the dialog are loaded from this module
    RegKey parent_key;                // KTRMonitor-msg or ORV while an access is open
    RegKey record_key;                // 1 or KTRMonitor-Status while an access is open
    UINT_PTR timer_id = 0;            // the 500 ms poll timer, 0 when none runs
    LocalBuffer value_buffer;         // receives every string value read
    BYTE byte_slot = 0;               // receives the 1-byte binary values
    char record_subkey[2] = {'1', 0}; // the record's key below KTRMonitor-msg
    char printer_name[kTextBufferSize] = {};  // PRT_NAME of the last poll
    char short_text[kTextBufferSize] = {};    // one-line status for the tray tip
    char server_host[kTextBufferSize] = {};   // PSV_HOST, read at the first poll only
    char server_port[kTextBufferSize] = {};   // PSV_PORT, read at the first poll only
    int32_t job_id = 0;               // JOB_ID of the last poll
    int16_t first_poll_done = 0;      // set by the window after its first poll
    int16_t current_code = 0;         // status code shown now (150 while a notice is shown)
    int16_t previous_code = 0;        // current_code before the last poll
    int16_t in_tray = 0;              // 1 while the window is hidden behind the tray icon
    int32_t flash_enabled = 0;        // 1 when TSK_MODE read "1" at the last poll

    MonitorState() = default;
    MonitorState(const MonitorState&) = delete;
    MonitorState& operator=(const MonitorState&) = delete;
    /* Closes keys still open (record key first) and frees the buffer. */
    ~MonitorState();
};

/* A zero-filled state with its value buffer of kValueBufferStartSize
 * bytes; nullptr when memory runs out. */
std::unique_ptr<MonitorState> NewMonitorState(HINSTANCE instance);

/* Copies `source` into a buffer of `size` bytes (size > 0), always
 * terminated. A text that does not fit is cut at the last whole character
 * of the system code page, so no lone lead byte of a double-byte
 * character is left at the end. Returns the number of bytes copied. */
size_t CopyTextCut(char* target, size_t size, const char* source);

}  // namespace orv

#endif  // ORV_MONITOR_STATE_H
