// The main window: the touch screen list and the buttons that act on the selected screen.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "controlpanel/display_layout.h"
#include "controlpanel/main_view.h"
#include "controlpanel/screen_access.h"
#include "controlpanel/system_services.h"
#include "controlpanel/touch_screens.h"

namespace kav::cpl {

// Private window messages of the main window.
inline constexpr unsigned kWmUser = 0x0400;
inline constexpr unsigned UM_DEVICECHANGED = kWmUser + 115;
inline constexpr unsigned UM_MAPPINGCLOSED = kWmUser + 116;

// wParam of UM_MAPPINGCLOSED.
enum class MappingResult : int { kOk = 0, kCancel = 1, kApply = 2 };

class CKavCplDlg {
public:
    CKavCplDlg(MainView& view, TouchScreens& screens, SystemServices& system);
    CKavCplDlg(const CKavCplDlg&) = delete;
    CKavCplDlg& operator=(const CKavCplDlg&) = delete;

    // WM_INITDIALOG, after the view has set the window icons.
    void OnInitDialog();
    // LVN_ITEMCHANGED from the list, whatever state changed.
    void OnRowChanged(int row);

    void OnCalibrate();
    void OnRegionCalibrate();
    void OnReset();
    void OnSettings();
    void OnAbout();
    void OnMapping();
    void OnHelp();
    void OnExit();
    // The close box.
    void OnClose();

    void OnDeviceChanged(std::uint32_t event, std::uint32_t parameter);
    void OnMappingClosed(int result);
    // WM_DESTROY.
    void OnDestroy();

    // Escape never reaches the dialog manager, so it cannot close the window.
    static bool SwallowsKey(unsigned virtualKey);

    int selectedIndex() const { return selected_; }
    const std::vector<DEVICE_CONFIG>& records() const { return records_; }
    const std::vector<std::int32_t>& validity() const { return validity_; }
    DisplayLayout& layout() { return *layout_; }
    std::shared_ptr<DisplayLayout> sharedLayout() { return layout_; }
    bool mappingOpen() const { return mappingOpen_; }

private:
    bool ReadDeviceConfigs();
    void RefreshTouchScreenList();
    void SetTexts();
    void Calibrate(CalibrationMode mode);
    bool WriteResetRecord();
    // Reads the count; with no screen shows message "91"/"121" and makes the window usable
    // again (the device notification closes it soon after). False when a screen is attached.
    bool ReportNoScreen();
    void ShowMessage(std::string_view textKey, std::string_view captionKey, MessageIcon icon);

    MainView& view_;
    TouchScreens& screens_;
    SystemServices& system_;
    ScreenAccess access_;

    int count_ = 0;
    std::vector<DEVICE_CONFIG> records_;
    std::vector<std::int32_t> validity_;
    int selected_ = 0;
    bool versionTestPassed_ = false;
    bool mappingOpen_ = false;
    bool notificationRegistered_ = false;
    std::shared_ptr<DisplayLayout> layout_;
};

}  // namespace kav::cpl
