/*
 * orvctl - command-line client of orvcomms.dll.
 *
 * It loads the library at run time and drives its exports the way a
 * printer tool would: one command a run, results printed as text, exit
 * code 0 for success. Run without arguments for the list of commands.
 */
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

#include "../common/ovapi.h"
#include "localport.h"
#include "status_commands.h"
#include "discovery.h"

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
        // The library reads the values as unsigned numbers.
        unsigned long used = stored == 0 ? static_cast<unsigned long>(item.fallback) : stored;
        printf("  %-12s = %-4lu %s  (%s)\n", item.name, used,
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
            "  config NAME VALUE    set TIME, RETRY or OPEN_TIMEOUT (0 = default)\n"
            "  print HOST FILE      send FILE (- for standard input) to port 9100 of HOST, with progress\n"
            "  cancel ADDRESS       soft reset through port 9200 (dotted address)\n"
            "  status HOST          ask port 9200 for the status; the reply as hex and text\n"
            "  id HOST              ask port 9200 for the device ID; also MFG, MDL, CMD\n"
            "  ping [--tcp] HOST    ICMP echo, or with --tcp a connect to port 80 (1 s)\n");
    fputs(kLocalPortUsage, stderr);
    fputs(kDiscoveryUsage, stderr);
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

/* A print job, read from a file or, for "-", from standard input, a
 * slice at a time: memory stays the same whatever the job's size (a
 * 32-bit process has 2 GiB on Windows, raster jobs can be larger). */
struct JobSource {
    const char* name = nullptr;  // as given on the command line
    FILE* file = nullptr;
    long long size = -1;         // -1: not known (standard input)
};

bool OpenJob(const char* path, JobSource* job) {
    job->name = path;
    if (strcmp(path, "-") == 0) {
        _setmode(_fileno(stdin), _O_BINARY);
        job->file = stdin;
        return true;
    }
    job->file = fopen(path, "rb");
    if (job->file == nullptr) {
        fprintf(stderr, "orvctl: cannot open %s\n", path);
        return false;
    }
    if (_fseeki64(job->file, 0, SEEK_END) == 0) {
        job->size = _ftelli64(job->file);
        _fseeki64(job->file, 0, SEEK_SET);
    }
    return true;
}

void CloseJob(JobSource* job) {
    if (job->file != nullptr && job->file != stdin)
        fclose(job->file);
    job->file = nullptr;
}

void ShowProgress(unsigned long long sent, long long total, ULONGLONG start) {
    double seconds = (GetTickCount64() - start) / 1000.0;
    double rate = seconds > 0 ? sent / seconds / 1e6 : 0.0;
    if (total < 0) {
        printf("  sent %llu bytes, %.2f MB/s\n", sent, rate);
    } else {
        unsigned long long whole = sent > static_cast<unsigned long long>(total) ? sent : total;
        printf("  sent %llu of %llu bytes (%3d%%), %.2f MB/s\n", sent, whole,
               whole == 0 ? 100 : static_cast<int>(sent * 100 / whole), rate);
    }
    fflush(stdout);
}

/* Writes the job as it is read, one OvWritePort call per slice (which
 * itself sends pieces of 16384 bytes), with a progress line at most every
 * 250 ms. False, with a message, when a read or a write fails. */
bool SendJob(OvApi& api, OvHandle port, JobSource& job) {
    constexpr size_t kSlice = 256 * 1024;
    constexpr ULONGLONG kProgressEveryMs = 250;
    static unsigned char slice[kSlice];
    ULONGLONG start = GetTickCount64();
    ULONGLONG last_shown = start;
    unsigned long long sent = 0;
    for (;;) {
        size_t got = fread(slice, 1, kSlice, job.file);
        if (got == 0) {
            if (ferror(job.file)) {
                ShowProgress(sent, job.size, start);
                fprintf(stderr, "orvctl: cannot read %s after %llu bytes\n", job.name, sent);
                return false;
            }
            break;
        }
        for (size_t done = 0; done < got;) {
            DWORD written = 0;
            int ok = api.WritePort(port, slice + done, static_cast<DWORD>(got - done), &written);
            done += written;
            sent += written;
            if (!ok || written == 0) {
                ShowProgress(sent, job.size, start);
                fprintf(stderr, "orvctl: write failed after %llu bytes, OvGetError %d\n", sent,
                        api.GetError(port));
                return false;
            }
        }
        if (GetTickCount64() - last_shown >= kProgressEveryMs) {
            ShowProgress(sent, job.size, start);
            last_shown = GetTickCount64();
        }
    }
    ShowProgress(sent, job.size, start);
    return true;
}

/* What the printer sent back while the job went out, without waiting. */
void ShowBackChannel(OvApi& api, OvHandle port) {
    unsigned char reply[256];
    DWORD got = 0;
    if (api.RecvPort(port, reply, sizeof reply, &got) == 1 && got > 0) {
        printf("  printer sent %lu bytes:", got);
        for (DWORD i = 0; i < got && i < 32; ++i)
            printf(" %02x", reply[i]);
        printf("%s\n", got > 32 ? " ..." : "");
    }
}

int Print(OvApi& api, const char* host, const char* path) {
    JobSource job;
    if (!OpenJob(path, &job))
        return 1;
    if (!api.Startup(GetModuleHandleA(nullptr))) {
        fprintf(stderr, "orvctl: OvStartup failed\n");
        CloseJob(&job);
        return 1;
    }
    if (job.size < 0)
        printf("printing %s to %s:9100\n", job.file == stdin ? "standard input" : path, host);
    else
        printf("printing %s (%lld bytes) to %s:9100\n", path, job.size, host);
    OvHandle port = api.OpenPort(host);
    if (port == OV_INVALID_HANDLE) {
        fprintf(stderr, "orvctl: cannot connect to %s:9100\n", host);
        CloseJob(&job);
        api.Cleanup();
        return 1;
    }
    bool ok = SendJob(api, port, job);
    CloseJob(&job);
    ShowBackChannel(api, port);
    ULONGLONG close_start = GetTickCount64();
    int closed = api.ClosePort(port);
    printf("  OvClosePort: %d (%.1f s: drain and close)\n", closed,
           (GetTickCount64() - close_start) / 1000.0);
    api.Cleanup();
    return ok && closed ? 0 : 1;
}

int Cancel(OvApi& api, const char* address) {
    if (!api.Startup(GetModuleHandleA(nullptr))) {
        fprintf(stderr, "orvctl: OvStartup failed\n");
        return 1;
    }
    int sent = api.SendCancel(address);
    printf("OvSendCancel(%s): %d (%s)\n", address, sent,
           sent ? "soft reset sent" : "no connection to port 9200");
    api.Cleanup();
    return sent ? 0 : 1;
}

}  // namespace

static int Run(int argc, char** argv) {
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
    if (strcmp(command, "print") == 0 && argc == 4)
        return Print(api, argv[2], argv[3]);
    if (strcmp(command, "cancel") == 0 && argc == 3)
        return Cancel(api, argv[2]);
    if (IsLocalPortCommand(command)) {
        int code = LocalPortCommand(api, argc - 1, argv + 1);
        return code == 2 ? Usage() : code;
    }
    if ((strcmp(command, "status") == 0 || strcmp(command, "id") == 0) && argc == 3)
        return StatusCommand(api, argv[2], strcmp(command, "id") == 0);
    if (strcmp(command, "ping") == 0 && PingArgsValid(argc - 2, argv + 2))
        return PingCommand(api, argc - 2, argv + 2);
    if (strcmp(command, "search") == 0) {
        int code = RunSearchCommand(api, argc - 1, argv + 1);
        return code == 2 ? Usage() : code;
    }
    if (strcmp(command, "set") == 0) {
        int code = RunSetCommand(api, argc - 1, argv + 1);
        return code == 2 ? Usage() : code;
    }
    return Usage();
}

/* No command ends in an uncaught exception: a failed allocation, or any
 * other, is a message and exit code 1. */
int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        fprintf(stderr, "orvctl: out of memory\n");
    } catch (const std::exception& error) {
        fprintf(stderr, "orvctl: %s\n", error.what());
    }
    return 1;
}
