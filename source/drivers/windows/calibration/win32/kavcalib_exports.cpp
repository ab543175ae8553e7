// KavCalib.dll's exports: shells over the Calibrater, which holds the behaviour. No C++
// exception crosses them.
#include <windows.h>

#include "calibration/calibration_session.h"
#include "calibration/include/KavCalib.h"
#include "calibration/kavlib_calibration_device.h"
#include "calibration/win32/calibration_window.h"
#include "calibration/win32/win32_calib_files.h"

namespace kav::calib::win32 {
namespace {

// This DLL, which holds the dialog template.
HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

PointValidator ToValidator(NERIO_CALIBRATER_VALIDATOR validator) {
    if (validator == nullptr) return {};
    return [validator](const PointCandidate& point) {
        return validator(static_cast<int>(point.mode), point.regionIndex, point.pointCount, point.targetIndex,
                         point.target.x, point.target.y, point.rawX, point.rawY) != 0;
    };
}

// The process's one session, built at the first call rather than while the DLL loads.
Calibrater& TheCalibrater() {
    static KavLibCalibrationDevice device;
    static Win32CalibFiles files;
    static Win32WindowHost host(ThisModule(), files);
    static Calibrater calibrater(device, host);
    return calibrater;
}

}  // namespace
}  // namespace kav::calib::win32

extern "C" unsigned char NERIO_Calibrater_Start(void* device, int regionMode, NERIO_CALIBRATER_VALIDATOR validator) {
    try {
        using namespace kav::calib::win32;
        return TheCalibrater().Start(device, regionMode, ToValidator(validator)) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

extern "C" unsigned char NERIO_Calibrater_Stop() {
    try {
        kav::calib::win32::TheCalibrater().Stop();
    } catch (...) {
        // Nothing was running that could be stopped.
    }
    return 1;
}
