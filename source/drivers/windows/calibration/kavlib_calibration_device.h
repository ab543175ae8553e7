// The calibration session's device over KavLib's exports: KavLib.dll in KavCalib.dll, the
// library itself in native builds.
#pragma once

#include "calibration/calibration_device.h"

namespace kav::calib {

// KavLib keeps one touch data listener per process and calls it without a context, so the
// callback lives in one process-wide slot: only one of these registers at a time.
class KavLibCalibrationDevice final : public CalibrationDevice {
public:
    bool GetCalibPara(DeviceHandle device, _DEVICE_CALIB_PARAS& recordX, _DEVICE_CALIB_PARAS& recordY) override;
    bool SetCalibPara(DeviceHandle device, const _DEVICE_CALIB_PARAS& recordX,
                      const _DEVICE_CALIB_PARAS& recordY) override;
    bool GetDeviceConfig(DeviceHandle device, DEVICE_CONFIG& record) override;
    bool SetDeviceConfig(DeviceHandle device, const DEVICE_CONFIG& record) override;
    bool GetScreenProperty(DeviceHandle device, SCREEN_PROPERTY& record) override;
    bool GetDriverConfig(DeviceHandle device, _NERIO_DRIVER_CONFIG& config) override;
    bool SetDriverConfig(DeviceHandle device, const _NERIO_DRIVER_CONFIG& config) override;
    bool GetWorkMode(DeviceHandle device, std::uint8_t& mode) override;
    bool SetWorkMode(DeviceHandle device, std::uint8_t mode) override;
    bool RegisterTouchDataCallback(DeviceHandle device, TouchReportCallback callback) override;
    bool UnRegisterTouchDataCallback() override;
    void GetCalibrateData(const FitInput& points, bool cubic, _DEVICE_CALIB_PARAS& recordX,
                          _DEVICE_CALIB_PARAS& recordY) override;
};

}  // namespace kav::calib
