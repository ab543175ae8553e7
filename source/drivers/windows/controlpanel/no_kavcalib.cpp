// Builds without KavCalib (natively, or before the library is in the tree): no session
// runs, and the main window re-reads the screens as after a cancelled one.
#include "controlpanel/kavlib_touch_screens.h"

namespace kav::cpl {

bool KavLibTouchScreens::CalibraterStart(ScreenHandle, CalibrationMode) {
    return false;
}

}  // namespace kav::cpl
