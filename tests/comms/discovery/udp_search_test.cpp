// The UDP searches against simulated printers on loopback addresses (the
// printer simulator answers "GETA" on ADDRESS:19541). Broadcasts proper
// are tested in the rig (udp_rig_test.cpp).
#include <limits>

#include "discovery/discovery.h"
#include "discovery_test.h"

namespace {

constexpr char kVendorMac[] = "FE:FF:FF:FF:00:01";
constexpr char kOrdinaryMac[] = "02:00:00:00:00:05";

constexpr char kQuiet[] = "print=off command=off udp=own ";
const std::string kUntouched(32, 'x');
// A "GETA" reply cut short after byte 19: its MAC would pass the filter,
// and its address would read 192.168.9.0.
constexpr char kShortReply[] = "4c4e345347455441feffffff00770000c0a809";

using UdpSearch = DiscoveryTest;

TEST_F(UdpSearch, UnicastEndsAtTheFirstWholeReplyAndRecordsOnlyNewDevicesThatFitTheArray) {
    SimPrinter vendor(TestAddress(0), kQuiet + std::string("mac=") + kVendorMac + " udp_delay_ms=50 udp_junk=" + kShortReply);
    SimPrinter ordinary(TestAddress(1), kQuiet + std::string("mac=") + kOrdinaryMac);
    ASSERT_SIM(vendor);
    ASSERT_SIM(ordinary);
    const struct {
        const char* what;
        const SimPrinter& device;
        DWORD capacity, count_before, count_after;
        const char* below_count;  // the MAC of entry 0 when the count starts at 1
    } cases[] = {
        {"a vendor device", vendor, 4, 0, 1, nullptr},
        {"a MAC outside the filter", ordinary, 4, 0, 0, nullptr},
        {"a device below the count", vendor, 4, 1, 1, "fe:ff:ff:ff:00:01"},
        {"a full array", vendor, 2, 2, 2, nullptr},
        // The duplicate test stops at the capacity.
        {"a count beyond the array", vendor, 2, 9, 9, nullptr},
    };
    for (const auto& c : cases) {
        GuardedEntries entries(c.capacity);
        if (c.below_count != nullptr)
            strcpy(entries[0].mac, c.below_count);
        DWORD count = c.count_before;
        Stopwatch watch;
        EXPECT_EQ(api_.SendSearchUdpUnicast(search_, entries.data(), c.capacity, 3.0, 1, &count,
                                            c.device.address().c_str()), 1)
            << c.what;
        EXPECT_LT(watch.Seconds(), 1.5) << c.what;
        EXPECT_EQ(count, c.count_after) << c.what;
        if (c.count_before < c.capacity) {  // the entry a new device takes
            bool added = c.count_after > c.count_before;
            EXPECT_EQ(FieldText(entries[c.count_before].mac), added ? kVendorMac : kUntouched) << c.what;
            EXPECT_EQ(FieldText(entries[c.count_before].address), added ? c.device.address() : kUntouched) << c.what;
            EXPECT_TRUE(Untouched(entries[c.count_before].reserved)) << c.what;
        }
    }
}

TEST_F(UdpSearch, UnicastListensTimeoutTimesRepeatInEachOfRepeatExchanges) {
    SimPrinter device(TestAddress(), kQuiet + std::string("udp_reply=off"));
    ASSERT_SIM(device);
    GuardedEntries entries(4);
    DWORD count = 0;
    const struct {
        double timeout;
        DWORD repeat;
        double seconds;  // in all
        long long requests;
    } cases[] = {
        {0.05, 1, 0.1, 1},  // raised to a tenth
        {0.0, 0, 0.1, 1},   // repeat 0 is 1
        {std::numeric_limits<double>::quiet_NaN(), 1, 0.1, 1},
        {0.2, 2, 0.8, 2},   // two exchanges of 0.4 s
    };
    long long requests = 0;
    for (const auto& c : cases) {
        Stopwatch watch;
        EXPECT_EQ(api_.SendSearchUdpUnicast(search_, entries.data(), 4, c.timeout, c.repeat, &count,
                                            device.address().c_str()), 0) << c.timeout;
        EXPECT_GE(watch.Seconds(), c.seconds - 0.02) << c.timeout;
        EXPECT_LT(watch.Seconds(), c.seconds + 1.0) << c.timeout;
        requests += c.requests;
        SimStats stats;
        ASSERT_TRUE(device.WaitFor("geta", requests, 2000, &stats)) << c.timeout;
        EXPECT_EQ(stats.Num("geta"), requests) << c.timeout;
        EXPECT_EQ(stats.Num("malformed"), 0) << "not the 24-byte GETA record";
    }
    EXPECT_EQ(count, 0u);
}

TEST_F(UdpSearch, BroadcastSendsRepeatRequestsListeningSecondsTimesRepeatAfterEach) {
    // Each answer comes 50 ms after junk: short, 3000 bytes (longer than
    // the receive buffer), both with a vendor MAC where a record has one,
    // and random.
    std::string long_junk = "4c4e345347455441feffffff0077" + std::string(5972, '0');
    SimPrinter device(TestAddress(), kQuiet + std::string("mac=") + kVendorMac + " udp_delay_ms=50 udp_junk=" +
                                         kShortReply + "," + long_junk +
                                         ",8b1f3e55a0c2d4e6123456789abc0000c0a8090d00000000");
    ASSERT_SIM(device);
    const struct {
        DWORD seconds, repeat;
        double listening;  // in all
        long long requests;
    } cases[] = {
        {0, 0, 5.0, 1},  // one exchange of five seconds
        {1, 2, 4.0, 2},  // two exchanges of 2 s
    };
    long long requests = 0;
    for (const auto& c : cases) {
        GuardedEntries entries(4);
        DWORD count = 0;
        Stopwatch watch;
        EXPECT_EQ(api_.SendSearchUdpBroadcast(search_, entries.data(), 4, c.seconds, c.repeat, &count,
                                              device.address().c_str()), 1) << c.seconds;
        EXPECT_GE(watch.Seconds(), c.listening - 0.02) << c.seconds;
        EXPECT_LT(watch.Seconds(), c.listening + 2.0) << c.seconds;
        requests += c.requests;
        EXPECT_EQ(device.Stats().Num("geta"), requests) << c.seconds;
        EXPECT_EQ(Macs(entries, count), std::vector<std::string>{kVendorMac}) << "recorded once, " << c.seconds;
    }
}

// A receive that fails with an error other than would-block ends the
// listening, not the exchange: each exchange still takes its time before
// the next request goes out. Loopback cannot make a receive fail, so the
// receive of the internal library's search is replaced.
int WSAAPI FailingReceive(SOCKET, char*, int, int) {
    WSASetLastError(WSAENETDOWN);
    return SOCKET_ERROR;
}

TEST_F(UdpSearch, AFailedReceiveStillListensOutEachExchange) {
    SimPrinter device(TestAddress(), kQuiet + std::string("mac=") + kVendorMac);
    ASSERT_SIM(device);
    OvHandle search = orv::OpenSearch();
    ASSERT_NE(search, OV_INVALID_HANDLE);
    GuardedEntries entries(4);
    DWORD count = 0;
    orv::g_discovery_calls.recv = FailingReceive;
    Stopwatch watch;
    int result = orv::SendSearchUdpUnicast(search, entries.data(), 4, 0.2, 2, &count, device.address().c_str());
    double seconds = watch.Seconds();
    orv::g_discovery_calls.recv = ::recv;
    orv::CloseSearch(search);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(count, 0u);
    EXPECT_GE(seconds, 0.78) << "two exchanges of 0.4 s";
    EXPECT_LT(seconds, 1.8);
    EXPECT_TRUE(device.WaitFor("geta", 2, 2000));
}

}  // namespace
