/*
 * localport.cpp - orvctl's commands for the serial (com), parallel (lpt)
 * and USB (usb) ports: write a file, read what the printer sends, the
 * device ID, the reset, the serial line settings and the USB printer list.
 *
 * Each command opens the port, makes its calls and closes it again, and
 * prints every call's result with the error code the library reported.
 */
#include "localport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

const char kLocalPortUsage[] =
    "  com|lpt|usb PORT write FILE [--timeout MS]\n"
    "                       send FILE (one transfer call; time-out default 5000)\n"
    "  com|lpt|usb PORT read [--size N] [--timeout MS]\n"
    "                       receive up to N bytes (default 256, at most 4096 a call)\n"
    "  lpt|usb PORT id      the printer's IEEE 1284 device ID\n"
    "  lpt|usb PORT reset   reset the printer (parallel INIT, USB soft reset)\n"
    "  com PORT settings [--baud B] [--bits 5-8] [--parity none|odd|even|mark|space]\n"
    "                    [--stop 1|1.5|2] [--flow none|rtscts|xonxoff]\n"
    "                       show the line settings, changing those given\n"
    "  usb list             the USB printers attached, with their device paths\n"
    "  PORT: COM1, \\\\.\\COM12, LPT1; for usb a port name (USB001) or a device path\n";

namespace {

constexpr DWORD kDefaultWriteTimeoutMs = 5000;
constexpr DWORD kDefaultReadTimeoutMs = 1000;
constexpr DWORD kDefaultReadSize = 256;
constexpr DWORD kDeviceIdBufferSize = 512;

struct Family {
    const char* word;
    decltype(&OvOpenPort_COM) OvApi::*open;
    decltype(&OvClosePort_COM) OvApi::*close;
    decltype(&OvRecvPort_COM) OvApi::*recv;
    decltype(&OvWritePort_COM) OvApi::*write;
    const char* suffix;
};

const Family kFamilies[] = {
    {"com", &OvApi::OpenPort_COM, &OvApi::ClosePort_COM, &OvApi::RecvPort_COM, &OvApi::WritePort_COM, "COM"},
    {"lpt", &OvApi::OpenPort_LPT, &OvApi::ClosePort_LPT, &OvApi::RecvPort_LPT, &OvApi::WritePort_LPT, "LPT"},
    {"usb", &OvApi::OpenPort_USB, &OvApi::ClosePort_USB, &OvApi::RecvPort_USB, &OvApi::WritePort_USB, "USB"},
};

const Family* FindFamily(const char* word) {
    for (const Family& family : kFamilies)
        if (strcmp(family.word, word) == 0)
            return &family;
    return nullptr;
}

const char* ErrorName(DWORD error) {
    switch (error) {
    case 0: return "no error";
    case ERROR_FILE_NOT_FOUND: return "no such port";
    case ERROR_ACCESS_DENIED: return "access denied, port in use?";
    case ERROR_INVALID_PARAMETER: return "invalid parameter";
    case WAIT_TIMEOUT: return "time-out";
    case ERROR_MORE_DATA: return "cut to the buffer";
    case ERROR_IO_INCOMPLETE: return "transfer did not complete";
    case ERROR_IO_PENDING: return "request still pending";
    case ERROR_DEVICE_NOT_CONNECTED: return "device not connected";
    default: return "";
    }
}

void ShowResult(const char* call, int result, DWORD error) {
    printf("%s: %d (error %lu%s%s)\n", call, result, error, *ErrorName(error) ? ", " : "",
           ErrorName(error));
}

/* Options "--name value" after the command words; false for an unknown
 * or incomplete one. */
bool ReadOptions(int argc, char** argv, int first, std::vector<std::pair<std::string, std::string>>* out) {
    for (int i = first; i < argc; i += 2) {
        if (strncmp(argv[i], "--", 2) != 0 || i + 1 >= argc)
            return false;
        out->emplace_back(argv[i] + 2, argv[i + 1]);
    }
    return true;
}

bool ParseNumber(const std::string& text, DWORD* value) {
    char* end;
    unsigned long number = strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0')
        return false;
    *value = static_cast<DWORD>(number);
    return true;
}

/* A bare port name (COM3, LPT1) in the device form that also reaches
 * COM10 and above. */
std::string DeviceName(const char* port) {
    if (strchr(port, '\\') != nullptr)
        return port;
    return std::string("\\\\.\\") + port;
}

/* The device path of a USB port name such as USB001, from the list. */
bool FindUsbPath(OvApi& api, const char* port_name, std::string* path) {
    DWORD count = 0, error = 0;
    if (!api.SendSearch_USB(nullptr, &count, &error))
        return false;
    std::vector<UsbPrinterEntry> entries(count + 4);
    if (!api.SendSearch_USB(entries.data(), &count, &error))
        return false;
    for (DWORD i = 0; i < count && i < entries.size(); ++i) {
        if (_stricmp(entries[i].PortName, port_name) == 0) {
            *path = entries[i].DevicePath;
            return true;
        }
    }
    return false;
}

/* An open port that is closed again at the end of the command. */
class Port {
  public:
    Port(OvApi& api, const Family& family) : api_(api), family_(family) {}
    ~Port() {
        if (handle_ == INVALID_HANDLE_VALUE)
            return;
        DWORD error = 0;
        int closed = (api_.*family_.close)(handle_, &error);
        std::string call = std::string("OvClosePort_") + family_.suffix;
        ShowResult(call.c_str(), closed, error);
    }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    bool Open(const char* port) {
        std::string name = DeviceName(port);
        if (&family_ == &kFamilies[2] && strstr(port, "vid_") == nullptr && strstr(port, "VID_") == nullptr &&
            !FindUsbPath(api_, port, &name)) {
            fprintf(stderr, "orvctl: no USB printer with port name %s (see 'orvctl usb list')\n", port);
            return false;
        }
        DWORD error = 0;
        handle_ = (api_.*family_.open)(name.c_str(), &error);
        if (handle_ == INVALID_HANDLE_VALUE) {
            fprintf(stderr, "orvctl: cannot open %s (error %lu%s%s)\n", name.c_str(), error,
                    *ErrorName(error) ? ", " : "", ErrorName(error));
            return false;
        }
        printf("opened %s\n", name.c_str());
        return true;
    }
    HANDLE handle() const { return handle_; }

  private:
    OvApi& api_;
    const Family& family_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

bool ReadWholeFile(const char* path, std::vector<char>* bytes) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        fprintf(stderr, "orvctl: cannot open %s\n", path);
        return false;
    }
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + got);
    fclose(file);
    return true;
}

void ShowBytes(const unsigned char* bytes, DWORD count) {
    for (DWORD row = 0; row < count; row += 16) {
        printf("  %04lx ", row);
        for (DWORD i = row; i < row + 16; ++i)
            i < count ? printf(" %02x", bytes[i]) : printf("   ");
        printf("  ");
        for (DWORD i = row; i < row + 16 && i < count; ++i)
            putchar(bytes[i] >= 0x20 && bytes[i] < 0x7F ? bytes[i] : '.');
        putchar('\n');
    }
}

int Write(OvApi& api, const Family& family, const char* port, const char* path, DWORD timeout) {
    std::vector<char> data;
    if (!ReadWholeFile(path, &data))
        return 1;
    if (data.empty()) {
        fprintf(stderr, "orvctl: %s is empty\n", path);
        return 1;
    }
    Port open_port(api, family);
    if (!open_port.Open(port))
        return 1;
    DWORD written = 0, error = 0;
    ULONGLONG start = GetTickCount64();
    int result = (api.*family.write)(open_port.handle(), data.data(), static_cast<DWORD>(data.size()),
                                     &written, timeout, &error);
    std::string call = std::string("OvWritePort_") + family.suffix;
    ShowResult(call.c_str(), result, error);
    printf("  wrote %lu of %zu bytes in %.2f s\n", written, data.size(), (GetTickCount64() - start) / 1000.0);
    return written == data.size() ? 0 : 1;
}

int Read(OvApi& api, const Family& family, const char* port, DWORD size, DWORD timeout) {
    if (size == 0) {
        fprintf(stderr, "orvctl: --size must be at least 1\n");
        return 2;
    }
    Port open_port(api, family);
    if (!open_port.Open(port))
        return 1;
    std::vector<unsigned char> buffer(size);
    DWORD received = 0, error = 0;
    int result = (api.*family.recv)(open_port.handle(), buffer.data(), size, &received, timeout, &error);
    std::string call = std::string("OvRecvPort_") + family.suffix;
    ShowResult(call.c_str(), result, error);
    printf("  received %lu bytes\n", received);
    ShowBytes(buffer.data(), received);
    return received > 0 ? 0 : 1;
}

int DeviceId(OvApi& api, const Family& family, const char* port) {
    Port open_port(api, family);
    if (!open_port.Open(port))
        return 1;
    unsigned char id[kDeviceIdBufferSize] = {};
    DWORD length = 0, error = 0;
    bool usb = &family == &kFamilies[2];
    int result = usb ? api.GetDeviceID_USB(open_port.handle(), id, sizeof id, &length, &error)
                     : api.GetDeviceID_LPT(open_port.handle(), id, sizeof id, &length, &error);
    ShowResult(usb ? "OvGetDeviceID_USB" : "OvGetDeviceID_LPT", result, error);
    if (!result)
        return 1;
    printf("  %lu bytes; length field %u\n", length, id[0] * 256u + id[1]);
    printf("  %s\n", length > 2 ? reinterpret_cast<char*>(id + 2) : "(no text)");
    return 0;
}

int Reset(OvApi& api, const Family& family, const char* port) {
    Port open_port(api, family);
    if (!open_port.Open(port))
        return 1;
    DWORD error = 0;
    bool usb = &family == &kFamilies[2];
    int result = usb ? api.SendCancel_USB(open_port.handle(), &error) : api.SendCancel_LPT(open_port.handle(), &error);
    ShowResult(usb ? "OvSendCancel_USB" : "OvSendCancel_LPT", result, error);
    return result ? 0 : 1;
}

/* --- serial line settings ---------------------------------------------- */

bool ApplySetting(DCB* dcb, const std::string& name, const std::string& value) {
    DWORD number = 0;
    if (name == "baud")
        return ParseNumber(value, &number) && number > 0 && (dcb->BaudRate = number, true);
    if (name == "bits")
        return ParseNumber(value, &number) && number >= 5 && number <= 8 &&
               (dcb->ByteSize = static_cast<BYTE>(number), true);
    if (name == "parity") {
        const char* names[] = {"none", "odd", "even", "mark", "space"};
        for (BYTE i = 0; i < 5; ++i)
            if (value == names[i]) {
                dcb->Parity = i;
                dcb->fParity = i != NOPARITY;
                return true;
            }
        return false;
    }
    if (name == "stop") {
        if (value == "1") dcb->StopBits = ONESTOPBIT;
        else if (value == "1.5") dcb->StopBits = ONE5STOPBITS;
        else if (value == "2") dcb->StopBits = TWOSTOPBITS;
        else return false;
        return true;
    }
    if (name == "flow") {
        bool rtscts = value == "rtscts", xonxoff = value == "xonxoff";
        if (!rtscts && !xonxoff && value != "none")
            return false;
        dcb->fOutxCtsFlow = rtscts;
        dcb->fRtsControl = rtscts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
        dcb->fOutX = dcb->fInX = xonxoff;
        return true;
    }
    return false;
}

void ShowSettings(const DCB& dcb) {
    const char* parity[] = {"none", "odd", "even", "mark", "space"};
    const char* stop[] = {"1", "1.5", "2"};
    const char* flow = dcb.fOutxCtsFlow ? "rtscts" : dcb.fOutX ? "xonxoff" : "none";
    printf("  baud %lu, %u data bits, parity %s, %s stop bits, flow %s\n", dcb.BaudRate, dcb.ByteSize,
           dcb.Parity < 5 ? parity[dcb.Parity] : "?", dcb.StopBits < 3 ? stop[dcb.StopBits] : "?", flow);
}

int Settings(OvApi& api, const char* port, const std::vector<std::pair<std::string, std::string>>& changes) {
    Port open_port(api, kFamilies[0]);
    if (!open_port.Open(port))
        return 1;
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    DWORD error = 0;
    int got = api.GetComConf(open_port.handle(), &dcb, &error);
    ShowResult("OvGetComConf", got, error);
    if (!got)
        return 1;
    ShowSettings(dcb);
    if (changes.empty())
        return 0;
    for (const auto& change : changes) {
        if (!ApplySetting(&dcb, change.first, change.second)) {
            fprintf(stderr, "orvctl: bad setting --%s %s\n", change.first.c_str(), change.second.c_str());
            return 2;
        }
    }
    int set = api.SetComConf(open_port.handle(), &dcb, &error);
    ShowResult("OvSetComConf", set, error);
    if (api.GetComConf(open_port.handle(), &dcb, &error))
        ShowSettings(dcb);
    return set ? 0 : 1;
}

/* --- USB list ---------------------------------------------------------- */

int UsbList(OvApi& api) {
    DWORD count = 0, error = 0;
    // The error is the platform's answer to taking the device list, which
    // may be an older value when the list was taken.
    int listed = api.SendSearch_USB(nullptr, &count, &error);
    printf("OvSendSearch_USB (count): %d (error %lu)\n", listed, error);
    if (!listed)
        return 1;
    // Room for printers attached between the two calls.
    std::vector<UsbPrinterEntry> entries(count + 4);
    listed = api.SendSearch_USB(entries.data(), &count, &error);
    printf("OvSendSearch_USB (list): %d (error %lu)\n", listed, error);
    printf("%lu USB printer%s\n", count, count == 1 ? "" : "s");
    for (DWORD i = 0; i < count && i < entries.size(); ++i) {
        const UsbPrinterEntry& e = entries[i];
        printf("  %-7s vid %s pid %s serial %s\n          %s\n", e.PortName, e.vid, e.pid, e.serialno, e.DevicePath);
    }
    return listed ? 0 : 1;
}

}  // namespace

bool IsLocalPortCommand(const char* word) {
    return FindFamily(word) != nullptr;
}

int LocalPortCommand(OvApi& api, int argc, char** argv) {
    const Family* family = FindFamily(argv[0]);
    if (family == nullptr)
        return 2;
    bool usb = family == &kFamilies[2];
    if (usb && argc == 2 && strcmp(argv[1], "list") == 0)
        return UsbList(api);
    if (argc < 3)
        return 2;
    const char* port = argv[1];
    const char* action = argv[2];
    std::vector<std::pair<std::string, std::string>> options;
    int first_option = strcmp(action, "write") == 0 ? 4 : 3;
    if (argc < first_option || !ReadOptions(argc, argv, first_option, &options))
        return 2;

    DWORD size = kDefaultReadSize;
    DWORD timeout = strcmp(action, "write") == 0 ? kDefaultWriteTimeoutMs : kDefaultReadTimeoutMs;
    if (strcmp(action, "settings") == 0)
        return family == &kFamilies[0] ? Settings(api, port, options) : 2;
    for (const auto& option : options) {
        DWORD* target = option.first == "size" ? &size : option.first == "timeout" ? &timeout : nullptr;
        if (target == nullptr || !ParseNumber(option.second, target)) {
            fprintf(stderr, "orvctl: bad option --%s %s\n", option.first.c_str(), option.second.c_str());
            return 2;
        }
    }
    if (strcmp(action, "write") == 0)
        return Write(api, *family, port, argv[3], timeout);
    if (strcmp(action, "read") == 0)
        return Read(api, *family, port, size, timeout);
    if (family != &kFamilies[0] && options.empty() && strcmp(action, "id") == 0)
        return DeviceId(api, *family, port);
    if (family != &kFamilies[0] && options.empty() && strcmp(action, "reset") == 0)
        return Reset(api, *family, port);
    return 2;
}
