/*
 * The control protocol of printer-sim: creating and destroying printers,
 * errors, waits, and several clients at once.
 */
#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "sim_harness.h"

namespace {

class ControlTest : public SimTest {};

TEST_F(ControlTest, CreateAndSetRefuseBadRequestsWithAReason) {
    CreatePrinter("");
    const std::pair<std::string, std::string> cases[] = {
        {"create p " + printer_address_, "error duplicate id p"},
        {"create a/b " + printer_address_, "error bad id a/b"},
        {"create q printer.local", "error bad address printer.local"},
        {"create q " + printer_address_ + " colour=red", "error unknown option colour"},
        {"create q " + printer_address_ + " read=maybe", "error bad value for read"},
        {"create q", "error usage: create"},
        {"create q " + printer_address_, "error bind " + printer_address_ + ":9100: Address already in use"},
        {"set p print_port=9101", "error print_port can only be given to create"},
        {"set p dribble=1k", "error bad value for dribble"},
        {"set nobody read=off", "error no printer nobody"},
        {"stats nobody", "error no printer nobody"},
        {"frobnicate p", "error unknown command frobnicate"},
        {"wait p colour>=1 100", "error not a numeric statistic: colour"},
        {"wait p received>=1 120001", "error bad timeout 120001"},
        {"wait p received=1 100", "error usage: wait"},
    };
    for (const auto& c : cases) {
        std::string answer = control_.Command(c.first);
        EXPECT_EQ(answer.substr(0, c.second.size()), c.second) << c.first << " -> " << answer;
    }
    /* Nothing of a refused set was applied: the printer still reads. */
    EXPECT_EQ(control_.Command("set p read=off dribble=1k").substr(0, 5), "error");
    TestFd client = ConnectTcp(printer_address_, 9100);
    ASSERT_TRUE(SendAll(client.Get(), "still reading"));
    EXPECT_EQ(FieldOf(control_.Command("wait p received>=13 3000"), "received"), "13");
}

TEST_F(ControlTest, CrlfLinesAndSeveralPrintersAreServed) {
    ASSERT_EQ(control_.Command("create p " + printer_address_ + "\r"), "ok");
    ASSERT_EQ(control_.Command("create other " + TestAddress(3) + " print_port=9300 command_port=9301"), "ok");
    TestFd client = ConnectTcp(TestAddress(3), 9300);
    ASSERT_TRUE(client.Valid());
    ASSERT_TRUE(SendAll(client.Get(), "xy"));
    EXPECT_EQ(FieldOf(control_.Command("wait other received>=2 3000\r"), "local"), TestAddress(3) + ":9300");
    EXPECT_EQ(Stat("received"), "0") << "the other printer's bytes are its own";
}

TEST_F(ControlTest, WaitAnswersOnceTheStatisticIsReachedWithoutBlockingOthers) {
    CreatePrinter("");
    control_.SendRaw("wait p received>=1000 10000\n");
    ControlClient other;
    ASSERT_TRUE(other.Connect(control_address_, kControlPort, 2000));
    int64_t start = NowMs();
    EXPECT_EQ(other.Command("stats p").substr(0, 3), "ok ");
    EXPECT_LT(NowMs() - start, 2000) << "a wait of one client held up another";
    EXPECT_EQ(control_.ReadLine(100), "(no answer)") << "answered before the condition held";

    TestFd client = ConnectTcp(printer_address_, 9100);
    ASSERT_TRUE(SendAll(client.Get(), std::string(1000, 'w')));
    std::string answer = control_.ReadLine(5000);
    EXPECT_EQ(answer.substr(0, 3), "ok ") << answer;
    EXPECT_EQ(FieldOf(answer, "received"), "1000");
}

TEST_F(ControlTest, WaitTimesOutWithTheStatisticsAndLaterLinesFollowInOrder) {
    CreatePrinter("");
    int64_t start = NowMs();
    control_.SendRaw("wait p eof>=1 300\nstats p\n");
    std::string timeout = control_.ReadLine(5000);
    int64_t elapsed = NowMs() - start;
    EXPECT_EQ(timeout.substr(0, 33), "error timeout print_connections=0") << timeout;
    EXPECT_EQ(FieldOf(timeout, "eof"), "0");
    EXPECT_GE(elapsed, 250);
    EXPECT_EQ(control_.ReadLine(2000).substr(0, 3), "ok ");
}

TEST_F(ControlTest, ResetStatsZeroesCountersButKeepsOpenConnections) {
    CreatePrinter("");
    TestFd client = ConnectTcp(printer_address_, 9100);
    ASSERT_TRUE(SendAll(client.Get(), "before"));
    control_.Command("wait p received>=6 3000");
    ASSERT_EQ(control_.Command("reset-stats p"), "ok");
    std::string answer = control_.Command("stats p");
    EXPECT_EQ(FieldOf(answer, "received"), "0") << answer;
    EXPECT_EQ(FieldOf(answer, "print_connections"), "0");
    EXPECT_EQ(FieldOf(answer, "digest"), "cbf29ce484222325");
    EXPECT_EQ(FieldOf(answer, "open"), "1");
    ASSERT_TRUE(SendAll(client.Get(), "after"));
    answer = control_.Command("wait p received>=5 3000");
    EXPECT_EQ(FieldOf(answer, "digest"), Fnv1a64Hex("after")) << answer;
}

TEST_F(ControlTest, DestroyClosesListenersConnectionsAndPendingWaits) {
    CreatePrinter("on_eof=keep");
    TestFd client = ConnectTcp(printer_address_, 9100);
    ASSERT_TRUE(client.Valid());
    control_.Command("wait p open>=1 3000");
    ControlClient waiter;
    ASSERT_TRUE(waiter.Connect(control_address_, kControlPort, 2000));
    /* Both lines go in one segment and are handled in one go: once the
     * stats are answered, the wait is pending. */
    waiter.SendRaw("stats p\nwait p eof>=1 10000\n");
    EXPECT_EQ(waiter.ReadLine(3000).substr(0, 3), "ok ");
    EXPECT_EQ(control_.Command("destroy p"), "ok");
    EXPECT_EQ(waiter.ReadLine(3000), "error printer p destroyed");
    int end = -1;
    ReadToEnd(client.Get(), 3000, &end);
    EXPECT_GE(end, 0) << "the connection should have ended";
    EXPECT_FALSE(ConnectTcp(printer_address_, 9100).Valid());
    EXPECT_EQ(errno, ECONNREFUSED);
    EXPECT_EQ(control_.Command("stats p"), "error no printer p");
    CreatePrinter("");   /* the address is free again */
}

TEST_F(ControlTest, PrintersOutliveTheClientThatMadeThem) {
    CreatePrinter("");
    control_.Close();
    ASSERT_TRUE(control_.Connect(control_address_, kControlPort, 2000));
    EXPECT_EQ(control_.Command("stats p").substr(0, 3), "ok ");
}

TEST_F(ControlTest, QuitAnswersThenEndsTheServer) {
    CreatePrinter("");
    EXPECT_EQ(control_.Command("quit"), "ok");
    int status = -1;
    ASSERT_TRUE(server_.Wait(5000, &status)) << "still running after quit";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_FALSE(ConnectTcp(printer_address_, 9100).Valid()) << "its printers are gone";
}

/* A network namespace of the test's own, with one address on its
 * loopback that this host does not have. */
class TestNetns {
public:
    explicit TestNetns(const std::string& name) : name_(name) {}
    ~TestNetns() {
        if (made_)
            Run("ip netns delete " + name_);
    }
    bool Make(const std::string& address) {
        made_ = Run("ip netns add " + name_);
        return made_ && Run("ip -n " + name_ + " link set lo up") &&
               Run("ip -n " + name_ + " addr add " + address + "/32 dev lo");
    }
    /* A TCP socket made inside the namespace. */
    TestFd Socket() {
        TestFd home(open("/proc/self/ns/net", O_RDONLY));
        TestFd there(open(("/run/netns/" + name_).c_str(), O_RDONLY));
        if (!home.Valid() || !there.Valid() || setns(there.Get(), CLONE_NEWNET) != 0)
            return TestFd();
        TestFd fd(socket(AF_INET, SOCK_STREAM, 0));
        if (setns(home.Get(), CLONE_NEWNET) != 0)
            abort();   /* the rest of the test would run in the wrong network */
        return fd;
    }

private:
    static bool Run(const std::string& command) {
        return system((command + " >/dev/null 2>&1").c_str()) == 0;
    }
    std::string name_;
    bool made_ = false;
};

TEST_F(ControlTest, NetnsPrinterListensInsideTheNamespace) {
    if (geteuid() != 0)
        GTEST_SKIP() << "network namespaces need root";
    const std::string inside = "198.18.200.1";
    TestNetns netns("orvsim-" + std::to_string(getpid()));
    if (!netns.Make(inside))
        GTEST_SKIP() << "ip netns is not available here";
    std::string name = "orvsim-" + std::to_string(getpid());
    EXPECT_EQ(control_.Command("create out " + inside).substr(0, 10), "error bind") << "the host lacks " << inside;
    ASSERT_EQ(control_.Command("create in " + inside + " netns=" + name), "ok");
    EXPECT_EQ(control_.Command("create bad " + inside + " netns=no-such-ns").substr(0, 12), "error netns ");

    TestFd client = netns.Socket();
    ASSERT_TRUE(client.Valid());
    sockaddr_in target = {};
    target.sin_family = AF_INET;
    target.sin_port = htons(9100);
    inet_pton(AF_INET, inside.c_str(), &target.sin_addr);
    ASSERT_EQ(connect(client.Get(), reinterpret_cast<sockaddr*>(&target), sizeof target), 0) << strerror(errno);
    ASSERT_TRUE(SendAll(client.Get(), "in the namespace"));
    std::string answer = control_.Command("wait in received>=16 3000");
    EXPECT_EQ(FieldOf(answer, "local"), inside + ":9100") << answer;
    EXPECT_EQ(control_.Command("destroy in"), "ok");
}

}  // namespace
