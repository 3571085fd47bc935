/*
 * options.cpp - parsing and help of the printer options.
 *
 * Values are checked strictly (a typo is an error, not a default), since
 * a test that sets "dribble=1k" and silently gets 1 would test nothing.
 */
#include "options.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

using Parser = std::function<bool(PrinterOptions*, const std::string&)>;

struct OptionEntry {
    const char* name;
    bool create_only;
    const char* values;
    const char* fallback;   /* the default, as shown by --help */
    const char* meaning;
    Parser parse;
};

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value) {
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long long parsed = strtoull(text.c_str(), nullptr, 10);
    if (parsed > max)
        return false;
    *value = parsed;
    return true;
}

template <typename T>
Parser Number(T PrinterOptions::*field, uint64_t min, uint64_t max) {
    return [field, min, max](PrinterOptions* options, const std::string& text) {
        uint64_t value;
        if (!ParseUnsigned(text, max, &value) || value < min)
            return false;
        options->*field = static_cast<T>(value);
        return true;
    };
}

Parser Switch(bool PrinterOptions::*field) {
    return [field](PrinterOptions* options, const std::string& text) {
        if (text == "on" || text == "1") {
            options->*field = true;
        } else if (text == "off" || text == "0") {
            options->*field = false;
        } else {
            return false;
        }
        return true;
    };
}

Parser Text(std::string PrinterOptions::*field) {
    return [field](PrinterOptions* options, const std::string& text) {
        options->*field = text;
        return true;
    };
}

bool FromHex(const std::string& text, std::string* bytes) {
    static const char kDigits[] = "0123456789abcdef";
    if (text.size() % 2 != 0)
        return false;
    std::string out;
    for (size_t i = 0; i < text.size(); i += 2) {
        int value = 0;
        for (size_t j = i; j < i + 2; ++j) {
            char c = static_cast<char>(tolower(static_cast<unsigned char>(text[j])));
            const char* digit = c ? strchr(kDigits, c) : nullptr;
            if (!digit)
                return false;
            value = value * 16 + static_cast<int>(digit - kDigits);
        }
        out.push_back(static_cast<char>(value));
    }
    *bytes = out;
    return true;
}

Parser Hex(std::string PrinterOptions::*field) {
    return [field](PrinterOptions* options, const std::string& text) {
        return FromHex(text, &(options->*field));
    };
}

bool ParseChatter(PrinterOptions* options, const std::string& text) {
    if (text == "off")
        options->chatter = Chatter::kOff;
    else if (text == "always")
        options->chatter = Chatter::kAlways;
    else if (text == "after_eof")
        options->chatter = Chatter::kAfterEof;
    else
        return false;
    return true;
}

bool ParseOnEof(PrinterOptions* options, const std::string& text) {
    if (text == "close")
        options->on_eof = OnEof::kClose;
    else if (text == "keep")
        options->on_eof = OnEof::kKeep;
    else
        return false;
    return true;
}

bool ParseOnCommand(PrinterOptions* options, const std::string& text) {
    if (text == "reply")
        options->on_command = OnCommand::kReply;
    else if (text == "close")
        options->on_command = OnCommand::kClose;
    else if (text == "reset")
        options->on_command = OnCommand::kReset;
    else
        return false;
    return true;
}

constexpr uint64_t kMaxBytes = 1ull << 48;
constexpr uint64_t kMaxBlock = 1 << 20;     /* chatter block, reply padding */
constexpr uint64_t kMaxMs = 120000;

const OptionEntry kOptions[] = {
    {"netns", true, "NAME", "none", "create the listeners in network namespace /run/netns/NAME",
     Text(&PrinterOptions::netns)},
    {"print_port", true, "N", "9100", "print port", Number(&PrinterOptions::print_port, 1, 65535)},
    {"command_port", true, "N", "9200", "command port", Number(&PrinterOptions::command_port, 1, 65535)},
    {"backlog", true, "N", "16", "listen backlog of both ports", Number(&PrinterOptions::backlog, 0, 4096)},
    {"print", false, "on|off", "on", "off: no print listener, connects are refused",
     Switch(&PrinterOptions::print)},
    {"accept", false, "on|off", "on", "off: listen but do not accept (connections wait in the backlog)",
     Switch(&PrinterOptions::accept)},
    {"read", false, "on|off", "on", "off: accept but never read print data", Switch(&PrinterOptions::read)},
    {"rcvbuf", false, "N", "0 (system)", "SO_RCVBUF of the print listener, inherited by later connections",
     Number(&PrinterOptions::rcvbuf, 0, 64 << 20)},
    {"dribble", false, "N", "0 (unlimited)", "read at most N print bytes per dribble_ms",
     Number(&PrinterOptions::dribble, 0, kMaxBytes)},
    {"dribble_ms", false, "M", "100", "period of dribble", Number(&PrinterOptions::dribble_ms, 1, kMaxMs)},
    {"greeting", false, "HEX", "empty", "bytes sent to the client right after accept",
     Hex(&PrinterOptions::greeting)},
    {"chatter", false, "off|always|after_eof", "off",
     "send chatter_bytes every chatter_ms from accept, or from the client's end of sending",
     ParseChatter},
    {"chatter_bytes", false, "N", "64", "size of one chatter block",
     Number(&PrinterOptions::chatter_bytes, 1, kMaxBlock)},
    {"chatter_ms", false, "M", "100", "period of chatter", Number(&PrinterOptions::chatter_ms, 1, kMaxMs)},
    {"on_eof", false, "close|keep", "close", "when the client ends sending: close, or keep the connection",
     ParseOnEof},
    {"tail", false, "N", "0 (none)",
     "tail_ms after the client's end of sending, send N final bytes (counting on like chatter), "
     "then FIN 250 ms later, and watch the connection's end: a client that closes before it has "
     "read them all resets it (resets), an orderly end counts in tails; instead of on_eof and chatter",
     Number(&PrinterOptions::tail, 0, kMaxBlock)},
    {"tail_ms", false, "M", "300", "delay of tail", Number(&PrinterOptions::tail_ms, 0, kMaxMs)},
    {"close_after", false, "N", "0 (never)", "after N bytes on a connection: FIN, discard the rest",
     Number(&PrinterOptions::close_after, 0, kMaxBytes)},
    {"reset_after", false, "N", "0 (never)", "after N bytes on a connection: reset it (RST)",
     Number(&PrinterOptions::reset_after, 0, kMaxBytes)},
    {"store", false, "PATH", "none", "append every print byte to PATH", Text(&PrinterOptions::store)},
    {"command", false, "on|off", "on", "off: no command listener, connects are refused",
     Switch(&PrinterOptions::command)},
    {"device_id", false, "TEXT", "MFG:ORV;CMD:ESC/P;MDL:orv2100N;CLS:PRINTER;",
     "reply to GET_DEVICE_ID (no blanks)", Text(&PrinterOptions::device_id)},
    {"status_reply", false, "HEX", "5354415455533a52454144592020200a (\"STATUS:READY   \\n\")",
     "reply to GET_RQSENSEDT", Hex(&PrinterOptions::status_reply)},
    {"reset_reply", false, "HEX", "4f4b0a (\"OK\\n\")", "reply to SOFT_RESET", Hex(&PrinterOptions::reset_reply)},
    {"reply_pad", false, "N", "0", "pad shorter replies with blanks (0x20) to N bytes, sent in one send",
     Number(&PrinterOptions::reply_pad, 0, kMaxBlock)},
    {"reply_delay_ms", false, "M", "0", "delay before each reply", Number(&PrinterOptions::reply_delay_ms, 0, kMaxMs)},
    {"command_silent", false, "on|off", "off", "log commands, never reply", Switch(&PrinterOptions::command_silent)},
    {"device_id_hex", false, "HEX", "the default device_id", "reply to GET_DEVICE_ID as bytes (blanks, any byte)",
     Hex(&PrinterOptions::device_id)},
    {"on_command", false, "reply|close|reset", "reply",
     "a command that has a reply gets it, or instead (after reply_delay_ms) the connection is closed "
     "(FIN) or reset (RST) without a reply",
     ParseOnCommand},
};

}  // namespace

bool ApplyOption(PrinterOptions* options, const std::string& item, bool at_create, std::string* error) {
    size_t equals = item.find('=');
    if (equals == std::string::npos || equals == 0) {
        *error = "expected option=value, got " + item;
        return false;
    }
    const std::string name = item.substr(0, equals);
    const std::string value = item.substr(equals + 1);
    for (const OptionEntry& entry : kOptions) {
        if (name != entry.name)
            continue;
        if (entry.create_only && !at_create) {
            *error = name + " can only be given to create";
            return false;
        }
        if (!entry.parse(options, value)) {
            *error = "bad value for " + name + ": " + value + " (expected " + entry.values + ")";
            return false;
        }
        return true;
    }
    if (ApplyDiscoveryOption(options, name, value, at_create, error))
        return true;
    if (error->empty())
        *error = "unknown option " + name;
    return false;
}

namespace {

std::string HelpLine(const char* name, const char* values, const char* fallback, const char* meaning,
                     bool create_only) {
    constexpr size_t kIndent = 30, kWidth = 79;
    std::string line = std::string("  ") + name + "=" + values;
    line += line.size() < kIndent ? std::string(kIndent - line.size(), ' ') : "\n" + std::string(kIndent, ' ');
    std::string words = std::string(meaning) + "; default " + fallback +
                        (create_only ? " (create only)" : "");
    /* Wrap the description under itself. */
    size_t column = kIndent, at = 0;
    while (at < words.size()) {
        size_t end = words.find(' ', at);
        std::string word = words.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? words.size() : end + 1;
        if (column > kIndent && column + 1 + word.size() > kWidth) {
            line += "\n" + std::string(kIndent, ' ');
            column = kIndent;
        } else if (column > kIndent) {
            line += ' ';
            ++column;
        }
        line += word;
        column += word.size();
    }
    return line + "\n";
}

}  // namespace

std::string OptionsHelp() {
    std::string text;
    for (const OptionEntry& entry : kOptions)
        text += HelpLine(entry.name, entry.values, entry.fallback, entry.meaning, entry.create_only);
    for (const DiscoveryOptionHelp& row : DiscoveryOptionsHelpRows())
        text += HelpLine(row.name, row.values, row.fallback, row.meaning, row.create_only);
    return text;
}

std::string ToHex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text.push_back(kDigits[c >> 4]);
        text.push_back(kDigits[c & 15]);
    }
    return text;
}
