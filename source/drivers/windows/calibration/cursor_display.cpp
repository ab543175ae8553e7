#include "calibration/cursor_display.h"

namespace kav::calib {

void RepeatHideCursor(const ShowCursorStep& step) {
    for (int i = 0; i < kMaxCursorSteps && step(false) >= 0; ++i) {
    }
}

void RepeatShowCursor(const ShowCursorStep& step) {
    for (int i = 0; i < kMaxCursorSteps && step(true) < 0; ++i) {
    }
}

}  // namespace kav::calib
