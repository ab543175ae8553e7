// Calibration through KavCalib.dll.
#include "controlpanel/kavlib_touch_screens.h"

extern "C" {
// KavCalib's entry (ordinal 1): one whole session on the caller's handle, which it never
// closes; 1 when a calibration was stored. The validator may reject points; none is given.
typedef unsigned char (*NERIO_CALIBRATER_VALIDATOR)(int regionMode, int regionIndex, int pointCount, int targetIndex,
                                                    int targetX, int targetY, int rawX, int rawY);
unsigned char NERIO_Calibrater_Start(void* device, int regionMode, NERIO_CALIBRATER_VALIDATOR validator);
}

namespace kav::cpl {

bool KavLibTouchScreens::CalibraterStart(ScreenHandle screen, CalibrationMode mode) {
    return NERIO_Calibrater_Start(screen, static_cast<int>(mode), nullptr) != 0;
}

}  // namespace kav::cpl
