// TouchScreens over KavLib's and KavCalib's exports: what KavCpl.exe runs on.
#pragma once

#include "controlpanel/touch_screens.h"

namespace kav::cpl {

class KavLibTouchScreens : public TouchScreens {
public:
    ~KavLibTouchScreens() override;

    int GetTouchScreenCount() override;
    std::vector<ScreenHandle> GetTouchScreenInformation() override;
    void Close(ScreenHandle screen) override;
    bool GetDeviceConfig(ScreenHandle screen, DEVICE_CONFIG& record) override;
    bool SetDeviceConfig(ScreenHandle screen, const DEVICE_CONFIG& record) override;
    bool GetDriverConfig(ScreenHandle screen, _NERIO_DRIVER_CONFIG& config) override;
    bool SetDriverConfig(ScreenHandle screen, const _NERIO_DRIVER_CONFIG& config) override;
    std::optional<std::string> GetFirmwareVersion(ScreenHandle screen) override;
    std::optional<std::string> GetProductSerialNumber(ScreenHandle screen) override;
    std::optional<std::uint16_t> GetUsbCableVersion(ScreenHandle screen) override;
    bool RegisterDeviceNotifyCallback(DeviceNotifyCallback callback) override;
    bool UnRegisterDeviceNotifyCallback() override;
    bool CalibraterStart(ScreenHandle screen, CalibrationMode mode) override;
};

}  // namespace kav::cpl
