// The main window on two made-up touch screens, the first calibrated: for screenshots and
// for trying the window by hand before a simulated screen service is at hand.
#include <windows.h>

#include <commctrl.h>

#include <vector>

#include "controlpanel/screen_record.h"
#include "controlpanel/win32/main_dialog.h"
#include "controlpanel/win32/win32_system.h"

namespace {

using kav::cpl::ScreenHandle;

class PreviewScreens : public kav::cpl::TouchScreens {
public:
    PreviewScreens() {
        records_.resize(2);
        kav::cpl::TouchScreenNo(records_[1]) = 1;
        kav::cpl::MonitorNo(records_[1]) = 1;
        records_[0].RegionByte = 1;
    }
    int GetTouchScreenCount() override { return static_cast<int>(records_.size()); }
    std::vector<ScreenHandle> GetTouchScreenInformation() override {
        std::vector<ScreenHandle> handles;
        for (std::size_t i = 0; i < records_.size(); ++i) handles.push_back(reinterpret_cast<ScreenHandle>(i + 1));
        return handles;
    }
    void Close(ScreenHandle) override {}
    bool GetDeviceConfig(ScreenHandle screen, kav::DEVICE_CONFIG& record) override {
        record = records_[Index(screen)];
        return true;
    }
    bool SetDeviceConfig(ScreenHandle screen, const kav::DEVICE_CONFIG& record) override {
        records_[Index(screen)] = record;
        return true;
    }
    bool GetDriverConfig(ScreenHandle, _NERIO_DRIVER_CONFIG&) override { return false; }
    bool SetDriverConfig(ScreenHandle, const _NERIO_DRIVER_CONFIG&) override { return false; }
    std::optional<std::string> GetFirmwareVersion(ScreenHandle) override { return std::nullopt; }
    std::optional<std::string> GetProductSerialNumber(ScreenHandle) override { return std::nullopt; }
    std::optional<std::uint16_t> GetUsbCableVersion(ScreenHandle) override { return std::nullopt; }
    bool RegisterDeviceNotifyCallback(kav::cpl::DeviceNotifyCallback) override { return true; }
    bool UnRegisterDeviceNotifyCallback() override { return true; }
    bool CalibraterStart(ScreenHandle screen, kav::cpl::CalibrationMode) override {
        records_[Index(screen)].RegionByte = 1;
        return true;
    }

private:
    static std::size_t Index(ScreenHandle screen) { return reinterpret_cast<std::size_t>(screen) - 1; }
    std::vector<kav::DEVICE_CONFIG> records_;
};

}  // namespace

int WINAPI WinMain(HINSTANCE module, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    kav::cpl::win32::Win32SystemServices system;
    PreviewScreens screens;
    kav::cpl::win32::MainDialog dialog(module, screens, system);
    dialog.Run();
    return 0;
}
