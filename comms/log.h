/*
 * log.h - the diagnostic log of the local port channels.
 */
#ifndef ORVCOMMS_LOG_H
#define ORVCOMMS_LOG_H

#include <cstddef>

namespace orv {

enum LogKind {
    kLogPlain = 0,    // the message as formatted (the rows of a dump)
    kLogStamped = 1,  // "[hh:mm:ss:mmm] " before the message
};

constexpr size_t kLogFormatSize = 256;   // stamped format, terminator included
constexpr size_t kLogMessageSize = 512;  // finished message, terminator included
constexpr size_t kLogDumpLimit = 4096;   // largest dump written

/* Formats one message and writes it to the debugger output, and appends it
 * to "Log\orvcomms.log" in the current directory when that file exists.
 * Never fails and leaves the caller's last-error value as it was. */
void LogLine(int kind, const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(gnu_printf, 2, 3)))
#endif
    ;

/* Writes `count` bytes as a hex dump of 16 bytes a row. */
void LogDump(const void* data, size_t count);

/* Cuts `format` at its last complete conversion so that a format cut at a
 * buffer limit never ends inside a "%..." directive. Exposed for tests. */
void TrimPartialConversion(char* format);

}  // namespace orv

#endif  // ORVCOMMS_LOG_H
