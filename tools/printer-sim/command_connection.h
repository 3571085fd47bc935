/*
 * command_connection.h - one client connection on a printer's command
 * port.
 *
 * The client sends 16-byte commands (any number on one connection, split
 * across segments as TCP pleases); each is logged and, unless the printer
 * is silent, answered after the reply delay, in order. "QUIT" gets no
 * answer: the printer closes the connection once the answers before it
 * are sent.
 */
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "fd.h"
#include "loop.h"

class Printer;

class CommandConnection {
public:
    CommandConnection(Printer& printer, UniqueFd fd);
    ~CommandConnection();
    CommandConnection(const CommandConnection&) = delete;
    CommandConnection& operator=(const CommandConnection&) = delete;

    void Start();
    bool Ended() const { return ended_; }

    static constexpr size_t kCommandSize = 16;

private:
    struct Answer {
        int64_t due_ms;      /* when it may be sent (reply_delay_ms) */
        std::string bytes;   /* empty for the close after QUIT */
        bool close;          /* QUIT: close once everything before is sent */
        bool reset = false;  /* on_command=reset: that close is a reset (RST) */
        const char* close_how = "closing after QUIT";  /* the log's words for the close */
    };

    void OnEvents(short revents);
    void ReadSome();
    void HandleCommand(const std::string& block);
    std::string ReplyTo(const std::string& name);
    void Queue(Answer answer, int64_t delay_ms);
    void QueueEndInsteadOfReply();
    void ReleaseDue();
    void Flush();
    void UpdateEvents();
    void End(const std::string& how, bool hard = false);

    Printer& printer_;
    Loop& loop_;
    UniqueFd fd_;
    Loop::WatchId watch_ = 0;
    std::string partial_;             /* bytes of a command not yet complete */
    std::deque<Answer> waiting_;      /* answers not yet due, in order */
    Loop::TimerId due_timer_ = 0;     /* fires when the first of them is due */
    std::string out_;                 /* due bytes not yet sent */
    bool close_when_sent_ = false;    /* QUIT reached the front */
    bool reset_when_sent_ = false;    /* ... and that close is a reset */
    std::string close_how_;           /* ... and how the log names it */
    bool client_eof_ = false;         /* the client ended its sending */
    bool ended_ = false;
};
