/*
 * main.cpp - printer-sim: a simulated network interface of an ORV
 * printer (raw print port 9100, command port 9200) for tests and demos.
 *
 * Standalone it runs one printer until SIGINT or SIGTERM and prints what
 * happens. With --serve it runs a control server through which tests
 * create and drive any number of printers; --daemon detaches it so that
 * a starter script (or ctest, which waits for the pipes of its tests to
 * close) gets its terminal and pipes back at once.
 */
#include <fcntl.h>
#include <dirent.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "control.h"
#include "event_log.h"
#include "loop.h"
#include "net.h"
#include "options.h"
#include "printer.h"

namespace {

constexpr int kReadyWaitMs = 10000;   /* the starter's wait for the daemon */

const char kUsage[] =
    "usage: printer-sim ADDRESS [option=value ...] [--netns NAME]\n"
    "       printer-sim --serve IP:PORT [--daemon] [--pidfile FILE] [--log FILE]\n"
    "       printer-sim --help\n";

const char kHelpStandalone[] =
    "\n"
    "Simulates the network interface of a printer: a raw print port (9100)\n"
    "that takes print data and a command port (9200) that answers 16-byte\n"
    "commands.\n"
    "\n"
    "Standalone: one printer on ADDRESS (IPv4) until SIGINT/SIGTERM, one event\n"
    "line per happening on stdout, a stats line at the end.\n"
    "\n"
    "Printer options (create, and later set, unless marked):\n";

const char kHelpCommandPort[] =
    "\n"
    "Print port: counts every byte, keeps an FNV-1a 64 digest over all of them\n"
    "(all connections, arrival order), serves any number of connections.\n"
    "  read=off accepts but never reads (the client's buffers fill; rcvbuf makes\n"
    "  them small); read=on resumes. accept=off leaves connections in the listen\n"
    "  backlog: the kernel completes the handshake of up to backlog+1 of them, so\n"
    "  their connect succeeds and they can send until the buffers fill; later\n"
    "  SYNs are dropped and such connects time out. accept=on takes the queued\n"
    "  ones. print=off closes the listener (connects refused); open connections\n"
    "  stay. chatter bytes count 00 01 02 .. ff 00 .. over a connection.\n"
    "  chatter=after_eof keeps the connection open after the client's end of\n"
    "  sending whatever on_eof says; chatter=always follows on_eof. on_eof=keep\n"
    "  holds the connection until the client resets it or the printer is\n"
    "  destroyed. close_after sends FIN after exactly N bytes, then reads and\n"
    "  discards (uncounted) until the client ends, then closes (no reset).\n"
    "  reset_after resets after exactly N bytes. Both: the lower count acts.\n"
    "Command port: 16-byte commands, several per connection allowed:\n"
    "  \"GET_DEVICE_ID  \\n\" -> device_id      \"GET_RQSENSEDT  \\n\" -> status_reply\n"
    "  \"SOFT_RESET     \\n\" -> reset_reply    \"QUIT           \\n\" -> no reply, close\n"
    "  Logged trimmed (SOFT_RESET); another block is logged as ?HEX, no reply.\n"
    "\n"
    "Control server (--serve IP:PORT): TCP, lines ending in LF (CRLF accepted),\n"
    "any number of clients, one answer line per command: ok ... | error REASON.\n"
    "  create ID ADDRESS [option=value ...]  ok once both listeners listen\n"
    "                                        (ID: letters digits - _ .)\n"
    "  set ID option=value ...               ok; open connections follow\n"
    "  stats ID                              ok STATS\n"
    "  wait ID KEY>=NUMBER TIMEOUT_MS        ok STATS | error timeout STATS\n"
    "                                        (KEY numeric, or commands = count;\n"
    "                                        TIMEOUT_MS at most 120000)\n"
    "  reset-stats ID                        zero the counters\n"
    "  destroy ID                            close listeners and connections\n"
    "  quit                                  ok, then the server exits\n"
    "  STATS: print_connections=N received=N digest=16HEX eof=N resets=N open=N\n"
    "         peer=IP:PORT|- local=IP:PORT|- command_connections=N\n"
    "         commands=NAME,NAME..|- soft_resets=N\n"
    "  Printers outlive the client that created them.\n"
    "  --daemon detaches (stdin /dev/null, stdout/stderr to --log or /dev/null)\n"
    "  and returns once the control port listens; --pidfile is written then.\n";

int Usage(const std::string& message) {
    fprintf(stderr, "printer-sim: %s\n%s", message.c_str(), kUsage);
    return 2;
}

/* SIGINT and SIGTERM stop the loop, through a signalfd so that the
 * signal is just another event of the loop. */
class StopSignals {
public:
    bool Start(Loop& loop) {
        sigset_t mask;
        sigemptyset(&mask);
        sigaddset(&mask, SIGINT);
        sigaddset(&mask, SIGTERM);
        if (sigprocmask(SIG_BLOCK, &mask, nullptr) != 0)
            return false;
        fd_.Reset(signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC));
        if (!fd_.Valid())
            return false;
        loop_ = &loop;
        watch_ = loop.Watch(fd_.Get(), POLLIN, [this](short) {
            signalfd_siginfo info;
            while (read(fd_.Get(), &info, sizeof info) == sizeof info) {
            }
            loop_->Stop();
        });
        return true;
    }
    ~StopSignals() {
        if (loop_)
            loop_->Unwatch(watch_);
    }

private:
    UniqueFd fd_;
    Loop* loop_ = nullptr;
    Loop::WatchId watch_ = 0;
};

int RunStandalone(int argc, char** argv) {
    std::string address_text;
    PrinterOptions options;
    std::string error;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--netns" && i + 1 < argc) {
            options.netns = argv[++i];
        } else if (arg.find('=') != std::string::npos) {
            if (!ApplyOption(&options, arg, true, &error))
                return Usage(error);
        } else if (address_text.empty() && arg[0] != '-') {
            address_text = arg;
        } else {
            return Usage("unexpected argument " + arg);
        }
    }
    in_addr address;
    if (!ParseIpv4(address_text, &address))
        return Usage("ADDRESS must be a dotted IPv4 address");

    Loop loop;
    EventLog log(false);
    StopSignals signals;
    if (!signals.Start(loop)) {
        fprintf(stderr, "printer-sim: signals: %s\n", strerror(errno));
        return 1;
    }
    Printer printer(loop, log, "", address, options);
    if (!printer.Start(&error)) {
        fprintf(stderr, "printer-sim: %s\n", error.c_str());
        return 1;
    }
    log.Write("", "printer on " + address_text + ": print port " + std::to_string(options.print_port) +
                      ", command port " + std::to_string(options.command_port) +
                      (options.netns.empty() ? "" : ", netns " + options.netns));
    bool ran = loop.Run();
    log.Write("", "stats: " + printer.StatsLine());
    return ran ? 0 : 1;
}

struct ServeArgs {
    std::string endpoint;
    bool daemon = false;
    std::string pidfile;
    std::string log;
};

bool WritePidFile(const std::string& path) {
    /* Written whole under another name, then renamed: a starter that
     * polls for the file never reads it half-written. */
    std::string temporary = path + ".tmp" + std::to_string(getpid());
    FILE* file = fopen(temporary.c_str(), "w");
    if (!file)
        return false;
    bool ok = fprintf(file, "%d\n", static_cast<int>(getpid())) > 0;
    ok = fclose(file) == 0 && ok;
    if (ok && rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    unlink(temporary.c_str());
    return false;
}

void RemovePidFile(const std::string& path) {
    FILE* file = fopen(path.c_str(), "r");
    if (!file)
        return;
    int pid = 0;
    bool ours = fscanf(file, "%d", &pid) == 1 && pid == getpid();
    fclose(file);
    if (ours)
        unlink(path.c_str());
}

/* Closes every inherited descriptor above stderr except keep: a pipe of
 * the starter that stays open in the daemon would keep the starter (ctest,
 * a shell's command substitution) waiting for ever. */
void CloseInherited(const std::set<int>& keep) {
    std::set<int> open;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.')
                open.insert(atoi(entry->d_name));
        }
        closedir(dir);
    }
    for (int fd : open) {
        if (fd > STDERR_FILENO && !keep.count(fd))
            close(fd);
    }
}

/* The starter's side: the daemon says it is ready by writing one byte. */
int AwaitReady(int ready_fd, pid_t child) {
    waitpid(child, nullptr, 0);
    pollfd ready = {ready_fd, POLLIN, 0};
    char byte = 0;
    if (poll(&ready, 1, kReadyWaitMs) == 1 && read(ready_fd, &byte, 1) == 1 && byte == 'R')
        return 0;
    fprintf(stderr, "printer-sim: the daemon did not start\n");
    return 1;
}

/* Double fork with setsid() in between, so the daemon has no terminal and
 * is no child of the starter. Returns -1 in the daemon (with *ready the
 * pipe to report readiness on), else the starter's exit code. */
int Daemonize(const ServeArgs& args, int listener, UniqueFd* ready) {
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
        fprintf(stderr, "printer-sim: pipe: %s\n", strerror(errno));
        return 1;
    }
    pid_t child = fork();
    if (child < 0) {
        fprintf(stderr, "printer-sim: fork: %s\n", strerror(errno));
        return 1;
    }
    if (child > 0) {
        close(pipe_fds[1]);
        int code = AwaitReady(pipe_fds[0], child);
        close(pipe_fds[0]);
        return code;
    }
    close(pipe_fds[0]);
    setsid();
    pid_t daemon = fork();
    if (daemon != 0)
        _exit(daemon < 0 ? 1 : 0);

    const char* out_path = args.log.empty() ? "/dev/null" : args.log.c_str();
    int out = open(out_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (out < 0 || in < 0) {
        fprintf(stderr, "printer-sim: %s: %s\n", out_path, strerror(errno));
        _exit(1);
    }
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    CloseInherited({listener, pipe_fds[1]});
    ready->Reset(pipe_fds[1]);
    return -1;
}

int ParseServeArgs(int argc, char** argv, ServeArgs* args) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool has_value = i + 1 < argc;
        if (arg == "--serve" && has_value)
            args->endpoint = argv[++i];
        else if (arg == "--daemon")
            args->daemon = true;
        else if (arg == "--pidfile" && has_value)
            args->pidfile = argv[++i];
        else if (arg == "--log" && has_value)
            args->log = argv[++i];
        else
            return Usage("unexpected argument " + arg);
    }
    return 0;
}

int RunServe(int argc, char** argv) {
    ServeArgs args;
    if (int code = ParseServeArgs(argc, argv, &args))
        return code;
    sockaddr_in endpoint;
    if (!ParseEndpoint(args.endpoint, &endpoint))
        return Usage("--serve needs IP:PORT, got " + args.endpoint);
    std::string error;
    ListenSettings settings;
    settings.backlog = 64;
    /* Listening before detaching: a port in use is reported to the
     * starter, and the daemon is reachable once the starter returns. */
    UniqueFd listener = ListenTcp(endpoint, settings, "", &error);
    if (!listener.Valid()) {
        fprintf(stderr, "printer-sim: %s\n", error.c_str());
        return 1;
    }
    UniqueFd ready;
    if (args.daemon) {
        int code = Daemonize(args, listener.Get(), &ready);
        if (code >= 0)
            return code;
    }
    Loop loop;
    EventLog log(true);
    StopSignals signals;
    if (!signals.Start(loop)) {
        fprintf(stderr, "printer-sim: signals: %s\n", strerror(errno));
        return 1;
    }
    bool ran;
    {
        ControlServer server(loop, log);
        server.Serve(std::move(listener));
        if (!args.pidfile.empty() && !WritePidFile(args.pidfile)) {
            fprintf(stderr, "printer-sim: pidfile %s: %s\n", args.pidfile.c_str(), strerror(errno));
            return 1;
        }
        if (ready.Valid()) {
            char byte = 'R';
            if (write(ready.Get(), &byte, 1) != 1)
                log.Write("control", "could not tell the starter we are ready");
            ready.Reset();
        }
        ran = loop.Run();
        log.Write("control", "exiting");
    }
    if (!args.pidfile.empty())
        RemovePidFile(args.pidfile);
    return ran ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    if (argc < 2)
        return Usage("missing arguments");
    std::string first = argv[1];
    if (first == "--help" || first == "-h") {
        printf("%s%s%s%s", kUsage, kHelpStandalone, OptionsHelp().c_str(), kHelpCommandPort);
        return 0;
    }
    bool serve = false;
    for (int i = 1; i < argc; ++i)
        serve = serve || strcmp(argv[i], "--serve") == 0;
    return serve ? RunServe(argc, argv) : RunStandalone(argc, argv);
}
