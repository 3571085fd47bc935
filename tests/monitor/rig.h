/*
 * rig.h - what the monitor's tests share: a private registry for the
 * process (the record lives at a fixed path under HKEY_LOCAL_MACHINE, and
 * tests run in parallel), the run mode, a stand-in status window with the
 * controls the code sets, a MonitorState, and helpers to write the record
 * as the language monitor would and to read the window back.
 */
#ifndef ORV_TEST_MONITOR_RIG_H
#define ORV_TEST_MONITOR_RIG_H

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "registry_sandbox.h"
#include "run_mode.h"
#include "state.h"

constexpr int kTestDialog = 300;

/* UTF-8 text as the bytes of code page 932, converted by the platform
 * (not by the compiler), for comparing with what the monitor shows. */
std::string Sjis(const char* utf8);

/* Writes below HKEY_LOCAL_MACHINE\SOFTWARE\ORV\KTRMonitor-msg\1 as the
 * language monitor does; each returns the registry result. */
LONG SetRecordString(const char* name, const std::string& text);
LONG SetRecordByte(const char* name, BYTE value);
LONG SetRecordRaw(const char* name, DWORD type, const void* data, DWORD size);
LONG DeleteRecordValue(const char* name);
LONG DeleteRecordKey();

class MonitorRig {
  public:
    /* Sandboxes HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, sets the run
     * mode, and (when `with_record`) writes the record's defaults. */
    explicit MonitorRig(const orv::RunMode& mode, bool with_record = true);
    ~MonitorRig();
    MonitorRig(const MonitorRig&) = delete;
    MonitorRig& operator=(const MonitorRig&) = delete;

    bool ok() const { return ok_; }
    HWND window() const { return window_; }
    orv::MonitorState& state() { return *state_; }
    const RegistrySandbox& machine_sandbox() const { return machine_; }

    /* The window, read back. */
    std::string Text(int control) const;
    std::string Title() const;
    HICON Icon() const;
    bool OkEnabled() const;

  private:
    RegistrySandbox machine_{HKEY_LOCAL_MACHINE};  // made first: its backing lies in the real HKCU
    RegistrySandbox user_{HKEY_CURRENT_USER};
    orv::RunMode saved_mode_;
    std::unique_ptr<orv::MonitorState> state_;
    HWND window_ = nullptr;
    bool ok_ = false;
};

/* The shared handle of one of the test program's icons, as LoadIcon gives
 * it to the code under test. */
HICON TestIcon(int id);

#endif  // ORV_TEST_MONITOR_RIG_H
