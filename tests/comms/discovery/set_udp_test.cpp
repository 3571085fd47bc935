// OvSendSet_UDP against a socket of the test on port 19541 of a loopback
// address: the bytes of the "SETA" record, and the texts it refuses.
#include <cstring>
#include <memory>

#include "discovery_test.h"
#include "printer_sim.h"

namespace {

constexpr u_short kDiscoveryPort = 19541;

/* A UDP socket of the test on ADDRESS:19541. */
class Device {
  public:
    explicit Device(const std::string& address) {
        socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = inet_addr(address.c_str());
        local.sin_port = htons(kDiscoveryPort);
        bound_ = bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    }
    ~Device() { closesocket(socket_); }
    bool bound() const { return bound_; }

    /* The next datagram within `timeout_ms`; empty when none came. */
    std::string Receive(DWORD timeout_ms) {
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&timeout_ms), sizeof timeout_ms);
        char buffer[2048];
        int got = recv(socket_, buffer, sizeof buffer, 0);
        return got > 0 ? std::string(buffer, got) : std::string();
    }

  private:
    SOCKET socket_;
    bool bound_;
};

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values)
        bytes.push_back(static_cast<char>(value));
    return bytes;
}

class SetUdp : public DiscoveryTest {
  protected:
    void SetUp() override {
        DiscoveryTest::SetUp();  // starts the socket layer
        device_.reset(new Device(address_));
        ASSERT_TRUE(device_->bound()) << address_;
    }
    std::string address_ = TestAddress();
    std::unique_ptr<Device> device_;
};

TEST_F(SetUdp, SendsTheSetRecordAndWaitsATenth) {
    struct Case {
        const char* mac;
        std::string octets;
    } cases[] = {
        {"FE:FF:FF:FF:00:01", Bytes({0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x01})},
        {"fe:ff:ff:ff:00:01", Bytes({0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x01})},
        {"0a:4D:c2:9F:a0:Bb", Bytes({0x0A, 0x4D, 0xC2, 0x9F, 0xA0, 0xBB})},
    };
    for (const Case& c : cases) {
        Stopwatch watch;
        EXPECT_EQ(api_.SendSetUdp(1, c.mac, "198.18.9.77", "255.255.255.0", address_.c_str()), 1);
        EXPECT_GE(watch.Seconds(), 0.09);
        std::string record = device_->Receive(2000);
        ASSERT_EQ(record.size(), 24u) << c.mac;
        EXPECT_EQ(record.substr(0, 8), "LN4SSETA");
        EXPECT_EQ(record.substr(8, 6), c.octets) << c.mac;
        EXPECT_EQ(record.substr(14, 2), Bytes({0, 0}));
        EXPECT_EQ(record.substr(16, 4), Bytes({198, 18, 9, 77}));
        EXPECT_EQ(record.substr(20, 4), Bytes({255, 255, 255, 0}));
    }
}

TEST_F(SetUdp, ASecondAddressThatIsNoAddressIsSentAsAllOnes) {
    EXPECT_EQ(api_.SendSetUdp(1, "FE:FF:FF:FF:00:01", "198.18.9.77", "none", address_.c_str()), 1);
    std::string record = device_->Receive(2000);
    ASSERT_EQ(record.size(), 24u);
    EXPECT_EQ(record.substr(20, 4), Bytes({255, 255, 255, 255}));
}

TEST_F(SetUdp, RefusesBadTextsAndSendsNothing) {
    const char* address = address_.c_str();
    struct Case {
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
    for (const Case& c : cases)
        EXPECT_EQ(api_.SendSetUdp(c.enable, c.mac, c.new_address, c.second, c.destination), 0) << c.what;
    EXPECT_EQ(device_->Receive(300), "");
}

}  // namespace
