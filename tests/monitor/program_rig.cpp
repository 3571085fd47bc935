#include "program_rig.h"

#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "record.h"
#include "rig.h"

namespace {

constexpr UINT kTrayMessage = WM_APP + 100;
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

std::string ClassName(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

DWORD ProcessOf(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process;
}

struct WindowSearch {
    DWORD process;
    std::function<bool(HWND)> matches;
    HWND found;
};

HWND FindTopLevel(DWORD process, std::function<bool(HWND)> matches) {
    WindowSearch search{process, std::move(matches), nullptr};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<WindowSearch*>(context);
            if (ProcessOf(window) != s->process || !s->matches(window))
                return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

LONG SetString(HKEY root, const std::string& path, const char* name, const std::string& text) {
    HKEY key;
    LONG status = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    status = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
    return status;
}

LONG SetDword(HKEY root, const std::string& path, const char* name, DWORD value) {
    HKEY key;
    LONG status = RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    status = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
    return status;
}

bool ReadString(HKEY root, const char* path, const char* name, std::string* text) {
    char data[1024] = {};
    DWORD size = sizeof data - 1;
    if (RegGetValueA(root, path, name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return false;
    *text = data;
    return true;
}

void DeleteValue(HKEY root, const char* path, const char* name) {
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}

/* The Unix path of a Windows path; Wine's spooler takes Unix paths. */
std::string UnixPath(const std::string& windows_path) {
    using Function = char*(CDECL*)(const WCHAR*);
    auto to_unix = reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
    if (to_unix == nullptr)
        return "";
    std::wstring wide(windows_path.begin(), windows_path.end());
    char* unix_path = to_unix(wide.c_str());
    if (unix_path == nullptr)
        return "";
    std::string result = unix_path;
    HeapFree(GetProcessHeap(), 0, unix_path);
    return result;
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

std::string ProgramFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

/* --- FakeTray ----------------------------------------------------------------- */

FakeTray::FakeTray() {
    ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this] { Run(); });
    WaitForSingleObject(ready_, 5000);
}

FakeTray::~FakeTray() {
    if (window_ != nullptr)
        PostMessageA(window_, WM_CLOSE, 0, 0);
    if (thread_.joinable())
        thread_.join();
    CloseHandle(ready_);
}

void FakeTray::Run() {
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = Procedure;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "Shell_TrayWnd";
    RegisterClassA(&window_class);
    // A window can fail while Wine's desktop process of the last run is
    // still shutting down (seen once): try again for a moment.
    for (int attempt = 0; attempt < 10 && window_ == nullptr; ++attempt) {
        window_ = CreateWindowA("Shell_TrayWnd", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                window_class.hInstance, this);
        if (window_ == nullptr) {
            fprintf(stderr, "FakeTray: no window, error %lu\n", GetLastError());
            Sleep(200);
        }
    }
    SetEvent(ready_);
    if (window_ == nullptr)
        return;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    UnregisterClassA("Shell_TrayWnd", window_class.hInstance);
}

LRESULT CALLBACK FakeTray::Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return 0;
    }
    auto* tray = reinterpret_cast<FakeTray*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_COPYDATA && tray != nullptr) {
        tray->Record(*reinterpret_cast<COPYDATASTRUCT*>(lparam));
        return TRUE;
    }
    if (message == WM_CLOSE) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

void FakeTray::Record(const COPYDATASTRUCT& data) {
    if (data.cbData < kNotifyTipOffset + kNotifyTipChars * 2)
        return;
    const BYTE* bytes = static_cast<const BYTE*>(data.lpData);
    TrayEvent event{};
    event.message = static_cast<DWORD>(data.dwData);
    LONG owner;
    memcpy(&owner, bytes, 4);
    event.owner = reinterpret_cast<HWND>(static_cast<LONG_PTR>(owner));
    memcpy(&event.id, bytes + 4, 4);
    memcpy(&event.flags, bytes + 8, 4);
    memcpy(&event.callback_message, bytes + 12, 4);
    WCHAR tip[kNotifyTipChars + 1] = {};
    memcpy(tip, bytes + kNotifyTipOffset, kNotifyTipChars * 2);
    char tip_bytes[kNotifyTipChars * 2 + 1] = {};
    WideCharToMultiByte(932, 0, tip, -1, tip_bytes, sizeof tip_bytes - 1, nullptr, nullptr);
    event.tip = tip_bytes;
    if (data.cbData > kNotifyHeaderSize)
        event.icon_bits.assign(reinterpret_cast<const char*>(bytes) + kNotifyHeaderSize,
                               data.cbData - kNotifyHeaderSize);
    std::lock_guard<std::mutex> hold(lock_);
    if (learning_) {
        if (event.message == NIM_ADD && !pictures_.empty())
            pictures_.back().second = event.icon_bits;
        return;
    }
    events_.push_back(event);
}

bool FakeTray::LearnIcons(const std::string& module_path, const std::vector<int>& ids) {
    HMODULE module = LoadLibraryExA(module_path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
        return false;
    HWND owner = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    bool learned = owner != nullptr;
    for (int id : ids) {
        HICON icon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, 32, 32, 0));
        {
            std::lock_guard<std::mutex> hold(lock_);
            learning_ = true;
            pictures_.emplace_back(id, std::string());
        }
        NOTIFYICONDATAA data = {};
        data.cbSize = NOTIFYICONDATAA_V1_SIZE;
        data.hWnd = owner;
        data.uID = 99;
        data.uFlags = NIF_ICON;
        data.hIcon = icon;
        learned = learned && icon != nullptr && Shell_NotifyIconA(NIM_ADD, &data);
        Shell_NotifyIconA(NIM_DELETE, &data);
        if (icon != nullptr)
            DestroyIcon(icon);
    }
    std::lock_guard<std::mutex> hold(lock_);
    learning_ = false;
    for (const auto& picture : pictures_)
        learned = learned && !picture.second.empty();
    if (owner != nullptr)
        DestroyWindow(owner);
    FreeLibrary(module);
    return learned;
}

std::vector<TrayEvent> FakeTray::Events() {
    std::lock_guard<std::mutex> hold(lock_);
    return events_;
}

void FakeTray::Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    events_.clear();
}

bool FakeTray::IconShown() {
    std::lock_guard<std::mutex> hold(lock_);
    bool shown = false;
    for (const TrayEvent& event : events_) {
        if (event.message == NIM_ADD)
            shown = true;
        else if (event.message == NIM_DELETE)
            shown = false;
    }
    return shown;
}

int FakeTray::LatestIconId() {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto event = events_.rbegin(); event != events_.rend(); ++event) {
        if (event->icon_bits.empty())
            continue;
        for (const auto& picture : pictures_)
            if (picture.second == event->icon_bits)
                return picture.first;
        return -1;  // a picture of none of the icons
    }
    return 0;
}

std::string FakeTray::LatestTip() {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto event = events_.rbegin(); event != events_.rend(); ++event)
        if (event->message != NIM_DELETE)
            return event->tip;
    return "";
}

/* --- MonitorProcess --------------------------------------------------------------- */

MonitorProcess::~MonitorProcess() {
    if (!started_)
        return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, 5000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

bool MonitorProcess::Start() {
    std::string command = "\"" + ProgramFolder() + "orvstsn.exe\"";
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    started_ = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &process_) != FALSE;
    return started_;
}

bool MonitorProcess::Running() const {
    return started_ && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

int MonitorProcess::WaitExit(DWORD timeout_ms) {
    if (!started_)
        return -2;
    bool ended = WaitFor([this] { return !Running(); }, timeout_ms);
    if (!ended)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<int>(code);
}

HWND MonitorProcess::Window() const {
    return FindTopLevel(process_.dwProcessId, [](HWND window) {
        return ClassName(window) == "#32770" && GetDlgItem(window, 1060) != nullptr;
    });
}

HWND MonitorProcess::WaitWindow(DWORD timeout_ms) const {
    HWND window = nullptr;
    WaitFor([&] { return (window = Window()) != nullptr; }, timeout_ms);
    return window;
}

HWND MonitorProcess::MessageBox() const {
    static const std::string caption = Sjis("ステータスモニタ");
    return FindTopLevel(process_.dwProcessId, [](HWND window) {
        return ClassName(window) == "#32770" && WindowTitle(window) == caption;
    });
}

/* --- reading and driving the window ---------------------------------------------- */

std::string WindowTitle(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ControlText(HWND window, int control) {
    char text[4096] = {};
    GetDlgItemTextA(window, control, text, sizeof text);
    return text;
}

bool ControlEnabled(HWND window, int control) {
    return IsWindowEnabled(GetDlgItem(window, control)) != FALSE;
}

bool Shown(HWND window) {
    return IsWindowVisible(window) && !IsIconic(window);
}

int DefaultButton(HWND window) {
    LRESULT answer = SendMessageA(window, DM_GETDEFID, 0, 0);
    return HIWORD(answer) == DC_HASDEFID ? LOWORD(answer) : 0;
}

RECT WindowRect(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

std::string TakeMessageBox(const MonitorProcess& process, DWORD timeout_ms) {
    HWND box = nullptr;
    if (!WaitFor([&] { return (box = process.MessageBox()) != nullptr; }, timeout_ms))
        return "";
    std::string text = ControlText(box, 0xFFFF);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    WaitFor([&] { return !IsWindow(box); }, 2000);
    return text;
}

MessageBoxWatcher::MessageBoxWatcher() {
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this] {
        static const std::string caption = Sjis("ステータスモニタ");
        while (WaitForSingleObject(stop_, 20) == WAIT_TIMEOUT) {
            HWND box = FindTopLevel(GetCurrentProcessId(), [](HWND window) {
                return ClassName(window) == "#32770" && WindowTitle(window) == caption && IsWindowVisible(window);
            });
            if (box == nullptr)
                continue;
            std::string text = ControlText(box, 0xFFFF);
            {
                std::lock_guard<std::mutex> hold(lock_);
                texts_.push_back(text);
            }
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            WaitFor([&] { return !IsWindow(box); }, 2000);
        }
    });
}

MessageBoxWatcher::~MessageBoxWatcher() {
    SetEvent(stop_);
    thread_.join();
    CloseHandle(stop_);
}

std::vector<std::string> MessageBoxWatcher::Texts() {
    std::lock_guard<std::mutex> hold(lock_);
    return texts_;
}

void DoubleClickTrayIcon(HWND window) {
    PostMessageA(window, kTrayMessage, 1, WM_LBUTTONDBLCLK);
}

void RightClickTrayIcon(HWND window) {
    PostMessageA(window, kTrayMessage, 1, WM_RBUTTONDOWN);
}

bool ChooseTrayMenuItem(const MonitorProcess& process, char mnemonic) {
    HWND menu = nullptr;
    if (!WaitFor([&] { return (menu = FindTopLevel(process.id(), [](HWND window) {
                                   return ClassName(window) == "#32768";
                               })) != nullptr; },
                 3000))
        return false;
    PostMessageA(menu, WM_CHAR, static_cast<WPARAM>(mnemonic), 0);
    return true;
}

void ClickButton(HWND window, int control) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(control, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, control)));
}

/* --- the machine ------------------------------------------------------------------ */

void SetReportedVersion(const char* version) {
    if (version == nullptr || version[0] == '\0')
        RegDeleteTreeA(HKEY_CURRENT_USER, kAppDefaultsKey);
    else
        SetString(HKEY_CURRENT_USER, kAppDefaultsKey, "Version", version);
}

SpoolerRig::SpoolerRig() {
    had_device_ = ReadString(HKEY_CURRENT_USER, kWindowsKey, "Device", &saved_device_);
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    capture_path_ = std::string(folder) + "orv-monitor-job-" + std::to_string(GetCurrentProcessId()) + ".bin";
    RemoveMonitorKeys();
}

SpoolerRig::~SpoolerRig() {
    RemoveAll();
    for (const std::string& port : ports_)
        DeleteValue(HKEY_CURRENT_USER, kPortMapKey, port.c_str());
    DeleteFileA(capture_path_.c_str());
    if (had_device_)
        SetString(HKEY_CURRENT_USER, kWindowsKey, "Device", saved_device_);
    else
        DeleteValue(HKEY_CURRENT_USER, kWindowsKey, "Device");
    RemoveMonitorKeys();
}

bool SpoolerRig::Add(const TestPrinter& printer) {
    std::string path = kPrintersKey + printer.name;
    names_.push_back(printer.name);
    return SetString(HKEY_LOCAL_MACHINE, path, "Name", printer.name) == ERROR_SUCCESS &&
           SetString(HKEY_LOCAL_MACHINE, path, "Port", printer.port) == ERROR_SUCCESS &&
           SetString(HKEY_LOCAL_MACHINE, path, "Printer Driver", printer.driver) == ERROR_SUCCESS &&
           SetString(HKEY_LOCAL_MACHINE, path, "Datatype", "RAW") == ERROR_SUCCESS &&
           SetString(HKEY_LOCAL_MACHINE, path, "Print Processor", "winprint") == ERROR_SUCCESS &&
           SetDword(HKEY_LOCAL_MACHINE, path, "Attributes", printer.attributes) == ERROR_SUCCESS &&
           SetDword(HKEY_LOCAL_MACHINE, path, "Status", 0) == ERROR_SUCCESS;
}

void SpoolerRig::RemoveAll() {
    for (const std::string& name : names_)
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kPrintersKey + name).c_str());
    names_.clear();
}

void SpoolerRig::SetDefault(const std::string& name, const std::string& port) {
    if (name.empty())
        DeleteValue(HKEY_CURRENT_USER, kWindowsKey, "Device");
    else
        SetString(HKEY_CURRENT_USER, kWindowsKey, "Device", name + ",winspool," + port);
}

bool SpoolerRig::CapturePort(const std::string& port) {
    std::string unix_path = UnixPath(capture_path_);
    if (unix_path.empty())
        return false;
    DeleteFileA(capture_path_.c_str());
    ports_.push_back(port);
    return SetString(HKEY_CURRENT_USER, kPortMapKey, port.c_str(), unix_path) == ERROR_SUCCESS;
}

std::string SpoolerRig::JobBytes() const {
    std::ifstream file(capture_path_, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void RemoveMonitorKeys() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ORV");
    RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\ORV");
}

bool StoredPosition(HKEY root, LONG* left, LONG* top) {
    DWORD size = 4;
    const char* path = "SOFTWARE\\ORV\\KTRMonitor-Status";
    if (RegGetValueA(root, path, "Position_left", RRF_RT_REG_BINARY, nullptr, left, &size) != ERROR_SUCCESS)
        return false;
    size = 4;
    return RegGetValueA(root, path, "Position_top", RRF_RT_REG_BINARY, nullptr, top, &size) == ERROR_SUCCESS;
}

std::string RecordText(const char* name) {
    std::string text;
    return ReadString(HKEY_LOCAL_MACHINE, orv::kRecordPath, name, &text) ? text : "<missing>";
}
