#include "calibration/kavlib_calibration_device.h"

#include <KavLib.h>

#include <cstring>
#include <utility>

namespace kav::calib {
namespace {

static_assert(sizeof(DEVICE_CONFIG) == sizeof(KAVLIB_RECORD));
static_assert(sizeof(SCREEN_PROPERTY) == sizeof(KAVLIB_RECORD));

// Set before KavLib's listener starts and cleared after it has stopped (unregistering waits
// for the callback in progress), so the listener thread never sees it change.
TouchReportCallback touchCallback;

void TouchTrampoline(unsigned char* report) {
    if (report != nullptr && touchCallback) touchCallback(TouchReport(report, sizeof(TOUCH_REPORT)));
}

// A 58-byte read into `record`, which is written only when the read succeeds.
template <typename Record>
bool ReadRecord(unsigned char (*read)(KAVLIB_HANDLE, unsigned char*), DeviceHandle device, Record& record) {
    KAVLIB_RECORD buffer{};
    if (read(device, buffer.Data) == 0) return false;
    std::memcpy(&record, buffer.Data, sizeof buffer.Data);
    return true;
}

}  // namespace

bool KavLibCalibrationDevice::GetCalibPara(DeviceHandle device, _DEVICE_CALIB_PARAS& recordX,
                                           _DEVICE_CALIB_PARAS& recordY) {
    _DEVICE_CALIB_PARAS x{};
    _DEVICE_CALIB_PARAS y{};
    if (::GetCalibPara(device, x, y) == 0) return false;
    recordX = x;
    recordY = y;
    return true;
}

bool KavLibCalibrationDevice::SetCalibPara(DeviceHandle device, const _DEVICE_CALIB_PARAS& recordX,
                                           const _DEVICE_CALIB_PARAS& recordY) {
    return ::SetCalibPara(device, recordX, recordY) != 0;
}

bool KavLibCalibrationDevice::GetDeviceConfig(DeviceHandle device, DEVICE_CONFIG& record) {
    return ReadRecord(&::GetDeviceConfig, device, record);
}

bool KavLibCalibrationDevice::SetDeviceConfig(DeviceHandle device, const DEVICE_CONFIG& record) {
    KAVLIB_RECORD block{};
    std::memcpy(block.Data, &record, sizeof block.Data);
    return ::SetDeviceConfig(device, block) != 0;
}

bool KavLibCalibrationDevice::GetScreenProperty(DeviceHandle device, SCREEN_PROPERTY& record) {
    return ReadRecord(&::GetScreenProperty, device, record);
}

bool KavLibCalibrationDevice::GetDriverConfig(DeviceHandle device, _NERIO_DRIVER_CONFIG& config) {
    return Nerio_GetDriverConfig(device, config) != 0;
}

bool KavLibCalibrationDevice::SetDriverConfig(DeviceHandle device, const _NERIO_DRIVER_CONFIG& config) {
    return Nerio_SetDriverConfig(device, config) != 0;
}

bool KavLibCalibrationDevice::GetWorkMode(DeviceHandle device, std::uint8_t& mode) {
    unsigned char read = 0;
    if (Nerio_GetWorkMode(device, read) == 0) return false;
    mode = read;
    return true;
}

bool KavLibCalibrationDevice::SetWorkMode(DeviceHandle device, std::uint8_t mode) {
    return Nerio_SetWorkMode(device, mode) != 0;
}

bool KavLibCalibrationDevice::RegisterTouchDataCallback(DeviceHandle device, TouchReportCallback callback) {
    if (!callback || touchCallback) return false;
    touchCallback = std::move(callback);
    if (Nerio_RegisterTouchDataCallback(device, &TouchTrampoline) != 0) return true;
    touchCallback = nullptr;
    return false;
}

bool KavLibCalibrationDevice::UnRegisterTouchDataCallback() {
    const bool unregistered = Nerio_UnRegisterTouchDataCallback() != 0;
    if (unregistered) touchCallback = nullptr;
    return unregistered;
}

void KavLibCalibrationDevice::GetCalibrateData(const FitInput& points, bool cubic, _DEVICE_CALIB_PARAS& recordX,
                                               _DEVICE_CALIB_PARAS& recordY) {
    recordX = {};
    recordY = {};
    const std::size_t count = points.targetX.size();
    if (points.targetY.size() != count || points.rawX.size() != count || points.rawY.size() != count) return;
    ::GetCalibrateData(points.targetX.data(), points.targetY.data(), points.rawX.data(), points.rawY.data(),
                       static_cast<int>(count), recordX, recordY, cubic ? 1 : 0);
}

}  // namespace kav::calib
