// The Settings dialog: edits a copy of the driver configuration and writes the whole record
// back through the first touch screen on OK or Apply.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "controlpanel/cursor_hiding.h"
#include "controlpanel/main_view.h"
#include "controlpanel/screen_access.h"
#include "controlpanel/system_services.h"
#include "controlpanel/touch_screens.h"
#include "shared/driver_config.h"

namespace kav::cpl {

// What a trackbar is given before its position: range, page size, tick frequency, line size.
struct TrackbarScale {
    int minimum = 0;
    int maximum = 0;
    int page = 1;
    int tick = 1;
    int line = 1;

    friend bool operator==(const TrackbarScale&, const TrackbarScale&) = default;
};

// What the Settings presenter asks of its dialog. The Win32 view does each with the obvious
// calls and decides nothing.
class SettingsView {
public:
    virtual ~SettingsView() = default;

    virtual void SetCaption(const std::string& text) = 0;
    virtual void SetControlText(int controlId, const std::string& text) = 0;
    virtual void EnableControl(int controlId, bool enabled) = 0;
    // Check box or radio button.
    virtual void SetCheck(int controlId, bool checked) = 0;
    virtual void ConfigureTrackbar(int controlId, const TrackbarScale& scale) = 0;
    virtual void SetTrackbarPosition(int controlId, int position) = 0;

    // GetSystemMetrics(SM_CXSCREEN): the primary screen's width in pixels, 0 on failure.
    virtual int PrimaryScreenWidth() = 0;

    virtual void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
    // Ends the busy cursor the main window showed when it opened the dialog.
    virtual void EndOwnerWaitCursor() = 0;
    // Gives the keyboard focus to the dialog itself.
    virtual void FocusDialog() = 0;
    // Ends the modal dialog; `confirmed` as OK, otherwise as Cancel.
    virtual void EndDialog(bool confirmed) = 0;
    // Posts the registered message "BeepChanged" (0, 0) to HWND_BROADCAST.
    virtual void PostBeepChanged() = 0;
};

class CSettingsDlg {
public:
    CSettingsDlg(SettingsView& view, TouchScreens& screens, SystemServices& system, CursorSystem& cursors,
                 int screenIndex);
    CSettingsDlg(const CSettingsDlg&) = delete;
    CSettingsDlg& operator=(const CSettingsDlg&) = delete;

    // WM_INITDIALOG.
    void OnInitDialog();
    // BN_CLICKED of a check box or radio button, with its check state after the click.
    void OnClicked(int controlId, bool checked);
    // WM_HSCROLL from a trackbar, with its position.
    void OnTrackbarMoved(int controlId, int position);
    void OnOk();
    void OnApply();
    void OnCancel();

    // Enter reaches the dialog manager only on the three buttons, so that Enter in a
    // trackbar or check box does not close the dialog.
    static bool GivesEnterToDialog(int focusedControlId);

    bool IsUnchanged() const;
    const _NERIO_DRIVER_CONFIG& stored() const { return stored_; }
    const _NERIO_DRIVER_CONFIG& edited() const { return edited_; }
    int calibrationPoints() const { return calibrationPoints_; }
    bool checked(int controlId) const;
    bool enabled(int controlId) const;

private:
    bool ReadConfiguration();
    void ShowRecord();
    void ShowTrackbars();
    void SetTexts();
    void UpdateEnables();
    void UpdateApply();
    void PushRadioChoices();
    void SetCheck(int controlId, bool checked);
    void Enable(int controlId, bool enabled);
    void ApplySettings();
    void ShowMessage(std::string_view textKey, std::string_view captionKey);

    SettingsView& view_;
    TouchScreens& screens_;
    SystemServices& system_;
    CursorSystem& cursors_;
    ScreenAccess access_;
    int screenIndex_;

    _NERIO_DRIVER_CONFIG stored_{};
    _NERIO_DRIVER_CONFIG edited_{};
    int clickModeChoice_ = 0;
    int beepModeChoice_ = 0;
    int beepTypeChoice_ = 0;
    int calibrationPoints_ = 4;
    bool versionTestPassed_ = false;
    // The states this presenter gave the controls; what UpdateEnables reads back.
    std::map<int, bool> checks_;
    std::map<int, bool> enables_;
};

}  // namespace kav::cpl
