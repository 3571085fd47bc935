/*
 * peers.h - the other ends of the local-port tests: the trace
 * file in a fresh current directory, a named pipe that plays a parallel
 * or USB printer (its name holds the family's keyword, so the library
 * opens it as a port), and the far end of the test run's serial pair.
 *
 * Every program that links these also gets a hang watch: a test that has
 * not ended after 90 s ends the program with a line naming the test, the
 * wait it is in and the library's last log line, before ctest's time-out
 * would kill it without a word.
 */
#ifndef ORV_TEST_LOCALPORT_PEERS_H
#define ORV_TEST_LOCALPORT_PEERS_H

#include <windows.h>

#include <string>
#include <vector>

#include "temp_dir.h"

/* A fresh current directory holding an empty "Log\orvcomms.log", which
 * switches the library's trace file on. */
class TraceFile {
  public:
    TraceFile();
    bool ok() const { return ok_; }

    /* The lines written so far without their line ends; `stamped` tells
     * for each whether it began with a "[hh:mm:ss:mmm] " stamp, which is
     * removed. */
    std::vector<std::string> Lines(std::vector<bool>* stamped = nullptr) const;
    /* How many lines read `line`. */
    int Count(const std::string& line) const;
    bool Has(const std::string& line) const { return Count(line) > 0; }
    void Clear();

  private:
    ScopedCurrentDir dir_;
    bool ok_ = false;
};

/* Names, for the hang watch, what the test waits for while it lives. */
class WaitNote {
  public:
    explicit WaitNote(const char* what);
    ~WaitNote();
    WaitNote(const WaitNote&) = delete;
    WaitNote& operator=(const WaitNote&) = delete;

  private:
    const char* previous_;
};

/* The test's end of a device, read and written with overlapped calls. */
class DeviceEnd {
  public:
    explicit DeviceEnd(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~DeviceEnd();
    DeviceEnd(const DeviceEnd&) = delete;
    DeviceEnd& operator=(const DeviceEnd&) = delete;

    bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE handle() const { return handle_; }
    bool Send(const std::string& bytes);
    /* What arrives until `size` bytes came or nothing came for `idle_ms`. */
    std::string Receive(size_t size, DWORD idle_ms);

  protected:
    HANDLE handle_;
};

/* A named pipe server in byte mode; the library opens name(). */
class PipeDevice : public DeviceEnd {
  public:
    /* `tail` ends the pipe's name, e.g. "lpt" or "usb#vid_04b8&pid_0005#1". */
    explicit PipeDevice(const std::string& tail, DWORD buffer_size = 4096);
    const std::string& name() const { return name_; }

  private:
    std::string name_;
};

/* The serial pair of the test run (scripts/serial-env.sh): the library
 * opens kSerialPort, the test plays the printer on kSerialPeer. */
constexpr char kSerialPort[] = "\\\\.\\COM21";
constexpr char kSerialPeer[] = "\\\\.\\COM22";

/* A text in the system code page (932 here) from UTF-8. */
std::string Sjis(const char* utf8);

/* `size` pseudo-random bytes from `seed`. No stretch of them repeats
 * soon (bytes counting 0 to 255 repeat every 256), so a part of a job
 * sent twice or left out shows wherever it starts. */
std::string Pattern(size_t size, unsigned seed = 0);

#endif  // ORV_TEST_LOCALPORT_PEERS_H
