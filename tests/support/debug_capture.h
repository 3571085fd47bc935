/*
 * debug_capture.h - collects this process's OutputDebugStringA messages.
 *
 * It plays the part of a debug-output viewer: it owns the "DBWIN_BUFFER"
 * section and its two events, which OutputDebugStringA writes to when no
 * debugger is attached. Only one viewer may run at a time in a Wine
 * prefix, so tests using it share a ctest resource lock ("dbwin"), and
 * so do the tests whose calls write to it: a writer still inside
 * OutputDebugStringA when the viewer ends keeps the section alive, and
 * then every writer waits 10 s a line for a reader that never comes.
 */
#ifndef ORV_TEST_DEBUG_CAPTURE_H
#define ORV_TEST_DEBUG_CAPTURE_H

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

class DebugCapture {
  public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    bool ok() const { return ok_; }

    /* The messages of this process received so far, in order. */
    std::vector<std::string> Messages();

  private:
    void Run();

    HANDLE buffer_ready_ = nullptr;
    HANDLE data_ready_ = nullptr;
    HANDLE section_ = nullptr;
    HANDLE stop_ = nullptr;
    void* view_ = nullptr;
    bool ok_ = false;
    std::thread reader_;
    std::mutex lock_;
    std::vector<std::string> messages_;
};

#endif  // ORV_TEST_DEBUG_CAPTURE_H
