// OvSendSet_UDP against a simulated printer on a loopback address (its
// port 19541 records the latest "SETA" record: MAC, address, second
// address): the record's bytes, and the texts it refuses.
//
// The printer is the native simulator rather than a socket of this test:
// under Wine a UDP socket bound to a 127.x address other than 127.0.0.1
// is bound to 0.0.0.0 on the loopback interface, which would take port
// 19541 from every other test running beside this one.
#include <memory>

#include "discovery_test.h"
#include "printer_sim.h"

namespace {

class SetUdp : public DiscoveryTest {
  protected:
    void SetUp() override {
        DiscoveryTest::SetUp();
        device_.reset(new SimPrinter(address_, "print=off command=off udp=own mac=02:00:00:00:00:07"));
        ASSERT_TRUE(device_->ok()) << device_->error();
    }
    /* The latest SETA the printer heard, once it has heard `sets` of them. */
    std::string LastSet(long long sets) {
        SimStats stats;
        if (!device_->WaitFor("seta", sets, 2000, &stats))
            return "none";
        return stats.Str("seta_last");
    }

    std::string address_ = TestAddress();
    std::unique_ptr<SimPrinter> device_;
};

TEST_F(SetUdp, SendsTheSetRecordAndWaitsATenth) {
    const struct {
        const char* mac;
        const char* octets;
    } cases[] = {
        {"FE:FF:FF:FF:00:01", "FE:FF:FF:FF:00:01"},
        {"fe:ff:ff:ff:00:01", "FE:FF:FF:FF:00:01"},
        {"0a:4D:c2:9F:a0:Bb", "0A:4D:C2:9F:A0:BB"},
    };
    long long sets = 0;
    for (const auto& c : cases) {
        Stopwatch watch;
        EXPECT_EQ(api_.SendSetUdp(1, c.mac, "198.18.9.77", "255.255.255.0", address_.c_str()), 1);
        EXPECT_GE(watch.Seconds(), 0.09);
        EXPECT_EQ(LastSet(++sets), std::string(c.octets) + "/198.18.9.77/255.255.255.0") << c.mac;
    }
}

TEST_F(SetUdp, ASecondAddressThatIsNoAddressIsSentAsAllOnes) {
    EXPECT_EQ(api_.SendSetUdp(1, "FE:FF:FF:FF:00:01", "198.18.9.77", "none", address_.c_str()), 1);
    EXPECT_EQ(LastSet(1), "FE:FF:FF:FF:00:01/198.18.9.77/255.255.255.255");
}

TEST_F(SetUdp, RefusesBadTextsAndSendsNothing) {
    const char* address = address_.c_str();
    const struct {
        const char* what;
        int enable;
        const char *mac, *new_address, *second;
        const char* destination;
    } cases[] = {
        {"disabled", 0, "FE:FF:FF:FF:00:01", "198.18.9.77", "0.0.0.0", address},
        {"five octets", 1, "FE:FF:FF:FF:00", "198.18.9.77", "0.0.0.0", address},
        {"seven octets", 1, "FE:FF:FF:FF:00:01:02", "198.18.9.77", "0.0.0.0", address},
        {"one digit short", 1, "FE:FF:FF:FF:00:1", "198.18.9.77", "0.0.0.0", address},
        {"one digit long", 1, "FE:FF:FF:FF:00:012", "198.18.9.77", "0.0.0.0", address},
        {"not hexadecimal", 1, "FE:FF:FF:FF:00:0G", "198.18.9.77", "0.0.0.0", address},
        {"dashes", 1, "FE-FF-FF-FF-00-01", "198.18.9.77", "0.0.0.0", address},
        {"no separators", 1, "FEFFFFFF0001", "198.18.9.77", "0.0.0.0", address},
        {"leading blank", 1, " FE:FF:FF:FF:00:1", "198.18.9.77", "0.0.0.0", address},
        {"empty", 1, "", "198.18.9.77", "0.0.0.0", address},
        {"null MAC", 1, nullptr, "198.18.9.77", "0.0.0.0", address},
        {"address no address", 1, "FE:FF:FF:FF:00:01", "printer", "0.0.0.0", address},
        {"null address", 1, "FE:FF:FF:FF:00:01", nullptr, "0.0.0.0", address},
        {"null second address", 1, "FE:FF:FF:FF:00:01", "198.18.9.77", nullptr, address},
        {"null destination", 1, "FE:FF:FF:FF:00:01", "198.18.9.77", "0.0.0.0", nullptr},
    };
    for (const auto& c : cases)
        EXPECT_EQ(api_.SendSetUdp(c.enable, c.mac, c.new_address, c.second, c.destination), 0) << c.what;
    // A good one after them is the first the printer hears.
    EXPECT_EQ(api_.SendSetUdp(1, "FE:FF:FF:FF:00:02", "198.18.9.78", "0.0.0.0", address), 1);
    EXPECT_EQ(LastSet(1), "FE:FF:FF:FF:00:02/198.18.9.78/0.0.0.0");
    EXPECT_EQ(device_->Stats().Num("seta"), 1);
}

}  // namespace
