#include "calibration/cursor_display.h"

#include <gtest/gtest.h>

namespace kav::calib {
namespace {

TEST(CursorDisplay, HidingAndShowingStepTheCounterAcrossZero) {
    const struct {
        int start;
        bool show;
        int end;
        int steps;
    } kCases[] = {
        {0, false, -1, 1}, {3, false, -1, 4}, {-1, false, -2, 1},  // hiding an already hidden one steps once
        {-1, true, 0, 1},  {-5, true, 0, 5},  {2, true, 3, 1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.start << (c.show ? " show" : " hide"));
        int counter = c.start;
        int steps = 0;
        const ShowCursorStep step = [&](bool show) {
            ++steps;
            return counter += show ? 1 : -1;
        };
        c.show ? RepeatShowCursor(step) : RepeatHideCursor(step);
        EXPECT_EQ(counter, c.end);
        EXPECT_EQ(steps, c.steps);
    }
}

TEST(CursorDisplay, ACounterThatNeverMovesDoesNotHang) {
    int steps = 0;
    RepeatHideCursor([&](bool) { return ++steps, 0; });
    EXPECT_EQ(steps, kMaxCursorSteps);
    steps = 0;
    RepeatShowCursor([&](bool) { return ++steps, -1; });
    EXPECT_EQ(steps, kMaxCursorSteps);
}

}  // namespace
}  // namespace kav::calib
