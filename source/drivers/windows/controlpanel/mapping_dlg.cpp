#include "controlpanel/mapping_dlg.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "controlpanel/resource.h"
#include "controlpanel/screen_record.h"

namespace kav::cpl {
namespace {

constexpr unsigned kVkReturn = 0x0D;
constexpr unsigned kVkEscape = 0x1B;
constexpr int kTouchScreenNumbers = 64;

constexpr std::string_view kCaptionKey = "71";
constexpr ControlText kControlTexts[] = {
    {IDC_MAPPING_LIST_GROUP, "72"}, {IDC_TOUCHSCREEN_NO_LABEL, "73"}, {IDC_MONITOR_NO_LABEL, "74"},
    {IDC_IDENTIFY, "75"},           {IDC_MAPPING_OK, "48"},           {IDC_MAPPING_CANCEL, "49"},
    {IDC_MAPPING_APPLY, "50"},
};

std::string RowText(int touchScreenNumber, int monitorNumber) {
    char text[64];
    std::snprintf(text, sizeof text, "TouchScreen No.%d\n     Monitor     No.%d", touchScreenNumber, monitorNumber);
    return text;
}

// Padded to two characters so that the sorted lists keep numeric order.
std::string ListNumber(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "%2d", number);
    return text;
}

// Only region byte 1 counts as calibrated here, unlike the main window's list.
ScreenImage MappingImage(const DEVICE_CONFIG& record) {
    return record.RegionByte == 1 ? ScreenImage::kCalibrated : ScreenImage::kUncalibrated;
}

}  // namespace

CMappingDlg::CMappingDlg(MappingView& view, TouchScreens& screens, SystemServices& system,
                         std::shared_ptr<DisplayLayout> layout, MappingInput input, std::string applicationName)
    : view_(view),
      screens_(screens),
      system_(system),
      access_(screens),
      layout_(std::move(layout)),
      count_(std::clamp(input.screenCount, 0, kMaxMappings)),
      records_(std::move(input.records)),
      validity_(std::move(input.validity)),
      applicationName_(std::move(applicationName)) {
    // The copies are indexed up to the count; a short copy counts as unread screens.
    records_.resize(static_cast<std::size_t>(count_));
    validity_.resize(static_cast<std::size_t>(count_), 0);
}

bool CMappingDlg::GivesKeyToDialogManager(unsigned virtualKey) {
    return virtualKey != kVkReturn;
}

MappingEntry& CMappingDlg::Entry(int index) {
    return layout_->mappings[static_cast<std::size_t>(index)];
}

bool CMappingDlg::OnInitDialog() {
    const int attached = screens_.GetTouchScreenCount();
    if (attached < 1 || attached != count_) {
        view_.ShowMessage(GetLanguageText(system_, keys::kNoTouchScreen), applicationName_, MessageIcon::kError);
        view_.Close();
        return false;
    }
    selected_ = 0;
    view_.AttachScreenImages();
    FillList();
    view_.SetListRedraw(true);
    FillNumberLists();
    // A number the lists do not hold (monitor 3 of 2) gives way to what the list shows, and
    // that counts as a change to apply.
    ShowOrAdopt(IDC_MONITOR_NO, Entry(0).monitorNo);
    ShowOrAdopt(IDC_TOUCHSCREEN_NO, Entry(0).touchScreenNo);
    RecomputeChanged(0);
    UpdateApply();
    SetTexts();
    return true;
}

void CMappingDlg::ShowOrAdopt(int listId, std::int32_t& number) {
    const int shown = view_.SelectedNumber(listId).value_or(0);
    if (view_.SelectNumber(listId, number)) return;
    // A failed selection clears the list's; put back what it showed.
    view_.SelectNumber(listId, shown);
    number = shown;
}

void CMappingDlg::FillNumberLists() {
    view_.ClearNumbers(IDC_TOUCHSCREEN_NO);
    for (int number = 1; number <= kTouchScreenNumbers; ++number) {
        view_.AddNumber(IDC_TOUCHSCREEN_NO, ListNumber(number));
    }
    view_.SelectNumber(IDC_TOUCHSCREEN_NO, selected_);

    DisplayLayout current;
    EnumerateMonitors(current, system_);
    view_.ClearNumbers(IDC_MONITOR_NO);
    for (int number = 1; number <= current.monitorCount; ++number) {
        view_.AddNumber(IDC_MONITOR_NO, ListNumber(number));
    }
    view_.SelectNumber(IDC_MONITOR_NO, 0);
}

void CMappingDlg::FillList() {
    view_.DeleteAllRows();
    for (int i = 0; i < count_; ++i) {
        const DEVICE_CONFIG& record = records_[static_cast<std::size_t>(i)];
        Entry(i).touchScreenNo = TouchScreenNo(record);
        Entry(i).monitorNo = MonitorNo(record);
        if (validity_[static_cast<std::size_t>(i)] != 0) {
            view_.InsertRow(i, RowText(TouchScreenNo(record) + 1, MonitorNo(record) + 1), MappingImage(record));
        } else {
            view_.InsertRow(i, RowText(-1, -1), ScreenImage::kUncalibrated);
        }
        view_.SelectRow(0);
    }
    view_.EnableWindow(true);
    view_.PostSetCursor();
}

void CMappingDlg::OnRowChanged(int row) {
    if (row < 0 || row >= count_) return;
    selected_ = row;
    ShowNumbers(row);
}

void CMappingDlg::ShowNumbers(int row) {
    view_.SelectNumber(IDC_MONITOR_NO, Entry(row).monitorNo);
    view_.SelectNumber(IDC_TOUCHSCREEN_NO, Entry(row).touchScreenNo);
}

void CMappingDlg::OnNumberChosen(int listId) {
    const std::optional<int> chosen = view_.SelectedNumber(listId);
    if (!chosen || selected_ < 0 || selected_ >= count_) return;
    if (listId == IDC_MONITOR_NO) {
        Entry(selected_).monitorNo = *chosen;
    } else if (listId == IDC_TOUCHSCREEN_NO) {
        Entry(selected_).touchScreenNo = *chosen;
    } else {
        return;
    }
    RecomputeChanged(selected_);
    UpdateApply();
}

void CMappingDlg::RecomputeChanged(int index) {
    if (index < 0 || index >= count_) return;
    const DEVICE_CONFIG& record = records_[static_cast<std::size_t>(index)];
    MappingEntry& entry = Entry(index);
    entry.changed = (entry.touchScreenNo != TouchScreenNo(record) || entry.monitorNo != MonitorNo(record)) ? 1 : 0;
    const bool anyChanged = std::any_of(layout_->mappings.begin(), layout_->mappings.begin() + count_,
                                        [](const MappingEntry& mapping) { return mapping.changed != 0; });
    layout_->dirty = anyChanged ? 1 : 0;
}

void CMappingDlg::UpdateApply() {
    view_.EnableControl(IDC_MAPPING_APPLY, layout_->dirty != 0);
}

// A record that was never read is not written: its copy is the preset, and writing it
// would replace the controller's calibration regions with zeros.
bool CMappingDlg::WriteRecord(int index) {
    if (validity_[static_cast<std::size_t>(index)] == 0) return false;
    const DEVICE_CONFIG& record = records_[static_cast<std::size_t>(index)];
    return access_.WithScreen(
        index, [this, &record](ScreenHandle screen) { return screens_.SetDeviceConfig(screen, record); });
}

void CMappingDlg::ApplyMapping() {
    layout_->dirty = 0;
    for (int i = 0; i < count_; ++i) {
        if (Entry(i).changed == 0) continue;
        DEVICE_CONFIG& record = records_[static_cast<std::size_t>(i)];
        TouchScreenNo(record) = static_cast<std::uint8_t>(Entry(i).touchScreenNo & 0xFF);
        MonitorNo(record) = static_cast<std::uint8_t>(Entry(i).monitorNo & 0xFF);
        if (!WriteRecord(i)) {
            view_.ShowMessage(GetLanguageText(system_, keys::kWriteFailed),
                              GetLanguageText(system_, keys::kErrorCaption), MessageIcon::kError);
        }
        // The entry matches the copy now, also after a failed write: the user has been told.
        RecomputeChanged(i);
    }
}

void CMappingDlg::OnOk() {
    view_.BeginWaitCursor();
    if (layout_->dirty != 0) {
        ApplyMapping();
        FillList();
    }
    view_.PostMappingClosed(MappingResult::kOk);
    view_.Close();
    view_.EndWaitCursor();
}

void CMappingDlg::OnApply() {
    view_.BeginWaitCursor();
    if (layout_->dirty != 0) {
        ApplyMapping();
        FillList();
        view_.PostMappingClosed(MappingResult::kApply);
    }
    UpdateApply();
    view_.ShowCursorUntilVisible();
    view_.EndWaitCursor();
}

void CMappingDlg::OnCancel() {
    view_.BeginWaitCursor();
    view_.PostMappingClosed(MappingResult::kCancel);
    view_.Close();
    view_.EndWaitCursor();
}

void CMappingDlg::OnClose() {
    view_.PostMappingClosed(MappingResult::kCancel);
    view_.Close();
}

void CMappingDlg::OnIdentify() {
    // With nothing chosen the window covers the first monitor, and says so.
    const int position = std::max(view_.SelectedNumber(IDC_MONITOR_NO).value_or(0), 0);
    MonitorRect area{0, 0, view_.PrimaryScreenWidth(), view_.PrimaryScreenHeight()};
    // Only an entry of the last enumeration counts; a stale one may name a monitor that has gone.
    if (position < layout_->monitorCount && position < kMaxMonitors) {
        const MonitorEntry& monitor = layout_->monitors[static_cast<std::size_t>(position)];
        if (monitor.index == position) area = {monitor.left, monitor.top, monitor.right, monitor.bottom};
    }
    view_.OpenIdentifyWindow(std::to_string(position + 1), area);
}

void CMappingDlg::SetTexts() {
    SetDialogTexts(view_, system_, kCaptionKey, kControlTexts);
}

void CMonitorShowDlg::OnInitDialog() {
    view_.SetTimer(kTimerId, kIntervalMs);
}

void CMonitorShowDlg::OnTimer(unsigned id) {
    if (id != kTimerId) return;
    if (--countdown_ < 0) {
        view_.KillTimer(kTimerId);
        view_.Close();
    }
}

void CMonitorShowDlg::OnKeyDown(unsigned virtualKey) {
    if (virtualKey != kVkEscape) return;
    view_.KillTimer(kTimerId);
    view_.PostClose();
}

}  // namespace kav::cpl
