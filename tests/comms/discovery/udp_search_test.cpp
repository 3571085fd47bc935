// The UDP searches against simulated printers on loopback addresses (the
// printer simulator answers "GETA" on ADDRESS:19541). Broadcasts proper
// are tested in the rig (udp_rig_test.cpp).
#include <cmath>
#include <limits>

#include "discovery_test.h"
#include "printer_sim.h"

namespace {

constexpr char kVendorMac[] = "FE:FF:FF:FF:00:01";
constexpr char kOrdinaryMac[] = "02:00:00:00:00:05";
constexpr char kQuiet[] = "print=off command=off udp=own ";

class UdpSearch : public DiscoveryTest {
  protected:
    /* A simulated device at this test's address. */
    void MakeDevice(const std::string& options) {
        device_.reset(new SimPrinter(address_, kQuiet + options));
        ASSERT_TRUE(device_->ok()) << device_->error();
    }
    long long Requests() { return device_->Stats().Num("geta"); }

    int Unicast(double timeout, DWORD repeat) {
        return api_.SendSearchUdpUnicast(search_, entries_.data(), entries_.capacity(), timeout, repeat,
                                         &count_, address_.c_str());
    }

    std::string address_ = TestAddress();
    std::unique_ptr<SimPrinter> device_;
    GuardedEntries entries_{4};
    DWORD count_ = 0;
};

TEST_F(UdpSearch, UnicastRecordsTheFirstReplyAndEndsThere) {
    MakeDevice(std::string("mac=") + kVendorMac);
    Stopwatch watch;
    EXPECT_EQ(Unicast(3.0, 1), 1);
    EXPECT_LT(watch.Seconds(), 1.5);
    ASSERT_EQ(count_, 1u);
    EXPECT_EQ(FieldText(entries_[0].address), address_);
    EXPECT_EQ(FieldText(entries_[0].mac), kVendorMac);
    EXPECT_TRUE(Untouched(entries_[0].reserved));
    EXPECT_TRUE(Untouched(entries_[1].mac));
}

TEST_F(UdpSearch, UnicastListensTimeoutTimesRepeatInEachOfRepeatExchanges) {
    MakeDevice("udp_reply=off");
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
    long long before = Requests();
    for (const auto& c : cases) {
        Stopwatch watch;
        EXPECT_EQ(Unicast(c.timeout, c.repeat), 0) << c.timeout;
        EXPECT_GE(watch.Seconds(), c.seconds - 0.02) << c.timeout;
        EXPECT_LT(watch.Seconds(), c.seconds + 1.0) << c.timeout;
        ASSERT_TRUE(device_->WaitFor("geta", before + c.requests, 2000)) << c.timeout;
        before += c.requests;
        EXPECT_EQ(Requests(), before) << c.timeout;
    }
    EXPECT_EQ(count_, 0u);
}

TEST_F(UdpSearch, AReplyOutsideTheFilterEndsTheUnicastWith1AndIsNotRecorded) {
    MakeDevice(std::string("mac=") + kOrdinaryMac);
    Stopwatch watch;
    EXPECT_EQ(Unicast(3.0, 1), 1);
    EXPECT_LT(watch.Seconds(), 1.5);
    EXPECT_EQ(count_, 0u);
    EXPECT_TRUE(Untouched(entries_[0].mac));
}

TEST_F(UdpSearch, ADeviceBelowTheCountIsNotRecordedAgain) {
    MakeDevice(std::string("mac=") + kVendorMac);
    strcpy(entries_[0].mac, "fe:ff:ff:ff:00:01");
    count_ = 1;
    EXPECT_EQ(Unicast(3.0, 1), 1);
    EXPECT_EQ(count_, 1u);
    EXPECT_TRUE(Untouched(entries_[1].mac));
}

TEST_F(UdpSearch, NothingIsReadOrWrittenPastTheCapacity) {
    MakeDevice(std::string("mac=") + kVendorMac);
    GuardedEntries two(2);
    // A count beyond the array: the duplicate test stops at the capacity.
    DWORD count = 9;
    EXPECT_EQ(api_.SendSearchUdpUnicast(search_, two.data(), 2, 3.0, 1, &count, address_.c_str()), 1);
    EXPECT_EQ(count, 9u);
    // A full array takes no more.
    count = 2;
    EXPECT_EQ(api_.SendSearchUdpUnicast(search_, two.data(), 2, 3.0, 1, &count, address_.c_str()), 1);
    EXPECT_EQ(count, 2u);
    EXPECT_TRUE(Untouched(two[1].mac));
}

TEST_F(UdpSearch, BroadcastSearchDefaultsToOneExchangeOfFiveSeconds) {
    MakeDevice(std::string("mac=") + kVendorMac);
    Stopwatch watch;
    EXPECT_EQ(api_.SendSearchUdpBroadcast(search_, entries_.data(), 4, 0, 0, &count_, address_.c_str()), 1);
    EXPECT_GE(watch.Seconds(), 4.98);
    EXPECT_LT(watch.Seconds(), 7.0);
    EXPECT_EQ(Requests(), 1);
    ASSERT_EQ(count_, 1u);
    EXPECT_EQ(FieldText(entries_[0].mac), kVendorMac);
}

TEST_F(UdpSearch, EachRepeatSendsARequestAndListensSecondsTimesRepeat) {
    MakeDevice(std::string("mac=") + kVendorMac);
    Stopwatch watch;
    EXPECT_EQ(api_.SendSearchUdpBroadcast(search_, entries_.data(), 4, 1, 2, &count_, address_.c_str()), 1);
    EXPECT_GE(watch.Seconds(), 3.98);  // two exchanges of 2 s
    EXPECT_LT(watch.Seconds(), 6.0);
    EXPECT_EQ(Requests(), 2);
    EXPECT_EQ(count_, 1u);  // answered twice, recorded once
}

TEST_F(UdpSearch, JunkBeforeTheReplyIsIgnored) {
    // Short, 3000 bytes (longer than the receive buffer, with a vendor MAC
    // where a record has one) and random, then the reply 50 ms later.
    std::string long_junk = "4c4e345347455441feffffff0077" + std::string(5972, '0');
    MakeDevice(std::string("mac=") + kVendorMac + " udp_delay_ms=50 udp_junk=4c4e3453," + long_junk +
               ",8b1f3e55a0c2d4e6123456789abc0000c0a8090d00000000");
    EXPECT_EQ(api_.SendSearchUdpBroadcast(search_, entries_.data(), 4, 1, 1, &count_, address_.c_str()), 1);
    EXPECT_EQ(Macs(entries_, count_), std::vector<std::string>{kVendorMac});
}

}  // namespace
