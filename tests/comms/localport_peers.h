/*
 * localport_peers.h - the other ends of the local-port tests: the trace
 * file in a fresh current directory, a named pipe that plays a parallel
 * or USB printer (its name holds the family's keyword, so the library
 * opens it as a port), and the far end of the test run's serial pair.
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
    bool Has(const std::string& line) const;
    void Clear();
    /* The whole file, for failure messages. */
    std::string Text() const;

  private:
    ScopedCurrentDir dir_;
    bool ok_ = false;
};

/* A named pipe server in byte mode; the library opens name(). */
class PipeDevice {
  public:
    /* `tail` ends the pipe's name, e.g. "lpt" or "usb#vid_04b8&pid_0005#1". */
    explicit PipeDevice(const std::string& tail, DWORD buffer_size = 4096);
    ~PipeDevice();
    PipeDevice(const PipeDevice&) = delete;
    PipeDevice& operator=(const PipeDevice&) = delete;

    bool ok() const { return pipe_ != INVALID_HANDLE_VALUE; }
    const std::string& name() const { return name_; }
    HANDLE handle() const { return pipe_; }

    bool Send(const std::string& bytes);
    /* What arrives until `size` bytes came or nothing came for `idle_ms`. */
    std::string Receive(size_t size, DWORD idle_ms);

  private:
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    std::string name_;
};

/* The serial pair of the test run (scripts/serial-env.sh): the library
 * opens kSerialPort, the test plays the printer on kSerialPeer. */
constexpr char kSerialPort[] = "\\\\.\\COM21";
constexpr char kSerialPeer[] = "\\\\.\\COM22";

class SerialPeer {
  public:
    SerialPeer();
    ~SerialPeer();
    SerialPeer(const SerialPeer&) = delete;
    SerialPeer& operator=(const SerialPeer&) = delete;

    bool ok() const { return port_ != INVALID_HANDLE_VALUE; }
    bool Send(const std::string& bytes);
    std::string Receive(size_t size, DWORD idle_ms);
    /* Drops whatever either end of the pair still holds from earlier. */
    void Purge(HANDLE other_end);

  private:
    HANDLE port_ = INVALID_HANDLE_VALUE;
};

/* Bytes waiting in a serial port's input queue. */
DWORD BytesWaiting(HANDLE serial_port);

/* Waits (at most `limit_ms`) until `serial_port` holds `count` bytes. */
bool WaitForBytes(HANDLE serial_port, DWORD count, DWORD limit_ms);

/* A text in the system code page (932 here) from UTF-8. */
std::string Sjis(const char* utf8);

/* `size` bytes counting 0, 1, ... 255, 0, ... from `first`. */
std::string Pattern(size_t size, unsigned first = 0);

#endif  // ORV_TEST_LOCALPORT_PEERS_H
