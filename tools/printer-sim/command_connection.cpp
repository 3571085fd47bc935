/*
 * command_connection.cpp - commands and replies on the command port.
 *
 * The commands are fixed 16-byte blocks: text blank-padded and ended by
 * a line feed. The log keeps the text without its padding ("SOFT_RESET");
 * a block that is no known command is kept as "?" and its bytes in hex,
 * and gets no reply, as a printer ignores what it does not understand.
 * A reply padded to reply_pad bytes goes to the socket in one send(), so
 * that a client's single receive can see it whole.
 */
#include "command_connection.h"

#include <sys/socket.h>

#include <cerrno>

#include "net.h"
#include "printer.h"

namespace {

constexpr char kDeviceId[] = "GET_DEVICE_ID";
constexpr char kStatus[] = "GET_RQSENSEDT";
constexpr char kSoftReset[] = "SOFT_RESET";
constexpr char kQuit[] = "QUIT";

/* The command's text without blank padding and line feed, when the
 * block is shaped like a command: printable text, blanks, one LF. */
std::string CommandName(const std::string& block) {
    if (block.back() != '\n')
        return "";
    size_t end = block.size() - 1;
    while (end > 0 && block[end - 1] == ' ')
        --end;
    std::string name = block.substr(0, end);
    for (char c : name) {
        if (c <= ' ' || c > '~')
            return "";
    }
    return name;
}

}  // namespace

CommandConnection::CommandConnection(Printer& printer, UniqueFd fd)
    : printer_(printer), loop_(printer.GetLoop()), fd_(std::move(fd)) {}

CommandConnection::~CommandConnection() {
    loop_.Unwatch(watch_);
    loop_.CancelTimer(due_timer_);
}

void CommandConnection::Start() {
    watch_ = loop_.Watch(fd_.Get(), POLLIN, [this](short revents) { OnEvents(revents); });
}

void CommandConnection::OnEvents(short revents) {
    if (revents & POLLOUT)
        Flush();
    if (!ended_ && (revents & (POLLIN | POLLERR | POLLHUP)))
        ReadSome();
    if (!ended_)
        UpdateEvents();
}

void CommandConnection::ReadSome() {
    if (client_eof_ || close_when_sent_) {
        /* Nothing more is read; only a failure can be news here. */
        int err = 0;
        socklen_t size = sizeof err;
        getsockopt(fd_.Get(), SOL_SOCKET, SO_ERROR, &err, &size);
        End(err ? "connection failed: " + ErrorText(err) : "connection hung up");
        return;
    }
    char buffer[4096];
    ssize_t n = recv(fd_.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
    int err = errno;
    if (n < 0) {
        if (err != EAGAIN && err != EWOULDBLOCK && err != EINTR)
            End("connection failed: " + ErrorText(err));
        return;
    }
    if (n == 0) {
        client_eof_ = true;
        if (waiting_.empty() && out_.empty())
            End("connection closed");
        return;
    }
    partial_.append(buffer, static_cast<size_t>(n));
    /* A command leaves partial_ before it is handled: QUIT may end the
     * connection inside HandleCommand, and End() counts what is left. */
    while (partial_.size() >= kCommandSize && !close_when_sent_ && !ended_) {
        std::string block = partial_.substr(0, kCommandSize);
        partial_.erase(0, kCommandSize);
        HandleCommand(block);
    }
}

void CommandConnection::HandleCommand(const std::string& block) {
    std::string name = CommandName(block);
    bool known = name == kDeviceId || name == kStatus || name == kSoftReset || name == kQuit;
    std::string entry = known ? name : "?" + ToHex(block);
    printer_.Stats().commands.push_back(entry);
    printer_.Event("command: " + entry);
    if (name == kSoftReset)
        ++printer_.Stats().soft_resets;
    if (name == kQuit) {
        Queue(Answer{0, std::string(), true}, 0);
        return;
    }
    if (!known)
        return;
    if (printer_.Options().command_silent) {
        printer_.Event("command: silent, no reply");
        return;
    }
    if (printer_.Options().on_command != OnCommand::kReply) {
        QueueEndInsteadOfReply();
        return;
    }
    Queue(Answer{0, ReplyTo(name), false}, printer_.Options().reply_delay_ms);
}

void CommandConnection::QueueEndInsteadOfReply() {
    bool reset = printer_.Options().on_command == OnCommand::kReset;
    Answer end{0, std::string(), true, reset,
                reset ? "resetting the connection instead of a reply" : "closing the connection instead of a reply"};
    Queue(std::move(end), printer_.Options().reply_delay_ms);
}

std::string CommandConnection::ReplyTo(const std::string& name) {
    const PrinterOptions& options = printer_.Options();
    std::string reply = name == kDeviceId ? options.device_id
                        : name == kStatus ? options.status_reply
                                          : options.reset_reply;
    if (options.reply_pad > reply.size())
        reply.resize(options.reply_pad, ' ');
    return reply;
}

void CommandConnection::Queue(Answer answer, int64_t delay_ms) {
    int64_t due = Loop::NowMs() + delay_ms;
    /* Answers leave in the order of their commands, also when the delay
     * was changed in between. */
    if (!waiting_.empty() && waiting_.back().due_ms > due)
        due = waiting_.back().due_ms;
    answer.due_ms = due;
    waiting_.push_back(std::move(answer));
    ReleaseDue();
}

void CommandConnection::ReleaseDue() {
    int64_t now = Loop::NowMs();
    while (!waiting_.empty() && waiting_.front().due_ms <= now && !close_when_sent_) {
        Answer& answer = waiting_.front();
        if (answer.close) {
            close_when_sent_ = true;
            reset_when_sent_ = answer.reset;
            close_how_ = answer.close_how;
        } else {
            printer_.Event("command: reply " + std::to_string(answer.bytes.size()) + " bytes");
            out_ += answer.bytes;
        }
        waiting_.pop_front();
    }
    loop_.CancelTimer(due_timer_);
    due_timer_ = 0;
    if (!waiting_.empty() && !close_when_sent_) {
        due_timer_ = loop_.After(waiting_.front().due_ms - now, [this] {
            due_timer_ = 0;
            ReleaseDue();
        });
    }
    Flush();
    if (!ended_)
        UpdateEvents();
}

void CommandConnection::Flush() {
    while (!out_.empty()) {
        ssize_t n = send(fd_.Get(), out_.data(), out_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        int err = errno;
        if (n > 0) {
            out_.erase(0, static_cast<size_t>(n));
            continue;
        }
        if (err != EAGAIN && err != EWOULDBLOCK && err != EINTR)
            End("connection failed: " + ErrorText(err));
        return;
    }
    if (close_when_sent_)
        End(close_how_, reset_when_sent_);
    else if (client_eof_ && waiting_.empty())
        End("connection closed");
}

void CommandConnection::UpdateEvents() {
    /* After QUIT or the client's end the printer reads no more, but poll()
     * still reports an error or hang-up, which ends the connection. */
    short events = static_cast<short>((client_eof_ || close_when_sent_ ? 0 : POLLIN) |
                                      (out_.empty() ? 0 : POLLOUT));
    loop_.SetEvents(watch_, events);
}

void CommandConnection::End(const std::string& how, bool hard) {
    if (ended_)
        return;
    ended_ = true;
    /* What is left was never a whole command: a client that sends a
     * longer request than 16 bytes, or bytes after QUIT, shows here. */
    if (!partial_.empty()) {
        printer_.Stats().command_extra_bytes += partial_.size();
        printer_.Event("command: " + std::to_string(partial_.size()) + " bytes beyond the last whole command dropped");
    }
    ++printer_.Stats().command_ended;
    printer_.Event("command: " + how);
    loop_.Unwatch(watch_);
    watch_ = 0;
    loop_.CancelTimer(due_timer_);
    due_timer_ = 0;
    if (fd_.Valid() && hard) {
        linger abort_close = {1, 0};   /* close() then sends RST instead of FIN */
        setsockopt(fd_.Get(), SOL_SOCKET, SO_LINGER, &abort_close, sizeof abort_close);
    } else if (fd_.Valid()) {
        shutdown(fd_.Get(), SHUT_WR);
    }
    fd_.Reset();
    printer_.ConnectionEnded();
}
