// The Mapping dialog: assigns each touch screen a touch screen number and a monitor number
// and writes changed assignments into the screens' device configuration records. The
// identification window shows a monitor's number across that monitor.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "controlpanel/display_layout.h"
#include "controlpanel/mapping_view.h"
#include "controlpanel/screen_access.h"
#include "controlpanel/system_services.h"
#include "controlpanel/touch_screens.h"

namespace kav::cpl {

class CMappingDlg {
public:
    // `input` is the main window's cache at the moment Mapping was pressed; `layout` is the
    // record the main window shares; `applicationName` captions the dialog's own message.
    CMappingDlg(MappingView& view, TouchScreens& screens, SystemServices& system, std::shared_ptr<DisplayLayout> layout,
                MappingInput input, std::string applicationName);
    CMappingDlg(const CMappingDlg&) = delete;
    CMappingDlg& operator=(const CMappingDlg&) = delete;

    // WM_INITDIALOG. False when the screens changed since Mapping was pressed: the dialog
    // has then shown its message and closed without reporting to the main window.
    bool OnInitDialog();
    // LVN_ITEMCHANGED from the list, whatever state changed.
    void OnRowChanged(int row);
    // CBN_SELCHANGE from 1179 or 1170.
    void OnNumberChosen(int listId);

    void OnOk();
    void OnApply();
    void OnCancel();
    // WM_CLOSE, also when the main window asks after a device change.
    void OnClose();
    void OnIdentify();

    // Enter presses no button here: the dialog manager never sees it.
    static bool GivesKeyToDialogManager(unsigned virtualKey);

    int selectedRow() const { return selected_; }
    const std::vector<DEVICE_CONFIG>& records() const { return records_; }

private:
    void FillList();
    void RecomputeChanged(int index);
    void ApplyMapping();
    bool WriteRecord(int index);
    void ShowNumbers(int row);
    // Selects `number` in the list, or when the list has no such position keeps the list's
    // selection and stores it into `number`.
    void ShowOrAdopt(int listId, std::int32_t& number);
    void FillNumberLists();
    void SetTexts();
    void UpdateApply();
    MappingEntry& Entry(int index);

    MappingView& view_;
    TouchScreens& screens_;
    SystemServices& system_;
    ScreenAccess access_;
    std::shared_ptr<DisplayLayout> layout_;
    int count_;
    std::vector<DEVICE_CONFIG> records_;
    std::vector<std::int32_t> validity_;
    std::string applicationName_;
    int selected_ = 0;
};

// The identification window: the number counts down once a second and the window goes
// on the third tick, or at once on Escape.
class CMonitorShowDlg {
public:
    static constexpr unsigned kTimerId = 1;
    static constexpr unsigned kIntervalMs = 1000;
    static constexpr int kCountdown = 2;

    CMonitorShowDlg(MonitorShowView& view, std::string text) : view_(view), text_(std::move(text)) {}

    void OnInitDialog();
    void OnTimer(unsigned id);
    void OnKeyDown(unsigned virtualKey);

    const std::string& text() const { return text_; }
    // Bold Arial whose height is half the client width.
    static int FontHeight(int clientWidth) { return clientWidth / 2; }

private:
    MonitorShowView& view_;
    std::string text_;
    int countdown_ = kCountdown;
};

}  // namespace kav::cpl
