#include "program_rig.h"

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "record.h"
#include "rig.h"

namespace {

constexpr char kPrintersKey[] = "System\\CurrentControlSet\\Control\\Print\\Printers\\";
constexpr char kWindowsKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
constexpr char kPortMapKey[] = "Software\\Wine\\Printing\\Spooler";
constexpr char kAppDefaultsKey[] = "Software\\Wine\\AppDefaults\\orvstsn.exe";

// Wine's notification data: the owner window, the icon id, the flags,
// the callback message, a UTF-16 tip of 128 characters, more fields, and
// from byte kNotifyHeaderSize on the icon's picture.
constexpr size_t kNotifyTipOffset = 16;
constexpr size_t kNotifyTipChars = 128;
constexpr size_t kNotifyHeaderSize = 960;

LONG SetString(HKEY root, const std::string& path, const char* name, const std::string& text) {
    return RegSetKeyValueA(root, path.c_str(), name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

/* In both registry views: the 32-bit and the 64-bit suites share the
 * prefix, and a key left in the other view would pass for the program's. */
void RemoveMonitorKeys() {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        HKEY software;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | view, &software) == ERROR_SUCCESS) {
            RegDeleteTreeA(software, "ORV");
            RegCloseKey(software);
        }
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\ORV");
}

}  // namespace

bool WaitFor(const std::function<bool()>& condition, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount() - start >= timeout_ms)
            return false;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(20);
    }
}

std::string Title(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

HWND FindTopLevel(DWORD process, const char* class_name, const std::function<bool(HWND)>& matches) {
    for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, class_name, nullptr)) != nullptr;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == process && matches(window))
            return window;
    }
    return nullptr;
}

/* --- FakeTray ----------------------------------------------------------------- */

FakeTray::FakeTray() {
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = Procedure;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "Shell_TrayWnd";
    RegisterClassA(&window_class);
    // A window can fail while Wine's desktop process of the last run is
    // still shutting down (seen once): try again for a moment.
    for (int attempt = 0; attempt < 10 && window_ == nullptr; ++attempt) {
        window_ = CreateWindowA("Shell_TrayWnd", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        if (window_ == nullptr) {
            fprintf(stderr, "FakeTray: no window, error %lu\n", GetLastError());
            Sleep(200);
        }
    }
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

FakeTray::~FakeTray() {
    if (window_ != nullptr)
        DestroyWindow(window_);
    UnregisterClassA("Shell_TrayWnd", GetModuleHandleA(nullptr));
}

LRESULT CALLBACK FakeTray::Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* tray = reinterpret_cast<FakeTray*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
    if (message != WM_COPYDATA || tray == nullptr || data->cbData < kNotifyTipOffset + kNotifyTipChars * 2)
        return DefWindowProcA(window, message, wparam, lparam);
    const char* bytes = static_cast<const char*>(data->lpData);
    if (data->dwData != NIM_DELETE) {
        WCHAR tip[kNotifyTipChars + 1] = {};
        memcpy(tip, bytes + kNotifyTipOffset, kNotifyTipChars * 2);
        char tip_bytes[kNotifyTipChars * 2 + 1] = {};
        WideCharToMultiByte(932, 0, tip, -1, tip_bytes, sizeof tip_bytes - 1, nullptr, nullptr);
        tray->tip_ = tip_bytes;
    }
    // As the shell does, a change to an icon it does not show fails.
    if (data->dwData == NIM_MODIFY && !tray->shown_)
        return FALSE;
    if (data->cbData > kNotifyHeaderSize)
        tray->picture_.assign(bytes + kNotifyHeaderSize, data->cbData - kNotifyHeaderSize);
    if (data->dwData == NIM_ADD || data->dwData == NIM_DELETE)
        tray->shown_ = data->dwData == NIM_ADD;
    return TRUE;
}

bool FakeTray::LearnIcons(const std::vector<int>& ids) {
    HMODULE module = LoadLibraryExA("orvstsn.exe", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    bool learned = module != nullptr;
    for (size_t i = 0; learned && i < ids.size(); ++i) {
        NOTIFYICONDATAA data = {};
        data.cbSize = NOTIFYICONDATAA_V1_SIZE;
        data.hWnd = window_;
        data.uID = 99;
        data.uFlags = NIF_ICON;
        data.hIcon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(ids[i]), IMAGE_ICON, 32, 32, 0));
        picture_.clear();
        learned = data.hIcon != nullptr && Shell_NotifyIconA(NIM_ADD, &data) && !picture_.empty();
        pictures_.emplace_back(ids[i], picture_);
        Shell_NotifyIconA(NIM_DELETE, &data);
        DestroyIcon(data.hIcon);
    }
    Clear();
    if (module != nullptr)
        FreeLibrary(module);
    return learned;
}

int FakeTray::LatestIconId() const {
    if (picture_.empty())
        return 0;
    for (const auto& picture : pictures_)
        if (picture.second == picture_)
            return picture.first;
    return -1;
}

void FakeTray::Clear() {
    shown_ = false;
    tip_.clear();
    picture_.clear();
}

/* --- MonitorProcess --------------------------------------------------------------- */

MonitorProcess::~MonitorProcess() {
    if (!started_)
        return;
    if (Running()) {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, 5000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

bool MonitorProcess::Start() {
    char command[] = "orvstsn.exe";  // found in this program's folder
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    started_ = CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &process_) != FALSE;
    return started_;
}

bool MonitorProcess::Running() const {
    return started_ && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

int MonitorProcess::WaitExit(DWORD timeout_ms) {
    if (!started_ || !WaitFor([this] { return !Running(); }, timeout_ms))
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<int>(code);
}

HWND MonitorProcess::WaitWindow(DWORD timeout_ms) const {
    HWND window = nullptr;
    WaitFor([&] {
        window = FindTopLevel(id(), "#32770", [](HWND w) { return GetDlgItem(w, 1060) != nullptr; });
        return window != nullptr;
    }, timeout_ms);
    return window;
}

/* --- message boxes ----------------------------------------------------------------- */

namespace {

HWND FindMessageBox(DWORD process) {
    static const std::string caption = Sjis("ステータスモニタ");
    return FindTopLevel(process, "#32770",
                        [](HWND window) { return Title(window) == caption && IsWindowVisible(window); });
}

}  // namespace

std::string CloseMessageBox(DWORD process) {
    HWND box = FindMessageBox(process);
    if (box == nullptr)
        return "";
    char text[1024] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    WaitFor([&] { return !IsWindow(box); }, 2000);
    return text;
}

std::string TakeMessageBox(const MonitorProcess& process, DWORD timeout_ms) {
    std::string text;
    WaitFor([&] { return !(text = CloseMessageBox(process.id())).empty(); }, timeout_ms);
    return text;
}

std::vector<std::string> CloseMessageBoxesDuring(const std::function<void()>& action,
                                                 const std::function<void()>& on_box) {
    std::atomic<bool> done{false};
    std::vector<std::string> texts;
    std::thread closer([&] {
        while (!done) {
            if (FindMessageBox(GetCurrentProcessId()) == nullptr) {
                Sleep(20);
                continue;
            }
            if (on_box)
                on_box();
            std::string text = CloseMessageBox(GetCurrentProcessId());
            if (!text.empty())
                texts.push_back(text);
        }
    });
    action();
    done = true;
    closer.join();
    return texts;
}

/* --- a slower clock ------------------------------------------------------------------ */

namespace {

constexpr DWORD kClockStart = 0xFFFFFC00;  // 1024 ms before the tick count wraps
DWORD g_clock_now = kClockStart;
std::vector<DWORD> g_clock_pauses;

DWORD WINAPI ClockTickCount() {
    return g_clock_now;
}

void WINAPI ClockPause(DWORD ms) {
    g_clock_pauses.push_back(ms);
    g_clock_now += ms * 16 / 10;
}

}  // namespace

WindowsLikeClock::WindowsLikeClock() : saved_(orv::g_wait_clock) {
    g_clock_now = kClockStart;
    g_clock_pauses.clear();
    orv::g_wait_clock = {ClockTickCount, ClockPause};
}

WindowsLikeClock::~WindowsLikeClock() {
    orv::g_wait_clock = saved_;
}

DWORD WindowsLikeClock::elapsed() const {
    return g_clock_now - kClockStart;
}

const std::vector<DWORD>& WindowsLikeClock::pauses() const {
    return g_clock_pauses;
}

/* --- the machine ------------------------------------------------------------------ */

void SetReportedVersion(const char* version) {
    if (version == nullptr)
        RegDeleteTreeA(HKEY_CURRENT_USER, kAppDefaultsKey);
    else
        SetString(HKEY_CURRENT_USER, kAppDefaultsKey, "Version", version);
}

SpoolerRig::SpoolerRig() {
    // Wine's spooler takes a Unix path; drive Z: is the Unix root.
    char path[MAX_PATH] = {};
    GetTempFileNameA("Z:\\tmp", "orv", 0, path);
    capture_path_ = path;
    RemoveMonitorKeys();
}

SpoolerRig::~SpoolerRig() {
    RemoveAll();
    for (const std::string& port : ports_)
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kPortMapKey, port.c_str());
    DeleteFileA(capture_path_.c_str());
    SetDefault("", "");
    RemoveMonitorKeys();
}

bool SpoolerRig::Add(const TestPrinter& printer) {
    std::string path = kPrintersKey + printer.name;
    names_.push_back(printer.name);
    const DWORD status = 0;
    return SetString(HKEY_LOCAL_MACHINE, path, "Name", printer.name) == ERROR_SUCCESS &&
           SetString(HKEY_LOCAL_MACHINE, path, "Port", printer.port) == ERROR_SUCCESS &&
           SetString(HKEY_LOCAL_MACHINE, path, "Printer Driver", printer.driver) == ERROR_SUCCESS &&
           SetString(HKEY_LOCAL_MACHINE, path, "Datatype", "RAW") == ERROR_SUCCESS &&
           SetString(HKEY_LOCAL_MACHINE, path, "Print Processor", "winprint") == ERROR_SUCCESS &&
           RegSetKeyValueA(HKEY_LOCAL_MACHINE, path.c_str(), "Attributes", REG_DWORD, &printer.attributes,
                           sizeof(DWORD)) == ERROR_SUCCESS &&
           RegSetKeyValueA(HKEY_LOCAL_MACHINE, path.c_str(), "Status", REG_DWORD, &status, sizeof status) ==
               ERROR_SUCCESS;
}

void SpoolerRig::RemoveAll() {
    for (const std::string& name : names_)
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kPrintersKey + name).c_str());
    names_.clear();
}

void SpoolerRig::SetDefault(const std::string& name, const std::string& port) {
    if (name.empty())
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kWindowsKey, "Device");
    else
        SetString(HKEY_CURRENT_USER, kWindowsKey, "Device", name + ",winspool," + port);
}

bool SpoolerRig::CapturePort(const std::string& port) {
    std::string unix_path = capture_path_.substr(2);
    std::replace(unix_path.begin(), unix_path.end(), '\\', '/');
    DeleteFileA(capture_path_.c_str());
    ports_.push_back(port);
    return SetString(HKEY_CURRENT_USER, kPortMapKey, port.c_str(), unix_path) == ERROR_SUCCESS;
}

std::string SpoolerRig::JobBytes() const {
    std::ifstream file(capture_path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string StoredText(HKEY root, const char* path, const char* name) {
    char data[1024] = {};
    DWORD size = sizeof data - 1;
    if (RegGetValueA(root, path, name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return "<missing>";
    return data;
}

std::string RecordText(const char* name) {
    return StoredText(HKEY_LOCAL_MACHINE, orv::kRecordPath, name);
}
