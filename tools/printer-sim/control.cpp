/*
 * control.cpp - the control protocol.
 *
 *   create ID ADDRESS [option=value ...]   ok once both ports listen
 *   set ID option=value ...                ok
 *   stats ID                               ok STATS
 *   wait ID KEY>=NUMBER TIMEOUT_MS         ok STATS | error timeout STATS
 *   reset-stats ID                         ok
 *   destroy ID                             ok
 *   quit                                   ok, then the server exits
 *
 * Lines end in LF (a CR before it is dropped). Words are separated by
 * blanks, so option values cannot contain any. Waits are checked after
 * every round of the loop, when any statistic may have moved.
 */
#include "control.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>

#include "net.h"

namespace {

constexpr size_t kMaxLine = 64 * 1024;
constexpr size_t kMaxIdLength = 64;

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < line.size()) {
        size_t start = line.find_first_not_of(" \t", at);
        if (start == std::string::npos)
            break;
        size_t end = line.find_first_of(" \t", start);
        if (end == std::string::npos)
            end = line.size();
        words.push_back(line.substr(start, end - start));
        at = end;
    }
    return words;
}

bool ValidId(const std::string& id) {
    if (id.empty() || id.size() > kMaxIdLength)
        return false;
    for (char c : id) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '_' || c == '.';
        if (!ok)
            return false;
    }
    return true;
}

bool ParseCount(const std::string& text, uint64_t* value) {
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *value = strtoull(text.c_str(), nullptr, 10);
    return true;
}

}  // namespace

ControlServer::ControlServer(Loop& loop, EventLog& log) : loop_(loop), log_(log) {
    loop_.AddRoundHook([this] { CheckWaits(); });
}

ControlServer::~ControlServer() {
    for (auto& entry : clients_) {
        loop_.Unwatch(entry.second.watch);
        loop_.CancelTimer(entry.second.wait.timer);
    }
    clients_.clear();
    printers_.clear();
    loop_.Unwatch(listener_watch_);
}

void ControlServer::Serve(UniqueFd listener) {
    listener_ = std::move(listener);
    listener_watch_ = loop_.Watch(listener_.Get(), POLLIN, [this](short) { AcceptClients(); });
    log_.Write("control", "listening on " + LocalEndpointOf(listener_.Get()));
}

void ControlServer::AcceptClients() {
    for (;;) {
        int fd = accept4(listener_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        uint64_t id = next_client_++;
        Client& client = clients_[id];
        client.fd.Reset(fd);
        client.watch = loop_.Watch(fd, POLLIN, [this, id](short revents) { OnClientEvents(id, revents); });
        log_.Write("control", "client " + std::to_string(id) + " from " + PeerEndpointOf(fd));
    }
}

void ControlServer::OnClientEvents(uint64_t id, short revents) {
    if (revents & POLLOUT)
        Flush(id);
    if (clients_.count(id) && (revents & (POLLIN | POLLERR | POLLHUP)))
        ReadFrom(id);
    DropIfDone(id);
}

void ControlServer::ReadFrom(uint64_t id) {
    Client& client = clients_.at(id);
    char buffer[4096];
    ssize_t n = recv(client.fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
    int err = errno;
    if (n < 0) {
        if (err != EAGAIN && err != EWOULDBLOCK && err != EINTR)
            Drop(id);
        return;
    }
    if (n == 0) {
        client.input_ended = true;
        UpdateEvents(client);
        return;
    }
    client.in.append(buffer, static_cast<size_t>(n));
    ProcessLines(id);
}

void ControlServer::ProcessLines(uint64_t id) {
    for (;;) {
        auto it = clients_.find(id);
        if (it == clients_.end() || it->second.waiting)
            return;
        Client& client = it->second;
        size_t newline = client.in.find('\n');
        if (newline == std::string::npos) {
            if (client.in.size() > kMaxLine) {
                client.in.clear();
                Answer(id, "error line too long");
            }
            return;
        }
        std::string line = client.in.substr(0, newline);
        client.in.erase(0, newline + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        HandleLine(id, line);
        if (quitting_)
            return;
    }
}

void ControlServer::HandleLine(uint64_t id, const std::string& line) {
    static const std::pair<const char*, Handler> kCommands[] = {
        {"create", &ControlServer::Create},
        {"set", &ControlServer::Set},
        {"stats", &ControlServer::Stats},
        {"wait", &ControlServer::StartWait},
        {"reset-stats", &ControlServer::ResetStats},
        {"destroy", &ControlServer::Destroy},
        {"quit", &ControlServer::Quit},
    };
    Words words = SplitWords(line);
    if (words.empty()) {
        Answer(id, "error empty command");
        return;
    }
    log_.Write("control", std::to_string(id) + "> " + line);
    for (const auto& command : kCommands) {
        if (words[0] != command.first)
            continue;
        std::string answer = (this->*command.second)(id, words);
        if (!answer.empty())   /* empty: a wait, answered later */
            Answer(id, answer);
        return;
    }
    Answer(id, "error unknown command " + words[0]);
}

void ControlServer::Answer(uint64_t id, const std::string& line) {
    auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    log_.Write("control", std::to_string(id) + "< " + line);
    it->second.out += line + "\n";
    Flush(id);
}

void ControlServer::Flush(uint64_t id) {
    auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    Client& client = it->second;
    while (!client.out.empty()) {
        ssize_t n = send(client.fd.Get(), client.out.data(), client.out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        int err = errno;
        if (n > 0) {
            client.out.erase(0, static_cast<size_t>(n));
            continue;
        }
        if (err != EAGAIN && err != EWOULDBLOCK && err != EINTR) {
            /* The client is gone: nothing more to say to it. */
            client.input_ended = true;
            client.out.clear();
        }
        break;
    }
    UpdateEvents(client);
}

void ControlServer::UpdateEvents(Client& client) {
    short events = static_cast<short>((client.input_ended ? 0 : POLLIN) | (client.out.empty() ? 0 : POLLOUT));
    loop_.SetEvents(client.watch, events);
}

void ControlServer::DropIfDone(uint64_t id) {
    auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    const Client& client = it->second;
    if (client.input_ended && !client.waiting && client.out.empty())
        Drop(id);
}

void ControlServer::Drop(uint64_t id) {
    auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    loop_.Unwatch(it->second.watch);
    loop_.CancelTimer(it->second.wait.timer);
    clients_.erase(it);
    log_.Write("control", "client " + std::to_string(id) + " gone");
}

Printer* ControlServer::Find(const std::string& id) {
    auto it = printers_.find(id);
    return it == printers_.end() ? nullptr : it->second.get();
}

std::string ControlServer::Create(uint64_t, const Words& words) {
    if (words.size() < 3)
        return "error usage: create ID ADDRESS [option=value ...]";
    const std::string& id = words[1];
    if (!ValidId(id))
        return "error bad id " + id + " (letters, digits, - _ .)";
    if (printers_.count(id))
        return "error duplicate id " + id;
    in_addr address;
    if (!ParseIpv4(words[2], &address))
        return "error bad address " + words[2] + " (dotted IPv4)";
    PrinterOptions options;
    std::string error;
    for (size_t i = 3; i < words.size(); ++i) {
        if (!ApplyOption(&options, words[i], true, &error))
            return "error " + error;
    }
    auto printer = std::make_unique<Printer>(loop_, log_, id, address, options);
    if (!printer->Start(&error))
        return "error " + error;
    printers_[id] = std::move(printer);
    return "ok";
}

std::string ControlServer::Set(uint64_t, const Words& words) {
    if (words.size() < 3)
        return "error usage: set ID option=value ...";
    Printer* printer = Find(words[1]);
    if (!printer)
        return "error no printer " + words[1];
    std::string error;
    if (!printer->Set(Words(words.begin() + 2, words.end()), &error))
        return "error " + error;
    return "ok";
}

std::string ControlServer::Stats(uint64_t, const Words& words) {
    if (words.size() != 2)
        return "error usage: stats ID";
    Printer* printer = Find(words[1]);
    if (!printer)
        return "error no printer " + words[1];
    return "ok " + printer->StatsLine();
}

std::string ControlServer::StartWait(uint64_t id, const Words& words) {
    if (words.size() != 4)
        return "error usage: wait ID KEY>=NUMBER TIMEOUT_MS";
    Printer* printer = Find(words[1]);
    if (!printer)
        return "error no printer " + words[1];
    size_t op = words[2].find(">=");
    Wait wait;
    wait.printer = words[1];
    wait.key = op == std::string::npos ? words[2] : words[2].substr(0, op);
    uint64_t current, timeout_ms;
    if (op == std::string::npos || !ParseCount(words[2].substr(op + 2), &wait.target))
        return "error usage: wait ID KEY>=NUMBER TIMEOUT_MS";
    if (!printer->NumericStat(wait.key, &current))
        return "error not a numeric statistic: " + wait.key;
    if (!ParseCount(words[3], &timeout_ms) || timeout_ms > static_cast<uint64_t>(kMaxWaitMs))
        return "error bad timeout " + words[3] + " (0 to " + std::to_string(kMaxWaitMs) + " ms)";
    if (current >= wait.target)
        return "ok " + printer->StatsLine();
    wait.timer = loop_.After(static_cast<int64_t>(timeout_ms), [this, id] {
        Client& client = clients_.at(id);
        client.wait.timer = 0;
        Printer* watched = Find(client.wait.printer);
        EndWait(id, watched ? "error timeout " + watched->StatsLine() : "error printer destroyed");
    });
    Client& client = clients_.at(id);
    client.waiting = true;
    client.wait = wait;
    return "";
}

void ControlServer::CheckWaits() {
    std::vector<std::pair<uint64_t, std::string>> done;
    for (auto& entry : clients_) {
        if (!entry.second.waiting)
            continue;
        const Wait& wait = entry.second.wait;
        Printer* printer = Find(wait.printer);
        uint64_t value = 0;
        if (!printer)
            done.emplace_back(entry.first, "error printer " + wait.printer + " destroyed");
        else if (printer->NumericStat(wait.key, &value) && value >= wait.target)
            done.emplace_back(entry.first, "ok " + printer->StatsLine());
    }
    for (const auto& answer : done)
        EndWait(answer.first, answer.second);
}

void ControlServer::EndWait(uint64_t id, const std::string& answer) {
    auto it = clients_.find(id);
    if (it == clients_.end() || !it->second.waiting)
        return;
    loop_.CancelTimer(it->second.wait.timer);
    it->second.wait = Wait();
    it->second.waiting = false;
    Answer(id, answer);
    ProcessLines(id);   /* the lines that waited behind it */
    DropIfDone(id);
}

std::string ControlServer::ResetStats(uint64_t, const Words& words) {
    if (words.size() != 2)
        return "error usage: reset-stats ID";
    Printer* printer = Find(words[1]);
    if (!printer)
        return "error no printer " + words[1];
    printer->ResetStats();
    return "ok";
}

std::string ControlServer::Destroy(uint64_t, const Words& words) {
    if (words.size() != 2)
        return "error usage: destroy ID";
    auto it = printers_.find(words[1]);
    if (it == printers_.end())
        return "error no printer " + words[1];
    printers_.erase(it);
    log_.Write("control", "printer " + words[1] + " destroyed");
    return "ok";
}

std::string ControlServer::Quit(uint64_t id, const Words& words) {
    if (words.size() != 1)
        return "error usage: quit";
    quitting_ = true;
    Answer(id, "ok");
    /* The answer must reach the client before the process ends: wait a
     * little for the socket to take it, then stop. */
    Client& client = clients_.at(id);
    for (int i = 0; i < 100 && !client.out.empty(); ++i) {
        pollfd ready = {client.fd.Get(), POLLOUT, 0};
        poll(&ready, 1, 10);
        Flush(id);
    }
    loop_.Stop();
    return "";
}
