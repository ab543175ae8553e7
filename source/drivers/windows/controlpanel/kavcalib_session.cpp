// Calibration through KavCalib.dll.
#include <KavCalib.h>

#include "controlpanel/kavlib_touch_screens.h"

namespace kav::cpl {

// The session borrows the handle and never closes it; no validator, so every steady point
// counts.
bool KavLibTouchScreens::CalibraterStart(ScreenHandle screen, CalibrationMode mode) {
    return NERIO_Calibrater_Start(screen, static_cast<int>(mode), nullptr) != 0;
}

}  // namespace kav::cpl
