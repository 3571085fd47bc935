/*
 * printer.cpp - one simulated printer: listeners, accepting, statistics.
 *
 * The printer listens on its address at the print port and the command
 * port. accept=off keeps the print listener but stops taking connections
 * from its backlog; print=off or command=off closes the listener, so
 * that connects are refused. Options changed with Set() reach the open
 * print connections at once (read, dribble, chatter, on_eof, thresholds).
 */
#include "printer.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "command_connection.h"
#include "discovery_port.h"
#include "net.h"
#include "print_connection.h"

namespace {

constexpr int kAcceptsPerEvent = 16;

/* Accepts one connection from a non-blocking listener; invalid when none
 * is waiting. */
UniqueFd AcceptFrom(int listener) {
    int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    return UniqueFd(fd);
}

}  // namespace

Printer::Printer(Loop& loop, EventLog& log, std::string id, in_addr address, PrinterOptions options)
    : loop_(loop), log_(log), id_(std::move(id)), address_(address), options_(std::move(options)) {}

Printer::~Printer() {
    discovery_.reset();
    /* The connections first: they unregister from the loop themselves. */
    print_connections_.clear();
    command_connections_.clear();
    loop_.CancelTimer(sweep_timer_);
    ClosePrintListener();
    CloseCommandListener();
}

bool Printer::Start(std::string* error) {
    if (!OpenStore(options_.store, &store_, error))
        return false;
    if (options_.print && !OpenPrintListener(error))
        return false;
    if (options_.command && !OpenCommandListener(error)) {
        ClosePrintListener();
        return false;
    }
    discovery_ = std::make_unique<DiscoveryPort>(*this, address_);
    if (!discovery_->Start(error)) {
        discovery_.reset();
        ClosePrintListener();
        CloseCommandListener();
        return false;
    }
    return true;
}

bool Printer::OpenStore(const std::string& path, UniqueFd* file, std::string* error) {
    file->Reset();
    if (path.empty())
        return true;
    file->Reset(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!file->Valid()) {
        *error = "store " + path + ": " + ErrorText(errno);
        return false;
    }
    return true;
}

bool Printer::OpenListener(uint16_t port, int receive_buffer, UniqueFd* listener, std::string* error) {
    sockaddr_in endpoint = {};
    endpoint.sin_family = AF_INET;
    endpoint.sin_addr = address_;
    endpoint.sin_port = htons(port);
    ListenSettings settings;
    settings.receive_buffer = receive_buffer;
    settings.backlog = options_.backlog;
    *listener = ListenTcp(endpoint, settings, options_.netns, error);
    return listener->Valid();
}

bool Printer::OpenPrintListener(std::string* error) {
    if (!OpenListener(options_.print_port, options_.rcvbuf, &print_listener_, error))
        return false;
    print_watch_ = loop_.Watch(print_listener_.Get(), 0, [this](short) { AcceptPrint(); });
    UpdateAcceptEvents();
    return true;
}

bool Printer::OpenCommandListener(std::string* error) {
    if (!OpenListener(options_.command_port, 0, &command_listener_, error))
        return false;
    command_watch_ = loop_.Watch(command_listener_.Get(), POLLIN, [this](short) { AcceptCommand(); });
    return true;
}

void Printer::ClosePrintListener() {
    loop_.Unwatch(print_watch_);
    print_watch_ = 0;
    print_listener_.Reset();
}

void Printer::CloseCommandListener() {
    loop_.Unwatch(command_watch_);
    command_watch_ = 0;
    command_listener_.Reset();
}

void Printer::UpdateAcceptEvents() {
    /* With accept=off the kernel still completes handshakes into the
     * backlog; the printer only stops taking them out. */
    loop_.SetEvents(print_watch_, options_.accept ? POLLIN : 0);
}

void Printer::AcceptPrint() {
    for (int i = 0; i < kAcceptsPerEvent && options_.accept; ++i) {
        UniqueFd fd = AcceptFrom(print_listener_.Get());
        if (!fd.Valid())
            return;
        ++stats_.print_connections;
        stats_.peer = PeerEndpointOf(fd.Get());
        stats_.local = LocalEndpointOf(fd.Get());
        Event("print: connection from " + stats_.peer);
        uint64_t serial = next_serial_++;
        auto connection = std::make_unique<PrintConnection>(*this, std::move(fd));
        PrintConnection* started = connection.get();
        print_connections_[serial] = std::move(connection);
        started->Start();
    }
}

void Printer::AcceptCommand() {
    for (int i = 0; i < kAcceptsPerEvent; ++i) {
        UniqueFd fd = AcceptFrom(command_listener_.Get());
        if (!fd.Valid())
            return;
        ++stats_.command_connections;
        Event("command: connection from " + PeerEndpointOf(fd.Get()));
        uint64_t serial = next_serial_++;
        auto connection = std::make_unique<CommandConnection>(*this, std::move(fd));
        CommandConnection* started = connection.get();
        command_connections_[serial] = std::move(connection);
        started->Start();
    }
}

void Printer::CountPrintBytes(const unsigned char* data, size_t size) {
    stats_.received += size;
    stats_.digest.Add(data, size);
    if (!store_.Valid())
        return;
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(store_.Get(), data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            Event("print: store failed (" + ErrorText(errno) + "), no longer storing");
            store_.Reset();
            return;
        }
        done += static_cast<size_t>(n);
    }
}

void Printer::ConnectionEnded() {
    if (sweep_timer_ == 0)
        sweep_timer_ = loop_.After(0, [this] { SweepEnded(); });
}

void Printer::SweepEnded() {
    sweep_timer_ = 0;
    for (auto it = print_connections_.begin(); it != print_connections_.end();)
        it = it->second->Ended() ? print_connections_.erase(it) : std::next(it);
    for (auto it = command_connections_.begin(); it != command_connections_.end();)
        it = it->second->Ended() ? command_connections_.erase(it) : std::next(it);
}

bool Printer::ApplyListenerChanges(const PrinterOptions& next, std::string* error) {
    PrinterOptions previous = options_;
    options_.rcvbuf = next.rcvbuf;
    if (next.print && !print_listener_.Valid() && !OpenPrintListener(error)) {
        options_ = previous;
        return false;
    }
    if (next.command && !command_listener_.Valid() && !OpenCommandListener(error)) {
        options_ = previous;
        return false;
    }
    if (!next.print)
        ClosePrintListener();
    if (!next.command)
        CloseCommandListener();
    if (print_listener_.Valid() && next.rcvbuf != previous.rcvbuf && next.rcvbuf > 0)
        setsockopt(print_listener_.Get(), SOL_SOCKET, SO_RCVBUF, &next.rcvbuf, sizeof next.rcvbuf);
    return true;
}

bool Printer::Set(const std::vector<std::string>& items, std::string* error) {
    PrinterOptions next = options_;
    for (const std::string& item : items) {
        if (!ApplyOption(&next, item, false, error))
            return false;
    }
    if (discovery_ && !discovery_->Accepts(next, error))
        return false;
    UniqueFd store;
    bool new_store = next.store != options_.store;
    if (new_store && !OpenStore(next.store, &store, error))
        return false;
    if (!ApplyListenerChanges(next, error))
        return false;
    if (new_store)
        store_ = std::move(store);
    options_ = next;
    UpdateAcceptEvents();
    if (options_.accept && print_listener_.Valid())
        AcceptPrint();   /* what waited in the backlog, at once */
    for (auto& entry : print_connections_)
        entry.second->OptionsChanged();
    if (discovery_)
        discovery_->OptionsChanged();
    return true;
}

std::string Printer::StatsLine() const {
    size_t open = 0;
    for (const auto& entry : print_connections_)
        open += entry.second->Ended() ? 0 : 1;
    std::string commands;
    for (const std::string& command : stats_.commands)
        commands += (commands.empty() ? "" : ",") + command;
    char digest[17];
    snprintf(digest, sizeof digest, "%016" PRIx64, stats_.digest.Value());
    return "print_connections=" + std::to_string(stats_.print_connections) +
           " received=" + std::to_string(stats_.received) + " digest=" + digest +
           " eof=" + std::to_string(stats_.eof) + " resets=" + std::to_string(stats_.resets) +
           " tails=" + std::to_string(stats_.tails) +
           " open=" + std::to_string(open) + " peer=" + stats_.peer + " local=" + stats_.local +
           " command_connections=" + std::to_string(stats_.command_connections) +
           " command_ended=" + std::to_string(stats_.command_ended) +
           " command_extra_bytes=" + std::to_string(stats_.command_extra_bytes) +
           " commands=" + (commands.empty() ? "-" : commands) +
           " soft_resets=" + std::to_string(stats_.soft_resets) +
           (discovery_ ? " " + discovery_->StatsLine() : "");
}

bool Printer::NumericStat(const std::string& key, uint64_t* value) const {
    if (key == "open") {
        *value = 0;
        for (const auto& entry : print_connections_)
            *value += entry.second->Ended() ? 0 : 1;
        return true;
    }
    const std::pair<const char*, uint64_t> numbers[] = {
        {"print_connections", stats_.print_connections},
        {"received", stats_.received},
        {"eof", stats_.eof},
        {"resets", stats_.resets},
        {"tails", stats_.tails},
        {"command_connections", stats_.command_connections},
        {"command_ended", stats_.command_ended},
        {"command_extra_bytes", stats_.command_extra_bytes},
        {"commands", stats_.commands.size()},
        {"soft_resets", stats_.soft_resets},
    };
    for (const auto& number : numbers) {
        if (key == number.first) {
            *value = number.second;
            return true;
        }
    }
    return discovery_ && discovery_->NumericStat(key, value);
}

void Printer::ResetStats() {
    /* The latest connection's endpoints describe connections that may
     * still be open, so they stay. */
    std::string peer = stats_.peer, local = stats_.local;
    stats_ = PrinterStats();
    stats_.peer = peer;
    stats_.local = local;
    if (discovery_)
        discovery_->ResetStats();
}
