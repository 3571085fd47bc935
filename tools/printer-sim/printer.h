/*
 * printer.h - one simulated printer: the network interface of a printer
 * with its print port (raw print data) and its command port (16-byte
 * commands with short replies).
 *
 * The printer owns its two listeners and every connection accepted on
 * them, and keeps the statistics that tests read. Connections end on
 * their own (client closed, reset, a behaviour of the printer); they are
 * removed from the printer a moment later, outside their own handlers.
 */
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "digest.h"
#include "event_log.h"
#include "fd.h"
#include "loop.h"
#include "options.h"

class PrintConnection;
class CommandConnection;
class DiscoveryPort;

struct PrinterStats {
    uint64_t print_connections = 0;      /* accepted on the print port */
    uint64_t received = 0;               /* print bytes, all connections */
    Fnv1a64 digest;                      /* of those bytes, in arrival order */
    uint64_t eof = 0;                    /* print clients that ended their sending */
    uint64_t resets = 0;                 /* print connections ended by a client reset */
    uint64_t tails = 0;                  /* print connections that sent their tail and ended orderly */
    std::string peer = "-";              /* client of the latest print connection */
    std::string local = "-";             /* our end of that connection */
    uint64_t command_connections = 0;
    uint64_t command_ended = 0;          /* command connections that have ended */
    uint64_t command_extra_bytes = 0;    /* bytes beyond the last whole command of an ended connection */
    std::vector<std::string> commands;   /* command log, oldest first */
    uint64_t soft_resets = 0;
};

class Printer {
public:
    Printer(Loop& loop, EventLog& log, std::string id, in_addr address, PrinterOptions options);
    ~Printer();
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;

    /* Opens the store file and the listeners that the options ask for. */
    bool Start(std::string* error);
    /* Applies "name=value" items; nothing changes when one is bad. */
    bool Set(const std::vector<std::string>& items, std::string* error);

    /* "print_connections=... soft_resets=..." */
    std::string StatsLine() const;
    /* A numeric statistic by name (commands: the number logged). */
    bool NumericStat(const std::string& key, uint64_t* value) const;
    void ResetStats();

    /* For the connections. */
    const PrinterOptions& Options() const { return options_; }
    PrinterStats& Stats() { return stats_; }
    Loop& GetLoop() { return loop_; }
    void Event(const std::string& text) { log_.Write(id_, text); }
    void CountPrintBytes(const unsigned char* data, size_t size);
    /* A connection ended: remove it once the current handler is done. */
    void ConnectionEnded();

private:
    bool OpenStore(const std::string& path, UniqueFd* file, std::string* error);
    bool OpenListener(uint16_t port, int receive_buffer, UniqueFd* listener, std::string* error);
    bool OpenPrintListener(std::string* error);
    bool OpenCommandListener(std::string* error);
    void ClosePrintListener();
    void CloseCommandListener();
    bool ApplyListenerChanges(const PrinterOptions& next, std::string* error);
    void UpdateAcceptEvents();
    void AcceptPrint();
    void AcceptCommand();
    void SweepEnded();

    Loop& loop_;
    EventLog& log_;
    const std::string id_;                /* name in the event lines, "" standalone */
    const in_addr address_;               /* where both listeners are bound */
    PrinterOptions options_;
    PrinterStats stats_;
    UniqueFd store_;                      /* print bytes appended here, if open */
    UniqueFd print_listener_;
    Loop::WatchId print_watch_ = 0;
    UniqueFd command_listener_;
    Loop::WatchId command_watch_ = 0;
    std::map<uint64_t, std::unique_ptr<PrintConnection>> print_connections_;
    std::map<uint64_t, std::unique_ptr<CommandConnection>> command_connections_;
    uint64_t next_serial_ = 1;            /* names connections in the maps */
    Loop::TimerId sweep_timer_ = 0;       /* pending removal of ended connections */
    std::unique_ptr<DiscoveryPort> discovery_;  /* UDP search port, DHCP requests */
};
