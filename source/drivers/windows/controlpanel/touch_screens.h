// The control panel's face of KavLib and KavCalib: the operations its windows use, in C++
// terms. The program implements it over the libraries' exports; tests over a fake.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "shared/device_records.h"
#include "shared/driver_config.h"

namespace kav::cpl {

// A handle KavLib opened; the caller closes it with TouchScreens::Close.
using ScreenHandle = void*;

// INVALID_HANDLE_VALUE.
inline const ScreenHandle kNoScreen = reinterpret_cast<ScreenHandle>(~std::uintptr_t{0});

// Device events as KavLib passes them: arrival 0x8000, completed removal 0x8004.
using DeviceNotifyCallback = std::function<void(std::uint32_t event, std::uint32_t parameter)>;

// Calibration modes of NERIO_Calibrater_Start.
enum class CalibrationMode : int { kFullScreen = 0, kRegion = 1 };

// Every call is synchronous and made on the user-interface thread. None throws.
class TouchScreens {
public:
    TouchScreens() = default;
    TouchScreens(const TouchScreens&) = delete;
    TouchScreens& operator=(const TouchScreens&) = delete;
    virtual ~TouchScreens() = default;

    // Nerio_GetTouchScreenCount: the number of attached touch screens, 0 when none.
    virtual int GetTouchScreenCount() = 0;

    // Nerio_GetTouchScreenInformation: one freshly opened handle per screen, in list order;
    // a slot whose open failed holds kNoScreen. Empty when no screen is listed. The caller
    // closes every handle other than kNoScreen.
    virtual std::vector<ScreenHandle> GetTouchScreenInformation() = 0;

    virtual void Close(ScreenHandle screen) = 0;

    // GetDeviceConfig: fills `record` on success; a failed read leaves it as it was.
    virtual bool GetDeviceConfig(ScreenHandle screen, DEVICE_CONFIG& record) = 0;
    virtual bool SetDeviceConfig(ScreenHandle screen, const DEVICE_CONFIG& record) = 0;

    // Nerio_GetDriverConfig / Nerio_SetDriverConfig; a failed read leaves `config` as it was.
    virtual bool GetDriverConfig(ScreenHandle screen, _NERIO_DRIVER_CONFIG& config) = 0;
    virtual bool SetDriverConfig(ScreenHandle screen, const _NERIO_DRIVER_CONFIG& config) = 0;

    // GetFirewareVersion, Nerio_GetProductSN_OEM and GetUSBCableVersion; nullopt on failure.
    virtual std::optional<std::string> GetFirmwareVersion(ScreenHandle screen) = 0;
    virtual std::optional<std::string> GetProductSerialNumber(ScreenHandle screen) = 0;
    virtual std::optional<std::uint16_t> GetUsbCableVersion(ScreenHandle screen) = 0;

    // Nerio_RegisterDeviceNotifyCallback: the callback runs on the registering thread while
    // it pumps messages. False when a callback is already registered.
    virtual bool RegisterDeviceNotifyCallback(DeviceNotifyCallback callback) = 0;
    virtual bool UnRegisterDeviceNotifyCallback() = 0;

    // KavCalib's NERIO_Calibrater_Start without a validator: runs a whole calibration
    // session on `screen` and returns when it ends; true when a calibration was stored.
    virtual bool CalibraterStart(ScreenHandle screen, CalibrationMode mode) = 0;
};

}  // namespace kav::cpl
