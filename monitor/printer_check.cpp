/*
 * printer_check.cpp - printer enumeration, the supported-driver test, the
 * job scan and the printer check with its messages and wake-up job.
 *
 * Texts are Shift-JIS (this file is compiled with -fexec-charset=CP932).
 */
#include "printer_check.h"

#include <winspool.h>

#include <cstdio>
#include <cstring>

#include "record.h"

namespace orv {

SpoolerCalls g_spooler_calls = {::EnumPrintersA, ::EnumJobsA, ::Sleep};

int g_printer_check_running = 0;

const char kMessageCaption[] = "ステータスモニタ";
const char kNoDriverText[] = "プリンター（ドライバ）が見つかりません。\n\nプログラムを終了します。";

namespace {

constexpr DWORD kEnumFlags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
constexpr int kEnumRetries = 60;
constexpr DWORD kEnumRetryPauseMs = 1000;
constexpr DWORD kSettlePauseMs = 2000;  // lets the language monitor answer the wake-up job
constexpr size_t kProfileBufferSize = 50;
constexpr int kPortNumbers = 100;

constexpr DWORD kAttributeWorkOffline = 0x400;
constexpr DWORD kAttributeBidirectional = 0x800;
constexpr DWORD kStatusPaused = 0x1;

constexpr DWORD kJobPrinting = 0x10;
constexpr DWORD kJobGone = 0x100 | 0x4 | 0x80;  // deleted, deleting, printed

constexpr char kWakeUpDocument[] = "KTRWindow-Dummy";
constexpr char kWakeUpDataType[] = "RAW";
constexpr DWORD kWakeUpBytes = 15;

const char* const kSupportedDrivers[] = {
    "ORV orv2100", "ORV orv2200", "ORV orv2100N", "ORV orv2200N",
};

constexpr char kNoMemoryText[] =
    "メモリ獲得に失敗しました。\nError : EnumPrinters\n\nプログラムを終了します。";
constexpr char kEnumFailedText[] =
    "プリンター（ドライバ）情報取得に失敗しました。\nError : EnumPrinters\n\nプログラムを終了します。";
constexpr char kNotDefaultText[] =
    "ORV orv2100またはORV orv2200プリンターを接続し\n通常使うプリンターに設定してください。";
constexpr char kWrongPortText[] =
    "プリンターポートの設定が異なります。\n[プリンター]フォルダーからプロパティを開いて、ポート設定を変更してください。";
constexpr char kOpenFailedText[] =
    "プリンター情報の獲得に失敗しました。\nError : OpenPrinter\n\nプログラムを終了します。";
constexpr char kBidirectionalOffText[] =
    "プリンターの双方向機能が無効になっています。\n\n[プリンター]フォルダーからプロパティを開いて、双方向機能を有効にしてください。";
constexpr char kPausedText[] =
    "プリンターは一時停止状態です。\n\n[プリンター]フォルダーを開いて、一時停止を解除してください。";
constexpr char kOfflineText[] =
    "プリンターはオフラインになっています。\n\n[プリンター]フォルダーを開いて、オフラインを解除してください。";
constexpr char kEnumJobsFailedText[] =
    "プリンター（ドライバ）情報取得に失敗しました。\nError : EnumJobs\n\nプログラムを終了します。";
constexpr char kStartDocFailedText[] =
    "プリンター（ドライバ）情報取得に失敗しました。\nError : StartDocPrinter\n\nプログラムを終了します。";

/* What the walk over the printers found when it reached no printer to
 * open. */
enum class Verdict { kNoSupportedDriver, kNotDefault, kWrongPort };

/* An open printer, closed at the end of the check. */
class PrinterHandle {
  public:
    PrinterHandle() = default;
    ~PrinterHandle() { Close(); }
    PrinterHandle(const PrinterHandle&) = delete;
    PrinterHandle& operator=(const PrinterHandle&) = delete;

    bool Open(const char* name) {
        return OpenPrinterA(const_cast<char*>(name), &handle_, nullptr) != FALSE;
    }
    HANDLE get() const { return handle_; }
    void Close() {
        if (handle_ != nullptr)
            g_spooler_calls.close_printer(handle_);
        handle_ = nullptr;
    }

  private:
    HANDLE handle_ = nullptr;
};

const char* TextOrEmpty(const char* text) {
    return text != nullptr ? text : "";
}

/* The default printer's name from the profile ("NAME,winspool,PORT"):
 * the text before the first comma, empty when there is none. A name
 * longer than the 50-byte buffer is cut and then matches no printer. */
void ReadDefaultPrinterName(char* name) {
    GetProfileStringA("windows", "device", ",,,", name, kProfileBufferSize);
    char* comma = strchr(name, ',');
    if (comma != nullptr)
        *comma = '\0';
}

/* Writes ERR_CODE into the record for the language monitor; a record
 * that cannot be opened is left alone (the next poll tells). */
void WriteStatusCode(MonitorState& state, const char* code_text) {
    if (OpenRecordKeys(state) != ERROR_SUCCESS)
        return;
    SetStringValue(state.record_key.get(), kErrCode, code_text);
    CloseRecordKeys(state);
}

/* The spooler setting that keeps the language monitor from hearing the
 * printer, first in the order they are tested, or nullptr. */
const char* SettingProblem(const PRINTER_INFO_2A& printer) {
    if ((printer.Attributes & kAttributeBidirectional) == 0)
        return kBidirectionalOffText;
    if ((printer.Status & kStatusPaused) != 0)
        return kPausedText;
    if ((printer.Attributes & kAttributeWorkOffline) != 0)
        return kOfflineText;
    return nullptr;
}

void MarkFetchingInformation(MonitorState& state) {
    state.current_code = 100;
    state.previous_code = 100;
    WriteStatusCode(state, "100");
}

/* Sends the wake-up job: marks the record first, so the language
 * monitor's answer to the job is what the next poll shows. */
bool SendWakeUpJob(MonitorState& state, HANDLE printer) {
    DOC_INFO_1A document = {const_cast<char*>(kWakeUpDocument), nullptr,
                            const_cast<char*>(kWakeUpDataType)};
    if (StartDocPrinterA(printer, 1, reinterpret_cast<BYTE*>(&document)) == 0)
        return false;
    MarkFetchingInformation(state);
    BYTE zeros[kWakeUpBytes] = {};
    DWORD written = 0;
    WritePrinter(printer, zeros, kWakeUpBytes, &written);
    EndDocPrinter(printer);
    return true;
}

/* The printer is closed before a message box: the box waits for the
 * user, for minutes maybe, and the spooler needs no handle of ours
 * meanwhile. */
int CloseAndReport(PrinterHandle& printer, const char* text, int verdict) {
    printer.Close();
    ShowMonitorMessage(text);
    return verdict;
}

/* Steps 5 to 7 of the check, for the default printer with a supported
 * driver on an accepted port. */
int CheckDefaultPrinter(MonitorState& state, const PRINTER_INFO_2A& entry) {
    PrinterHandle printer;
    if (!printer.Open(entry.pPrinterName)) {
        ShowMonitorMessage(kOpenFailedText);
        return kCheckFatal;
    }
    if (const char* problem = SettingProblem(entry)) {
        WriteStatusCode(state, "0");
        return CloseAndReport(printer, problem, kCheckReported);
    }
    switch (FindPrintingJob(printer.get())) {
        case 1:
            MarkFetchingInformation(state);
            break;
        case 0:
            if (!SendWakeUpJob(state, printer.get()))
                return CloseAndReport(printer, kStartDocFailedText, kCheckFatal);
            break;
        default:
            return CloseAndReport(printer, kEnumJobsFailedText, kCheckFatal);
    }
    // The printer is free while the language monitor answers.
    printer.Close();
    g_spooler_calls.pause(kSettlePauseMs);
    return kCheckReady;
}

int ReportVerdict(Verdict verdict) {
    switch (verdict) {
        case Verdict::kNotDefault:
            ShowMonitorMessage(kNotDefaultText);
            return kCheckReported;
        case Verdict::kWrongPort:
            ShowMonitorMessage(kWrongPortText);
            return kCheckReported;
        case Verdict::kNoSupportedDriver:
            break;
    }
    ShowMonitorMessage(kNoDriverText);
    return kCheckFatal;
}

}  // namespace

void ShowMonitorMessage(const char* text) {
    MessageBoxA(nullptr, text, kMessageCaption, MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
}

int EnumeratePrinters(LocalBuffer& buffer, DWORD* count) {
    int retries_left = kEnumRetries;
    for (;;) {
        DWORD needed = 0;
        *count = 0;
        if (g_spooler_calls.enum_printers(kEnumFlags, nullptr, 2, reinterpret_cast<BYTE*>(buffer.data()),
                                          buffer.capacity(), &needed, count))
            return kEnumDone;
        DWORD error = GetLastError();
        if (error == ERROR_INSUFFICIENT_BUFFER && needed > buffer.capacity()) {
            if (!buffer.Allocate(needed)) {
                ShowMonitorMessage(kNoMemoryText);
                return kEnumFailed;
            }
            continue;
        }
        // The spooler may not be running yet (the monitor can start with
        // the session): wait for it for about a minute.
        if (retries_left == 0) {
            ShowMonitorMessage(kEnumFailedText);
            return kEnumFailed;
        }
        g_spooler_calls.pause(kEnumRetryPauseMs);
        --retries_left;
    }
}

bool IsSupportedDriver(const char* driver_name) {
    if (driver_name == nullptr)
        return false;
    for (const char* supported : kSupportedDrivers)
        if (strcmp(driver_name, supported) == 0)
            return true;
    return false;
}

bool IsAcceptedPort(const char* port_name) {
    if (port_name == nullptr)
        return false;
    char name[16];
    for (int number = 0; number < kPortNumbers; ++number) {
        snprintf(name, sizeof name, "LPT%1d:", number);
        if (strcmp(port_name, name) == 0)
            return true;
        snprintf(name, sizeof name, "USB%03d", number);
        if (strcmp(port_name, name) == 0)
            return true;
    }
    return false;
}

int FindSupportedDriver(int* enum_result) {
    LocalBuffer buffer;
    DWORD count = 0;
    *enum_result = EnumeratePrinters(buffer, &count);
    if (*enum_result != kEnumDone)
        return 0;
    const PRINTER_INFO_2A* printers = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
        if (IsSupportedDriver(printers[i].pDriverName))
            return 1;
    return 0;
}

int FindPrintingJob(HANDLE printer) {
    if (printer == nullptr)
        return -1;
    LocalBuffer buffer;
    for (DWORD position = 0;;) {
        DWORD needed = 0, returned = 0;
        SetLastError(ERROR_SUCCESS);
        BOOL listed = g_spooler_calls.enum_jobs(printer, position, 1, 1, reinterpret_cast<BYTE*>(buffer.data()),
                                                buffer.capacity(), &needed, &returned);
        if (!listed) {
            DWORD error = GetLastError();
            if (error == ERROR_INSUFFICIENT_BUFFER && needed > buffer.capacity()) {
                if (!buffer.Allocate(needed))
                    return -1;
                continue;
            }
            // Wine's EnumJobs fails without an error for every queue,
            // where Windows lists no entry: nothing is printing.
            return error == ERROR_SUCCESS ? 0 : -1;
        }
        if (returned == 0)
            return 0;
        DWORD status = reinterpret_cast<const JOB_INFO_1A*>(buffer.data())->Status;
        if ((status & kJobGone) == 0 && (status & kJobPrinting) != 0)
            return 1;
        ++position;
    }
}

int CheckPrinter(MonitorState& state) {
    g_printer_check_running = 1;
    LocalBuffer buffer;
    DWORD count = 0;
    if (EnumeratePrinters(buffer, &count) != kEnumDone)
        return kCheckFatal;
    char default_name[kProfileBufferSize];
    ReadDefaultPrinterName(default_name);
    const PRINTER_INFO_2A* printers = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
    Verdict verdict = Verdict::kNoSupportedDriver;
    for (DWORD i = 0; i < count; ++i) {
        const PRINTER_INFO_2A& entry = printers[i];
        if (!IsSupportedDriver(entry.pDriverName))
            continue;
        if (default_name[0] == '\0' || strcmp(TextOrEmpty(entry.pPrinterName), default_name) != 0) {
            verdict = Verdict::kNotDefault;
            continue;
        }
        if (!IsAcceptedPort(entry.pPortName)) {
            verdict = Verdict::kWrongPort;
            break;
        }
        return CheckDefaultPrinter(state, entry);
    }
    return ReportVerdict(verdict);
}

}  // namespace orv
