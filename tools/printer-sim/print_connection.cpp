/*
 * print_connection.cpp - reading print data and talking back on one
 * print connection.
 *
 * What a client of the print port must cope with is made here on demand:
 * a printer that stops reading (the client's send buffers fill), one that
 * reads in dribbles, one that talks while or after the client sends, one
 * that ends the connection after a byte count with a FIN or a reset. A
 * FIN after close_after is a lingering close: the printer discards what
 * still arrives and closes when the client ends, because closing a socket
 * with unread bytes would turn the FIN into a reset on Linux and the
 * client would see either, depending on timing.
 *
 * A tail is a printer that answers late: its final status comes
 * tail_ms after the client's end of sending, its FIN 250 ms after that.
 * Our FIN goes out with the socket kept, and the connection is then
 * watched (its TCP state, on a timer) until it has closed: a client that
 * closed before the bytes came, or with some of them unread, answers with
 * a reset, which shows only while the socket is ours.
 *
 * A reset by the client shows as ECONNRESET, or as EPIPE when it comes
 * after the client's end of sending (Linux reports a reset in CLOSE_WAIT
 * so); the printer never shuts down its own sending while it still sends,
 * so both mean the client reset the connection.
 */
#include "print_connection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "net.h"
#include "printer.h"

namespace {

constexpr size_t kReadChunk = 64 * 1024;
constexpr int kReadsPerEvent = 16;          /* then let other connections run */
constexpr size_t kMaxPendingOut = 1 << 20;  /* chatter waits while this much is unsent */
constexpr int64_t kReportEveryMs = 250;     /* coalesce "received" event lines */
constexpr int64_t kTailFinMs = 250;         /* from the tail's bytes to our FIN */
constexpr int64_t kTailPollMs = 10;         /* the tail's wait for the end */
constexpr int64_t kTailEndLimitMs = 5000;

}  // namespace

PrintConnection::PrintConnection(Printer& printer, UniqueFd fd)
    : printer_(printer), loop_(printer.GetLoop()), fd_(std::move(fd)) {}

PrintConnection::~PrintConnection() {
    loop_.Unwatch(watch_);
    loop_.CancelTimer(chatter_timer_);
    loop_.CancelTimer(refill_timer_);
    loop_.CancelTimer(report_timer_);
    loop_.CancelTimer(tail_timer_);
}

void PrintConnection::Start() {
    const PrinterOptions& options = printer_.Options();
    dribble_budget_ = options.dribble;
    last_report_ms_ = Loop::NowMs();
    out_ = options.greeting;
    watch_ = loop_.Watch(fd_.Get(), 0, [this](short revents) { OnEvents(revents); });
    if (!out_.empty())
        printer_.Event("print: greeting " + std::to_string(out_.size()) + " bytes");
    UpdateChatter();
    Flush();
    if (!ended_)
        UpdateEvents();
}

void PrintConnection::OptionsChanged() {
    if (ended_)
        return;
    const PrinterOptions& options = printer_.Options();
    loop_.CancelTimer(refill_timer_);
    refill_timer_ = 0;
    dribble_budget_ = options.dribble;
    if (CheckThresholds())
        return;
    if (client_eof_ && !lingering_ && !tail_started_ && !ChatterActive() &&
        options.on_eof == OnEof::kClose) {
        End("connection closed", false);
        return;
    }
    UpdateChatter();
    UpdateEvents();
}

bool PrintConnection::ChatterActive() const {
    const PrinterOptions& options = printer_.Options();
    if (lingering_ || tail_started_)
        return false;
    return options.chatter == Chatter::kAlways ||
           (options.chatter == Chatter::kAfterEof && client_eof_);
}

void PrintConnection::UpdateChatter() {
    if (!ChatterActive()) {
        loop_.CancelTimer(chatter_timer_);
        chatter_timer_ = 0;
        return;
    }
    if (chatter_timer_ == 0)
        ChatterTick();
}

void PrintConnection::ChatterTick() {
    /* The chatter bytes count up from 0 (modulo 256) over the life of the
     * connection, so a client can tell whether it lost or mixed any. */
    chatter_timer_ = 0;
    const PrinterOptions& options = printer_.Options();
    if (out_.size() < kMaxPendingOut) {
        for (uint64_t i = 0; i < options.chatter_bytes; ++i)
            out_.push_back(static_cast<char>(chatter_sent_++ & 0xff));
    }
    chatter_timer_ = loop_.After(options.chatter_ms, [this] { ChatterTick(); });
    Flush();
    if (!ended_)
        UpdateEvents();
}

void PrintConnection::UpdateEvents() {
    const PrinterOptions& options = printer_.Options();
    bool want_read = !client_eof_ &&
                     (lingering_ || (options.read && (options.dribble == 0 || dribble_budget_ > 0)));
    short events = static_cast<short>((want_read ? POLLIN : 0) | (out_.empty() ? 0 : POLLOUT));
    loop_.SetEvents(watch_, events);
}

void PrintConnection::OnEvents(short revents) {
    if (revents & POLLOUT)
        Flush();
    if (ended_)
        return;
    const PrinterOptions& options = printer_.Options();
    bool reading = !client_eof_ && (lingering_ || options.read) && ReadLimit() > 0;
    if (reading && (revents & (POLLIN | POLLERR | POLLHUP))) {
        ReadSome();
    } else if (revents & (POLLERR | POLLHUP)) {
        /* Not reading (read=off, a spent dribble, or after the client's
         * end of sending): the error is the only news, most often the
         * client's reset. Left alone, poll() would report it forever. */
        int err = 0;
        socklen_t size = sizeof err;
        getsockopt(fd_.Get(), SOL_SOCKET, SO_ERROR, &err, &size);
        if (err == ECONNRESET || err == EPIPE)
            End("connection reset by client", true);
        else
            End(err ? "connection failed: " + ErrorText(err) : "connection hung up", false);
    }
    if (!ended_)
        UpdateEvents();
}

size_t PrintConnection::ReadLimit() const {
    const PrinterOptions& options = printer_.Options();
    size_t limit = kReadChunk;
    if (lingering_)
        return limit;
    if (options.dribble > 0)
        limit = static_cast<size_t>(std::min<uint64_t>(limit, dribble_budget_));
    /* Read no further than a close or reset threshold, so that the count
     * at which the printer acts is exact. */
    for (uint64_t threshold : {options.close_after, options.reset_after}) {
        if (threshold > received_)
            limit = static_cast<size_t>(std::min<uint64_t>(limit, threshold - received_));
    }
    return limit;
}

void PrintConnection::ReadSome() {
    unsigned char buffer[kReadChunk];
    for (int round = 0; round < kReadsPerEvent && !ended_ && !client_eof_; ++round) {
        size_t limit = ReadLimit();
        if (limit == 0) {
            ScheduleRefill();
            return;
        }
        ssize_t n = recv(fd_.Get(), buffer, limit, MSG_DONTWAIT);
        int err = errno;
        if (n > 0) {
            if (lingering_) {
                discarded_ += static_cast<uint64_t>(n);
                continue;
            }
            Count(buffer, static_cast<size_t>(n));
            if (CheckThresholds())
                return;
        } else if (n == 0) {
            OnClientEof();
        } else if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR) {
            return;
        } else if (err == ECONNRESET) {
            End("connection reset by client", true);
        } else {
            End("connection failed: " + ErrorText(err), false);
        }
    }
}

void PrintConnection::Count(const unsigned char* data, size_t size) {
    received_ += size;
    unreported_ += size;
    if (printer_.Options().dribble > 0)
        dribble_budget_ -= std::min<uint64_t>(dribble_budget_, size);
    printer_.CountPrintBytes(data, size);
    Report(false);
}

bool PrintConnection::CheckThresholds() {
    if (lingering_ || ended_)
        return ended_;
    const PrinterOptions& options = printer_.Options();
    if (options.reset_after > 0 && received_ >= options.reset_after) {
        ResetAfterCount();
        return true;
    }
    if (options.close_after > 0 && received_ >= options.close_after) {
        CloseAfterCount();
        return ended_;
    }
    return false;
}

void PrintConnection::ScheduleRefill() {
    if (refill_timer_ != 0)
        return;
    refill_timer_ = loop_.After(printer_.Options().dribble_ms, [this] {
        refill_timer_ = 0;
        dribble_budget_ = printer_.Options().dribble;
        UpdateEvents();
    });
}

void PrintConnection::OnClientEof() {
    client_eof_ = true;
    ++printer_.Stats().eof;
    Report(true);
    printer_.Event("print: client finished sending");
    if (lingering_) {
        End("connection closed after discarding " + std::to_string(discarded_) + " bytes", false);
        return;
    }
    if (printer_.Options().tail > 0) {
        tail_started_ = true;
        UpdateChatter();
        tail_timer_ = loop_.After(printer_.Options().tail_ms, [this] { SendTail(); });
        return;
    }
    if (printer_.Options().chatter == Chatter::kAfterEof) {
        UpdateChatter();
        return;
    }
    if (printer_.Options().on_eof == OnEof::kClose) {
        End("connection closed", false);
        return;
    }
    printer_.Event("print: keeping the connection open");
}

void PrintConnection::Flush() {
    while (!out_.empty() && !ended_) {
        ssize_t n = send(fd_.Get(), out_.data(), out_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        int err = errno;
        if (n > 0) {
            out_.erase(0, static_cast<size_t>(n));
        } else if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR) {
            return;
        } else if (err == ECONNRESET || err == EPIPE) {
            End("connection reset by client", true);
        } else {
            End("connection failed: " + ErrorText(err), false);
        }
    }
}

void PrintConnection::Report(bool final) {
    int64_t now = Loop::NowMs();
    if (unreported_ == 0)
        return;
    if (!final && now - last_report_ms_ < kReportEveryMs) {
        if (report_timer_ == 0) {
            report_timer_ = loop_.After(last_report_ms_ + kReportEveryMs - now, [this] {
                report_timer_ = 0;
                Report(false);
            });
        }
        return;
    }
    printer_.Event("print: received " + std::to_string(unreported_) + " bytes (total " +
                   std::to_string(received_) + ")");
    unreported_ = 0;
    last_report_ms_ = now;
}

void PrintConnection::CloseAfterCount() {
    printer_.Event("print: closing after " + std::to_string(received_) + " bytes");
    lingering_ = true;
    UpdateChatter();
    Flush();
    if (ended_)
        return;
    out_.clear();
    shutdown(fd_.Get(), SHUT_WR);
    if (client_eof_)
        End("connection closed", false);
}

void PrintConnection::ResetAfterCount() {
    printer_.Event("print: resetting after " + std::to_string(received_) + " bytes");
    linger hard = {1, 0};   /* close() then sends RST instead of FIN */
    setsockopt(fd_.Get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    End("connection reset by printer", false);
}

void PrintConnection::SendTail() {
    tail_timer_ = 0;
    uint64_t size = printer_.Options().tail;
    for (uint64_t i = 0; i < size; ++i)
        out_.push_back(static_cast<char>(chatter_sent_++ & 0xff));
    printer_.Event("print: tail of " + std::to_string(size) + " bytes");
    Flush();
    if (ended_)
        return;
    UpdateEvents();
    tail_timer_ = loop_.After(kTailFinMs, [this] { FinishTail(); });
}

void PrintConnection::FinishTail() {
    tail_timer_ = 0;
    if (!out_.empty()) {   /* the client's window is full: FIN after the bytes */
        tail_timer_ = loop_.After(kTailPollMs, [this] { FinishTail(); });
        return;
    }
    shutdown(fd_.Get(), SHUT_WR);
    /* Both directions are shut now, so poll() would report a hang-up on
     * every round: the end is watched on the timer alone. */
    loop_.Unwatch(watch_);
    watch_ = 0;
    tail_deadline_ms_ = Loop::NowMs() + kTailEndLimitMs;
    WatchTailEnd();
}

void PrintConnection::WatchTailEnd() {
    tail_timer_ = 0;
    tcp_info info = {};
    socklen_t info_size = sizeof info;
    bool closed = getsockopt(fd_.Get(), IPPROTO_TCP, TCP_INFO, &info, &info_size) != 0 ||
                  info.tcpi_state == TCP_CLOSE;
    if (!closed && Loop::NowMs() < tail_deadline_ms_) {
        tail_timer_ = loop_.After(kTailPollMs, [this] { WatchTailEnd(); });
        return;
    }
    int err = 0;
    socklen_t size = sizeof err;
    getsockopt(fd_.Get(), SOL_SOCKET, SO_ERROR, &err, &size);
    if (err == ECONNRESET || err == EPIPE) {
        End("connection reset by client", true);
    } else if (closed) {
        ++printer_.Stats().tails;
        End("connection closed after the tail", false);
    } else {
        End("connection not closed " + std::to_string(kTailEndLimitMs) + " ms after the tail", false);
    }
}

void PrintConnection::End(const std::string& how, bool client_reset) {
    if (ended_)
        return;
    ended_ = true;
    if (client_reset)
        ++printer_.Stats().resets;
    Report(true);
    printer_.Event("print: " + how + ", " + std::to_string(received_) + " bytes");
    loop_.Unwatch(watch_);
    watch_ = 0;
    loop_.CancelTimer(chatter_timer_);
    loop_.CancelTimer(refill_timer_);
    loop_.CancelTimer(report_timer_);
    loop_.CancelTimer(tail_timer_);
    chatter_timer_ = refill_timer_ = report_timer_ = tail_timer_ = 0;
    fd_.Reset();
    printer_.ConnectionEnded();
}
