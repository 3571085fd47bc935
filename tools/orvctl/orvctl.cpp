/*
 * orvctl - command-line client of orvcomms.dll.
 *
 * It loads the library at run time and drives its exports the way a
 * printer tool would: one command a run, results printed as text, exit
 * code 0 for success. Run without arguments for the list of commands.
 */
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../common/ovapi.h"

namespace {

constexpr char kConfigKey[] = "Software\\ORV_DMRXDLL";

struct ConfigItem {
    const char* name;
    int fallback;
    const char* meaning;
};

const ConfigItem kConfig[] = {
    {"TIME", 4, "seconds: status reply wait; with RETRY the transfer time-out"},
    {"RETRY", 2, "connect attempts after address-in-use"},
    {"OPEN_TIMEOUT", 1, "one-second waits for a connection"},
};

/* The value as the library reads it: a number of at most 4 bytes that is
 * not text; anything else (and 0) stands for the default. */
DWORD ReadStored(const char* name, bool* present) {
    *present = false;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kConfigKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD value = 0, type = 0, size = sizeof value;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ)
        return 0;
    *present = true;
    return value;
}

void ShowConfig() {
    printf("configuration (HKEY_CURRENT_USER\\%s):\n", kConfigKey);
    for (const ConfigItem& item : kConfig) {
        bool present;
        DWORD stored = ReadStored(item.name, &present);
        int used = stored == 0 ? item.fallback : static_cast<int>(stored);
        printf("  %-12s = %-4d %s  (%s)\n", item.name, used,
               stored == 0 ? "default" : "set    ", item.meaning);
    }
}

int SetConfig(const char* name, const char* text) {
    char* end;
    unsigned long value = strtoul(text, &end, 10);
    if (*text == '\0' || *end != '\0') {
        fprintf(stderr, "orvctl: '%s' is not a number\n", text);
        return 2;
    }
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kConfigKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        fprintf(stderr, "orvctl: cannot open HKEY_CURRENT_USER\\%s\n", kConfigKey);
        return 1;
    }
    DWORD dword = static_cast<DWORD>(value);
    LONG status = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&dword), sizeof dword);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        fprintf(stderr, "orvctl: cannot set %s (error %ld)\n", name, status);
        return 1;
    }
    printf("%s = %lu\n", name, value);
    return 0;
}

int Usage() {
    fprintf(stderr,
            "usage: orvctl COMMAND [ARGS]\n"
            "  info                 load orvcomms.dll, start it, show the configuration\n"
            "  config NAME VALUE    set TIME, RETRY or OPEN_TIMEOUT (0 = default)\n");
    return 2;
}

bool IsConfigName(const char* name) {
    for (const ConfigItem& item : kConfig)
        if (strcmp(item.name, name) == 0)
            return true;
    return false;
}

int Info(OvApi& api) {
    int started = api.Startup(GetModuleHandleA(nullptr));
    printf("OvStartup: %d (%s)\n", started, started ? "Windows Sockets 1.1" : "failed");
    ShowConfig();
    int cleaned = api.Cleanup();
    printf("OvCleanup: %d\n", cleaned);
    return started && cleaned ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage();
    const char* command = argv[1];
    if (strcmp(command, "config") == 0) {
        if (argc != 4 || !IsConfigName(argv[2]))
            return Usage();
        return SetConfig(argv[2], argv[3]);
    }

    OvApi api;
    if (!api.Load()) {
        fprintf(stderr, "orvctl: cannot load orvcomms.dll or one of its exports\n");
        return 1;
    }
    if (strcmp(command, "info") == 0 && argc == 2)
        return Info(api);
    return Usage();
}
