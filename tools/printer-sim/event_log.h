/*
 * event_log.h - one line per thing that happened, on standard output.
 *
 * Standalone, a user watches these lines; under the control server they
 * go to the log file, each named after its printer and stamped with the
 * time, so a failing test can be read against them. Lines are written
 * with one write() each and never buffered, so nothing is lost when the
 * process is killed.
 */
#pragma once

#include <string>

class EventLog {
public:
    explicit EventLog(bool stamped) : stamped_(stamped) {}
    /* source names the printer (or "control"); "" writes the text alone. */
    void Write(const std::string& source, const std::string& text);

private:
    bool stamped_;   /* prefix each line with the wall-clock time */
};
