// The status window's decisions that do not need a window: the tray icon
// of each status class, the caption flashing over a run of ticks, and
// which stored positions leave enough of the window on the work area.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "placement.h"
#include "tray.h"
#include "window.h"

using namespace orv;

namespace {

TEST(TrayIcon, FollowsTheStatusClass) {
    struct Case {
        int code;
        int icon;
    };
    const Case cases[] = {
        {0, 199},   {2, 199},   {100, 211}, {150, 211}, {1, 213},   {299, 213}, {300, 212},
        {305, 212}, {310, 212}, {311, 213}, {402, 213}, {1500, 213}, {700, 226}, {701, 213},
        {702, 226}, {705, 226}, {706, 213}, {707, 226}, {715, 226}, {716, 213}, {-5, 213},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TrayIconFor(c.code), c.icon) << c.code;
}

/* One tick of the flashing: the state after the update and the action. */
struct Tick {
    bool enabled;
    int current, previous;
    bool foreground;
    FlashAction action;
};

std::vector<FlashAction> Flash(const std::vector<Tick>& ticks) {
    uint8_t state = kFlashIdle;
    std::vector<FlashAction> actions;
    for (const Tick& tick : ticks) {
        state = NextFlashState(state, tick.enabled, tick.current, tick.previous);
        actions.push_back(FlashActionFor(state, tick.foreground, &state));
    }
    return actions;
}

std::vector<FlashAction> Expected(const std::vector<Tick>& ticks) {
    std::vector<FlashAction> actions;
    for (const Tick& tick : ticks)
        actions.push_back(tick.action);
    return actions;
}

constexpr FlashAction kNone = FlashAction::kNone;
constexpr FlashAction kFlash = FlashAction::kFlashCaption;
constexpr FlashAction kRestore = FlashAction::kRestoreCaption;

TEST(CaptionFlash, BlinksFromANewErrorUntilTheUserActivatesTheWindow) {
    const std::vector<Tick> ticks = {
        {true, 0, 0, false, kNone},       // ready
        {true, 302, 0, false, kFlash},    // paper out
        {true, 302, 302, false, kFlash},  // blinking at every tick
        {true, 302, 302, false, kFlash},
        {true, 302, 302, true, kRestore}, // the user activated the window
        {true, 302, 302, false, kNone},   // the same error blinks no more
        {true, 402, 302, true, kRestore}, // a new error while in front: no blink
    };
    EXPECT_EQ(Flash(ticks), Expected(ticks));
}

TEST(CaptionFlash, StopsWhenTheErrorClearsOrFlashingIsSwitchedOff) {
    const std::vector<Tick> cleared = {
        {true, 302, 0, false, kFlash},
        {true, 0, 302, false, kRestore},  // ready again
        {true, 0, 0, false, kNone},
    };
    EXPECT_EQ(Flash(cleared), Expected(cleared));
    const std::vector<Tick> switched_off = {
        {true, 700, 0, false, kFlash},
        {false, 700, 700, false, kRestore},  // TSK_MODE no longer "1"
        {false, 702, 700, false, kNone},     // a new error, but flashing is off
        {true, 150, 702, false, kNone},      // back below 300: nothing to restore
    };
    EXPECT_EQ(Flash(switched_off), Expected(switched_off));
}

TEST(CaptionFlash, NeverFlashesWithoutTaskMode) {
    const std::vector<Tick> ticks = {
        {false, 302, 0, false, kNone},
        {false, 402, 302, false, kNone},
        {false, 0, 402, false, kNone},
    };
    EXPECT_EQ(Flash(ticks), Expected(ticks));
}

TEST(Placement, AStoredPositionMustLeaveMoreThanTenPixelsOnTheWorkArea) {
    const RECT work = {0, 0, 800, 570};
    const int width = 330, height = 210;
    struct Case {
        LONG left, top;
        bool usable;
    };
    const Case cases[] = {
        {100, 100, true},  {789, 100, true},  {790, 100, false}, {-319, 100, true}, {-320, 100, false},
        {100, 559, true},  {100, 560, false}, {100, -199, true}, {100, -200, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsUsablePosition(work, width, height, c.left, c.top), c.usable) << c.left << "," << c.top;
}

TEST(Placement, CentresAndKeepsTheCornerInsideANarrowWorkArea) {
    const RECT work = {10, 20, 811, 621};
    POINT centre = CentredOrigin(work, 330, 210, true);
    EXPECT_EQ(centre.x, (10 + 811 - 330) / 2);
    EXPECT_EQ(centre.y, (20 + 621 - 210) / 2);
    const RECT narrow = {10, 20, 210, 120};
    POINT inside = CentredOrigin(narrow, 330, 210, true);
    EXPECT_EQ(inside.x, 10);
    EXPECT_EQ(inside.y, 20);
    POINT plain = CentredOrigin(narrow, 330, 210, false);
    EXPECT_EQ(plain.x, (10 + 210 - 330) / 2);  // truncated toward zero
    EXPECT_EQ(plain.y, (20 + 120 - 210) / 2);
}

}  // namespace
