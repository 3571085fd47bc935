/*
 * print_connection.h - one client connection on a printer's print port.
 *
 * It reads print data (or deliberately does not: read=off, dribble),
 * sends back-channel bytes (greeting, chatter, a late final status) and
 * ends the way the printer's options say: on the client's end of
 * sending, after a byte count with a FIN or a reset, after its tail, or
 * when the client resets it.
 */
#pragma once

#include <cstdint>
#include <string>

#include "fd.h"
#include "loop.h"

class Printer;

class PrintConnection {
public:
    PrintConnection(Printer& printer, UniqueFd fd);
    ~PrintConnection();
    PrintConnection(const PrintConnection&) = delete;
    PrintConnection& operator=(const PrintConnection&) = delete;

    /* Sends the greeting, starts chatter and reading. */
    void Start();
    /* The printer's options changed: take them over where they apply. */
    void OptionsChanged();
    bool Ended() const { return ended_; }

private:
    void OnEvents(short revents);
    void ReadSome();
    size_t ReadLimit() const;
    void Count(const unsigned char* data, size_t size);
    bool CheckThresholds();
    void OnClientEof();
    void Flush();
    void UpdateEvents();
    bool ChatterActive() const;
    void UpdateChatter();
    void ChatterTick();
    void ScheduleRefill();
    void Report(bool final);
    void CloseAfterCount();
    void ResetAfterCount();
    void SendTail();
    void FinishTail();
    void WatchTailEnd();
    void End(const std::string& how, bool client_reset);

    Printer& printer_;
    Loop& loop_;
    UniqueFd fd_;
    Loop::WatchId watch_ = 0;
    uint64_t received_ = 0;        /* print bytes counted on this connection */
    uint64_t discarded_ = 0;       /* bytes read after our FIN, not counted */
    bool client_eof_ = false;      /* the client shut down its sending side */
    bool lingering_ = false;       /* we sent FIN after close_after; discarding */
    bool ended_ = false;
    std::string out_;              /* back-channel bytes not yet sent */
    uint64_t chatter_sent_ = 0;    /* chatter bytes made so far (the pattern's position) */
    Loop::TimerId chatter_timer_ = 0;
    uint64_t dribble_budget_ = 0;  /* bytes still allowed in this dribble period */
    Loop::TimerId refill_timer_ = 0;
    uint64_t unreported_ = 0;      /* bytes not yet in a "received" event line */
    int64_t last_report_ms_ = 0;
    Loop::TimerId report_timer_ = 0;
    bool tail_started_ = false;    /* the client ended: the tail's steps run */
    Loop::TimerId tail_timer_ = 0; /* the tail's next step */
    int64_t tail_deadline_ms_ = 0; /* when watching for the end after our FIN stops */
};
