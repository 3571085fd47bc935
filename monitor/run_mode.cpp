/*
 * run_mode.cpp - the settings of the two run modes.
 */
#include "run_mode.h"

namespace orv {

namespace {

constexpr REGSAM kReadWrite = 0x2001F;       // KEY_READ | KEY_WRITE
constexpr REGSAM kRead = 0x20019;            // KEY_READ
constexpr REGSAM kReadSetValue = 0x2001B;    // KEY_READ | KEY_SET_VALUE

}  // namespace

RunMode LocalModeSettings() {
    return RunMode{"KTRMonitor_Mutex", HKEY_LOCAL_MACHINE, kReadWrite, kReadWrite, false, true};
}

RunMode GlobalModeSettings() {
    return RunMode{"Global\\KTRMonitor_Mutex", HKEY_CURRENT_USER, kRead, kReadSetValue, true, false};
}

RunMode g_run_mode = LocalModeSettings();

}  // namespace orv
