/*
 * discovery_port.h - the discovery side of one simulated printer: its
 * answers to the "LN4S" search and set requests on UDP port 19541, and
 * the DHCP client requests it sends to port 67 as a print server without
 * an address would.
 *
 * The printer owns one DiscoveryPort, which reads the printer's options
 * (PrinterOptions::discovery) whenever they change.
 */
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <map>
#include <string>

#include "fd.h"
#include "loop.h"

class Printer;
struct PrinterOptions;

struct DiscoveryStats {
    uint64_t geta = 0;          /* GETA requests heard */
    uint64_t seta = 0;          /* SETA requests heard, for any MAC */
    uint64_t seta_applied = 0;  /* of those, the ones for this printer's MAC */
    uint64_t malformed = 0;     /* GETA and SETA requests not of the record's form */
    uint64_t udp_other = 0;     /* other datagrams on port 19541 */
    uint64_t dhcp_sent = 0;     /* DHCP client requests sent */
    std::string seta_last = "-";  /* MAC/ADDRESS/ADDRESS2 of the latest SETA */
    std::string geta_to = "-";    /* destination address of the latest GETA */
};

class DiscoveryPort {
public:
    DiscoveryPort(Printer& printer, in_addr address);
    ~DiscoveryPort();
    DiscoveryPort(const DiscoveryPort&) = delete;
    DiscoveryPort& operator=(const DiscoveryPort&) = delete;

    /* Opens port 19541 as the options ask and starts the DHCP requests. */
    bool Start(std::string* error);
    /* Whether the printer may take these options (where its requests go). */
    bool Accepts(const PrinterOptions& next, std::string* error) const;
    /* The printer's options changed: follow the DHCP period and target. */
    void OptionsChanged();

    /* "geta=N seta=N seta_applied=N malformed=N udp_other=N dhcp_sent=N
     * udp_address=IP seta_last=MAC/IP/IP geta_to=IP mac=MAC" */
    std::string StatsLine() const;
    bool NumericStat(const std::string& key, uint64_t* value) const;
    void ResetStats();

private:
    void ReadDatagrams();
    void Handle(const sockaddr_in& from, in_addr to, const unsigned char* data, size_t size);
    void AnswerGet(const sockaddr_in& from);
    void SendAnswer(const sockaddr_in& to);
    void ApplySet(const sockaddr_in& from, const unsigned char* data, size_t size);
    void SendTo(const sockaddr_in& to, const std::string& bytes);
    void ScheduleDhcp();
    void SendDhcp();
    bool OpenDhcpSocket(std::string* error);
    std::string Mac() const;

    Printer& printer_;
    Loop& loop_;
    const in_addr address_;       /* the printer's address */
    in_addr reported_;            /* the address in answers; SETA changes it */
    UniqueFd udp_;                /* port 19541, when the options ask for it */
    Loop::WatchId udp_watch_ = 0;
    std::map<uint64_t, Loop::TimerId> answer_timers_;  /* delayed answers, by serial */
    uint64_t next_answer_ = 1;
    UniqueFd dhcp_;               /* source of the DHCP requests */
    Loop::TimerId dhcp_timer_ = 0;
    uint32_t dhcp_xid_ = 0x4f525600;  /* transaction id of the next request */
    bool dhcp_failed_logged_ = false;
    DiscoveryStats stats_;
};
