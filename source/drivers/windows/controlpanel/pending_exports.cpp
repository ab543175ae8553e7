// The device notification and the calibration session are not in the libraries yet: until
// they are, no notification is registered and no session runs.
#include "controlpanel/kavlib_touch_screens.h"

namespace kav::cpl {

bool KavLibTouchScreens::RegisterDeviceNotifyCallback(DeviceNotifyCallback) {
    return false;
}

bool KavLibTouchScreens::UnRegisterDeviceNotifyCallback() {
    return false;
}

bool KavLibTouchScreens::CalibraterStart(ScreenHandle, CalibrationMode) {
    return false;
}

}  // namespace kav::cpl
