/*
 * lm-sim - plays the printer's language monitor against the status record
 * (HKEY_LOCAL_MACHINE\SOFTWARE\ORV\KTRMonitor-msg\1), so the status
 * monitor can be run, tested and shown without a printer: it sets values,
 * removes the record, answers a cancel request and runs timed scenarios.
 * One command a run; --help lists them. Exit code 0 on success, 1 when a
 * registry call or a wait failed, 2 for a bad command line or scenario.
 *
 * Texts are passed on as bytes of the system code page (Shift-JIS under a
 * Japanese locale), as the language monitor writes them; a scenario file
 * written in UTF-8 is converted first when run with --utf8.
 *
 * On 64-bit Windows the language monitor is a 64-bit DLL in the spooler,
 * and the shipped 32-bit status monitor reads the record in the 32-bit
 * registry view; the 64-bit lm-sim with --32-bit-view writes there as
 * such a language monitor must (KEY_WOW64_32KEY on every open).
 */
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "record.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr DWORD kPollSliceMs = 10;  // how often waits look at the cancel request

const char kHelp[] =
    "lm-sim - language-monitor simulator for the ORV status monitor\n"
    "\n"
    "usage: lm-sim [--registry-root SUBKEY] [--32-bit-view] COMMAND [ARGUMENTS]\n"
    "\n"
    "Works on HKEY_LOCAL_MACHINE\\SOFTWARE\\ORV\\KTRMonitor-msg\\1.\n"
    "\n"
    "commands:\n"
    "  defaults              create the record and write the monitor's start defaults\n"
    "  set NAME VALUE        set a value: HEAD_SPAN, CSF_FRONT and CSF_REAR as one\n"
    "                        byte (0-255), any other name as a REG_SZ text\n"
    "  set-sz NAME TEXT      a REG_SZ text, whatever the name\n"
    "  set-byte NAME N       a 1-byte REG_BINARY value, whatever the name\n"
    "  set-bin NAME HEX      a REG_BINARY value of any length, e.g. 0102ff\n"
    "  set-dword NAME N      a REG_DWORD value (values of the wrong type)\n"
    "  unset NAME            delete one value\n"
    "  remove                delete key 1 (the monitor closes at its next poll)\n"
    "  print                 print every value of the record\n"
    "  answer-cancel [DELAY_MS [TIMEOUT_MS]]\n"
    "                        wait for LM_JOB_CANCEL to read RQ_CANCEL, then after\n"
    "                        DELAY_MS (default 1000) set DOC_NAME to \"  \" and\n"
    "                        LM_JOB_CANCEL back to RQ_NORMAL; gives up after\n"
    "                        TIMEOUT_MS (default 60000) with exit code 1\n"
    "  run FILE [--utf8]     run a scenario file (below); --utf8: the file is\n"
    "                        UTF-8 and its texts are converted to the code page\n"
    "\n"
    "scenario files: one step a line, blank lines and lines starting with #\n"
    "ignored. A step is 'at MS COMMAND ARGUMENTS', MS the time in milliseconds\n"
    "from the start of the run, never smaller than the step before. COMMAND is\n"
    "one of defaults, set, set-sz, set-byte, set-bin, set-dword, unset, remove,\n"
    "print, and:\n"
    "  answer-cancel DELAY_MS   from now on answer cancel requests as above\n"
    "  end                      keep running (and answering) until MS\n"
    "Put a text with blanks in double quotes: at 0 set DOC_NAME \"  \".\n"
    "Example (printing for 3 s, paper out, ready, record gone):\n"
    "  at 0    set ERR_CODE 2\n"
    "  at 0    set DOC_NAME report.txt\n"
    "  at 3000 set ERR_CODE 302\n"
    "  at 6000 set ERR_CODE 0\n"
    "  at 9000 remove\n"
    "\n"
    "--registry-root SUBKEY  map HKEY_LOCAL_MACHINE to HKEY_CURRENT_USER\\SUBKEY\n"
    "                        for this run (to share a test's private registry)\n"
    "--32-bit-view           open the record in the 32-bit registry view\n"
    "                        (KEY_WOW64_32KEY), as a 64-bit language monitor does\n"
    "                        for the 32-bit status monitor on 64-bit Windows\n";

using Args = std::vector<std::string>;

/* The registry view of every open: 0 for the program's own, or
 * KEY_WOW64_32KEY (--32-bit-view). */
REGSAM g_view = 0;

/* --- the record ------------------------------------------------------------ */

LONG WithRecord(REGSAM access, bool create, LONG (*action)(HKEY, const void*), const void* context) {
    HKEY key;
    access |= g_view;
    LONG status = create ? RegCreateKeyExA(HKEY_LOCAL_MACHINE, orv::kRecordPath, 0, nullptr, 0, access,
                                           nullptr, &key, nullptr)
                         : RegOpenKeyExA(HKEY_LOCAL_MACHINE, orv::kRecordPath, 0, access, &key);
    if (status != ERROR_SUCCESS)
        return status;
    status = action(key, context);
    RegCloseKey(key);
    return status;
}

struct Value {
    std::string name;
    DWORD type;
    std::string bytes;
};

LONG WriteValue(const Value& value) {
    return WithRecord(KEY_ALL_ACCESS, false,
                      [](HKEY key, const void* context) {
                          const Value* v = static_cast<const Value*>(context);
                          return RegSetValueExA(key, v->name.c_str(), 0, v->type,
                                                reinterpret_cast<const BYTE*>(v->bytes.data()),
                                                static_cast<DWORD>(v->bytes.size()));
                      },
                      &value);
}

LONG ReadText(const char* name, std::string* text) {
    struct Target {
        const char* name;
        std::string* text;
    } target{name, text};
    return WithRecord(KEY_READ, false,
                      [](HKEY key, const void* context) {
                          const Target* t = static_cast<const Target*>(context);
                          char data[4096] = {};
                          DWORD size = sizeof data - 1;
                          LONG status = RegQueryValueExA(key, t->name, nullptr, nullptr,
                                                         reinterpret_cast<BYTE*>(data), &size);
                          if (status == ERROR_SUCCESS)
                              *t->text = data;
                          return status;
                      },
                      &target);
}

Value Text(const std::string& name, const std::string& text) {
    return Value{name, REG_SZ, text + '\0'};
}

bool IsByteValue(const std::string& name) {
    return name == orv::kHeadSpan || name == orv::kCsfFront || name == orv::kCsfRear;
}

bool ParseNumber(const std::string& text, long long low, long long high, long long* number) {
    char* end = nullptr;
    long long value = strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < low || value > high)
        return false;
    *number = value;
    return true;
}

bool ParseHex(const std::string& text, std::string* bytes) {
    if (text.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        char* end = nullptr;
        long byte = strtol(pair, &end, 16);
        if (*end != '\0')
            return false;
        bytes->push_back(static_cast<char>(byte));
    }
    return true;
}

/* The value a set command names, or false for a bad argument. */
bool ParseSet(const std::string& command, const std::string& name, const std::string& argument,
              Value* value) {
    long long number = 0;
    value->name = name;
    if (command == "set-sz" || (command == "set" && !IsByteValue(name))) {
        *value = Text(name, argument);
        return true;
    }
    if (command == "set-byte" || command == "set") {
        if (!ParseNumber(argument, 0, 255, &number))
            return false;
        *value = Value{name, REG_BINARY, std::string(1, static_cast<char>(number))};
        return true;
    }
    if (command == "set-dword") {
        if (!ParseNumber(argument, 0, 0xFFFFFFFFLL, &number))
            return false;
        DWORD dword = static_cast<DWORD>(number);
        *value = Value{name, REG_DWORD, std::string(reinterpret_cast<char*>(&dword), sizeof dword)};
        return true;
    }
    value->type = REG_BINARY;
    value->bytes.clear();
    return ParseHex(argument, &value->bytes);
}

LONG WriteDefaults() {
    return WithRecord(KEY_ALL_ACCESS, true,
                      [](HKEY key, const void*) { return orv::WriteRecordDefaults(key); }, nullptr);
}

/* Deletes key 1 in one step, values and all, as the language monitor does:
 * removing the values one by one first (RegDeleteTree) would let a poll
 * in between see a record without its values, which is a failure, not
 * the end of the record. */
LONG RemoveRecord() {
    HKEY parent;
    LONG status =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, orv::kRecordParentPath, 0, KEY_ALL_ACCESS | g_view, &parent);
    if (status != ERROR_SUCCESS)
        return status;
    status = RegDeleteKeyExA(parent, "1", g_view, 0);
    if (status == ERROR_ACCESS_DENIED)  // it has subkeys of its own
        status = RegDeleteTreeA(parent, "1");
    RegCloseKey(parent);
    return status;
}

LONG Unset(const std::string& name) {
    return WithRecord(KEY_ALL_ACCESS, false,
                      [](HKEY key, const void* context) {
                          return RegDeleteValueA(key, static_cast<const std::string*>(context)->c_str());
                      },
                      &name);
}

void PrintValue(const char* name, DWORD type, const BYTE* data, DWORD size) {
    printf("%-14s ", name);
    if (type == REG_SZ) {
        printf("REG_SZ     \"%.*s\"\n", static_cast<int>(size > 0 ? strnlen(reinterpret_cast<const char*>(data), size) : 0),
               reinterpret_cast<const char*>(data));
    } else if (type == REG_DWORD && size == 4) {
        DWORD value;
        memcpy(&value, data, 4);
        printf("REG_DWORD  %lu\n", static_cast<unsigned long>(value));
    } else {
        printf(type == REG_BINARY ? "REG_BINARY" : "type %-5lu", static_cast<unsigned long>(type));
        if (size == 1)
            printf(" %u\n", data[0]);
        else {
            printf(" hex ");
            for (DWORD i = 0; i < size; ++i)
                printf("%02x", data[i]);
            printf("\n");
        }
    }
}

LONG PrintRecord() {
    return WithRecord(KEY_READ, false,
                      [](HKEY key, const void*) {
                          for (DWORD index = 0;; ++index) {
                              char name[256];
                              DWORD name_size = sizeof name, type = 0;
                              std::vector<BYTE> data(64 * 1024);
                              DWORD size = static_cast<DWORD>(data.size());
                              LONG status = RegEnumValueA(key, index, name, &name_size, nullptr, &type,
                                                          data.data(), &size);
                              if (status == ERROR_NO_MORE_ITEMS)
                                  return static_cast<LONG>(ERROR_SUCCESS);
                              if (status != ERROR_SUCCESS)
                                  return status;
                              PrintValue(name, type, data.data(), size);
                          }
                      },
                      nullptr);
}

/* --- answering a cancel request ------------------------------------------- */

/* Watches LM_JOB_CANCEL and answers a request after its delay. */
class CancelAnswerer {
  public:
    void Enable(DWORD delay_ms) {
        enabled_ = true;
        delay_ms_ = delay_ms;
    }
    bool enabled() const { return enabled_; }
    unsigned answered() const { return answered_; }

    /* Looks once; false when a registry write failed. */
    bool Check() {
        if (!enabled_)
            return true;
        DWORD now = GetTickCount();
        if (!pending_) {
            std::string request;
            if (ReadText(orv::kLmJobCancel, &request) == ERROR_SUCCESS && request == "RQ_CANCEL") {
                pending_ = true;
                since_ = now;
            }
            return true;
        }
        if (now - since_ < delay_ms_)
            return true;
        pending_ = false;
        ++answered_;
        // The job is gone: no document, and the request is taken.
        bool ok = WriteValue(Text(orv::kDocName, "  ")) == ERROR_SUCCESS &&
                  WriteValue(Text(orv::kLmJobCancel, "RQ_NORMAL")) == ERROR_SUCCESS;
        printf("cancel answered after %lu ms\n", static_cast<unsigned long>(now - since_));
        fflush(stdout);
        return ok;
    }

  private:
    bool enabled_ = false;
    bool pending_ = false;
    DWORD delay_ms_ = 0;
    DWORD since_ = 0;
    unsigned answered_ = 0;
};

/* Sleeps until `offset` ms after the tick count `start`, answering cancel
 * requests meanwhile. */
bool WaitUntil(DWORD start, DWORD offset, CancelAnswerer& answerer) {
    for (;;) {
        if (!answerer.Check())
            return false;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= offset)
            return true;
        DWORD left = offset - elapsed;
        Sleep(left < kPollSliceMs ? left : kPollSliceMs);
    }
}

/* --- commands --------------------------------------------------------------- */

int Report(LONG status, const std::string& what) {
    if (status == ERROR_SUCCESS)
        return kExitOk;
    fprintf(stderr, "lm-sim: %s failed with error %ld\n", what.c_str(), status);
    return kExitFailed;
}

int Usage(const std::string& problem) {
    fprintf(stderr, "lm-sim: %s (lm-sim --help for the commands)\n", problem.c_str());
    return kExitUsage;
}

/* Runs one record command; `args` starts with the command's name. Returns
 * kExitUsage for a command it does not know or bad arguments. */
int RunRecordCommand(const Args& args) {
    const std::string& command = args[0];
    if (command == "defaults" && args.size() == 1)
        return Report(WriteDefaults(), "writing the defaults");
    if (command == "remove" && args.size() == 1)
        return Report(RemoveRecord(), "removing key 1");
    if (command == "print" && args.size() == 1)
        return Report(PrintRecord(), "reading the record");
    if (command == "unset" && args.size() == 2)
        return Report(Unset(args[1]), "deleting " + args[1]);
    bool is_set = command == "set" || command == "set-sz" || command == "set-byte" ||
                  command == "set-bin" || command == "set-dword";
    if (!is_set || args.size() != 3)
        return Usage("bad command: " + command);
    Value value;
    if (!ParseSet(command, args[1], args[2], &value))
        return Usage("bad value for " + command + ": " + args[2]);
    return Report(WriteValue(value), "setting " + args[1]);
}

int AnswerCancel(const Args& args) {
    long long delay = 1000, timeout = 60000;
    if (args.size() > 3 || (args.size() > 1 && !ParseNumber(args[1], 0, 3600000, &delay)) ||
        (args.size() > 2 && !ParseNumber(args[2], 0, 86400000, &timeout)))
        return Usage("usage: answer-cancel [DELAY_MS [TIMEOUT_MS]]");
    CancelAnswerer answerer;
    answerer.Enable(static_cast<DWORD>(delay));
    DWORD start = GetTickCount();
    while (answerer.answered() == 0) {
        if (GetTickCount() - start >= static_cast<DWORD>(timeout)) {
            fprintf(stderr, "lm-sim: no cancel request within %lld ms\n", timeout);
            return kExitFailed;
        }
        if (!answerer.Check())
            return Report(ERROR_WRITE_FAULT, "answering the cancel request");
        Sleep(kPollSliceMs);
    }
    return kExitOk;
}

/* --- scenarios -------------------------------------------------------------- */

struct Step {
    int line;
    DWORD at_ms;
    Args command;
};

/* Splits a line into words; double quotes keep blanks inside a word. */
bool SplitWords(const std::string& line, Args* words) {
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
            continue;
        }
        std::string word;
        if (line[i] == '"') {
            size_t close = line.find('"', i + 1);
            if (close == std::string::npos)
                return false;
            word = line.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            size_t end = line.find_first_of(" \t\r", i);
            if (end == std::string::npos)
                end = line.size();
            word = line.substr(i, end - i);
            i = end;
        }
        words->push_back(word);
    }
    return true;
}

std::string ToCodePage(const std::string& utf8) {
    int wide_length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(wide_length, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], wide_length);
    int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
    std::string text(length, '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_length, &text[0], length, nullptr, nullptr);
    return text;
}

/* Reads and checks a scenario; on a problem prints it with its line. */
bool ParseScenario(const std::string& content, std::vector<Step>* steps) {
    std::istringstream lines(content);
    std::string line;
    DWORD last = 0;
    for (int number = 1; std::getline(lines, line); ++number) {
        Args words;
        bool split = SplitWords(line, &words);
        if (split && (words.empty() || words[0][0] == '#'))
            continue;
        long long at = 0;
        if (!split || words.size() < 3 || words[0] != "at" || !ParseNumber(words[1], 0, 86400000, &at)) {
            fprintf(stderr, "lm-sim: scenario line %d: expected 'at MS COMMAND ...'\n", number);
            return false;
        }
        if (static_cast<DWORD>(at) < last) {
            fprintf(stderr, "lm-sim: scenario line %d: time %lld is before the step above\n", number, at);
            return false;
        }
        last = static_cast<DWORD>(at);
        steps->push_back(Step{number, last, Args(words.begin() + 2, words.end())});
    }
    return true;
}

/* Checks a step's command without running it. */
bool StepIsValid(const Step& step) {
    const Args& c = step.command;
    long long number;
    if (c[0] == "end")
        return c.size() == 1;
    if (c[0] == "answer-cancel")
        return c.size() == 2 && ParseNumber(c[1], 0, 3600000, &number);
    if (c[0] == "defaults" || c[0] == "remove" || c[0] == "print")
        return c.size() == 1;
    if (c[0] == "unset")
        return c.size() == 2;
    Value value;
    bool is_set = c[0] == "set" || c[0] == "set-sz" || c[0] == "set-byte" || c[0] == "set-bin" ||
                  c[0] == "set-dword";
    return is_set && c.size() == 3 && ParseSet(c[0], c[1], c[2], &value);
}

int RunStep(const Step& step, CancelAnswerer& answerer) {
    const Args& c = step.command;
    printf("%6lu ms: %s", static_cast<unsigned long>(step.at_ms), c[0].c_str());
    for (size_t i = 1; i < c.size(); ++i)
        printf(" \"%s\"", c[i].c_str());
    printf("\n");
    fflush(stdout);
    if (c[0] == "end")
        return kExitOk;
    if (c[0] == "answer-cancel") {
        answerer.Enable(static_cast<DWORD>(atol(c[1].c_str())));
        return kExitOk;
    }
    int result = RunRecordCommand(c);
    fflush(stdout);
    return result;
}

int RunScenario(const Args& args) {
    if (args.size() < 2 || args.size() > 3 || (args.size() == 3 && args[2] != "--utf8"))
        return Usage("usage: run FILE [--utf8]");
    std::ifstream file(args[1], std::ios::binary);
    if (!file)
        return Usage("cannot read " + args[1]);
    std::ostringstream content;
    content << file.rdbuf();
    std::string text = args.size() == 3 ? ToCodePage(content.str()) : content.str();
    std::vector<Step> steps;
    if (!ParseScenario(text, &steps))
        return kExitUsage;
    for (const Step& step : steps)
        if (!StepIsValid(step)) {
            fprintf(stderr, "lm-sim: scenario line %d: bad command %s\n", step.line, step.command[0].c_str());
            return kExitUsage;
        }
    CancelAnswerer answerer;
    DWORD start = GetTickCount();
    for (const Step& step : steps) {
        if (!WaitUntil(start, step.at_ms, answerer))
            return Report(ERROR_WRITE_FAULT, "answering a cancel request");
        int result = RunStep(step, answerer);
        if (result != kExitOk)
            return result;
    }
    return kExitOk;
}

/* Maps HKEY_LOCAL_MACHINE to HKEY_CURRENT_USER\subkey for this process. */
bool MapMachineRoot(const std::string& subkey) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    bool mapped = RegOverridePredefKey(HKEY_LOCAL_MACHINE, key) == ERROR_SUCCESS;
    RegCloseKey(key);
    return mapped;
}

}  // namespace

int main(int argc, char** argv) {
    Args args(argv + 1, argv + argc);
    for (bool option = true; option && !args.empty();) {
        option = false;
        if (args.size() >= 2 && args[0] == "--registry-root") {
            if (!MapMachineRoot(args[1]))
                return Report(ERROR_ACCESS_DENIED, "mapping HKEY_LOCAL_MACHINE");
            args.erase(args.begin(), args.begin() + 2);
            option = true;
        } else if (args[0] == "--32-bit-view") {
            g_view = KEY_WOW64_32KEY;
            args.erase(args.begin());
            option = true;
        }
    }
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        fputs(kHelp, stdout);
        return args.empty() ? kExitUsage : kExitOk;
    }
    if (args[0] == "run")
        return RunScenario(args);
    if (args[0] == "answer-cancel")
        return AnswerCancel(args);
    return RunRecordCommand(args);
}
