/*
 * printer_sim.h - a test's printer: one simulated printer network
 * interface made by the printer simulator's control server (a native
 * program started for the test run, see scripts/sim-env.sh), driven over
 * its line protocol on loopback.
 *
 * Each SimPrinter owns one printer (ports 9100 and 9200 on an address of
 * its own) for its lifetime, and its own control connection.
 */
#ifndef ORV_TEST_PRINTER_SIM_H
#define ORV_TEST_PRINTER_SIM_H

#include <winsock2.h>

#include <map>
#include <string>

/* The statistics line of the simulator, as key=value pairs. */
struct SimStats {
    std::map<std::string, std::string> values;
    long long Num(const std::string& key) const;
    std::string Str(const std::string& key) const;
};

class SimPrinter {
  public:
    /* Creates a printer at `address` with the simulator's options
     * ("read=off rcvbuf=4096 ..."); see printer-sim --help. */
    explicit SimPrinter(const std::string& address, const std::string& options = "");
    ~SimPrinter();
    SimPrinter(const SimPrinter&) = delete;
    SimPrinter& operator=(const SimPrinter&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    const std::string& address() const { return address_; }

    bool Set(const std::string& options);
    SimStats Stats();
    /* Waits until the numeric statistic `key` reaches `value`. */
    bool WaitFor(const std::string& key, long long value, int timeout_ms, SimStats* stats = nullptr);
    bool ResetStats();

  private:
    bool Command(const std::string& line, std::string* reply);

    SOCKET control_ = INVALID_SOCKET;
    std::string id_;
    std::string address_;
    std::string pending_;  // bytes received past the last reply line
    bool ok_ = false;
    std::string error_;
};

/* An address of 127.64.0.0/10 derived from the running test's name, so
 * that tests running in parallel use different printers. `salt` gives a
 * test further addresses. */
std::string TestAddress(int salt = 0);

/* The FNV-1a 64-bit digest of `size` bytes, as the simulator reports it
 * (16 lowercase hex digits). */
std::string Fnv1a64(const void* data, size_t size);

#endif  // ORV_TEST_PRINTER_SIM_H
