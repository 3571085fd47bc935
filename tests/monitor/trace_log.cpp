/*
 * trace_log.cpp - the recording stand-ins for the registry functions of
 * the traced monitor code. Compiled without the forced include, so the
 * names here are the real functions.
 */
#include "trace_log.h"

#include <atomic>
#include <mutex>

#include "registry_trace.h"
#undef RegOpenKeyExA
#undef RegCreateKeyExA
#undef RegCloseKey
#undef RegQueryValueExA
#undef RegSetValueExA
#undef RegDeleteValueA

namespace {

std::mutex g_lock;
bool g_tracing = false;
std::vector<RegistryCall> g_calls;
std::atomic<unsigned long> g_count{0};
std::function<void(const std::string&)> g_read_hook;

void Record(RegistryCall call) {
    ++g_count;
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_tracing)
        g_calls.push_back(std::move(call));
}

std::string NameOf(LPCSTR name) {
    return name != nullptr ? name : "";
}

}  // namespace

void StartTrace() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_calls.clear();
    g_tracing = true;
}

std::vector<RegistryCall> StopTrace() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_tracing = false;
    return std::move(g_calls);
}

unsigned long RegistryCallCount() {
    return g_count;
}

void SetReadHook(std::function<void(const std::string&)> hook) {
    g_read_hook = std::move(hook);
}

/* The record of an open or create of a key. */
static void RecordKeyOpen(const char* function, LPCSTR path, REGSAM access, PHKEY key, LONG result) {
    RegistryCall call;
    call.function = function;
    call.name = NameOf(path);
    call.access = access;
    call.key = result == ERROR_SUCCESS ? *key : nullptr;
    call.result = result;
    Record(call);
}

LONG WINAPI TracedRegOpenKeyExA(HKEY parent, LPCSTR path, DWORD options, REGSAM access, PHKEY key) {
    LONG result = RegOpenKeyExA(parent, path, options, access, key);
    RecordKeyOpen("open", path, access, key, result);
    return result;
}

LONG WINAPI TracedRegCreateKeyExA(HKEY parent, LPCSTR path, DWORD reserved, LPSTR cls, DWORD options,
                                  REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY key,
                                  LPDWORD disposition) {
    LONG result = RegCreateKeyExA(parent, path, reserved, cls, options, access, security, key,
                                  disposition);
    RecordKeyOpen("create", path, access, key, result);
    return result;
}

LONG WINAPI TracedRegCloseKey(HKEY key) {
    LONG result = RegCloseKey(key);
    RegistryCall call;
    call.function = "close";
    call.key = key;
    call.result = result;
    Record(call);
    return result;
}

LONG WINAPI TracedRegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                   LPDWORD size) {
    if (data != nullptr && g_read_hook)
        g_read_hook(NameOf(name));
    LONG result = RegQueryValueExA(key, name, reserved, type, data, size);
    RegistryCall call;
    call.function = data != nullptr ? "read" : "size";
    call.name = NameOf(name);
    call.key = key;
    call.result = result;
    Record(call);
    return result;
}

LONG WINAPI TracedRegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                 DWORD size) {
    LONG result = RegSetValueExA(key, name, reserved, type, data, size);
    RegistryCall call;
    call.function = "set";
    call.name = NameOf(name);
    call.key = key;
    call.type = type;
    call.data.assign(reinterpret_cast<const char*>(data), size);
    call.result = result;
    Record(call);
    return result;
}

LONG WINAPI TracedRegDeleteValueA(HKEY key, LPCSTR name) {
    LONG result = RegDeleteValueA(key, name);
    RegistryCall call;
    call.function = "delete";
    call.name = NameOf(name);
    call.key = key;
    call.result = result;
    Record(call);
    return result;
}
