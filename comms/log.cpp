/*
 * log.cpp - the diagnostic log: stamped lines and hex dumps.
 *
 * Each line goes to the debugger output always, and is appended to
 * "Log\orvcomms.log" only when that file already exists, so logging to disk
 * is switched on by creating the file. The file is opened and closed
 * around each line; nothing stays open between calls. The fixed buffers
 * of the line (a 256-byte stamped format, a 512-byte message) are filled
 * with bounded formatting, so an over-long text is cut, never overrun.
 */
#include "log.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace orv {

namespace {

constexpr char kLogPath[] = "Log\\orvcomms.log";
constexpr size_t kLogPathSize = 261;
constexpr size_t kDumpRowBytes = 16;
constexpr size_t kDumpRowWidth = 65;   // 16 × "xx " (48), a blank, 16 characters
constexpr size_t kDumpTextColumn = 49;

bool IsPrintable(unsigned char byte) {
    // ASCII graphics and the single-byte katakana of code page 932.
    return (byte >= 0x20 && byte <= 0x7E) || (byte >= 0xA1 && byte <= 0xDF);
}

void AppendToFile(const char* message) {
    char path[kLogPathSize];
    snprintf(path, sizeof path, "%s", kLogPath);
    if (!PathFileExistsA(path))
        return;
    FILE* file = fopen(path, "a+");
    if (file == nullptr)
        return;
    fprintf(file, "%s", message);
    fflush(file);
    fclose(file);
}

void WriteMessage(const char* message) {
    OutputDebugStringA(message);
    AppendToFile(message);
}

void ResetRow(char* row) {
    memset(row, ' ', kDumpRowWidth);
    row[kDumpRowWidth] = '\0';
}

}  // namespace

void TrimPartialConversion(char* format) {
    // Find the start of the last directive; "%%" pairs are literal.
    char* open = nullptr;
    for (char* p = format; *p != '\0'; ++p) {
        if (*p != '%')
            continue;
        if (p[1] == '%') {
            ++p;
            continue;
        }
        open = p;
    }
    if (open == nullptr)
        return;
    // A directive is complete once its conversion letter appears.
    const char* q = open + 1;
    q += strspn(q, "-+ #0123456789.*'hlLqjzt");
    if (*q == '\0')
        *open = '\0';
}

void LogLine(int kind, const char* format, ...) {
    DWORD saved_error = GetLastError();
    SYSTEMTIME now;
    GetLocalTime(&now);

    char stamped[kLogFormatSize];
    if (kind == kLogStamped)
        snprintf(stamped, sizeof stamped, "[%02d:%02d:%02d:%03d] %s", now.wHour, now.wMinute,
                 now.wSecond, now.wMilliseconds, format);
    else
        snprintf(stamped, sizeof stamped, "%s", format);
    if (strlen(stamped) == sizeof stamped - 1)
        TrimPartialConversion(stamped);

    char message[kLogMessageSize];
    va_list args;
    va_start(args, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    vsnprintf(message, sizeof message, stamped, args);
#pragma GCC diagnostic pop
    va_end(args);

    WriteMessage(message);
    SetLastError(saved_error);
}

void LogDump(const void* data, size_t count) {
    if (count > kLogDumpLimit) {
        LogLine(kLogStamped, "Data Size = 4K Over\n");
        return;
    }
    LogLine(kLogStamped, "Data = \n");

    const auto* bytes = static_cast<const unsigned char*>(data);
    char row[kDumpRowWidth + 1];
    ResetRow(row);
    size_t col = 0;
    for (size_t i = 0; i < count; ++i) {
        unsigned char byte = bytes[i];
        char hex[4];
        snprintf(hex, sizeof hex, "%02x ", byte);
        memcpy(row + 3 * col, hex, 2);
        row[kDumpTextColumn + col] = IsPrintable(byte) ? static_cast<char>(byte) : '.';
        ++col;
        if (col == kDumpRowBytes || i + 1 == count) {
            LogLine(kLogPlain, "%s\n", row);
            ResetRow(row);
            col = 0;
        }
    }
}

}  // namespace orv
