// bench_clock.h - the clocks and the median that every benchmark prints
// its figures from.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

inline LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

inline double SecondsSince(LARGE_INTEGER start) {
    LARGE_INTEGER now = Now(), frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / frequency.QuadPart;
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Kernel plus user time of a process or thread, from its Get*Times.
inline double CpuSeconds(const FILETIME& kernel, const FILETIME& user) {
    auto seconds = [](const FILETIME& t) {
        return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}
