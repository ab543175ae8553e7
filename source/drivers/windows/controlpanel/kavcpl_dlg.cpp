#include "controlpanel/kavcpl_dlg.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "controlpanel/resource.h"
#include "controlpanel/screen_record.h"
#include "shared/windows_version.h"

namespace kav::cpl {
namespace {

constexpr unsigned kVkEscape = 0x1B;

constexpr ControlText kControlTexts[] = {
    {IDC_MAPPING, "2"},
    {IDC_CALIBRATE, "3"},
    {IDC_REGION_CALIBRATE, "4"},
    {IDC_RESET, "5"},
    {IDC_SETTINGS, "6"},
    {IDC_ABOUT, "7"},
    {IDC_HELP_MANUAL, "8"},
    {IDC_EXIT, "9"},
    {IDC_LIST_GROUP, "10"},
    {IDC_INTRO_TEXT, "11"},
    {IDC_CALIBRATE_AFTER, "12"},
    {IDC_CALIBRATE_NEW_SCREEN, "13"},
    {IDC_CALIBRATE_INACCURATE, "14"},
    {IDC_RESET_AFTER, "15"},
    {IDC_RESET_DEFAULTS, "16"},
    {IDC_MAPPING_AFTER, "17"},
    {IDC_MAPPING_SEVERAL, "18"},
};

std::string RowText(int touchScreenNumber, int monitorNumber) {
    char text[64];
    std::snprintf(text, sizeof text, "TouchScreen No.%d\n   Monitor      No.%d", touchScreenNumber, monitorNumber);
    return text;
}

DEVICE_CONFIG PresetRecord() {
    DEVICE_CONFIG record{};
    record.RegionByte = 0;
    TouchScreenNo(record) = kUnsetNumber;
    MonitorNo(record) = kUnsetNumber;
    return record;
}

}  // namespace

CKavCplDlg::CKavCplDlg(MainView& view, TouchScreens& screens, SystemServices& system)
    : view_(view), screens_(screens), system_(system), access_(screens), layout_(std::make_shared<DisplayLayout>()) {}

bool CKavCplDlg::SwallowsKey(unsigned virtualKey) {
    return virtualKey == kVkEscape;
}

void CKavCplDlg::OnInitDialog() {
    EnumerateMonitors(*layout_, system_);
    count_ = screens_.GetTouchScreenCount();
    if (count_ < 1) {
        ShowMessage(keys::kNoTouchScreen, keys::kErrorCaption, MessageIcon::kError);
        view_.EndDialog(false);
        return;
    }
    selected_ = 0;
    versionTestPassed_ = PassesVersionTest(system_.GetVersion());
    if (versionTestPassed_) view_.EnableControl(IDC_MAPPING, false);
    if (!ReadDeviceConfigs()) return;
    view_.AttachScreenImages();
    RefreshTouchScreenList();
    view_.SetListRedraw(true);
    SetTexts();
    // Region calibration is offered but not available.
    view_.EnableControl(IDC_REGION_CALIBRATE, false);
    MainView& view = view_;
    notificationRegistered_ = screens_.RegisterDeviceNotifyCallback(
        [&view](std::uint32_t event, std::uint32_t parameter) { view.PostDeviceChanged(event, parameter); });
}

bool CKavCplDlg::ReadDeviceConfigs() {
    count_ = screens_.GetTouchScreenCount();
    const auto screens = static_cast<std::size_t>(std::clamp(count_, 0, kMaxMappings));
    records_.assign(screens, PresetRecord());
    validity_.assign(screens, 0);
    for (std::size_t i = 0; i < screens; ++i) {
        DEVICE_CONFIG& record = records_[i];
        const bool read = access_.WithScreen(static_cast<int>(i), [this, &record](ScreenHandle screen) {
            return screens_.GetDeviceConfig(screen, record);
        });
        validity_[i] = read ? 1 : 0;
        if (TouchScreenNo(record) == kUnsetNumber) TouchScreenNo(record) = 0;
        if (MonitorNo(record) == kUnsetNumber) MonitorNo(record) = 0;
        if (!read && count_ == 1) {
            ShowMessage(keys::kConfigUnreadable, keys::kErrorCaption, MessageIcon::kError);
            view_.EndDialog(false);
            return false;
        }
        layout_->mappings[i].touchScreenNo = TouchScreenNo(record);
        layout_->mappings[i].monitorNo = MonitorNo(record);
    }
    return true;
}

void CKavCplDlg::RefreshTouchScreenList() {
    view_.DeleteAllRows();
    count_ = screens_.GetTouchScreenCount();
    const int rows = std::min(count_, static_cast<int>(records_.size()));
    for (int row = 0; row < rows; ++row) {
        const DEVICE_CONFIG& record = records_[static_cast<std::size_t>(row)];
        if (validity_[static_cast<std::size_t>(row)] != 0) {
            view_.InsertRow(row, RowText(TouchScreenNo(record) + 1, MonitorNo(record) + 1),
                            IsCalibrated(record) ? ScreenImage::kCalibrated : ScreenImage::kUncalibrated);
        } else {
            view_.InsertRow(row, RowText(1, 1), ScreenImage::kUncalibrated);
        }
        view_.SelectRow(0);
        view_.EnableControl(IDC_RESET, IsCalibrated(records_.front()));
    }
    view_.EnableWindow(true);
    view_.PostSetCursor();
}

void CKavCplDlg::OnRowChanged(int row) {
    selected_ = row;
    const bool known = row >= 0 && static_cast<std::size_t>(row) < records_.size();
    view_.EnableControl(IDC_RESET, known && IsCalibrated(records_[static_cast<std::size_t>(row)]));
    view_.EnableWindow(true);
}

void CKavCplDlg::SetTexts() {
    SetDialogTexts(view_, system_, keys::kMainCaption, kControlTexts);
}

void CKavCplDlg::Calibrate(CalibrationMode mode) {
    {
        const OpenScreen screen(screens_, access_.OpenTouchScreenByIndex(selected_));
        // The session reports nothing the list would not show after the re-read.
        if (screen) screens_.CalibraterStart(screen.get(), mode);
    }
    if (ReadDeviceConfigs()) RefreshTouchScreenList();
}

void CKavCplDlg::OnCalibrate() {
    Calibrate(CalibrationMode::kFullScreen);
}

void CKavCplDlg::OnRegionCalibrate() {
    Calibrate(CalibrationMode::kRegion);
}

bool CKavCplDlg::ReportNoScreen() {
    count_ = screens_.GetTouchScreenCount();
    if (count_ >= 1) return false;
    ShowMessage(keys::kNoTouchScreen, keys::kErrorCaption, MessageIcon::kError);
    view_.EndWaitCursor();
    view_.EnableWindow(true);
    return true;
}

// Only a record that was read from the screen is written back: writing the preset of an
// unreadable screen would replace the controller's record with zeros.
bool CKavCplDlg::WriteResetRecord() {
    const auto index = static_cast<std::size_t>(selected_);
    if (selected_ < 0 || index >= records_.size()) return false;
    DEVICE_CONFIG& record = records_[index];
    record.RegionByte = 0;
    if (validity_[index] == 0) return false;
    return access_.WithScreen(
        selected_, [this, &record](ScreenHandle screen) { return screens_.SetDeviceConfig(screen, record); });
}

void CKavCplDlg::OnReset() {
    view_.EnableWindow(false);
    view_.BeginWaitCursor();
    if (ReportNoScreen()) return;
    if (!WriteResetRecord()) ShowMessage(keys::kWriteFailed, keys::kErrorCaption, MessageIcon::kError);
    // The cache already says what was written; the device is not read again.
    RefreshTouchScreenList();
    view_.EndWaitCursor();
    view_.EnableWindow(true);
}

void CKavCplDlg::OnSettings() {
    view_.EnableWindow(false);
    view_.BeginWaitCursor();
    if (ReportNoScreen()) return;
    view_.RunSettingsDialog(selected_);
    view_.EnableWindow(true);
}

void CKavCplDlg::OnAbout() {
    view_.BeginWaitCursor();
    if (ReportNoScreen()) return;
    view_.RunAboutDialog(selected_);
}

void CKavCplDlg::OnMapping() {
    view_.EnableWindow(false);
    view_.BeginWaitCursor();
    if (ReportNoScreen()) return;
    if (mappingOpen_) {
        view_.DestroyMappingDialog();
        mappingOpen_ = false;
    }
    // The dialog indexes its copies by screen up to the count it is given.
    const auto screens = static_cast<std::size_t>(std::min(count_, kMaxMappings));
    MappingInput input{static_cast<int>(screens), records_, validity_};
    input.records.resize(screens, PresetRecord());
    input.validity.resize(screens, 0);
    if (!view_.CreateMappingDialog(input)) {
        view_.EndWaitCursor();
        view_.EnableWindow(true);
        return;
    }
    mappingOpen_ = true;
    EnumerateMonitors(*layout_, system_);
    view_.ShowMappingDialog();
    view_.EnableControl(IDC_MAPPING, false);
    view_.EndWaitCursor();
}

void CKavCplDlg::OnHelp() {
    view_.BeginWaitCursor();
    const int result = system_.ShellOpen(system_.ProgramDirectory() + "\\UserManual.pdf");
    if (result == kShellFileNotFound) {
        ShowMessage(keys::kManualNotFound, keys::kManualCaption, MessageIcon::kInformation);
    } else if (result == kShellNoAssociation) {
        ShowMessage(keys::kNoProgramForManual, keys::kManualCaption, MessageIcon::kInformation);
    }
    view_.EndWaitCursor();
}

void CKavCplDlg::OnExit() {
    view_.BeginWaitCursor();
    view_.EndDialog(true);
    view_.EndWaitCursor();
}

void CKavCplDlg::OnClose() {
    OnExit();
}

void CKavCplDlg::OnDeviceChanged(std::uint32_t, std::uint32_t) {
    if (screens_.GetTouchScreenCount() < 1) view_.PostClose();
    if (mappingOpen_) view_.PostCloseMappingDialog();
}

void CKavCplDlg::OnMappingClosed(int result) {
    const auto mapping = static_cast<MappingResult>(result);
    if (mapping == MappingResult::kOk || mapping == MappingResult::kApply) {
        if (!ReadDeviceConfigs()) return;
        RefreshTouchScreenList();
        if (mapping == MappingResult::kApply) {
            // The dialog stays open, and the window stays disabled with it.
            view_.EnableWindow(false);
            return;
        }
    }
    view_.EnableWindow(true);
    if (mappingOpen_) {
        view_.DestroyMappingDialog();
        mappingOpen_ = false;
    }
    if (!versionTestPassed_) view_.EnableControl(IDC_MAPPING, true);
}

void CKavCplDlg::OnDestroy() {
    if (notificationRegistered_) screens_.UnRegisterDeviceNotifyCallback();
    notificationRegistered_ = false;
    if (mappingOpen_) view_.DestroyMappingDialog();
    mappingOpen_ = false;
    records_.clear();
    validity_.clear();
}

void CKavCplDlg::ShowMessage(std::string_view textKey, std::string_view captionKey, MessageIcon icon) {
    view_.ShowMessage(GetLanguageText(system_, textKey), GetLanguageText(system_, captionKey), icon);
}

bool PassesVersionTest(const std::optional<OsVersion>& version) {
    return version && IsWindows7OrLater(version->major, version->minor);
}

}  // namespace kav::cpl
