/*
 * The command port of a simulated printer: the 16-byte commands, their
 * replies and the command log.
 */
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "sim_harness.h"

namespace {

constexpr int kCommandPort = 9200;
const std::string kDeviceId = "GET_DEVICE_ID  \n";
const std::string kStatus = "GET_RQSENSEDT  \n";
const std::string kSoftReset = "SOFT_RESET     \n";
const std::string kQuit = "QUIT           \n";

class CommandPortTest : public SimTest {
protected:
    TestFd Connect() {
        TestFd fd = ConnectTcp(printer_address_, kCommandPort);
        EXPECT_TRUE(fd.Valid()) << "connect: " << strerror(errno);
        return fd;
    }
    /* Sends one command and reads the reply of the expected size. */
    std::string Ask(int fd, const std::string& command, size_t size) {
        EXPECT_TRUE(SendAll(fd, command));
        return ReadAtLeast(fd, size, 3000);
    }
};

TEST_F(CommandPortTest, EachCommandGetsItsDefaultReplyAndIsLogged) {
    CreatePrinter("");
    TestFd client = Connect();
    EXPECT_EQ(Ask(client.Get(), kDeviceId, 43), "MFG:ORV;CMD:ESC/P;MDL:orv2100N;CLS:PRINTER;");
    EXPECT_EQ(Ask(client.Get(), kStatus, 16), "STATUS:READY   \n");
    EXPECT_EQ(Ask(client.Get(), kSoftReset, 3), "OK\n");
    std::string answer = control_.Command("stats p");
    EXPECT_EQ(FieldOf(answer, "commands"), "GET_DEVICE_ID,GET_RQSENSEDT,SOFT_RESET") << answer;
    EXPECT_EQ(FieldOf(answer, "soft_resets"), "1");
    EXPECT_EQ(FieldOf(answer, "command_connections"), "1");
    EXPECT_EQ(FieldOf(answer, "print_connections"), "0");
}

TEST_F(CommandPortTest, RepliesAreTheConfiguredBytes) {
    CreatePrinter("device_id=MFG:TEST;MDL:x; status_reply=00ff0a reset_reply=414243");
    TestFd client = Connect();
    EXPECT_EQ(Ask(client.Get(), kDeviceId, 15), "MFG:TEST;MDL:x;");
    EXPECT_EQ(Ask(client.Get(), kStatus, 3), std::string("\x00\xff\n", 3));
    EXPECT_EQ(Ask(client.Get(), kSoftReset, 3), "ABC");
}

TEST_F(CommandPortTest, CommandSentByteByByteIsCollectedWhole) {
    CreatePrinter("");
    TestFd client = Connect();
    int on = 1;
    setsockopt(client.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    for (char c : kSoftReset) {
        ASSERT_TRUE(SendAll(client.Get(), std::string(1, c)));
        usleep(2000);
    }
    EXPECT_EQ(ReadAtLeast(client.Get(), 3, 3000), "OK\n");
    EXPECT_EQ(Stat("commands"), "SOFT_RESET");
}

TEST_F(CommandPortTest, UnknownBlockIsLoggedInHexAndNotAnswered) {
    CreatePrinter("");
    TestFd client = Connect();
    ASSERT_TRUE(SendAll(client.Get(), "HELLO PRINTER!!\n" + kStatus));
    /* Only the status reply comes back. */
    EXPECT_EQ(ReadAtLeast(client.Get(), 16, 3000), "STATUS:READY   \n");
    EXPECT_FALSE(WaitReadable(client.Get(), 100));
    EXPECT_EQ(Stat("commands"), "?48454c4c4f205052494e54455221210a,GET_RQSENSEDT");
}

TEST_F(CommandPortTest, ReplyPadSendsOneBlockOfThatSize) {
    CreatePrinter("reply_pad=300");
    TestFd client = Connect();
    ASSERT_TRUE(SendAll(client.Get(), kDeviceId));
    ASSERT_TRUE(WaitReadable(client.Get(), 3000));
    usleep(50000);
    char reply[1024];
    ssize_t n = recv(client.Get(), reply, sizeof reply, MSG_DONTWAIT);
    ASSERT_EQ(n, 300) << "one receive should see the whole padded reply";
    std::string text(reply, 300);
    EXPECT_EQ(text.substr(0, 43), "MFG:ORV;CMD:ESC/P;MDL:orv2100N;CLS:PRINTER;");
    EXPECT_EQ(text.substr(43), std::string(257, ' '));
}

TEST_F(CommandPortTest, QuitClosesTheConnectionAfterTheRepliesBeforeIt) {
    CreatePrinter("reply_delay_ms=100");
    TestFd client = Connect();
    ASSERT_TRUE(SendAll(client.Get(), kSoftReset + kQuit));
    int end = 1;
    EXPECT_EQ(ReadToEnd(client.Get(), 3000, &end), "OK\n");
    EXPECT_EQ(end, 0);
    std::string answer = control_.Command("stats p");
    EXPECT_EQ(FieldOf(answer, "commands"), "SOFT_RESET,QUIT") << answer;
}

TEST_F(CommandPortTest, SilentPrinterLogsCommandsButNeverReplies) {
    CreatePrinter("command_silent=1");
    TestFd client = Connect();
    ASSERT_TRUE(SendAll(client.Get(), kStatus + kSoftReset));
    EXPECT_FALSE(WaitReadable(client.Get(), 300));
    std::string answer = control_.Command("wait p commands>=2 2000");
    EXPECT_EQ(FieldOf(answer, "commands"), "GET_RQSENSEDT,SOFT_RESET") << answer;
    EXPECT_EQ(FieldOf(answer, "soft_resets"), "1");
}

TEST_F(CommandPortTest, ReplyDelayHoldsEachReply) {
    CreatePrinter("reply_delay_ms=300");
    TestFd client = Connect();
    int64_t start = NowMs();
    EXPECT_EQ(Ask(client.Get(), kStatus, 16), "STATUS:READY   \n");
    EXPECT_GE(NowMs() - start, 280);
}

TEST_F(CommandPortTest, CommandOffRefusesConnects) {
    CreatePrinter("command=off");
    TestFd refused = ConnectTcp(printer_address_, kCommandPort);
    EXPECT_FALSE(refused.Valid());
    EXPECT_EQ(errno, ECONNREFUSED);
    ASSERT_EQ(control_.Command("set p command=on"), "ok");
    TestFd client = Connect();
    EXPECT_EQ(Ask(client.Get(), kSoftReset, 3), "OK\n");
}

TEST_F(CommandPortTest, DeviceIdHexGivesAnyBytes) {
    CreatePrinter("device_id_hex=00204d46473a2058ff");
    TestFd client = Connect();
    EXPECT_EQ(Ask(client.Get(), kDeviceId, 9), std::string("\x00 MFG: X\xff", 9));
}

/* on_command=close|reset: the command is logged, no reply comes, and the
 * connection ends by FIN or by RST after the reply delay. */
TEST_F(CommandPortTest, OnCommandEndsTheConnectionInsteadOfReplying) {
    struct Case {
        const char* options;
        int end;  // what ReadToEnd reports: 0 end of stream, else the errno
    };
    const Case cases[] = {{"on_command=close", 0}, {"on_command=reset reply_delay_ms=200", ECONNRESET}};
    for (const Case& c : cases) {
        CreatePrinter(c.options);
        TestFd client = Connect();
        int64_t start = NowMs();
        ASSERT_TRUE(SendAll(client.Get(), kStatus));
        int end = -1;
        EXPECT_EQ(ReadToEnd(client.Get(), 3000, &end), "") << c.options;
        EXPECT_EQ(end, c.end) << c.options;
        if (c.end == ECONNRESET) {
            EXPECT_GE(NowMs() - start, 180) << "the reply delay applies";
        }
        EXPECT_EQ(Stat("commands"), "GET_RQSENSEDT") << c.options;
        ASSERT_EQ(control_.Command("destroy p"), "ok");
    }
}

}  // namespace
