/*
 * event_log.cpp - writing event lines to standard output.
 */
#include "event_log.h"

#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace {

std::string TimeStamp() {
    timeval now;
    gettimeofday(&now, nullptr);
    tm local;
    localtime_r(&now.tv_sec, &local);
    char text[32];
    snprintf(text, sizeof text, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min, local.tm_sec,
             static_cast<int>(now.tv_usec / 1000));
    return text;
}

}  // namespace

void EventLog::Write(const std::string& source, const std::string& text) {
    std::string line = stamped_ ? TimeStamp() : std::string();
    if (!source.empty())
        line += source + ": ";
    line += text + "\n";
    size_t done = 0;
    while (done < line.size()) {
        ssize_t n = write(STDOUT_FILENO, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;   /* nowhere to write: the events are lost, the printer runs on */
        done += static_cast<size_t>(n);
    }
}
