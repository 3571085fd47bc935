/*
 * options.h - the behaviour of one simulated printer, as option=value
 * items given at creation and changed later.
 *
 * One table (options.cpp) holds every option with its parser, default and
 * help line, so the command line, the control protocol and --help agree.
 */
#pragma once

#include <cstdint>
#include <string>

#include "discovery_options.h"

enum class Chatter { kOff, kAlways, kAfterEof };
enum class OnEof { kClose, kKeep };
enum class OnCommand { kReply, kClose, kReset };

struct PrinterOptions {
    /* Where the printer listens; fixed at creation. */
    std::string netns;            /* network namespace of the listeners, "" = ours */
    uint16_t print_port = 9100;
    uint16_t command_port = 9200;
    int backlog = 16;             /* listen() backlog of both ports */

    /* Print port. */
    bool print = true;            /* false: no listener, connects are refused */
    bool accept = true;           /* false: listen, but leave connections queued */
    bool read = true;             /* false: accept, never read */
    int rcvbuf = 0;               /* SO_RCVBUF of the print listener, 0 = default */
    uint64_t dribble = 0;         /* at most this many bytes ... */
    int dribble_ms = 100;         /* ... per this many ms; 0 bytes = unlimited */
    std::string greeting;         /* bytes sent right after accept */
    Chatter chatter = Chatter::kOff;
    uint64_t chatter_bytes = 64;
    int chatter_ms = 100;
    OnEof on_eof = OnEof::kClose;
    uint64_t tail = 0;            /* final status bytes after the client's end, 0 = none */
    int tail_ms = 300;            /* ... sent this many ms after that end */
    uint64_t close_after = 0;     /* FIN after this many bytes, 0 = never */
    uint64_t reset_after = 0;     /* RST after this many bytes, 0 = never */
    std::string store;            /* file the print bytes are appended to, "" = none */

    /* Command port. */
    bool command = true;          /* false: no listener, connects are refused */
    std::string device_id = "MFG:ORV;CMD:ESC/P;MDL:orv2100N;CLS:PRINTER;";
    std::string status_reply = std::string("STATUS:READY   \n");
    std::string reset_reply = "OK\n";
    uint64_t reply_pad = 0;       /* replies shorter than this are padded with blanks */
    int reply_delay_ms = 0;
    bool command_silent = false;  /* true: log commands, never reply */
    OnCommand on_command = OnCommand::kReply;  /* what a command with a reply gets */

    /* Discovery: the UDP search port and DHCP client requests. */
    DiscoveryOptions discovery;
};

/* Applies one "name=value" item. Options of the first group above are
 * accepted only when at_create. On failure says why in *error. */
bool ApplyOption(PrinterOptions* options, const std::string& item, bool at_create,
                 std::string* error);

/* One line per option: name, values, default, meaning. */
std::string OptionsHelp();

/* Lower-case hex of the bytes, no separators. */
std::string ToHex(const std::string& bytes);
