// OvSendSet_UDP against a simulated printer on a loopback address (its
// port 19541 records the latest "SETA" record: MAC, address, second
// address): the texts it refuses, and the record's bytes.
//
// The printer is the native simulator rather than a socket of this test:
// under Wine a UDP socket bound to a 127.x address other than 127.0.0.1
// is bound to 0.0.0.0 on the loopback interface, which would take port
// 19541 from every other test running beside this one.
#include "discovery_test.h"

namespace {

using SetUdp = DiscoveryTest;

TEST_F(SetUdp, RefusesBadTextsAndSendsTheRecordOfGoodOnes) {
    SimPrinter device(TestAddress(), "print=off command=off udp=own mac=02:00:00:00:00:07");
    ASSERT_SIM(device);
    const char* to = device.address().c_str();
    const char* mac = "FE:FF:FF:FF:00:01";
    const char* address = "198.18.9.77";
    for (const char* bad_mac : {"FE:FF:FF:FF:00", "FE:FF:FF:FF:00:01:02", "FE:FF:FF:FF:00:1", "FE:FF:FF:FF:00:012",
                                "FE:FF:FF:FF:00:0G", "FE-FF-FF-FF-00-01", "FEFFFFFF0001", " FE:FF:FF:FF:00:1", "",
                                static_cast<const char*>(nullptr)})
        EXPECT_EQ(api_.SendSetUdp(1, bad_mac, address, "0.0.0.0", to), 0) << (bad_mac ? bad_mac : "(null)");
    EXPECT_EQ(api_.SendSetUdp(0, mac, address, "0.0.0.0", to), 0) << "disabled";
    EXPECT_EQ(api_.SendSetUdp(1, mac, "printer", "0.0.0.0", to), 0) << "an address that is no address";
    EXPECT_EQ(api_.SendSetUdp(1, mac, nullptr, "0.0.0.0", to), 0);
    EXPECT_EQ(api_.SendSetUdp(1, mac, address, nullptr, to), 0);
    EXPECT_EQ(api_.SendSetUdp(1, mac, address, "0.0.0.0", nullptr), 0);

    const struct {
        const char* mac;
        const char* second;
        const char* record;  // as the printer heard it
    } cases[] = {
        {"FE:FF:FF:FF:00:01", "255.255.255.0", "FE:FF:FF:FF:00:01/198.18.9.77/255.255.255.0"},
        {"fe:ff:ff:ff:00:01", "0.0.0.0", "FE:FF:FF:FF:00:01/198.18.9.77/0.0.0.0"},
        {"0a:4D:c2:9F:a0:Bb", "255.255.255.0", "0A:4D:C2:9F:A0:BB/198.18.9.77/255.255.255.0"},
        // A second address that is no address is sent as all ones.
        {"FE:FF:FF:FF:00:01", "none", "FE:FF:FF:FF:00:01/198.18.9.77/255.255.255.255"},
    };
    long long sets = 0;  // the refused ones sent nothing
    for (const auto& c : cases) {
        Stopwatch watch;
        EXPECT_EQ(api_.SendSetUdp(1, c.mac, address, c.second, to), 1) << c.mac;
        EXPECT_GE(watch.Seconds(), 0.09) << "a tenth's wait after the send";
        SimStats stats;
        ASSERT_TRUE(device.WaitFor("seta", ++sets, 2000, &stats)) << c.mac;
        EXPECT_EQ(stats.Str("seta_last"), c.record) << c.mac;
        EXPECT_EQ(stats.Num("seta"), sets) << c.mac;
        EXPECT_EQ(stats.Num("malformed"), 0) << "not the 24-byte SETA record, " << c.mac;
    }
}

}  // namespace
