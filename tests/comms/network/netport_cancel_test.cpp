// The network cancel: a soft reset through the printer's command port.
#include "internal.h"
#include "net_fixture.h"
#include "network/netport.h"

namespace {

using SendCancel = NetTest;

TEST_F(SendCancel, NullAddressFails) {
    EXPECT_EQ(api_.SendCancel(nullptr), 0);
}

TEST_F(SendCancel, SendsSoftResetThenQuitAndReturnsAboutTwoHundredMsAfterTheAnswer) {
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    Stopwatch watch;
    EXPECT_EQ(api_.SendCancel(printer.address().c_str()), 1);
    EXPECT_GE(watch.Seconds(), 0.17);  // the tick count under Wine moves in steps of up to ~15 ms
    EXPECT_LT(watch.Seconds(), 2.0);
    SimStats stats;
    ASSERT_TRUE(printer.WaitFor("command_ended", 1, 5000, &stats));
    EXPECT_EQ(stats.Str("commands"), "SOFT_RESET,QUIT");
    EXPECT_EQ(stats.Num("command_extra_bytes"), 0) << "more than the two 16-byte commands";
    EXPECT_EQ(stats.Num("command_connections"), 1);
    EXPECT_EQ(stats.Num("print_connections"), 0);
}

TEST_F(SendCancel, HostNamesAreNotResolved) {
    SimPrinter printer("127.0.0.1");
    ASSERT_SIM(printer);
    EXPECT_EQ(api_.SendCancel("localhost"), 0);
    EXPECT_EQ(printer.Stats().Num("command_connections"), 0);
}

TEST_F(SendCancel, RefusedConnectionFails) {
    SimPrinter printer(TestAddress(), "command=off");
    ASSERT_SIM(printer);
    EXPECT_EQ(api_.SendCancel(printer.address().c_str()), 0);
}

TEST_F(SendCancel, OverLongAddressTextIsRefused) {
    std::string address = "127.0.0.1" + std::string(70, ' ');
    EXPECT_EQ(api_.SendCancel(address.c_str()), 0);
}

TEST_F(SendCancel, SucceedsWhateverThePrinterAnswers) {
    SimPrinter printer(TestAddress(), "reset_reply=00ff00ff reply_pad=300");
    ASSERT_SIM(printer);
    EXPECT_EQ(api_.SendCancel(printer.address().c_str()), 1);
    EXPECT_TRUE(printer.WaitFor("soft_resets", 1, 5000));
}

TEST_F(SendCancel, APrinterThatNeverAnswersHoldsTheCallOnlyForTheTransferTimeOut) {
    Configure(1, 2);
    SimPrinter printer(TestAddress(), "command_silent=1");
    ASSERT_SIM(printer);
    Stopwatch watch;
    EXPECT_EQ(api_.SendCancel(printer.address().c_str()), 1);
    EXPECT_GE(watch.Seconds(), 1.9);
    EXPECT_LT(watch.Seconds(), 5.0);
    SimStats stats;
    ASSERT_TRUE(printer.WaitFor("soft_resets", 1, 5000, &stats));
}

TEST_F(SendCancel, LeavesTheLastTimeAndRetryOfTheOpensAlone) {
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    Configure(3, 5);
    orv::ReadTimeAndRetry();  // as an open reads them
    Configure(1, 1);
    EXPECT_EQ(orv::SendCancel(printer.address().c_str()), 1);
    EXPECT_EQ(orv::LastTimeAndRetry().wait_seconds, 3u);
    EXPECT_EQ(orv::LastTimeAndRetry().retry_count, 5u);
}

TEST_F(SendCancel, WorksWhileAPrintJobIsBeingWritten) {
    SimPrinter printer(TestAddress());
    ASSERT_SIM(printer);
    OvHandle port = api_.OpenPort(printer.address().c_str());
    ASSERT_NE(port, OV_INVALID_HANDLE);
    DWORD count;
    ASSERT_EQ(api_.WritePort(port, "job", 3, &count), 1);
    EXPECT_EQ(api_.SendCancel(printer.address().c_str()), 1);
    ASSERT_EQ(api_.WritePort(port, "more", 4, &count), 1);
    EXPECT_TRUE(printer.WaitFor("received", 7, 5000));
    EXPECT_EQ(api_.ClosePort(port), 1);
}

TEST_F(SendCancel, TheCommandGoesOutFromTheInterfaceOnThePrintersSubnet) {
    SKIP_WITHOUT_RIG();
    SimPrinter printer(kRigPrinterForCancel, std::string("netns=") + kRigNamespace);
    ASSERT_SIM(printer);
    EXPECT_EQ(api_.SendCancel(kRigPrinterForCancel), 1);
    EXPECT_TRUE(printer.WaitFor("soft_resets", 1, 5000));
}

}  // namespace
