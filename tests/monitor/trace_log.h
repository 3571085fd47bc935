/*
 * trace_log.h - what the recording registry stand-ins of
 * registry_trace.h saw, for the trace tests and the poll benchmark.
 */
#ifndef ORV_TEST_TRACE_LOG_H
#define ORV_TEST_TRACE_LOG_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct RegistryCall {
    std::string function;  // "open", "create", "close", "size", "read", "set", "delete"
    std::string name;      // subkey or value name ("" for close)
    REGSAM access = 0;     // open and create
    HKEY key = nullptr;    // the key the call worked on (close: the key closed)
    DWORD type = 0;        // set
    std::string data;      // set: the bytes written
    LONG result = 0;
};

/* Starts a fresh log; calls are recorded until StopTrace. */
void StartTrace();
std::vector<RegistryCall> StopTrace();

/* Number of registry calls made since the process started (also while no
 * log is kept). */
unsigned long RegistryCallCount();

/* Runs `hook` before every value read that fetches data (not a size
 * query), with the value name; empty function to remove. Lets a test
 * change a value between the size query and the read. */
void SetReadHook(std::function<void(const std::string& name)> hook);

#endif  // ORV_TEST_TRACE_LOG_H
