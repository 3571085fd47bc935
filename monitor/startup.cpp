/*
 * startup.cpp - run mode, single instance, record and state, the status
 * window and the message loop, and the clean-up.
 */
#include "startup.h"

#include "bounded_wait.h"
#include "printer_check.h"
#include "record.h"
#include "run_mode.h"
#include "state.h"
#include "window.h"

namespace orv {

namespace {

constexpr int kLockAttempts = 50;
constexpr DWORD kLockPauseMs = 30;
constexpr DWORD kLockWaitMs = 1500;  // the 50 attempts as meant, whatever a pause lasts
constexpr DWORD kPlatformWin32s = 0;
constexpr DWORD kPlatformNt = 2;
constexpr DWORD kFirstMajorWithoutDesktopInSessionZero = 6;  // Vista
constexpr REGSAM kRunMarkerAccess = 0x2001F;

bool QueryVersion(DWORD* platform_id, DWORD* major_version) {
    OSVERSIONINFOEXA extended = {};
    extended.dwOSVersionInfoSize = sizeof extended;
    if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended))) {
        *platform_id = extended.dwPlatformId;
        *major_version = extended.dwMajorVersion;
        return true;
    }
    OSVERSIONINFOA basic = {};
    basic.dwOSVersionInfoSize = sizeof basic;
    if (!GetVersionExA(&basic))
        return false;
    *platform_id = basic.dwPlatformId;
    *major_version = basic.dwMajorVersion;
    return true;
}

/* IsWow64Process is missing before XP SP2, so it is looked up. */
bool RunsUnderWow64() {
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleA("kernel32");
    if (kernel == nullptr)
        return false;
    auto is_wow64 = reinterpret_cast<IsWow64ProcessFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
    BOOL wow64 = FALSE;
    return is_wow64 != nullptr && is_wow64(GetCurrentProcess(), &wow64) && wow64;
}

/* ProcessIdToSessionId is missing on the 9x family, so it is looked up. */
bool QuerySession(DWORD* session_id) {
    using ProcessIdToSessionIdFunction = BOOL(WINAPI*)(DWORD, DWORD*);
    HMODULE kernel = GetModuleHandleA("kernel32");
    if (kernel == nullptr)
        return false;
    auto session_of = reinterpret_cast<ProcessIdToSessionIdFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "ProcessIdToSessionId")));
    return session_of != nullptr && session_of(GetCurrentProcessId(), session_id);
}

/* Global mode: the record key must open with the access the monitor will
 * use, and a supported driver must be installed. */
bool GlobalPrechecksPass() {
    int enum_result = kEnumDone;
    bool driver = FindSupportedDriver(&enum_result) == 1;
    RegKey record;
    bool record_opens = record.Open(HKEY_LOCAL_MACHINE, kRecordPath, g_run_mode.record_access) == ERROR_SUCCESS;
    record.Close();
    if (driver && record_opens)
        return true;
    if (enum_result != kEnumFailed)  // it showed its own message
        ShowMonitorMessage(kNoDriverText);
    return false;
}

bool ReadDisplayMode(MonitorState& state, int* display_mode) {
    if (OpenRecordKeys(state) != ERROR_SUCCESS)
        return false;
    if (!ReadStringValue(kDspMode, state)) {
        CloseRecordKeys(state);
        return false;
    }
    *display_mode = ToInt32(state.value_buffer.data());
    return CloseRecordKeys(state) == 1;
}

/* The message loop of the modeless status window. The close path sets
 * the window's user value; the loop ends at the next message after
 * that, and the value is the exit code. A quit message (posted at the end
 * of the session, see EndRunAtSessionEnd) ends it with its code. */
LONG_PTR RunMessageLoop(HWND window) {
    MSG message;
    for (;;) {
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0)
            return static_cast<LONG_PTR>(message.wParam);
        if (got == -1)
            return 0;
        LONG_PTR user_value = GetWindowLongPtrA(window, DWLP_USER);
        if (user_value != 0)
            return user_value;
        if (IsWindow(window) && IsDialogMessageA(window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

/* The run marker tells the printer's side that no monitor runs. */
void ResetRunMarker() {
    RegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\ORV\\KTRMonitor-Status", kRunMarkerAccess) != ERROR_SUCCESS)
        return;
    SetStringValue(key.get(), kStsRun, "0");
}

/* What the end of the run releases after the status window's own
 * shutdown step. */
struct Run {
    HWND window = nullptr;          // the status window
    InstanceLock* lock = nullptr;   // the single-instance mutex, held
    MonitorState* state = nullptr;  // its record keys are closed at the end
    bool ended = false;             // EndRun has run
};

Run g_run;

/* The end of the run, once: the window destroyed, the single-instance
 * mutex released, the run marker reset (local mode on NT), the record
 * keys closed. The state's memory is freed by MonitorMain. */
void EndRun() {
    if (g_run.ended)
        return;
    g_run.ended = true;
    DestroyWindow(g_run.window);
    g_run.lock->Release();
    if (g_run_mode.reset_run_marker)
        ResetRunMarker();
    CloseRecordKeys(*g_run.state);
}

/* Called by the status window when the session ends, after its shutdown
 * step: Windows may end the process as soon as WM_ENDSESSION returns, so
 * the run ends now. The window is gone, so a quit message ends the
 * message loop, as a normal close would (exit code 1), should the process
 * live on. */
void EndRunAtSessionEnd() {
    EndRun();
    PostQuitMessage(1);
}

}  // namespace

SystemFacts QuerySystemFacts() {
    SystemFacts facts = {};
    facts.version_known = QueryVersion(&facts.platform_id, &facts.major_version);
    facts.under_wow64 = RunsUnderWow64();
    facts.session_known = QuerySession(&facts.session_id);
    return facts;
}

ModeChoice ChooseRunMode(const SystemFacts& facts) {
    if (!facts.version_known || facts.platform_id == kPlatformWin32s)
        return ModeChoice::kEnd;
    if (facts.platform_id != kPlatformNt)  // the 9x family and any other
        return ModeChoice::kLocal;
    // Services' session, with no desktop for a user to see the window.
    if (facts.major_version >= kFirstMajorWithoutDesktopInSessionZero && facts.session_known &&
        facts.session_id == 0)
        return ModeChoice::kEnd;
    if (facts.major_version == 4 || facts.major_version == 5)
        return facts.under_wow64 ? ModeChoice::kGlobal : ModeChoice::kLocal;
    return ModeChoice::kGlobal;
}

bool InstanceLock::Acquire(const char* name) {
    Release();
    BoundedWait wait(kLockAttempts, kLockWaitMs, kLockPauseMs);
    do {
        HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
        if (mutex != nullptr) {
            DWORD result = WaitForSingleObject(mutex, 0);
            if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
                mutex_ = mutex;
                return true;
            }
            CloseHandle(mutex);
        }
    } while (wait.PauseBeforeNextTry());
    return false;
}

void InstanceLock::Release() {
    if (mutex_ == nullptr)
        return;
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
    mutex_ = nullptr;
}

int MonitorMain(HINSTANCE instance) {
    SystemFacts facts = QuerySystemFacts();
    ModeChoice choice = ChooseRunMode(facts);
    if (choice == ModeChoice::kEnd)
        return 0;
    g_run_mode = choice == ModeChoice::kLocal ? LocalModeSettings() : GlobalModeSettings();
    // The marker is an NT-family convention of the printer's side.
    g_run_mode.reset_run_marker = choice == ModeChoice::kLocal && facts.platform_id == kPlatformNt;
    if (g_run_mode.prechecks && !GlobalPrechecksPass())
        return 0;

    InstanceLock lock;
    if (!lock.Acquire(g_run_mode.instance_mutex_name))
        return 0;
    if (!InitialiseStatusRecord())
        return 0;
    std::unique_ptr<MonitorState> state = NewMonitorState(instance);
    int display_mode = 0;
    if (!state || !ReadDisplayMode(*state, &display_mode))
        return 0;
    g_run = Run{nullptr, &lock, state.get(), false};
    HWND window = CreateStatusWindow(*state, display_mode, EndRunAtSessionEnd);
    if (window == nullptr)
        return 0;
    g_run.window = window;
    ShowAtStart(window, display_mode, state->current_code);
    UpdateWindow(window);

    SetWindowLongPtrA(window, DWLP_USER, 0);
    LONG_PTR exit_code = RunMessageLoop(window);
    EndRun();
    return static_cast<int>(exit_code);
}

}  // namespace orv
