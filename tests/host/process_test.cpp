/*
 * How printer-sim runs: standalone with event lines, as a daemon that
 * gives its starter's pipes back at once, and its help.
 */
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "sim_harness.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

/* Alive and not a zombie: a daemon is no child of ours, and whoever
 * inherits it may reap it late. */
bool Running(pid_t pid) {
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z';
}

/* Runs a shell command with its output in a pipe and reads the pipe to
 * its end: this returns only once every holder of the pipe closed it. */
std::string RunThroughPipe(const std::string& command, int* status, int64_t* elapsed_ms) {
    int64_t start = NowMs();
    std::string output;
    FILE* pipe = popen(("timeout 20 " + command + " 2>&1").c_str(), "r");
    char chunk[4096];
    size_t n;
    while (pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output.append(chunk, n);
    *status = pipe ? pclose(pipe) : -1;
    *elapsed_ms = NowMs() - start;
    return output;
}

TEST(ProcessTest, DaemonDetachesFromItsStartersPipeAndCleansUpOnQuit) {
    const std::string control = TestAddress(1);
    const std::string base = "/tmp/printer-sim-daemon-" + std::to_string(getpid());
    const std::string pidfile = base + ".pid", log = base + ".log";
    unlink(pidfile.c_str());
    int status = -1;
    int64_t elapsed = 0;
    std::string output = RunThroughPipe("bash -c '" + SimProgram() + " --serve " + control +
                                            ":19101 --daemon --pidfile " + pidfile + " --log " + log + "'",
                                        &status, &elapsed);
    EXPECT_EQ(status, 0) << output;
    EXPECT_LT(elapsed, 5000) << "the daemon kept the starter's pipe open";
    std::string pid_text = ReadFile(pidfile);
    ASSERT_FALSE(pid_text.empty()) << "no pidfile once the starter returned";
    pid_t pid = static_cast<pid_t>(atoi(pid_text.c_str()));
    ASSERT_GT(pid, 1);
    EXPECT_TRUE(Running(pid)) << "the daemon is not running";

    ControlClient client;
    ASSERT_TRUE(client.Connect(control, 19101, 2000)) << "the control port should listen already";
    EXPECT_EQ(client.Command("create p " + TestAddress(2)), "ok");
    EXPECT_EQ(client.Command("quit"), "ok");
    bool gone = false;
    for (int i = 0; i < 500 && !gone; ++i) {
        gone = !Running(pid);
        usleep(10000);
    }
    EXPECT_TRUE(gone) << "the daemon did not exit after quit";
    EXPECT_NE(access(pidfile.c_str(), F_OK), 0) << "the pidfile was left behind";
    std::string events = ReadFile(log);
    EXPECT_NE(events.find("control: listening on " + control + ":19101"), std::string::npos) << events;
    unlink(log.c_str());
    if (!gone)
        kill(pid, SIGKILL);
}

TEST(ProcessTest, DaemonReportsAControlPortInUseToItsStarter) {
    const std::string control = TestAddress(1);
    Child first;
    ASSERT_TRUE(first.Spawn({SimProgram(), "--serve", control + ":19101"}, -1));
    ControlClient client;
    ASSERT_TRUE(client.Connect(control, 19101, 5000));
    int status = 0;
    int64_t elapsed = 0;
    std::string output =
        RunThroughPipe(SimProgram() + " --serve " + control + ":19101 --daemon", &status, &elapsed);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_NE(output.find("Address already in use"), std::string::npos) << output;
    EXPECT_EQ(client.Command("quit"), "ok");
    EXPECT_TRUE(first.Wait(5000));
}

TEST(ProcessTest, StandaloneReportsEventsAndEndsWithTheStatistics) {
    const std::string address = TestAddress(2);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    TestFd reader(out[0]);
    Child sim;
    ASSERT_TRUE(sim.Spawn({SimProgram(), address, "greeting=4f4b"}, out[1]));
    close(out[1]);
    {
        TestFd command;
        for (int i = 0; i < 200 && !command.Valid(); ++i) {
            command = ConnectTcp(address, 9200, 200);
            if (!command.Valid())
                usleep(10000);
        }
        ASSERT_TRUE(command.Valid()) << "standalone printer did not start";
        ASSERT_TRUE(SendAll(command.Get(), "SOFT_RESET     \n"));
        EXPECT_EQ(ReadAtLeast(command.Get(), 3, 3000), "OK\n");
        TestFd print = ConnectTcp(address, 9100);
        ASSERT_TRUE(SendAll(print.Get(), std::string(5000, 'p')));
        shutdown(print.Get(), SHUT_WR);
        int end = -1;
        EXPECT_EQ(ReadToEnd(print.Get(), 3000, &end), "OK");
        EXPECT_EQ(end, 0);
    }
    sim.Signal(SIGTERM);
    int end = -1;
    std::string events = ReadToEnd(reader.Get(), 5000, &end);
    int status = -1;
    ASSERT_TRUE(sim.Wait(5000, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    for (const char* line : {"print: connection from 127.0.0.1:", "print: greeting 2 bytes",
                             "print: received 5000 bytes (total 5000)", "print: client finished sending",
                             "print: connection closed, 5000 bytes", "command: SOFT_RESET",
                             "command: reply 3 bytes"}) {
        EXPECT_NE(events.find(std::string("\n") + line), std::string::npos) << line << "\n" << events;
    }
    EXPECT_NE(events.find("stats: print_connections=1 received=5000 digest=" +
                          Fnv1a64Hex(std::string(5000, 'p'))),
              std::string::npos)
        << events;
}

TEST(ProcessTest, HelpNamesEveryOptionAndControlCommand) {
    int status = -1;
    int64_t elapsed = 0;
    std::string help = RunThroughPipe(SimProgram() + " --help", &status, &elapsed);
    EXPECT_EQ(status, 0);
    for (const char* word :
         {"read=on|off", "rcvbuf=N", "dribble=N", "dribble_ms=M", "greeting=HEX", "chatter=off|always|after_eof",
          "chatter_bytes=N", "chatter_ms=M", "on_eof=close|keep", "tail=N", "tail_ms=M", "close_after=N",
          "reset_after=N",
          "accept=on|off", "print=on|off", "store=PATH", "device_id=TEXT", "status_reply=HEX", "reset_reply=HEX",
          "reply_pad=N", "reply_delay_ms=M", "command_silent=on|off", "command=on|off", "netns=NAME",
          "print_port=N", "command_port=N", "create ID ADDRESS", "set ID", "stats ID", "wait ID KEY>=NUMBER TIMEOUT_MS",
          "reset-stats ID", "destroy ID", "quit", "--daemon", "--pidfile", "--log"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
    }
}

TEST(ProcessTest, BadArgumentsExitWithUsage) {
    for (const char* args : {"", " printer.local", " 127.0.0.1 colour=red", " --serve 127.0.0.1"}) {
        int status = -1;
        int64_t elapsed = 0;
        std::string output = RunThroughPipe(SimProgram() + args, &status, &elapsed);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << args << ": " << status;
        EXPECT_NE(output.find("usage: printer-sim"), std::string::npos) << args << ": " << output;
    }
}

}  // namespace
