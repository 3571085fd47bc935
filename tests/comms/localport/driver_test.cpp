// What the platform here cannot give: parallel and USB printer drivers,
// a serial port that holds transmission for DSR, and the SetupAPI list of
// USB printers. A scripted driver stands in for exactly those calls
// (comms/localport/calls.h); transfers still go over real named pipes and
// the registry is the real one, private to this process.
#include <gtest/gtest.h>

#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "localport/calls.h"
#include "localport/localport.h"
#include "peers.h"
#include "registry_sandbox.h"

namespace {

using orv::g_localport_calls;

constexpr DWORD kUnset = 0xDEADBEEF;
constexpr char kFill = '\xEE';
constexpr LONG kStatusPending = 0x103;
constexpr LONG kStatusCancelled = static_cast<LONG>(0xC0000120);
constexpr LONG kStatusDeviceNotConnected = static_cast<LONG>(0xC000009D);  // ERROR_DEVICE_NOT_CONNECTED

/* --- the stand-ins ------------------------------------------------------ */

/* The driver's answer to every request of a test step. */
struct Answer {
    // kPendingThenFails: the printer is unplugged while the request waits.
    enum Kind { kDone, kFails, kPendingThenDone, kPendingThenFails, kNeverCompletes } kind;
    std::string output;  // bytes the driver returns
    DWORD error = 0;     // for kFails
};

struct Platform {
    Answer answer;
    DWORD code = 0;              // the last request's code, input and output size
    std::string input;
    DWORD output_size = 0;
    OVERLAPPED* held = nullptr;  // a request that never completes by itself
    int dsr_held_polls = 0;      // ClearCommError reports fDsrHold this many times
    DWORD comm_errors = 0;
    int comm_polls = 0;
    std::vector<std::string> usb_paths;  // the SetupAPI list
    DWORD first_detail_size = kUnset;    // what the first detail size query reports, if set
    int lists_taken = 0;
    DeviceEnd* take_on_cancel = nullptr;  // the printer takes its bytes as the cancel comes
    std::string taken;
    ULONGLONG clock = 1000000;  // Windows' clock, in ms
};
Platform g_fake;

BOOL WINAPI FakeDeviceIoControl(HANDLE, DWORD code, void* in, DWORD in_size, void* out, DWORD out_size,
                                DWORD* returned, OVERLAPPED* control) {
    g_fake.code = code;
    g_fake.input.assign(static_cast<char*>(in), in ? in_size : 0);
    g_fake.output_size = out_size;
    const Answer& answer = g_fake.answer;
    if (answer.kind == Answer::kFails) {
        SetLastError(answer.error);
        return FALSE;
    }
    if (answer.kind == Answer::kNeverCompletes) {
        control->Internal = kStatusPending;
        g_fake.held = control;
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    DWORD n = static_cast<DWORD>(answer.output.size());
    // A driver never cuts its answer to the output size: it fails.
    if (n > out_size) {
        *returned = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(out, answer.output.data(), n);
    if (answer.kind == Answer::kDone) {
        *returned = n;
        return TRUE;
    }
    bool fails = answer.kind == Answer::kPendingThenFails;
    control->InternalHigh = fails ? 0 : n;
    control->Internal = fails ? kStatusDeviceNotConnected : 0;
    SetEvent(control->hEvent);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

/* Ends the request the driver holds, and the handle's real transfers. */
BOOL WINAPI FakeCancelIo(HANDLE port) {
    if (g_fake.take_on_cancel != nullptr) {
        g_fake.taken = g_fake.take_on_cancel->Receive(1 << 20, 300);
        g_fake.take_on_cancel = nullptr;
    }
    if (g_fake.held != nullptr) {
        g_fake.held->InternalHigh = 0;
        g_fake.held->Internal = kStatusCancelled;
        SetEvent(g_fake.held->hEvent);
        g_fake.held = nullptr;
    }
    return CancelIo(port);
}

BOOL WINAPI FakeClearCommError(HANDLE, DWORD* errors, COMSTAT* status) {
    memset(status, 0, sizeof *status);
    *errors = g_fake.comm_errors;
    status->fDsrHold = g_fake.comm_polls++ < g_fake.dsr_held_polls;
    return TRUE;
}

HDEVINFO WINAPI FakeGetClassDevs(const GUID*, PCSTR, HWND, DWORD flags) {
    ++g_fake.lists_taken;
    SetLastError(0);
    return flags == (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE) ? reinterpret_cast<HDEVINFO>(0x5150) : INVALID_HANDLE_VALUE;
}

BOOL WINAPI FakeEnumInterfaces(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    if (index >= g_fake.usb_paths.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->Reserved = index;
    return TRUE;
}

BOOL WINAPI FakeInterfaceDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data, PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                DWORD size, DWORD* required, PSP_DEVINFO_DATA) {
    const std::string& path = g_fake.usb_paths[data->Reserved];
    DWORD need = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    if (required != nullptr)
        *required = data->Reserved == 0 && g_fake.first_detail_size != kUnset ? g_fake.first_detail_size : need;
    if (detail == nullptr || detail->cbSize != sizeof *detail || size < need) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    return TRUE;
}

BOOL WINAPI FakeDestroyList(HDEVINFO) {
    return TRUE;
}

/* Windows' default timer: a 10 ms pause after another lasts a 15.6 ms step. */
ULONGLONG WINAPI FakeTicks() { return g_fake.clock; }
void FakePause(ULONGLONG ms) { g_fake.clock += ms * 16 / 10; }

/* Installs the stand-ins for one test and puts the real calls back
 * after; opens a named pipe as the port that the driver requests go to. */
class DriverTest : public ::testing::Test {
  protected:
    DriverTest() {
        g_fake = Platform();
        g_localport_calls = {FakeDeviceIoControl, FakeCancelIo, FakeClearCommError, FakeGetClassDevs,
                             FakeEnumInterfaces, FakeInterfaceDetail, FakeDestroyList, saved_.tick_count,
                             saved_.pause};
        orv::LptTimeOut = orv::kDefaultLptTimeOut;
    }
    ~DriverTest() override { g_localport_calls = saved_; }
    void SetUp() override {
        ASSERT_TRUE(trace_.ok());
        ASSERT_TRUE(registry_.ok());
        ASSERT_TRUE(pipe_.ok());
        port_ = orv::OpenPortLpt(pipe_.name().c_str(), &error_);
        ASSERT_NE(port_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override { orv::ClosePortLpt(port_, &error_); }

    const orv::LocalPortCalls saved_ = g_localport_calls;
    TraceFile trace_;
    RegistrySandbox registry_{HKEY_LOCAL_MACHINE};
    PipeDevice pipe_{"lpt-usb#vid_04b8&pid_0005#com"};
    HANDLE port_ = INVALID_HANDLE_VALUE;
    DWORD count_ = kUnset;
    DWORD error_ = kUnset;
};

/* --- driver requests ---------------------------------------------------- */

struct DriverFamily {
    const char* name;
    int (*reset)(HANDLE, DWORD*);
    int (*device_id)(HANDLE, void*, DWORD, DWORD*, DWORD*);
    DWORD reset_code;
    std::string reset_input;
    DWORD id_code;
};
const DriverFamily kLpt = {"LPT", orv::SendCancelLpt, orv::GetDeviceIdLpt, 0x160008, "\x01", 0x160030};
const DriverFamily kUsb = {"USB", orv::SendCancelUsb, orv::GetDeviceIdUsb, 0x220040, "", 0x220034};

// A status that cannot be read (refused, or unanswered within LptTimeOut)
// lets the transfer go ahead, as a port without a status line still prints.
TEST_F(DriverTest, OnlyOffLineAndPowerOffStopParallelTransfers) {
    auto status = [](unsigned char bits) { return Answer{Answer::kPendingThenDone, std::string(1, bits)}; };
    struct Case {
        Answer answer;
        bool prints;
    };
    const Case cases[] = {{status(0x00), true},  {status(0x04), true},
                          {status(0x40), true},  {status(0xA0), true},
                          {status(0x08), false}, {status(0x10), false},
                          {{Answer::kFails, "", ERROR_INVALID_FUNCTION}, true},
                          {{Answer::kNeverCompletes, ""}, true}};
    orv::LptTimeOut = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.answer.output) + " " + std::to_string(c.answer.kind));
        g_fake.answer = c.answer;
        count_ = kUnset;
        orv::WritePortLpt(port_, "job", 3, &count_, 100, &error_);
        EXPECT_EQ(count_, c.prints ? 3u : 0u);
        EXPECT_EQ(pipe_.Receive(3, c.prints ? 500 : 0), c.prints ? "job" : "");
        EXPECT_EQ(g_fake.code, 0x160004u);
    }
    for (const char* line : {"PrinterCheck_LPT DeviceIoControl Err(PARALLEL_POWER_OFF | PARALLEL_OFF_LINE)",
                             "OvWritePort_LPT PrinterCheck_LPT Error", "PrinterCheck_LPT WaitForSingleObject(0)",
                             "PrinterCheck_LPT DeviceIoControl ErrCode = 0x00000001"})
        EXPECT_TRUE(trace_.Has(line)) << line;
}

// An unplugged parallel printer needs no reset; a parallel reset waits at
// most LptTimeOut, here 0.
TEST_F(DriverTest, ResetsReportWhatTheDriverAnswers) {
    struct Case {
        const DriverFamily& family;
        Answer answer;
        int result;
        DWORD error;
    };
    const Case cases[] = {
        {kLpt, {Answer::kDone, ""}, 1, kUnset},
        {kLpt, {Answer::kPendingThenDone, ""}, 1, kUnset},
        {kLpt, {Answer::kFails, "", ERROR_DEVICE_NOT_CONNECTED}, 1, 0},
        {kLpt, {Answer::kFails, "", ERROR_GEN_FAILURE}, 0, ERROR_GEN_FAILURE},
        {kLpt, {Answer::kNeverCompletes, ""}, 0, ERROR_IO_PENDING},
        {kUsb, {Answer::kDone, ""}, 1, kUnset},
        {kUsb, {Answer::kFails, "", ERROR_BAD_COMMAND}, 0, ERROR_BAD_COMMAND},
        {kUsb, {Answer::kPendingThenFails, ""}, 0, ERROR_DEVICE_NOT_CONNECTED},
    };
    orv::LptTimeOut = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.family.name) + " " + std::to_string(c.answer.kind));
        g_fake.answer = c.answer;
        error_ = kUnset;
        EXPECT_EQ(c.family.reset(port_, &error_), c.result);
        if (c.error != kUnset) {
            EXPECT_EQ(error_, c.error);
        }
        EXPECT_EQ(g_fake.code, c.family.reset_code);
        EXPECT_EQ(g_fake.input, c.family.reset_input);
    }
    for (const char* line : {"OvSendCancel_LPT Error ErrorCode : 0x000003e5",
                             "OvSendCancel_LPT Error ErrorCode : 0x0000001f",
                             "OvSendCancel_USB Error ErrorCode : 0x00000016",
                             "OvSendCancel_USB Error ErrorCode : 0x0000048f"})
        EXPECT_TRUE(trace_.Has(line)) << line;
}

// The driver is asked for 255 bytes; the caller's buffer gets the ID's
// first `count` bytes, at most its size, and zeros after them. The USB
// driver's first length byte is not handed on: callers see 0.
TEST_F(DriverTest, DeviceIdFillsAtMostTheBuffer) {
    const std::string id = std::string("\x00\x26", 2) + "MFG:ORV;CMD:ESC/P;MDL:orv2100N;CLS:PRT;";
    const DWORD n = static_cast<DWORD>(id.size());
    struct Case {
        const DriverFamily& family;
        Answer answer;
        DWORD size;
        int result;
        DWORD count;
        DWORD error;
    };
    const Case cases[] = {
        {kLpt, {Answer::kPendingThenDone, id}, 512, 1, n, kUnset},
        {kLpt, {Answer::kPendingThenDone, id}, 10, 1, 10, ERROR_MORE_DATA},
        {kLpt, {Answer::kNeverCompletes, ""}, 512, 0, 0, ERROR_IO_PENDING},
        {kUsb, {Answer::kPendingThenDone, "\x01" + id.substr(1)}, 512, 1, n, kUnset},
        {kUsb, {Answer::kFails, "", ERROR_GEN_FAILURE}, 512, 0, 0, ERROR_GEN_FAILURE},
        {kUsb, {Answer::kPendingThenFails, "\x01" + id.substr(1)}, 512, 0, 0, ERROR_DEVICE_NOT_CONNECTED},
    };
    orv::LptTimeOut = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.family.name) + " " + std::to_string(c.answer.kind));
        g_fake.answer = c.answer;
        std::string buffer(520, kFill);
        error_ = kUnset;
        EXPECT_EQ(c.family.device_id(port_, &buffer[0], c.size, &count_, &error_), c.result);
        EXPECT_EQ(count_, c.count);
        if (c.error != kUnset) {
            EXPECT_EQ(error_, c.error);
        }
        const std::string zeros(c.size - c.count, '\0');
        EXPECT_EQ(buffer, id.substr(0, c.count) + zeros + std::string(520 - c.size, kFill));
        EXPECT_EQ(g_fake.code, c.family.id_code);
        EXPECT_EQ(g_fake.output_size, 4094u);
    }
    EXPECT_TRUE(trace_.Has("GetDeviceID = [0x0026MFG:ORV;CMD:ESC/P;MDL:orv2100N;CLS:PRT;]"));
}

// A driver fails (122) rather than cut an ID to a short request. An ID of
// more than 255 bytes comes back cut to 255 bytes as a success, the log
// line's text ending at the cut; only one longer than the request fails.
TEST_F(DriverTest, DeviceIdLongerThan255BytesIsCutTo255) {
    const std::string text = "MFG:ORV;CMD:ESC/P;DES:" + std::string(432, 'd');
    const std::string id = std::string("\x01\xc8", 2) + text;  // 456 bytes
    for (const DriverFamily* family : {&kLpt, &kUsb}) {
        std::string buffer(256, kFill);
        g_fake.answer = {Answer::kDone, id};
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(family->device_id(port_, &buffer[0], 256, &count_, &error_), 1) << family->name;
        EXPECT_EQ(count_, 255u);
        EXPECT_EQ(error_, static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(buffer.substr(1), id.substr(1, 254) + '\0');
        g_fake.answer = {Answer::kDone, std::string(4095, 'x')};
        EXPECT_EQ(family->device_id(port_, &buffer[0], 256, &count_, &error_), 0);
        EXPECT_EQ(error_, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    }
    EXPECT_TRUE(trace_.Has("GetDeviceID = [0x01c8" + text.substr(0, 253) + "]"));
    EXPECT_TRUE(trace_.Has("GetDeviceID = [0x00c8" + text.substr(0, 253) + "]"));
}

TEST_F(DriverTest, SerialWriteWaitsForDsrAndReportsTheCommErrorsWhenItStaysHeld) {
    g_fake.dsr_held_polls = 5;
    EXPECT_EQ(orv::WritePortCom(port_, "go", 2, &count_, 500, &error_), 1);
    EXPECT_EQ(count_, 2u);
    EXPECT_EQ(pipe_.Receive(2, 500), "go");
    EXPECT_EQ(g_fake.comm_polls, 6);

    g_fake.dsr_held_polls = 1000000;
    g_fake.comm_errors = CE_FRAME;
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(orv::WritePortCom(port_, "no", 2, &count_, 0, &error_), 0);
    ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_EQ(count_, 0u);
    EXPECT_EQ(error_, static_cast<DWORD>(CE_FRAME));
    EXPECT_GE(elapsed, 1800u);
    EXPECT_LT(elapsed, 6000u);
    EXPECT_TRUE(trace_.Has("OvWritePort_COM PrinterCheck_COM Error"));
}

/* --- transfers ---------------------------------------------------------- */

// The printer may take the last bytes of a try just as its wait runs out:
// the query still finds the write pending, and the cancel comes too late
// to stop it. Every byte went out once, so the write succeeds with the
// whole count and sends nothing again.
TEST_F(DriverTest, WriteThatCompletesAsItIsCancelledSucceedsAndIsNotSentAgain) {
    const std::string job = Pattern(64 * 1024, 7);
    g_fake.take_on_cancel = &pipe_;
    EXPECT_EQ(orv::WritePortUsb(port_, job.data(), static_cast<DWORD>(job.size()), &count_, 100, &error_), 1);
    EXPECT_EQ(count_, job.size());
    EXPECT_EQ(error_, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(g_fake.taken == job) << g_fake.taken.size();
    EXPECT_EQ(pipe_.Receive(1, 300), "");
    EXPECT_EQ(trace_.Count("OvWritePort_USB WriteFile Send"), 1);
}

// The DSR wait lasts its 2 s also where each 10 ms pause lasts 16 ms.
TEST_F(DriverTest, DsrWaitEndsAfterTwoSecondsOfTicksWhateverAPauseLasts) {
    g_localport_calls.tick_count = FakeTicks;
    g_localport_calls.pause = FakePause;
    g_fake.dsr_held_polls = 1000000;
    const ULONGLONG start = g_fake.clock;
    EXPECT_EQ(orv::WritePortCom(port_, "no", 2, &count_, 0, &error_), 0);
    // One try: 2 s of polls 16 ms apart, then the pause of 50 ms (80 ms here).
    EXPECT_EQ(trace_.Count("PrinterCheck_COM Start"), 1);
    EXPECT_GE(g_fake.clock - start, 2000u + 80u);
    EXPECT_LT(g_fake.clock - start, 2000u + 16u + 80u);
}

/* --- the USB printer list ---------------------------------------------- */

constexpr char kClass[] = "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

std::string UsbPath(const std::string& vid, const std::string& pid, const std::string& serial) {
    return "\\\\?\\usb#vid_" + vid + "&pid_" + pid + "#" + serial + "#" + kClass;
}

/* The interface's device-class key, which holds its "Port Number". */
std::string PortKey(const std::string& path) {
    std::string prefix = path.substr(0, path.find('{'));
    for (char& c : prefix)
        if (c == '\\')
            c = '#';
    return std::string("SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\") + kClass + "\\" + prefix + kClass +
           "\\#\\Device Parameters";
}

template <size_t N>
bool Terminated(const char (&field)[N]) {
    return memchr(field, '\0', N) != nullptr;
}

class UsbList : public DriverTest {
  protected:
    /* A printer with its "Port Number". */
    void Attach(const std::string& path, DWORD port_number) {
        g_fake.usb_paths.push_back(path);
        ASSERT_EQ(registry_.SetDword(PortKey(path).c_str(), "Port Number", port_number), ERROR_SUCCESS);
    }
};

TEST_F(UsbList, PathsGiveVendorProductSerialAndThePortNumberFromTheRegistry) {
    std::vector<std::string>& paths = g_fake.usb_paths;
    Attach(UsbPath("04b8", "0005", "L1234567"), 1);
    paths.push_back("\\\\?\\usb#pid_0001#nothing#" + std::string(kClass));   // no vid_
    paths.push_back("\\\\?\\usb#vid_04b8&pdi_0001#x#" + std::string(kClass));  // no pid_
    Attach(UsbPath("0a5f", "00d3", "SERIALNUMBERLONGERTHANTHIRTYONECHARS"), 12);
    paths.push_back(UsbPath("1111", "2222", "noportnumber"));
    ASSERT_EQ(registry_.SetString(PortKey(paths.back()).c_str(), "Port Number", "3"), ERROR_SUCCESS);
    paths.push_back(UsbPath("3333", "4444", std::string(220, 's')));  // path over 255
    paths.push_back("\\\\?\\usb#vid_5555&pid_6666");  // no serial, no class text

    EXPECT_EQ(orv::SendSearchUsb(nullptr, &count_, &error_), 1);
    EXPECT_EQ(count_, 2u);

    UsbPrinterEntry entries[4];
    memset(entries, 0xCC, sizeof entries);
    EXPECT_EQ(orv::SendSearchUsb(entries, &count_, &error_), 1);
    ASSERT_EQ(count_, 2u);
    auto fields = [](const UsbPrinterEntry& e) {
        return std::string(e.vid) + "|" + e.pid + "|" + e.serialno + "|" + e.PortName + "|" + e.DevicePath;
    };
    EXPECT_EQ(fields(entries[0]), "04b8|0005|L1234567|USB001|" + paths[0]);
    EXPECT_EQ(fields(entries[1]), "0a5f|00d3|SERIALNUMBERLONGERTHANTHIRTYONE|USB012|" + paths[3]);
    // Nothing beyond the counted entries is written.
    const std::string untouched(2 * sizeof(UsbPrinterEntry), '\xCC');
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&entries[2]), untouched.size()), untouched);
    for (const char* line : {"OvSendSearch_USB [vid_] = 04b8 Success", "OvSendSearch_USB 04b8/0005/(L1234567)",
                             "OvSendSearch_USB [GET RegQueryValueEx Value] Error",
                             "OvSendSearch_USB SearchCnt = 2 Success", "OvSendSearch_USB DevicePath Error(Length)",
                             "OvSendSearch_USB 5555/6666/()"})
        EXPECT_TRUE(trace_.Has(line)) << line;
}

// Every field of an entry is a terminated string: a serial number is cut
// to the 31 characters its field holds; a path of 255 characters fits its
// field and is read, and one of 256, which would have to be cut and then
// open nothing, is left out. (The keys of such paths are longer than
// Wine's registry calls take, so the trace tells which path was read.)
TEST_F(UsbList, FieldsAtTheirLimitsStayTerminated) {
    for (char c : {'a', 'b', 'c'})
        Attach(UsbPath("04b8", "0005", std::string(31 + (c - 'a'), c)), 1);
    const std::string fits = UsbPath("04b8", "0005", std::string(190, 'd'));
    ASSERT_EQ(fits.size(), sizeof(UsbPrinterEntry::DevicePath) - 1);
    g_fake.usb_paths.push_back(fits);
    g_fake.usb_paths.push_back(UsbPath("04b8", "0005", std::string(191, 'e')));

    UsbPrinterEntry entries[4];
    memset(entries, 0xCC, sizeof entries);
    EXPECT_EQ(orv::SendSearchUsb(entries, &count_, &error_), 1);
    ASSERT_EQ(count_, 3u);
    for (int i = 0; i < 3; ++i) {
        const UsbPrinterEntry& e = entries[i];
        EXPECT_TRUE(Terminated(e.vid) && Terminated(e.pid) && Terminated(e.serialno) && Terminated(e.DevicePath) &&
                    Terminated(e.PortName))
            << "entry " << i;
        EXPECT_EQ(std::string(e.serialno), std::string(31, static_cast<char>('a' + i)));
    }
    const std::string untouched(sizeof(UsbPrinterEntry), '\xCC');
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&entries[3]), untouched.size()), untouched);
    EXPECT_TRUE(trace_.Has("OvSendSearch_USB 04b8/0005/(" + std::string(31, 'd') + ")"));
    EXPECT_FALSE(trace_.Has("OvSendSearch_USB 04b8/0005/(" + std::string(31, 'e') + ")"));
    EXPECT_EQ(trace_.Count("OvSendSearch_USB DevicePath Error(Length)"), 1);
}

TEST_F(UsbList, UnreadableInterfacesAndKeysAreSkippedAndNullPointersAreRefused) {
    Attach(UsbPath("04b8", "0005", "A"), 7);
    Attach(UsbPath("04b8", "0005", "B"), 8);
    g_fake.first_detail_size = 2;  // smaller than the detail record's fixed part
    EXPECT_EQ(orv::SendSearchUsb(nullptr, &count_, &error_), 1);
    EXPECT_EQ(count_, 1u);
    EXPECT_TRUE(trace_.Has("OvSendSearch_USB SetupDiGetDeviceInterfaceDetail Error(PRT_ERR_GETPRMEMORY)"));
    registry_.DeleteKey(PortKey(g_fake.usb_paths[1]).c_str());
    EXPECT_EQ(orv::SendSearchUsb(nullptr, &count_, &error_), 1);
    EXPECT_EQ(count_, 0u);
    EXPECT_TRUE(trace_.Has("OvSendSearch_USB [RegOpenKeyEx] Error"));
    EXPECT_TRUE(trace_.Has("OvSendSearch_USB None"));

    int taken = g_fake.lists_taken;
    UsbPrinterEntry entry;
    EXPECT_EQ(orv::SendSearchUsb(&entry, nullptr, &error_), 0);
    EXPECT_EQ(error_, 87u);
    EXPECT_EQ(orv::SendSearchUsb(nullptr, &count_, nullptr), 0);
    EXPECT_EQ(count_, 0u);
    EXPECT_EQ(g_fake.lists_taken, taken);
    EXPECT_TRUE(trace_.Has("OvSendSearch_USB Parameter Error"));
}

}  // namespace
