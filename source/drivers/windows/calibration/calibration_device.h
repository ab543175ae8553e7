// The calibration session's face of KavLib: the operations a calibration makes on the
// caller's touch screen, in C++ terms. KavCalib.dll implements it over KavLib.h's exports;
// tests over a fake.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "shared/device_records.h"
#include "shared/driver_config.h"
#include "shared/hid_reports.h"

namespace kav::calib {

// The caller's handle, opened for overlapped I/O. The session borrows it and never closes it.
using DeviceHandle = void*;

// INVALID_HANDLE_VALUE.
inline const DeviceHandle kInvalidDevice = reinterpret_cast<DeviceHandle>(~std::uintptr_t{0});

// A null handle is as unusable as INVALID_HANDLE_VALUE, and KavLib refuses both.
inline bool IsUsableDevice(DeviceHandle device) {
    return device != kInvalidDevice && device != nullptr;
}

// The 22-byte touch report (byte 0 = 0x30), valid only during the call.
using TouchReport = std::span<const std::uint8_t, sizeof(TOUCH_REPORT)>;
using TouchReportCallback = std::function<void(TouchReport report)>;

// The fit's input: four parallel arrays of the same length, target then raw coordinates.
struct FitInput {
    std::span<const int> targetX;
    std::span<const int> targetY;
    std::span<const int> rawX;
    std::span<const int> rawY;
};

// Every call is synchronous. None throws. Getters write their output only on success.
// Device calls are made from one thread at a time (the window's, or the caller's between
// windows); only the touch callback runs elsewhere.
class CalibrationDevice {
public:
    CalibrationDevice() = default;
    CalibrationDevice(const CalibrationDevice&) = delete;
    CalibrationDevice& operator=(const CalibrationDevice&) = delete;
    virtual ~CalibrationDevice() = default;

    // GetCalibPara / SetCalibPara: both calibration records, X then Y.
    virtual bool GetCalibPara(DeviceHandle device, _DEVICE_CALIB_PARAS& recordX, _DEVICE_CALIB_PARAS& recordY) = 0;
    virtual bool SetCalibPara(DeviceHandle device, const _DEVICE_CALIB_PARAS& recordX,
                              const _DEVICE_CALIB_PARAS& recordY) = 0;

    // GetDeviceConfig / SetDeviceConfig.
    virtual bool GetDeviceConfig(DeviceHandle device, DEVICE_CONFIG& record) = 0;
    virtual bool SetDeviceConfig(DeviceHandle device, const DEVICE_CONFIG& record) = 0;

    // GetScreenProperty.
    virtual bool GetScreenProperty(DeviceHandle device, SCREEN_PROPERTY& record) = 0;

    // Nerio_GetDriverConfig / Nerio_SetDriverConfig.
    virtual bool GetDriverConfig(DeviceHandle device, _NERIO_DRIVER_CONFIG& config) = 0;
    virtual bool SetDriverConfig(DeviceHandle device, const _NERIO_DRIVER_CONFIG& config) = 0;

    // Nerio_GetWorkMode / Nerio_SetWorkMode.
    virtual bool GetWorkMode(DeviceHandle device, std::uint8_t& mode) = 0;
    virtual bool SetWorkMode(DeviceHandle device, std::uint8_t mode) = 0;

    // Nerio_RegisterTouchDataCallback: `callback` then runs on KavLib's listener thread for
    // every touch report until unregistered. False when one is already registered or the
    // handle is unusable.
    virtual bool RegisterTouchDataCallback(DeviceHandle device, TouchReportCallback callback) = 0;
    // Nerio_UnRegisterTouchDataCallback: once it returns no callback runs any more (it waits
    // for one in progress), so the session may free what the callback uses. False when none
    // was registered. Never called from inside the callback.
    virtual bool UnRegisterTouchDataCallback() = 0;

    // GetCalibrateData: both records zeroed, then filled with the fit (cubic form when
    // `cubic`, else one affine triple at bytes 0-11); left zero when the points cannot be
    // fitted. Pure computation.
    virtual void GetCalibrateData(const FitInput& points, bool cubic, _DEVICE_CALIB_PARAS& recordX,
                                  _DEVICE_CALIB_PARAS& recordY) = 0;
};

}  // namespace kav::calib
