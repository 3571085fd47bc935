/*
 * The print port of a simulated printer: counting and digesting print
 * data, and each behaviour a print client must be tested against.
 */
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "sim_harness.h"

namespace {

constexpr int kPrintPort = 9100;

class PrintPortTest : public SimTest {
protected:
    TestFd Connect() {
        TestFd fd = ConnectTcp(printer_address_, kPrintPort);
        EXPECT_TRUE(fd.Valid()) << "connect: " << strerror(errno);
        return fd;
    }
    std::string Wait(const std::string& condition, int timeout_ms = 5000) {
        return control_.Command("wait p " + condition + " " + std::to_string(timeout_ms), timeout_ms + 2000);
    }
};

TEST_F(PrintPortTest, DigestOfFoobarIsTheFnv1a64ReferenceValue) {
    CreatePrinter("");
    TestFd client = Connect();
    ASSERT_TRUE(SendAll(client.Get(), "foobar"));
    shutdown(client.Get(), SHUT_WR);
    std::string answer = Wait("eof>=1");
    EXPECT_EQ(FieldOf(answer, "digest"), "85944171f73967e8") << answer;
    EXPECT_EQ(FieldOf(answer, "received"), "6");
}

TEST_F(PrintPortTest, CountsAndDigestsAllBytesAcrossConnections) {
    CreatePrinter("");
    const std::string first = PseudoRandomBytes(300000, 1);
    const std::string second = PseudoRandomBytes(70001, 2);
    std::string peer;
    for (const std::string* data : {&first, &second}) {
        TestFd client = Connect();
        ASSERT_TRUE(SendAll(client.Get(), *data));
        ASSERT_EQ(shutdown(client.Get(), SHUT_WR), 0);
        int end = 1;
        EXPECT_EQ(ReadToEnd(client.Get(), 5000, &end), "");
        EXPECT_EQ(end, 0) << "on_eof=close should end the stream after the client's end";
        sockaddr_in mine = {};
        socklen_t size = sizeof mine;
        getsockname(client.Get(), reinterpret_cast<sockaddr*>(&mine), &size);
        char text[32];
        inet_ntop(AF_INET, &mine.sin_addr, text, sizeof text);
        peer = std::string(text) + ":" + std::to_string(ntohs(mine.sin_port));
    }
    std::string answer = Wait("eof>=2");
    EXPECT_EQ(FieldOf(answer, "print_connections"), "2") << answer;
    EXPECT_EQ(FieldOf(answer, "received"), std::to_string(first.size() + second.size()));
    EXPECT_EQ(FieldOf(answer, "digest"), Fnv1a64Hex(first + second));
    EXPECT_EQ(FieldOf(answer, "resets"), "0");
    EXPECT_EQ(FieldOf(answer, "open"), "0");
    EXPECT_EQ(FieldOf(answer, "peer"), peer);
    EXPECT_EQ(FieldOf(answer, "local"), printer_address_ + ":9100");
}

TEST_F(PrintPortTest, StoreAppendsTheBytesOfEveryConnection) {
    std::string path = "/tmp/printer-sim-store-" + std::to_string(getpid());
    unlink(path.c_str());
    CreatePrinter("store=" + path);
    TestFd first = Connect();
    ASSERT_TRUE(SendAll(first.Get(), "first job;"));
    Wait("received>=10");
    TestFd second = Connect();
    ASSERT_TRUE(SendAll(second.Get(), "second job"));
    Wait("received>=20");
    FILE* file = fopen(path.c_str(), "r");
    ASSERT_NE(file, nullptr);
    char stored[64] = "";
    size_t n = fread(stored, 1, sizeof stored - 1, file);
    fclose(file);
    unlink(path.c_str());
    EXPECT_EQ(std::string(stored, n), "first job;second job");
}

TEST_F(PrintPortTest, ReadOffFillsTheSendersBuffersAndReadOnDrainsThem) {
    CreatePrinter("read=off rcvbuf=4096");
    TestFd client = Connect();
    int small = 4096;
    setsockopt(client.Get(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    const std::string chunk(1024, 'x');
    size_t sent = 0;
    bool blocked = false;
    for (int i = 0; i < 16384 && !blocked; ++i) {   /* at most 16 MiB */
        ssize_t n = send(client.Get(), chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else {
            blocked = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            ASSERT_TRUE(blocked) << "send failed: " << strerror(errno);
        }
    }
    ASSERT_TRUE(blocked) << "16 MiB went out to a printer that does not read";
    EXPECT_LT(sent, 1u << 20) << "rcvbuf should keep the buffers small";
    EXPECT_EQ(Stat("received"), "0");
    EXPECT_EQ(Stat("open"), "1");

    ASSERT_EQ(control_.Command("set p read=on"), "ok");
    std::string answer = Wait("received>=" + std::to_string(sent));
    EXPECT_EQ(answer.substr(0, 3), "ok ") << answer;
    ssize_t more = send(client.Get(), chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    EXPECT_EQ(more, static_cast<ssize_t>(chunk.size())) << "the sender should be free again";
}

TEST_F(PrintPortTest, DribbleReadsNoFasterThanItsAllowance) {
    CreatePrinter("dribble=1000 dribble_ms=100");
    TestFd client = Connect();
    int64_t start = NowMs();
    ASSERT_TRUE(SendAll(client.Get(), std::string(5000, 'd')));
    std::string answer = Wait("received>=5000");
    int64_t elapsed = NowMs() - start;
    EXPECT_EQ(FieldOf(answer, "received"), "5000") << answer;
    /* 1000 bytes at once, then 1000 per 100 ms: at least 400 ms. */
    EXPECT_GE(elapsed, 350);
}

TEST_F(PrintPortTest, GreetingArrivesRightAfterAccept) {
    CreatePrinter("greeting=4f52560a");
    TestFd client = Connect();
    EXPECT_EQ(ReadAtLeast(client.Get(), 4, 2000), "ORV\n");
}

TEST_F(PrintPortTest, CloseAfterEndsTheStreamAtTheExactCountWithoutReset) {
    CreatePrinter("close_after=4000");
    TestFd client = Connect();
    ASSERT_TRUE(SendAll(client.Get(), PseudoRandomBytes(10000, 3)));
    int end = 1;
    EXPECT_EQ(ReadToEnd(client.Get(), 3000, &end), "");
    EXPECT_EQ(end, 0) << "expected a FIN, got " << (end > 0 ? strerror(end) : "a time-out");
    /* Sending on after the printer's FIN is taken and discarded. */
    EXPECT_TRUE(SendAll(client.Get(), std::string(1000, 'z')));
    shutdown(client.Get(), SHUT_WR);
    std::string answer = Wait("eof>=1");
    EXPECT_EQ(FieldOf(answer, "received"), "4000") << answer;
    EXPECT_EQ(FieldOf(answer, "digest"), Fnv1a64Hex(PseudoRandomBytes(10000, 3).substr(0, 4000)));
    EXPECT_EQ(FieldOf(answer, "open"), "0");
}

TEST_F(PrintPortTest, ResetAfterResetsTheConnectionAtTheExactCount) {
    CreatePrinter("reset_after=3000");
    TestFd client = Connect();
    ASSERT_TRUE(SendAll(client.Get(), std::string(8000, 'r')));
    int end = 0;
    ReadToEnd(client.Get(), 3000, &end);
    EXPECT_EQ(end, ECONNRESET);
    std::string answer = control_.Command("stats p");
    EXPECT_EQ(FieldOf(answer, "received"), "3000") << answer;
    EXPECT_EQ(FieldOf(answer, "resets"), "0") << "the printer's own reset is not a client reset";
}

TEST_F(PrintPortTest, ChatterAfterEofStartsWhenTheClientStopsSending) {
    CreatePrinter("chatter=after_eof chatter_bytes=32 chatter_ms=20");
    TestFd client = Connect();
    ASSERT_TRUE(SendAll(client.Get(), "job"));
    EXPECT_FALSE(WaitReadable(client.Get(), 200)) << "chatter before the client's end";
    shutdown(client.Get(), SHUT_WR);
    std::string chatter = ReadAtLeast(client.Get(), 96, 3000);
    ASSERT_GE(chatter.size(), 96u);
    for (size_t i = 0; i < chatter.size(); ++i)
        ASSERT_EQ(static_cast<unsigned char>(chatter[i]), i % 256) << "at byte " << i;
    EXPECT_EQ(Stat("open"), "1") << "after_eof keeps the connection open";
    ArmReset(client.Get());
    client.Reset();
    std::string answer = Wait("resets>=1");
    EXPECT_EQ(answer.substr(0, 3), "ok ") << answer;
    EXPECT_EQ(FieldOf(answer, "open"), "0") << answer;
}

TEST_F(PrintPortTest, ChatterAlwaysTalksFromAcceptAndFollowsOnEof) {
    CreatePrinter("chatter=always chatter_bytes=10 chatter_ms=20");
    TestFd client = Connect();
    EXPECT_GE(ReadAtLeast(client.Get(), 30, 3000).size(), 30u);
    shutdown(client.Get(), SHUT_WR);
    int end = 1;
    ReadToEnd(client.Get(), 3000, &end);
    EXPECT_EQ(end, 0) << "on_eof=close should end the stream";
}

TEST_F(PrintPortTest, OnEofKeepHoldsTheConnectionUntilSetOtherwise) {
    CreatePrinter("on_eof=keep");
    TestFd client = Connect();
    ASSERT_TRUE(SendAll(client.Get(), "0123456789"));
    shutdown(client.Get(), SHUT_WR);
    std::string answer = Wait("eof>=1");
    EXPECT_EQ(FieldOf(answer, "open"), "1") << answer;
    EXPECT_FALSE(WaitReadable(client.Get(), 200)) << "a kept connection sends nothing";
    ASSERT_EQ(control_.Command("set p on_eof=close"), "ok");
    int end = 1;
    ReadToEnd(client.Get(), 3000, &end);
    EXPECT_EQ(end, 0);
}

// The tail comes tail_ms after the client's end and the FIN after it; a
// client that reads to the end has an orderly close, one that closes
// before the tail came has reset the connection.
TEST_F(PrintPortTest, TailComesLateAndTellsAnOrderlyEndFromAReset) {
    CreatePrinter("tail=600 tail_ms=200");
    TestFd reader = Connect();
    shutdown(reader.Get(), SHUT_WR);
    EXPECT_FALSE(WaitReadable(reader.Get(), 150)) << "the tail came early";
    int end = 1;
    std::string tail = ReadToEnd(reader.Get(), 3000, &end);
    EXPECT_EQ(end, 0);
    ASSERT_EQ(tail.size(), 600u);
    EXPECT_EQ(static_cast<unsigned char>(tail[599]), 599 % 256);
    reader.Reset();
    std::string answer = Wait("tails>=1");
    EXPECT_EQ(FieldOf(answer, "resets"), "0") << answer;

    TestFd leaver = Connect();
    shutdown(leaver.Get(), SHUT_WR);
    leaver.Reset();
    answer = Wait("resets>=1");
    EXPECT_EQ(FieldOf(answer, "tails"), "1") << answer;
}

TEST_F(PrintPortTest, ClientResetsAreCountedWhetherReadingOrNot) {
    CreatePrinter("");
    TestFd reading = Connect();
    ASSERT_TRUE(SendAll(reading.Get(), "abc"));
    Wait("received>=3");
    ArmReset(reading.Get());
    reading.Reset();
    EXPECT_EQ(FieldOf(Wait("resets>=1"), "resets"), "1");

    ASSERT_EQ(control_.Command("set p read=off"), "ok");
    TestFd idle = Connect();
    Wait("open>=1");
    ArmReset(idle.Get());
    idle.Reset();
    std::string answer = Wait("resets>=2");
    EXPECT_EQ(FieldOf(answer, "resets"), "2") << answer;
    EXPECT_EQ(FieldOf(answer, "open"), "0");
}

TEST_F(PrintPortTest, AcceptOffLeavesConnectionsInTheBacklog) {
    CreatePrinter("accept=off backlog=0");
    TestFd queued = ConnectTcp(printer_address_, kPrintPort, 1000);
    ASSERT_TRUE(queued.Valid()) << "the kernel completes a queued connect";
    ASSERT_TRUE(SendAll(queued.Get(), "queued"));
    TestFd beyond = ConnectTcp(printer_address_, kPrintPort, 300);
    EXPECT_FALSE(beyond.Valid()) << "a full backlog leaves the connect unanswered";
    EXPECT_EQ(Stat("print_connections"), "0");

    ASSERT_EQ(control_.Command("set p accept=on"), "ok");
    std::string answer = Wait("received>=6");
    EXPECT_EQ(FieldOf(answer, "print_connections"), "1") << answer;
}

TEST_F(PrintPortTest, PrintOffRefusesConnectsUntilPrintOn) {
    CreatePrinter("print=off");
    TestFd refused = ConnectTcp(printer_address_, kPrintPort);
    EXPECT_FALSE(refused.Valid());
    EXPECT_EQ(errno, ECONNREFUSED);
    EXPECT_TRUE(ConnectTcp(printer_address_, 9200).Valid()) << "the command port stays";
    ASSERT_EQ(control_.Command("set p print=on"), "ok");
    EXPECT_TRUE(ConnectTcp(printer_address_, kPrintPort).Valid());
}

}  // namespace
