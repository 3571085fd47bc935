#include "registry_sandbox.h"

#include <atomic>
#include <cstdio>

namespace {

std::atomic<int> g_sandbox_serial{0};

LONG WriteValue(HKEY root, const char* subkey, const char* name, DWORD type, const void* data,
                DWORD size) {
    HKEY key;
    LONG status = RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    status = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return status;
}

}  // namespace

RegistrySandbox::RegistrySandbox(HKEY root) : root_(root) {
    char path[128];
    snprintf(path, sizeof path, "Software\\OrvTestSandbox\\%lu-%d", GetCurrentProcessId(),
             g_sandbox_serial++);
    path_ = path;
    RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &backing_, nullptr) != ERROR_SUCCESS)
        return;
    ok_ = RegOverridePredefKey(root_, backing_) == ERROR_SUCCESS;
}

RegistrySandbox::~RegistrySandbox() {
    RegOverridePredefKey(root_, nullptr);
    if (backing_ != nullptr)
        RegCloseKey(backing_);
    RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
}

LONG RegistrySandbox::SetDword(const char* subkey, const char* name, DWORD value) {
    return WriteValue(root_, subkey, name, REG_DWORD, &value, sizeof value);
}

LONG RegistrySandbox::SetBinary(const char* subkey, const char* name, const void* data, DWORD size) {
    return WriteValue(root_, subkey, name, REG_BINARY, data, size);
}

LONG RegistrySandbox::SetString(const char* subkey, const char* name, const char* text) {
    return WriteValue(root_, subkey, name, REG_SZ, text, static_cast<DWORD>(strlen(text) + 1));
}

LONG RegistrySandbox::DeleteKey(const char* subkey) {
    return RegDeleteTreeA(root_, subkey);
}
