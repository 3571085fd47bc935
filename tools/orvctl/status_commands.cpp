/*
 * status_commands.cpp - orvctl status, id and ping.
 *
 * The library hands the printer's reply over as raw bytes, so the reply
 * is shown both as a hex dump and as text with the bytes that are not
 * printable escaped. A device ID is read as IEEE 1284 "KEY:VALUE;"
 * fields, where both the short and the long key names occur in practice.
 */
#include "status_commands.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD kReplyBufferSize = 256;  // the library gives at most 256 bytes

struct KnownField {
    const char* short_key;
    const char* long_key;
    const char* label;
};

const KnownField kKnownFields[] = {
    {"MFG", "MANUFACTURER", "manufacturer"},
    {"MDL", "MODEL", "model"},
    {"CMD", "COMMAND SET", "command set"},
};

bool Started(OvApi& api) {
    if (api.Startup(GetModuleHandleA(nullptr)))
        return true;
    fprintf(stderr, "orvctl: OvStartup failed\n");
    return false;
}

void ShowHex(const unsigned char* bytes, DWORD size) {
    for (DWORD line = 0; line < size; line += 16) {
        printf("  %04lx ", line);
        for (DWORD i = line; i < line + 16; ++i) {
            if (i < size)
                printf(" %02x", bytes[i]);
            else
                printf("   ");
            if (i == line + 7)
                printf(" ");
        }
        printf("  ");
        for (DWORD i = line; i < line + 16 && i < size; ++i)
            putchar(isprint(bytes[i]) ? bytes[i] : '.');
        printf("\n");
    }
}

void ShowText(const unsigned char* bytes, DWORD size) {
    printf("  text: \"");
    for (DWORD i = 0; i < size; ++i) {
        unsigned char c = bytes[i];
        if (c == '\n')
            printf("\\n");
        else if (c == '\r')
            printf("\\r");
        else if (c == '"' || c == '\\')
            printf("\\%c", c);
        else if (isprint(c))
            putchar(c);
        else
            printf("\\x%02x", c);
    }
    printf("\"\n");
}

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

void ShowDeviceIdFields(const unsigned char* bytes, DWORD size) {
    std::vector<DeviceIdField> fields = ParseDeviceId(bytes, size);
    for (const KnownField& known : kKnownFields) {
        for (const DeviceIdField& field : fields) {
            if (field.key == known.short_key || field.key == known.long_key)
                printf("  %-13s %s (%s)\n", known.label, field.value.c_str(), field.key.c_str());
        }
    }
}

}  // namespace

std::vector<DeviceIdField> ParseDeviceId(const unsigned char* bytes, size_t size) {
    // Over the parallel and USB ports the ID starts with its length, two
    // bytes big-endian, counting themselves; a network reply may keep it.
    if (size >= 2 && bytes[0] < 0x20 && static_cast<size_t>(bytes[0] << 8 | bytes[1]) == size) {
        bytes += 2;
        size -= 2;
    }
    std::vector<DeviceIdField> fields;
    std::string text(reinterpret_cast<const char*>(bytes), size);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(';', at);
        std::string item = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        size_t colon = item.find(':');
        if (colon == std::string::npos)
            continue;
        fields.push_back({Trimmed(item.substr(0, colon)), item.substr(colon + 1)});
    }
    return fields;
}

int StatusCommand(OvApi& api, const char* host, bool device_id) {
    if (!Started(api))
        return 1;
    const char* call = device_id ? "OvGetDeviceID" : "OvGetStatus";
    OvHandle status = api.OpenStatus(host);
    if (status == OV_INVALID_HANDLE) {
        fprintf(stderr, "orvctl: OvOpenStatus(%s) failed (empty or over-long host text)\n", host);
        api.Cleanup();
        return 1;
    }
    unsigned char reply[kReplyBufferSize];
    DWORD length = 0;
    ULONGLONG start = GetTickCount64();
    int got = device_id ? api.GetDeviceID(status, reply, sizeof reply, &length)
                        : api.GetStatus(status, reply, sizeof reply, &length);
    double seconds = (GetTickCount64() - start) / 1000.0;
    printf("%s(%s:9200): %d, %lu bytes, OvGetError %d, %.2f s\n", call, host, got, length,
           api.GetError(status), seconds);
    if (got) {
        ShowHex(reply, length);
        ShowText(reply, length);
        if (device_id)
            ShowDeviceIdFields(reply, length);
    } else {
        printf("  no reply (not resolved, not connected, or nothing within TIME seconds)\n");
    }
    api.CloseStatus(status);
    api.Cleanup();
    return got ? 0 : 1;
}

bool PingArgsValid(int count, char** args) {
    return count == 1 || (count == 2 && strcmp(args[0], "--tcp") == 0);
}

int PingCommand(OvApi& api, int count, char** args) {
    bool tcp = count == 2;
    const char* host = args[count - 1];
    if (!Started(api))
        return 1;
    ULONGLONG start = GetTickCount64();
    int answered = tcp ? api.SendICMPAsync(host) : api.SendICMP(host);
    double seconds = (GetTickCount64() - start) / 1000.0;
    printf("%s(%s): %d, %s (%.2f s)\n", tcp ? "OvSendICMP_Async" : "OvSendICMP", host, answered,
           answered ? (tcp ? "answered on port 80 (accepted or refused)" : "echo reply")
                    : "no answer",
           seconds);
    api.Cleanup();
    return answered ? 0 : 1;
}
