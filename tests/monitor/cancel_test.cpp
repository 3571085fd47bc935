// The print-cancel request against a stand-in status window and the
// test's own registry: the request, the wait for the language monitor's
// answer (a blank document name), and the window going to the tray.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "cancel.h"
#include "program_rig.h"
#include "record.h"
#include "rig.h"

using namespace orv;

namespace {

class Cancel : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(rig_.ok()); }
    /* Runs the request on a thread of its own while this thread serves
     * the stand-in window, as the status window stands for the user:
     * a window that stopped answering for seconds would hold up other
     * programs' window changes meanwhile. Returns its wall time in ms. */
    DWORD Run() {
        DWORD start = GetTickCount();
        std::atomic<bool> done{false};
        std::thread request([&] {
            RequestCancel(rig_.window(), rig_.state());
            done = true;
        });
        WaitFor([&] { return done.load(); }, 100000);
        request.join();
        return GetTickCount() - start;
    }

    MonitorRig rig_{LocalModeSettings()};
};

TEST_F(Cancel, AsksTheLanguageMonitorWaitsForNoDocumentThenMinimises) {
    // "  " and " " mean no document.
    const struct {
        const char* document;
        DWORD cleared_after_ms;  // by the language monitor; 0: never
        DWORD at_least_ms, below_ms;
    } cases[] = {
        {"  ", 0, 0, 1000},
        {" ", 0, 0, 1000},
        {"report.txt", 400, 300, 5000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.document + "\"");
        ShowWindow(rig_.window(), SW_RESTORE);
        ASSERT_EQ(SetRecordString(kLmJobCancel, "RQ_NORMAL"), ERROR_SUCCESS);
        ASSERT_EQ(SetRecordString(kDocName, c.document), ERROR_SUCCESS);
        std::thread language_monitor([&] {
            if (c.cleared_after_ms == 0 ||
                !WaitFor([] { return RecordText(kLmJobCancel) == "RQ_CANCEL"; }, 5000))
                return;
            Sleep(c.cleared_after_ms);
            SetRecordString(kDocName, "  ");
        });
        DWORD took = Run();
        language_monitor.join();
        EXPECT_GE(took, c.at_least_ms);
        EXPECT_LT(took, c.below_ms);
        EXPECT_EQ(RecordText(kLmJobCancel), "RQ_CANCEL");
        EXPECT_TRUE(IsIconic(rig_.window()));
        EXPECT_FALSE(rig_.state().record_key.is_open());
    }
}

TEST_F(Cancel, AnUnansweredRequestEndsAfterTenSecondsByTheClockThenMinimises) {
    // Three blanks are a name: the language monitor never answers. With
    // pauses as long as Windows makes them, 1000 reads would take 16 s.
    ASSERT_EQ(SetRecordString(kDocName, "   "), ERROR_SUCCESS);
    WindowsLikeClock clock;
    Run();
    EXPECT_GE(clock.elapsed(), 10000u);
    EXPECT_LT(clock.elapsed(), 10000u + 16);
    EXPECT_EQ(clock.pauses(), std::vector<DWORD>(625, 10));
    EXPECT_EQ(RecordText(kLmJobCancel), "RQ_CANCEL");
    EXPECT_TRUE(IsIconic(rig_.window()));
}

TEST_F(Cancel, WithoutTheRecordNothingIsWrittenAndTheWindowStays) {
    ASSERT_EQ(DeleteRecordKey(), ERROR_SUCCESS);
    Run();
    EXPECT_EQ(DeleteRecordKey(), ERROR_FILE_NOT_FOUND);  // not made again
    EXPECT_FALSE(IsIconic(rig_.window()));
    // A record whose document name cannot be read ends the wait too.
    ASSERT_EQ(SetRecordString(kUsrName, "x"), ERROR_SUCCESS);  // key 1 without DOC_NAME
    Run();
    EXPECT_EQ(RecordText(kLmJobCancel), "RQ_CANCEL");
    EXPECT_FALSE(IsIconic(rig_.window()));
    EXPECT_FALSE(rig_.state().parent_key.is_open());
}

}  // namespace
