/*
 * usbenum.cpp - the list of attached USB printers
 * (OvSendSearch_USB).
 *
 * Every present interface of the USB printer device class yields a device
 * path such as
 *   \\?\usb#vid_04b8&pid_0005#SERIAL#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}
 * from which the vendor, product and serial texts are cut, and whose
 * device-class registry key holds the "Port Number" the spooler's USB
 * port monitor gave the printer (USB001 for 1).
 *
 * The caller's array has no stated capacity; it is sized by the count of
 * an earlier call without an array. So an entry is built in a scratch
 * record and copied into the array only once it is counted: the array
 * receives exactly the counted entries and nothing else.
 */
#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "calls.h"
#include "heap_blocks.h"
#include "localport.h"
#include "log.h"

namespace orv {

namespace {

// GUID_DEVINTERFACE_USBPRINT, the interface class of the USB printer driver.
const GUID kUsbPrintClass = {0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

constexpr char kDeviceClassesKey[] = "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\";
constexpr char kDeviceParameters[] = "Device Parameters";
constexpr char kPortNumberValue[] = "Port Number";
constexpr size_t kPathPartSize = 261;  // the class text, the path before it
// Room for the key of any path that fits an entry (at most 255 characters
// twice, plus the fixed parts), so forming the key never cuts it.
constexpr size_t kKeySize = 1024;
constexpr size_t kDetailFixedSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);

static_assert(sizeof(UsbPrinterEntry) == 336, "UsbPrinterEntry is 336 bytes");

enum class InterfaceStep {
    kNext,            // not counted; go on with the next interface
    kCounted,         // the scratch entry holds a counted printer
    kEndEnumeration,  // no memory or no detail: stop the list here
};

/* Owners of the list, the detail block and the key; each releases its
 * resource once. */
class DeviceList {
  public:
    explicit DeviceList(HDEVINFO list) : list_(list) {}
    ~DeviceList() { g_localport_calls.destroy_device_info_list(list_); }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

  private:
    HDEVINFO list_;
};

class ReadKey {
  public:
    ReadKey() = default;
    ~ReadKey() {
        if (key_ != nullptr)
            RegCloseKey(key_);
    }
    ReadKey(const ReadKey&) = delete;
    ReadKey& operator=(const ReadKey&) = delete;
    LONG Open(HKEY root, const char* path) { return RegOpenKeyExA(root, path, 0, KEY_READ, &key_); }
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

/* Copies the text from `from` up to `stop` (or the end) into a field of
 * `size` bytes, cut to fit; returns where the copy stopped in the source. */
const char* CopyUntil(const char* from, char stop, char* field, size_t size) {
    const char* end = strchr(from, stop);
    if (end == nullptr)
        end = from + strlen(from);
    size_t length = static_cast<size_t>(end - from);
    if (length > size - 1)
        length = size - 1;
    memcpy(field, from, length);
    field[length] = '\0';
    return end;
}

/* The interface's registry key: the class text, the path before it with
 * every backslash as "#", the class text again, "\#\Device Parameters". */
bool FormPortKey(const char* path, char* key, size_t key_size) {
    const char* brace = strchr(path, '{');
    char class_text[kPathPartSize];
    char prefix[kPathPartSize];
    snprintf(class_text, sizeof class_text, "%s", brace);
    size_t prefix_length = static_cast<size_t>(brace - path);
    memcpy(prefix, path, prefix_length);
    prefix[prefix_length] = '\0';
    for (char* c = prefix; *c != '\0'; ++c)
        if (*c == '\\')
            *c = '#';
    int length = snprintf(key, key_size, "%s%s\\%s%s\\#\\%s", kDeviceClassesKey, class_text, prefix,
                          class_text, kDeviceParameters);
    return length > 0 && static_cast<size_t>(length) < key_size;
}

/* The "Port Number" of the interface; false (with its log line) when the
 * key or value cannot be read or the value is not a REG_DWORD. */
bool ReadPortNumber(const char* path, DWORD* port_number) {
    char key_path[kKeySize];
    ReadKey key;
    if (!FormPortKey(path, key_path, sizeof key_path) ||
        key.Open(HKEY_LOCAL_MACHINE, key_path) != ERROR_SUCCESS) {
        LogLine(kLogStamped, "OvSendSearch_USB [RegOpenKeyEx] Error\n");
        return false;
    }
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key.get(), kPortNumberValue, nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
        LogLine(kLogStamped, "OvSendSearch_USB [GET RegQueryValueEx Size] Error\n");
        return false;
    }
    DWORD value = 0, value_size = sizeof value;
    if (type != REG_DWORD || size != sizeof value ||
        RegQueryValueExA(key.get(), kPortNumberValue, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&value), &value_size) != ERROR_SUCCESS) {
        LogLine(kLogStamped, "OvSendSearch_USB [GET RegQueryValueEx Value] Error\n");
        return false;
    }
    *port_number = value;
    return true;
}

/* Fills the scratch entry from a device path; whether it was counted. */
InterfaceStep DescribePrinter(const char* path, UsbPrinterEntry* entry) {
    // Such a path would not fit the entry, and cut it would open nothing.
    if (strlen(path) >= sizeof entry->DevicePath) {
        LogLine(kLogStamped, "OvSendSearch_USB DevicePath Error(Length)\n");
        return InterfaceStep::kNext;
    }
    const char* vid = strstr(path, "vid_");
    if (vid == nullptr)
        return InterfaceStep::kNext;
    memset(entry, 0, sizeof *entry);
    const char* ampersand = CopyUntil(vid + 4, '&', entry->vid, sizeof entry->vid);
    LogLine(kLogStamped, "OvSendSearch_USB [vid_] = %s Success\n", entry->vid);
    const char* pid = strstr(ampersand, "pid_");
    if (pid == nullptr)
        return InterfaceStep::kNext;
    const char* hash = CopyUntil(pid + 4, '#', entry->pid, sizeof entry->pid);
    LogLine(kLogStamped, "OvSendSearch_USB [pid_] = %s Success\n", entry->pid);
    if (*hash == '#')
        CopyUntil(hash + 1, '#', entry->serialno, sizeof entry->serialno);
    LogLine(kLogStamped, "OvSendSearch_USB [serialno] = %s Success\n", entry->serialno);
    snprintf(entry->DevicePath, sizeof entry->DevicePath, "%s", path);

    bool counted = false;
    DWORD port_number = 0;
    if (strchr(path, '{') != nullptr && ReadPortNumber(path, &port_number)) {
        snprintf(entry->PortName, sizeof entry->PortName, "USB%03u", static_cast<unsigned>(port_number));
        LogLine(kLogStamped, "OvSendSearch_USB [GET RegQueryValueEx Value] Success\n");
        LogLine(kLogStamped, "OvSendSearch_USB %s\n", entry->PortName);
        counted = true;
    }
    LogLine(kLogStamped, "OvSendSearch_USB [GET] Success\n");
    LogLine(kLogStamped, "OvSendSearch_USB %s/%s/(%s)\n", entry->vid, entry->pid, entry->serialno);
    return counted ? InterfaceStep::kCounted : InterfaceStep::kNext;
}

/* Fetches one interface's device path and describes its printer. */
InterfaceStep ReadInterface(HDEVINFO list, SP_DEVICE_INTERFACE_DATA* interface_data,
                            UsbPrinterEntry* entry) {
    DWORD required = 0;
    g_localport_calls.get_interface_detail(list, interface_data, nullptr, 0, &required, nullptr);
    // Too small for the record's size field: this interface is skipped,
    // the others may still be read.
    if (required < kDetailFixedSize) {
        LogLine(kLogStamped, "OvSendSearch_USB SetupDiGetDeviceInterfaceDetail Error(PRT_ERR_GETPRMEMORY)\n");
        return InterfaceStep::kNext;
    }
    // One byte more than asked, zero-filled: the path is always terminated.
    LocalBlock block(static_cast<SIZE_T>(required) + 1);
    if (block.get() == nullptr) {
        LogLine(kLogStamped, "OvSendSearch_USB SetupDiGetDeviceInterfaceDetail Error(PRT_ERR_MEMORY)\n");
        return InterfaceStep::kEndEnumeration;
    }
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(block.get());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    if (!g_localport_calls.get_interface_detail(list, interface_data, detail, required, nullptr,
                                                &device)) {
        LogLine(kLogStamped, "OvSendSearch_USB SetupDiGetDeviceInterfaceDetail Error(PRT_ERR_GETPRMEMORY)\n");
        return InterfaceStep::kEndEnumeration;
    }
    LogLine(kLogStamped, "OvSendSearch_USB SetupDiGetDeviceInterfaceDetail Success\n");
    LogLine(kLogStamped, "OvSendSearch_USB DevicePath = %s\n", detail->DevicePath);
    return DescribePrinter(detail->DevicePath, entry);
}

void EnumeratePrinters(HDEVINFO list, UsbPrinterEntry* entries, DWORD* count) {
    SP_DEVICE_INTERFACE_DATA interface_data = {};
    interface_data.cbSize = sizeof interface_data;
    UsbPrinterEntry scratch = {};
    DWORD index = 0;
    while (g_localport_calls.enum_device_interfaces(list, nullptr, &kUsbPrintClass, index,
                                                    &interface_data)) {
        LogLine(kLogStamped, "OvSendSearch_USB SetupDiEnumDeviceInterfaces(GET)\n");
        ++index;
        InterfaceStep step = ReadInterface(list, &interface_data, &scratch);
        if (step == InterfaceStep::kEndEnumeration)
            break;
        if (step == InterfaceStep::kCounted) {
            if (entries != nullptr)
                entries[*count] = scratch;
            ++*count;
        }
    }
}

}  // namespace

int SendSearchUsb(UsbPrinterEntry* entries, DWORD* count, DWORD* error) {
    TracedCall call("OvSendSearch_USB");
    if (entries == nullptr)
        LogLine(kLogStamped, "OvSendSearch_USB GET MODE\n");
    else
        LogLine(kLogStamped, "OvSendSearch_USB SEARCH MODE\n");
    if (count == nullptr || error == nullptr) {
        RefuseArguments("OvSendSearch_USB", count, error);
        return 0;
    }
    *count = 0;
    HDEVINFO list = g_localport_calls.get_class_devs(&kUsbPrintClass, nullptr, nullptr,
                                                     DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    *error = GetLastError();
    if (list == INVALID_HANDLE_VALUE) {
        LogLine(kLogStamped, "OvSendSearch_USB SetupDiGetClassDevs Error(INVALID_HANDLE_VALUE)\n");
        return 0;
    }
    DeviceList owner(list);
    LogLine(kLogStamped, "OvSendSearch_USB SetupDiGetClassDevs Success\n");
    LogLine(kLogStamped, "OvSendSearch_USB SetupDiEnumDeviceInterfaces(Strat)\n");
    EnumeratePrinters(list, entries, count);
    if (*count > 0)
        LogLine(kLogStamped, "OvSendSearch_USB SearchCnt = %d Success\n", static_cast<int>(*count));
    else
        LogLine(kLogStamped, "OvSendSearch_USB None\n");
    return 1;
}

}  // namespace orv
