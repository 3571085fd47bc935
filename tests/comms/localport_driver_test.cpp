// What the platform here cannot give: parallel and USB printer drivers,
// a serial port that holds transmission for DSR, and the SetupAPI list of
// USB printers. A scripted driver stands in for exactly those calls
// (comms/localport_calls.h); transfers still go over real named pipes and
// the registry is the real one, private to this process.
#include <gtest/gtest.h>

#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "localport.h"
#include "localport_calls.h"
#include "localport_peers.h"
#include "registry_sandbox.h"

namespace {

using orv::g_localport_calls;

constexpr DWORD kUnset = 0xDEADBEEF;
constexpr LONG kStatusPending = 0x103;
constexpr LONG kStatusCancelled = static_cast<LONG>(0xC0000120);

/* --- a scripted driver ------------------------------------------------- */

struct Answer {
    enum Kind { kDone, kFails, kPendingThenDone, kNeverCompletes } kind;
    std::string output;  // bytes the driver returns
    DWORD error = 0;     // for kFails
};

struct Request {
    DWORD code;
    std::string input;
    DWORD output_size;
};

struct Driver {
    std::deque<Answer> answers;  // one per request; the last one repeats
    std::vector<Request> requests;
    OVERLAPPED* held = nullptr;  // a request that never completes by itself
    int dsr_held_polls = 0;      // ClearCommError reports fDsrHold this many times
    DWORD comm_errors = 0;
    int comm_polls = 0;
};
Driver* g_driver = nullptr;

BOOL WINAPI FakeDeviceIoControl(HANDLE, DWORD code, void* in, DWORD in_size, void* out, DWORD out_size,
                                DWORD* returned, OVERLAPPED* control) {
    g_driver->requests.push_back({code, std::string(static_cast<char*>(in), in ? in_size : 0), out_size});
    Answer answer = g_driver->answers.front();
    if (g_driver->answers.size() > 1)
        g_driver->answers.pop_front();
    DWORD n = static_cast<DWORD>(answer.output.size());
    switch (answer.kind) {
    case Answer::kFails:
        SetLastError(answer.error);
        return FALSE;
    case Answer::kNeverCompletes:
        control->Internal = kStatusPending;
        g_driver->held = control;
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    case Answer::kDone:
        memcpy(out, answer.output.data(), n);
        *returned = n;
        return TRUE;
    case Answer::kPendingThenDone:
        memcpy(out, answer.output.data(), n);
        control->InternalHigh = n;
        control->Internal = 0;
        SetEvent(control->hEvent);
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    return FALSE;
}

/* Ends the request the driver holds, and the handle's real transfers. */
BOOL WINAPI FakeCancelIo(HANDLE port) {
    if (g_driver->held != nullptr) {
        g_driver->held->InternalHigh = 0;
        g_driver->held->Internal = kStatusCancelled;
        SetEvent(g_driver->held->hEvent);
        g_driver->held = nullptr;
    }
    CancelIo(port);
    return TRUE;
}

BOOL WINAPI FakeClearCommError(HANDLE, DWORD* errors, COMSTAT* status) {
    memset(status, 0, sizeof *status);
    *errors = g_driver->comm_errors;
    status->fDsrHold = g_driver->comm_polls++ < g_driver->dsr_held_polls;
    return TRUE;
}

/* Installs the driver for one test and puts the real calls back after. */
class DriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = g_localport_calls;
        g_driver = &driver_;
        g_localport_calls.device_io_control = FakeDeviceIoControl;
        g_localport_calls.cancel_io = FakeCancelIo;
        g_localport_calls.clear_comm_error = FakeClearCommError;
        orv::LptTimeOut = orv::kDefaultLptTimeOut;
        ASSERT_TRUE(trace_.ok());
        ASSERT_TRUE(pipe_.ok());
        DWORD error;
        port_ = orv::OpenPortLpt(pipe_.name().c_str(), &error);
        ASSERT_NE(port_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        DWORD error;
        orv::ClosePortLpt(port_, &error);
        g_localport_calls = saved_;
        g_driver = nullptr;
    }
    void Script(std::initializer_list<Answer> answers) { driver_.answers = answers; }

    orv::LocalPortCalls saved_;
    Driver driver_;
    TraceFile trace_;
    PipeDevice pipe_{"lpt-usb#vid_04b8&pid_0005#com"};
    HANDLE port_ = INVALID_HANDLE_VALUE;
    DWORD count_ = kUnset;
    DWORD error_ = kUnset;
};

TEST_F(DriverTest, OnlyOffLineAndPowerOffStopParallelTransfers) {
    struct Case {
        unsigned char status;
        bool prints;
    };
    const Case cases[] = {{0x00, true}, {0x04, true}, {0x40, true}, {0xA0, true}, {0x08, false}, {0x10, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.status));
        Script({{Answer::kPendingThenDone, std::string(1, static_cast<char>(c.status))}});
        count_ = kUnset;
        orv::WritePortLpt(port_, "job", 3, &count_, 100, &error_);
        EXPECT_EQ(count_, c.prints ? 3u : 0u);
        if (c.prints) {
            EXPECT_EQ(pipe_.Receive(3, 500), "job");
        }
        EXPECT_EQ(driver_.requests.back().code, 0x160004u);
    }
    EXPECT_TRUE(trace_.Has("PrinterCheck_LPT DeviceIoControl Err(PARALLEL_POWER_OFF | PARALLEL_OFF_LINE)"));
    EXPECT_TRUE(trace_.Has("OvWritePort_LPT PrinterCheck_LPT Error"));
}

TEST_F(DriverTest, StatusQueryThatFailsOrTimesOutLetsTheTransferThrough) {
    Script({{Answer::kFails, "", ERROR_INVALID_FUNCTION}});
    EXPECT_EQ(orv::WritePortLpt(port_, "a", 1, &count_, 100, &error_), 1);
    EXPECT_EQ(count_, 1u);
    EXPECT_TRUE(trace_.Has("PrinterCheck_LPT DeviceIoControl ErrCode = 0x00000001"));

    orv::LptTimeOut = 0;
    Script({{Answer::kNeverCompletes, ""}});
    EXPECT_EQ(orv::WritePortLpt(port_, "b", 1, &count_, 100, &error_), 1);
    EXPECT_EQ(count_, 1u);
    EXPECT_EQ(pipe_.Receive(2, 500), "ab");
    EXPECT_TRUE(trace_.Has("PrinterCheck_LPT WaitForSingleObject(0)"));
}

TEST_F(DriverTest, ParallelResetOutcomes) {
    struct Case {
        Answer answer;
        DWORD timeout;
        int result;
        DWORD error;
    };
    const Case cases[] = {
        {{Answer::kDone, ""}, 3000, 1, kUnset},
        {{Answer::kPendingThenDone, ""}, 3000, 1, kUnset},
        {{Answer::kFails, "", ERROR_DEVICE_NOT_CONNECTED}, 3000, 1, 0},
        {{Answer::kFails, "", ERROR_GEN_FAILURE}, 3000, 0, ERROR_GEN_FAILURE},
        {{Answer::kNeverCompletes, ""}, 0, 0, ERROR_IO_PENDING},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer.kind);
        Script({c.answer});
        orv::LptTimeOut = c.timeout;
        SetLastError(kUnset);
        error_ = kUnset;
        EXPECT_EQ(orv::SendCancelLpt(port_, &error_), c.result);
        if (c.error != kUnset) {
            EXPECT_EQ(error_, c.error);
        }
        EXPECT_EQ(driver_.requests.back().code, 0x160008u);
        EXPECT_EQ(driver_.requests.back().input, std::string(1, '\x01'));
    }
    EXPECT_TRUE(trace_.Has("OvSendCancel_LPT Error ErrorCode : 0x000003e5"));
    EXPECT_TRUE(trace_.Has("OvSendCancel_LPT Error ErrorCode : 0x0000001f"));
}

const std::string kId = std::string("\x00\x26", 2) + "MFG:ORV;CMD:ESC/P;MDL:orv2100N;CLS:PRT;";

TEST_F(DriverTest, ParallelDeviceIdFillsAtMostTheBufferAndReportsWhatItPlaced) {
    Script({{Answer::kPendingThenDone, kId}});
    std::string buffer(512, '\xEE');
    EXPECT_EQ(orv::GetDeviceIdLpt(port_, &buffer[0], 512, &count_, &error_), 1);
    EXPECT_EQ(count_, kId.size());
    EXPECT_EQ(buffer.substr(0, kId.size()), kId);
    EXPECT_EQ(buffer.substr(kId.size()), std::string(512 - kId.size(), '\0'));
    EXPECT_EQ(driver_.requests.back().code, 0x160030u);
    EXPECT_EQ(driver_.requests.back().output_size, 255u);
    EXPECT_TRUE(trace_.Has("GetDeviceID = [0x0026MFG:ORV;CMD:ESC/P;MDL:orv2100N;CLS:PRT;]"));

    char small[12];
    memset(small, '\xEE', sizeof small);
    EXPECT_EQ(orv::GetDeviceIdLpt(port_, small, 10, &count_, &error_), 1);
    EXPECT_EQ(count_, 10u);
    EXPECT_EQ(error_, static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(std::string(small, 12), kId.substr(0, 10) + "\xEE\xEE");

    orv::LptTimeOut = 0;
    Script({{Answer::kNeverCompletes, ""}});
    EXPECT_EQ(orv::GetDeviceIdLpt(port_, &buffer[0], 512, &count_, &error_), 0);
    EXPECT_EQ(count_, 0u);
    EXPECT_EQ(error_, static_cast<DWORD>(ERROR_IO_PENDING));
}

TEST_F(DriverTest, UsbDeviceIdStartsWithZeroAndTheSoftResetReportsTheDriver) {
    Script({{Answer::kPendingThenDone, std::string("\x01\x26", 2) + kId.substr(2)}});
    std::string buffer(512, '\xEE');
    EXPECT_EQ(orv::GetDeviceIdUsb(port_, &buffer[0], 512, &count_, &error_), 1);
    EXPECT_EQ(count_, kId.size());
    EXPECT_EQ(buffer.substr(0, kId.size()), kId);
    EXPECT_EQ(buffer[kId.size()], '\0');
    EXPECT_EQ(driver_.requests.back().code, 0x220034u);
    EXPECT_EQ(driver_.requests.back().output_size, 255u);

    Script({{Answer::kFails, "", ERROR_GEN_FAILURE}});
    EXPECT_EQ(orv::GetDeviceIdUsb(port_, &buffer[0], 512, &count_, &error_), 0);
    EXPECT_EQ(count_, 0u);
    EXPECT_EQ(error_, static_cast<DWORD>(ERROR_GEN_FAILURE));

    Script({{Answer::kDone, ""}});
    EXPECT_EQ(orv::SendCancelUsb(port_, &error_), 1);
    EXPECT_EQ(driver_.requests.back().code, 0x220040u);
    Script({{Answer::kFails, "", ERROR_BAD_COMMAND}});
    EXPECT_EQ(orv::SendCancelUsb(port_, &error_), 0);
    EXPECT_EQ(error_, static_cast<DWORD>(ERROR_BAD_COMMAND));
    EXPECT_TRUE(trace_.Has("OvSendCancel_USB Error ErrorCode : 0x00000016"));
}

TEST_F(DriverTest, SerialWriteWaitsForDsrAndReportsTheCommErrorsWhenItStaysHeld) {
    driver_.dsr_held_polls = 5;
    EXPECT_EQ(orv::WritePortCom(port_, "go", 2, &count_, 500, &error_), 1);
    EXPECT_EQ(count_, 2u);
    EXPECT_EQ(pipe_.Receive(2, 500), "go");
    EXPECT_EQ(driver_.comm_polls, 6);

    driver_.dsr_held_polls = 1000000;
    driver_.comm_errors = CE_FRAME;
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(orv::WritePortCom(port_, "no", 2, &count_, 0, &error_), 0);
    ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_EQ(count_, 0u);
    EXPECT_EQ(error_, static_cast<DWORD>(CE_FRAME));
    EXPECT_GE(elapsed, 1800u);
    EXPECT_LT(elapsed, 6000u);
    EXPECT_TRUE(trace_.Has("OvWritePort_COM PrinterCheck_COM Error"));
}

/* --- the USB printer list ---------------------------------------------- */

constexpr char kClass[] = "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

struct FakeList {
    std::vector<std::string> paths;
    DWORD forced_size = kUnset;  // what the size query reports, if set
    int lists_taken = 0;
};
FakeList* g_list = nullptr;

HDEVINFO WINAPI FakeGetClassDevs(const GUID*, PCSTR, HWND, DWORD flags) {
    ++g_list->lists_taken;
    SetLastError(0);
    return flags == (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE) ? reinterpret_cast<HDEVINFO>(0x5150) : INVALID_HANDLE_VALUE;
}

BOOL WINAPI FakeEnumInterfaces(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    if (index >= g_list->paths.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->Reserved = index;
    return TRUE;
}

BOOL WINAPI FakeInterfaceDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data, PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                DWORD size, DWORD* required, PSP_DEVINFO_DATA) {
    const std::string& path = g_list->paths[data->Reserved];
    DWORD need = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    if (required != nullptr)
        *required = g_list->forced_size != kUnset ? g_list->forced_size : need;
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

std::string UsbPath(const std::string& vid, const std::string& pid, const std::string& serial) {
    return "\\\\?\\usb#vid_" + vid + "&pid_" + pid + "#" + serial + "#" + kClass;
}

class UsbList : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = g_localport_calls;
        g_list = &list_;
        g_localport_calls.get_class_devs = FakeGetClassDevs;
        g_localport_calls.enum_device_interfaces = FakeEnumInterfaces;
        g_localport_calls.get_interface_detail = FakeInterfaceDetail;
        g_localport_calls.destroy_device_info_list = FakeDestroyList;
        ASSERT_TRUE(registry_.ok());
        ASSERT_TRUE(trace_.ok());
    }
    void TearDown() override {
        g_localport_calls = saved_;
        g_list = nullptr;
    }
    /* A printer with its "Port Number" under its device-class key. */
    void Attach(const std::string& path, DWORD port_number) {
        list_.paths.push_back(path);
        ASSERT_EQ(registry_.SetDword(PortKey(path).c_str(), "Port Number", port_number), ERROR_SUCCESS);
    }
    static std::string PortKey(const std::string& path) {
        std::string prefix = path.substr(0, path.find('{'));
        for (char& c : prefix)
            if (c == '\\')
                c = '#';
        return std::string("SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\") + kClass + "\\" + prefix +
               kClass + "\\#\\Device Parameters";
    }

    orv::LocalPortCalls saved_;
    FakeList list_;
    RegistrySandbox registry_{HKEY_LOCAL_MACHINE};
    TraceFile trace_;
    DWORD count_ = kUnset;
    DWORD error_ = kUnset;
};

TEST_F(UsbList, PathsGiveVendorProductSerialAndThePortNumberFromTheRegistry) {
    Attach(UsbPath("04b8", "0005", "L1234567"), 1);
    list_.paths.push_back("\\\\?\\usb#pid_0001#nothing#" + std::string(kClass));   // no vid_
    list_.paths.push_back("\\\\?\\usb#vid_04b8&pdi_0001#x#" + std::string(kClass));  // no pid_
    Attach(UsbPath("0a5f", "00d3", "SERIALNUMBERLONGERTHANTHIRTYONECHARS"), 12);
    list_.paths.push_back(UsbPath("1111", "2222", "noportnumber"));
    ASSERT_EQ(registry_.SetString(PortKey(list_.paths.back()).c_str(), "Port Number", "3"), ERROR_SUCCESS);
    list_.paths.push_back(UsbPath("3333", "4444", std::string(220, 's')));  // path over 255
    list_.paths.push_back("\\\\?\\usb#vid_5555&pid_6666");  // no serial, no class text

    EXPECT_EQ(orv::SendSearchUsb(nullptr, &count_, &error_), 1);
    EXPECT_EQ(count_, 2u);

    UsbPrinterEntry entries[4];
    memset(entries, 0xCC, sizeof entries);
    EXPECT_EQ(orv::SendSearchUsb(entries, &count_, &error_), 1);
    ASSERT_EQ(count_, 2u);
    EXPECT_STREQ(entries[0].vid, "04b8");
    EXPECT_STREQ(entries[0].pid, "0005");
    EXPECT_STREQ(entries[0].serialno, "L1234567");
    EXPECT_EQ(entries[0].DevicePath, UsbPath("04b8", "0005", "L1234567"));
    EXPECT_STREQ(entries[0].PortName, "USB001");
    EXPECT_STREQ(entries[1].vid, "0a5f");
    EXPECT_STREQ(entries[1].serialno, "SERIALNUMBERLONGERTHANTHIRTYONE");
    EXPECT_STREQ(entries[1].PortName, "USB012");
    // Nothing beyond the counted entries is written.
    const std::string untouched(2 * sizeof(UsbPrinterEntry), '\xCC');
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&entries[2]), untouched.size()), untouched);
    EXPECT_TRUE(trace_.Has("OvSendSearch_USB [vid_] = 04b8 Success"));
    EXPECT_TRUE(trace_.Has("OvSendSearch_USB [GET RegQueryValueEx Value] Error"));
    EXPECT_TRUE(trace_.Has("OvSendSearch_USB 04b8/0005/(L1234567)"));
    EXPECT_TRUE(trace_.Has("OvSendSearch_USB SearchCnt = 2 Success"));
    EXPECT_TRUE(trace_.Has("OvSendSearch_USB DevicePath Error(Length)"));
    EXPECT_TRUE(trace_.Has("OvSendSearch_USB 5555/6666/()"));
}

TEST_F(UsbList, UnreadableInterfacesAndKeysAreNotCountedAndNullPointersAreRefused) {
    Attach(UsbPath("04b8", "0005", "A"), 7);
    list_.forced_size = 2;  // smaller than the detail record's fixed part: skipped
    EXPECT_EQ(orv::SendSearchUsb(nullptr, &count_, &error_), 1);
    EXPECT_EQ(count_, 0u);
    EXPECT_TRUE(trace_.Has("OvSendSearch_USB None"));
    list_.forced_size = kUnset;

    registry_.DeleteKey(PortKey(list_.paths[0]).c_str());
    EXPECT_EQ(orv::SendSearchUsb(nullptr, &count_, &error_), 1);
    EXPECT_EQ(count_, 0u);
    EXPECT_TRUE(trace_.Has("OvSendSearch_USB [RegOpenKeyEx] Error"));

    int taken = list_.lists_taken;
    UsbPrinterEntry entry;
    EXPECT_EQ(orv::SendSearchUsb(&entry, nullptr, &error_), 0);
    EXPECT_EQ(error_, 87u);
    EXPECT_EQ(orv::SendSearchUsb(nullptr, &count_, nullptr), 0);
    EXPECT_EQ(count_, 0u);
    EXPECT_EQ(list_.lists_taken, taken);
    EXPECT_TRUE(trace_.Has("OvSendSearch_USB Parameter Error"));
}

}  // namespace
