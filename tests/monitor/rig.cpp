#include "rig.h"

#include <vector>

#include "record.h"

namespace {

INT_PTR CALLBACK StandInProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

LONG WithRecordKey(LONG (*action)(HKEY, const void*), const void* context) {
    HKEY key;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, orv::kRecordPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    status = action(key, context);
    RegCloseKey(key);
    return status;
}

struct RawValue {
    const char* name;
    DWORD type;
    const void* data;
    DWORD size;
};

}  // namespace

std::string Sjis(const char* utf8) {
    int wide_length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    std::vector<wchar_t> wide(wide_length);
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide.data(), wide_length);
    int length = WideCharToMultiByte(932, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    std::vector<char> bytes(length);
    WideCharToMultiByte(932, 0, wide.data(), -1, bytes.data(), length, nullptr, nullptr);
    return std::string(bytes.data());
}

LONG SetRecordRaw(const char* name, DWORD type, const void* data, DWORD size) {
    RawValue value{name, type, data, size};
    return WithRecordKey(
        [](HKEY key, const void* context) {
            const RawValue* v = static_cast<const RawValue*>(context);
            return RegSetValueExA(key, v->name, 0, v->type, static_cast<const BYTE*>(v->data), v->size);
        },
        &value);
}

LONG SetRecordString(const char* name, const std::string& text) {
    return SetRecordRaw(name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

LONG SetRecordByte(const char* name, BYTE value) {
    return SetRecordRaw(name, REG_BINARY, &value, 1);
}

LONG DeleteRecordValue(const char* name) {
    return WithRecordKey(
        [](HKEY key, const void* context) {
            return RegDeleteValueA(key, static_cast<const char*>(context));
        },
        name);
}

LONG DeleteRecordKey() {
    return RegDeleteTreeA(HKEY_LOCAL_MACHINE, orv::kRecordPath);
}

MonitorRig::MonitorRig(const orv::RunMode& mode, bool with_record) : saved_mode_(orv::g_run_mode) {
    if (!machine_.ok() || !user_.ok())
        return;
    orv::g_run_mode = mode;
    if (with_record) {
        // Written with full access, as the installer and language monitor
        // would, whatever the run mode grants the monitor.
        HKEY key;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, orv::kRecordPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            return;
        LONG status = orv::WriteRecordDefaults(key);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS)
            return;
    }
    state_ = orv::NewMonitorState(GetModuleHandleA(nullptr));
    if (!state_)
        return;
    window_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kTestDialog), nullptr,
                                 StandInProc, 0);
    ok_ = window_ != nullptr;
}

MonitorRig::~MonitorRig() {
    if (window_ != nullptr)
        DestroyWindow(window_);
    state_.reset();
    orv::g_run_mode = saved_mode_;
}

std::string MonitorRig::Text(int control) const {
    char text[4096] = {};
    GetDlgItemTextA(window_, control, text, sizeof text);
    return text;
}

std::string MonitorRig::Title() const {
    char text[1024] = {};
    GetWindowTextA(window_, text, sizeof text);
    return text;
}

HICON MonitorRig::Icon() const {
    return reinterpret_cast<HICON>(SendDlgItemMessageA(window_, 1026, STM_GETICON, 0, 0));
}

bool MonitorRig::OkEnabled() const {
    return IsWindowEnabled(GetDlgItem(window_, 1044)) != FALSE;
}

HICON TestIcon(int id) {
    return LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id));
}
