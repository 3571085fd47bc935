/*
 * control.h - the control server: tests create, drive, inspect and
 * destroy simulated printers over a line-based TCP protocol.
 *
 * Any number of control clients may be connected at once. Each command
 * line gets exactly one answer line, "ok ..." or "error REASON", in the
 * order of the commands; a client's "wait" holds back that client's later
 * commands until it is answered, but never another client's. Printers
 * belong to the server, not to the client that created them.
 */
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "event_log.h"
#include "fd.h"
#include "loop.h"
#include "printer.h"

class ControlServer {
public:
    ControlServer(Loop& loop, EventLog& log);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    /* Serves the clients of listener (already listening). */
    void Serve(UniqueFd listener);

    static constexpr int64_t kMaxWaitMs = 120000;

private:
    using Words = std::vector<std::string>;

    struct Wait {
        std::string printer;       /* id of the printer watched */
        std::string key;           /* numeric statistic */
        uint64_t target = 0;       /* answered when key >= target */
        Loop::TimerId timer = 0;   /* the time-out */
    };

    struct Client {
        UniqueFd fd;
        Loop::WatchId watch = 0;
        std::string in;            /* received, not yet a whole line */
        std::string out;           /* answers not yet sent */
        bool waiting = false;      /* a wait is pending; later lines wait too */
        Wait wait;
        bool input_ended = false;  /* the client ended its sending */
    };

    using Handler = std::string (ControlServer::*)(uint64_t client, const Words& words);

    void AcceptClients();
    void OnClientEvents(uint64_t client, short revents);
    void ReadFrom(uint64_t client);
    void ProcessLines(uint64_t client);
    void HandleLine(uint64_t client, const std::string& line);
    void Answer(uint64_t client, const std::string& line);
    void Flush(uint64_t client);
    void UpdateEvents(Client& client);
    void DropIfDone(uint64_t client);
    void Drop(uint64_t client);

    std::string Create(uint64_t client, const Words& words);
    std::string Set(uint64_t client, const Words& words);
    std::string Stats(uint64_t client, const Words& words);
    std::string StartWait(uint64_t client, const Words& words);
    std::string ResetStats(uint64_t client, const Words& words);
    std::string Destroy(uint64_t client, const Words& words);
    std::string Quit(uint64_t client, const Words& words);

    Printer* Find(const std::string& id);
    void CheckWaits();
    void EndWait(uint64_t client, const std::string& answer);

    Loop& loop_;
    EventLog& log_;
    UniqueFd listener_;
    Loop::WatchId listener_watch_ = 0;
    std::map<uint64_t, Client> clients_;
    uint64_t next_client_ = 1;
    std::map<std::string, std::unique_ptr<Printer>> printers_;
    bool quitting_ = false;   /* "quit" was answered; the loop is stopping */
};
