// The status window's decisions that do not need a window: the tray icon
// of each status class, the caption flashing over a run of ticks, and
// which stored positions leave enough of the window on the work area.
#include <gtest/gtest.h>

#include <vector>

#include "placement.h"
#include "tray.h"
#include "window.h"

using namespace orv;

namespace {

TEST(TrayIcon, FollowsTheStatusClass) {
    const struct {
        int code;
        int icon;
    } cases[] = {
        {0, 199},   {2, 199},   {100, 211}, {150, 211}, {1, 213},   {299, 213}, {300, 212},
        {305, 212}, {310, 212}, {311, 213}, {402, 213}, {1500, 213}, {700, 226}, {701, 213},
        {702, 226}, {705, 226}, {706, 213}, {707, 226}, {715, 226}, {716, 213}, {-5, 213},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TrayIconFor(c.code), c.icon) << c.code;
}

constexpr FlashAction kNone = FlashAction::kNone;
constexpr FlashAction kFlash = FlashAction::kFlashCaption;
constexpr FlashAction kRestore = FlashAction::kRestoreCaption;

/* One tick of the flashing: TSK_MODE "1" or not, the codes after the
 * poll, whether the window is in front, and the action expected. */
struct Tick {
    bool enabled;
    int current, previous;
    bool foreground;
    FlashAction action;
};

TEST(CaptionFlash, BlinksFromANewErrorUntilActivatedClearedOrSwitchedOff) {
    const std::vector<std::vector<Tick>> runs = {
        {
            {true, 0, 0, false, kNone},        // ready
            {true, 302, 0, false, kFlash},     // paper out
            {true, 302, 302, false, kFlash},   // blinking at every tick
            {true, 302, 302, true, kRestore},  // the user activated the window
            {true, 302, 302, false, kNone},    // the same error blinks no more
            {true, 402, 302, true, kRestore},  // a new error while in front: no blink
        },
        {
            {true, 302, 0, false, kFlash},
            {true, 0, 302, false, kRestore},  // ready again
            {true, 0, 0, false, kNone},
        },
        {
            {true, 700, 0, false, kFlash},
            {false, 700, 700, false, kRestore},  // TSK_MODE no longer "1"
            {false, 702, 700, false, kNone},     // a new error, but flashing is off
            {true, 150, 702, false, kNone},      // back below 300: nothing to restore
        },
        {
            {false, 302, 0, false, kNone},  // never without TSK_MODE "1"
            {false, 402, 302, false, kNone},
            {false, 0, 402, false, kNone},
        },
    };
    for (size_t run = 0; run < runs.size(); ++run) {
        uint8_t state = kFlashIdle;
        for (size_t tick = 0; tick < runs[run].size(); ++tick) {
            const Tick& t = runs[run][tick];
            state = NextFlashState(state, t.enabled, t.current, t.previous);
            EXPECT_EQ(FlashActionFor(state, t.foreground, &state), t.action) << "run " << run << " tick " << tick;
        }
    }
}

TEST(Placement, UsesAStoredPositionWithMoreThanTenPixelsOnTheWorkAreaElseCentres) {
    const RECT work = {0, 0, 800, 570};
    const struct {
        LONG left, top;
        bool usable;
    } cases[] = {
        {100, 100, true},  {789, 100, true},  {790, 100, false}, {-319, 100, true}, {-320, 100, false},
        {100, 559, true},  {100, 560, false}, {100, -199, true}, {100, -200, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsUsablePosition(work, 330, 210, c.left, c.top), c.usable) << c.left << "," << c.top;

    POINT centre = CentredOrigin({10, 20, 811, 621}, 330, 210, true);
    EXPECT_EQ(centre.x, (10 + 811 - 330) / 2);
    EXPECT_EQ(centre.y, (20 + 621 - 210) / 2);
    // A work area smaller than the window: its corner, or with halves
    // truncated toward zero.
    const RECT narrow = {10, 20, 210, 120};
    POINT inside = CentredOrigin(narrow, 330, 210, true);
    EXPECT_EQ(inside.x, 10);
    EXPECT_EQ(inside.y, 20);
    POINT plain = CentredOrigin(narrow, 330, 210, false);
    EXPECT_EQ(plain.x, (10 + 210 - 330) / 2);
    EXPECT_EQ(plain.y, (20 + 120 - 210) / 2);
}

}  // namespace
