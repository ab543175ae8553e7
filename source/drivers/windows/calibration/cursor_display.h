// The mouse cursor during a calibration. The system keeps a display counter per thread;
// the cursor shows while it is at least zero, and one call moves it by one.
#pragma once

#include <functional>

namespace kav::calib {

// ShowCursor's shape: show or hide by one step, returns the new display counter.
using ShowCursorStep = std::function<int(bool show)>;

// Step until the counter is below zero (hidden) or at least zero (shown). Each steps at
// least once, since the counter can only be read by changing it. A counter that does not
// move (no cursor support) stops the loop after kMaxCursorSteps instead of hanging.
inline constexpr int kMaxCursorSteps = 1024;
void RepeatHideCursor(const ShowCursorStep& step);
void RepeatShowCursor(const ShowCursorStep& step);

}  // namespace kav::calib
