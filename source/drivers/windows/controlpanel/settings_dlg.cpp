#include "controlpanel/settings_dlg.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <span>

#include "controlpanel/language.h"
#include "controlpanel/resource.h"

namespace kav::cpl {
namespace {

using Config = _NERIO_DRIVER_CONFIG;

// One field of the packed record, reached by offset so that no misaligned reference is made.
struct Field {
    std::size_t offset;
    std::size_t size;
};

#define KAV_FIELD(name)                              \
    Field {                                          \
        offsetof(Config, name), sizeof(Config::name) \
    }

std::uint32_t Get(const Config& config, Field field) {
    std::uint32_t value = 0;
    if (field.size == 1) {
        std::uint8_t byte = 0;
        std::memcpy(&byte, reinterpret_cast<const std::uint8_t*>(&config) + field.offset, 1);
        value = byte;
    } else {
        std::memcpy(&value, reinterpret_cast<const std::uint8_t*>(&config) + field.offset, sizeof value);
    }
    return value;
}

void Set(Config& config, Field field, std::uint32_t value) {
    auto* bytes = reinterpret_cast<std::uint8_t*>(&config) + field.offset;
    if (field.size == 1) {
        const auto byte = static_cast<std::uint8_t>(value);
        std::memcpy(bytes, &byte, 1);
    } else {
        std::memcpy(bytes, &value, sizeof value);
    }
}

// The fields whose difference makes the dialog's values unsaved. Antijamming and the
// reserved bytes are carried, never edited.
constexpr Field kComparedFields[] = {KAV_FIELD(Mode),
                                     KAV_FIELD(EnableTouch),
                                     KAV_FIELD(HideCursor),
                                     KAV_FIELD(EnableDoubleClick),
                                     KAV_FIELD(EnableRightClick),
                                     KAV_FIELD(EnableBeep),
                                     KAV_FIELD(EnableAntishake),
                                     KAV_FIELD(CalibrateType),
                                     KAV_FIELD(DoubleClickTime),
                                     KAV_FIELD(DoubleClickArea),
                                     KAV_FIELD(RightClickTime),
                                     KAV_FIELD(RightClickArea),
                                     KAV_FIELD(BeepMode),
                                     KAV_FIELD(BeepType),
                                     KAV_FIELD(BeepDuration),
                                     KAV_FIELD(BeepFrequency),
                                     KAV_FIELD(Smoothness)};

struct CheckBox {
    int controlId;
    Field field;
};

constexpr CheckBox kCheckBoxes[] = {
    {IDC_ENABLE_TOUCH, KAV_FIELD(EnableTouch)},
    {IDC_HIDE_CURSOR, KAV_FIELD(HideCursor)},
    {IDC_ENABLE_TOUCH_SENSITIVITY, KAV_FIELD(EnableDoubleClick)},
    {IDC_ENABLE_RIGHT_CLICK, KAV_FIELD(EnableRightClick)},
    {IDC_ENABLE_BEEP, KAV_FIELD(EnableBeep)},
    {IDC_ENABLE_ANTISHAKE, KAV_FIELD(EnableAntishake)},
};

enum class Scaling { kIdentical, kScreenWidth };

struct Trackbar {
    int controlId;
    int valueLabel;
    Field field;
    TrackbarScale scale;
    Scaling scaling;
};

constexpr Trackbar kTrackbars[] = {
    {IDC_DOUBLE_CLICK_TIME,
     IDC_DOUBLE_CLICK_TIME_VALUE,
     KAV_FIELD(DoubleClickTime),
     {50, 1000, 100, 100, 100},
     Scaling::kIdentical},
    {IDC_DOUBLE_CLICK_AREA,
     IDC_DOUBLE_CLICK_AREA_VALUE,
     KAV_FIELD(DoubleClickArea),
     {0, 50, 5, 5, 5},
     Scaling::kIdentical},
    {IDC_RIGHT_CLICK_TIME,
     IDC_RIGHT_CLICK_TIME_VALUE,
     KAV_FIELD(RightClickTime),
     {1000, 8000, 1000, 1000, 1000},
     Scaling::kIdentical},
    {IDC_RIGHT_CLICK_AREA,
     IDC_RIGHT_CLICK_AREA_VALUE,
     KAV_FIELD(RightClickArea),
     {4, 32, 4, 4, 4},
     Scaling::kIdentical},
    {IDC_BEEP_FREQUENCY,
     IDC_BEEP_FREQUENCY_VALUE,
     KAV_FIELD(BeepFrequency),
     {50, 7000, 50, 1000, 100},
     Scaling::kIdentical},
    {IDC_BEEP_DURATION, IDC_BEEP_DURATION_VALUE, KAV_FIELD(BeepDuration), {10, 100, 10, 10, 10}, Scaling::kIdentical},
    {IDC_SMOOTHNESS, IDC_SMOOTHNESS_VALUE, KAV_FIELD(Smoothness), {0, 5, 1, 1, 1}, Scaling::kScreenWidth},
};

#undef KAV_FIELD

// The stored smoothness grows with the primary screen: one level is W / 300, W its width.
constexpr std::uint64_t kPixelsPerSmoothnessLevel = 300;
// SM_CXSCREEN is never 0 on a running desktop; this only keeps the division defined.
constexpr int kFallbackScreenWidth = 1024;

constexpr ControlText kControlTexts[] = {
    {IDC_MODE_GROUP, "22"},
    {IDC_CLICK_ON_TOUCH, "23"},
    {IDC_CLICK_ON_RELEASE, "24"},
    {IDC_MOUSE_EMULATION, "25"},
    {IDC_OPTIONS_GROUP, "26"},
    {IDC_ENABLE_TOUCH, "27"},
    {IDC_HIDE_CURSOR, "28"},
    {IDC_ENABLE_TOUCH_SENSITIVITY, "29"},
    {IDC_ENABLE_RIGHT_CLICK, "30"},
    {IDC_ENABLE_BEEP, "31"},
    {IDC_BEEP_MODE_GROUP, "32"},
    {IDC_BEEP_ON_TOUCH, "33"},
    {IDC_BEEP_ON_RELEASE, "34"},
    {IDC_BEEP_BOTH, "35"},
    {IDC_CALIBRATE_POINTS_GROUP, "36"},
    {IDC_FOUR_POINTS, "37"},
    {IDC_TWENTY_FIVE_POINTS, "38"},
    {IDC_TOUCH_SENSITIVITY_GROUP, "39"},
    {IDC_DOUBLE_CLICK_TIME_LABEL, "40"},
    {IDC_RIGHT_CLICK_TIME_LABEL, "40"},
    {IDC_DOUBLE_CLICK_AREA_LABEL, "41"},
    {IDC_RIGHT_CLICK_AREA_LABEL, "41"},
    {IDC_RIGHT_CLICK_GROUP, "42"},
    {IDC_BEEP_TYPE_GROUP, "43"},
    {IDC_PC_SPEAKER, "44"},
    {IDC_BEEP_FREQUENCY_LABEL, "45"},
    {IDC_BEEP_DURATION_LABEL, "46"},
    {IDC_SOUND_CARD, "47"},
    {IDC_SETTINGS_OK, "48"},
    {IDC_SETTINGS_CANCEL, "49"},
    {IDC_SETTINGS_APPLY, "50"},
    {IDC_SMOOTHNESS_GROUP, "51"},
    {IDC_ENABLE_ANTISHAKE, "52"},
};

constexpr std::string_view kCaptionKey = "21";
// Mouse emulation where the system leaves right click by holding to the driver.
constexpr std::string_view kMouseEmulationOlderSystemKey = "130";

constexpr int kClickModeRadios[] = {IDC_CLICK_ON_TOUCH, IDC_CLICK_ON_RELEASE, IDC_MOUSE_EMULATION};
constexpr int kBeepModeRadios[] = {IDC_BEEP_ON_TOUCH, IDC_BEEP_ON_RELEASE, IDC_BEEP_BOTH};
constexpr int kRightClickControls[] = {IDC_RIGHT_CLICK_TIME, IDC_RIGHT_CLICK_TIME_LABEL, IDC_RIGHT_CLICK_TIME_VALUE,
                                       IDC_RIGHT_CLICK_AREA, IDC_RIGHT_CLICK_AREA_LABEL, IDC_RIGHT_CLICK_AREA_VALUE};
constexpr int kSpeakerControls[] = {IDC_BEEP_FREQUENCY, IDC_BEEP_FREQUENCY_LABEL, IDC_BEEP_FREQUENCY_VALUE,
                                    IDC_BEEP_DURATION,  IDC_BEEP_DURATION_LABEL,  IDC_BEEP_DURATION_VALUE};

enum ClickMode : int { kClickOnTouch = 0, kClickOnRelease = 1, kMouseEmulation = 2 };
enum BeepMode : int { kBeepOnTouch = 0, kBeepOnRelease = 1, kBeepBoth = 2 };
enum BeepType : int { kPcSpeaker = 0, kSoundCard = 1 };
enum CalibrateType : int { kFourPoints = 0, kTwentyFivePoints = 1 };
constexpr int kFourPointCount = 4;
constexpr int kTwentyFivePointCount = 25;

int ScreenWidth(SettingsView& view) {
    const int width = view.PrimaryScreenWidth();
    return width > 0 ? width : kFallbackScreenWidth;
}

// Rounded to the nearest level.
int SmoothnessLevel(std::uint32_t smoothness, int screenWidth) {
    const auto width = static_cast<std::uint64_t>(screenWidth);
    return static_cast<int>(
        std::min<std::uint64_t>((smoothness * kPixelsPerSmoothnessLevel + width / 2) / width, INT32_MAX));
}

// Truncated, as the driver has always been given it.
std::uint32_t SmoothnessOfLevel(int level, int screenWidth) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(std::max(level, 0)) *
                                      static_cast<std::uint64_t>(screenWidth) / kPixelsPerSmoothnessLevel);
}

const Trackbar* FindTrackbar(int controlId) {
    for (const Trackbar& trackbar : kTrackbars) {
        if (trackbar.controlId == controlId) return &trackbar;
    }
    return nullptr;
}

const CheckBox* FindCheckBox(int controlId) {
    for (const CheckBox& box : kCheckBoxes) {
        if (box.controlId == controlId) return &box;
    }
    return nullptr;
}

int IndexIn(std::span<const int> radios, int controlId) {
    const auto found = std::find(radios.begin(), radios.end(), controlId);
    return found == radios.end() ? -1 : static_cast<int>(found - radios.begin());
}

}  // namespace

CSettingsDlg::CSettingsDlg(SettingsView& view, TouchScreens& screens, SystemServices& system, CursorSystem& cursors,
                           int screenIndex)
    : view_(view), screens_(screens), system_(system), cursors_(cursors), access_(screens), screenIndex_(screenIndex) {}

bool CSettingsDlg::GivesEnterToDialog(int focusedControlId) {
    return focusedControlId == IDC_SETTINGS_OK || focusedControlId == IDC_SETTINGS_CANCEL ||
           focusedControlId == IDC_SETTINGS_APPLY;
}

void CSettingsDlg::OnInitDialog() {
    versionTestPassed_ = PassesVersionTest(system_.GetVersion());
    if (!ReadConfiguration()) {
        // Nothing was read, so there is nothing the dialog could honestly show or write back:
        // writing would replace the driver's whole record with made-up values.
        ShowMessage(keys::kConfigUnreadable, keys::kErrorCaption);
        view_.EndOwnerWaitCursor();
        view_.EndDialog(false);
        return;
    }
    edited_ = stored_;
    ShowRecord();
    ShowTrackbars();
    SetTexts();
    UpdateApply();
    UpdateEnables();
    PushRadioChoices();
    view_.EndOwnerWaitCursor();
}

bool CSettingsDlg::ReadConfiguration() {
    return access_.WithAttachedScreen(
        screenIndex_, [this](ScreenHandle screen) { return screens_.GetDriverConfig(screen, stored_); });
}

void CSettingsDlg::ShowRecord() {
    clickModeChoice_ = edited_.Mode;
    for (const CheckBox& box : kCheckBoxes) SetCheck(box.controlId, Get(edited_, box.field) != 0);
    Enable(IDC_ENABLE_RIGHT_CLICK, false);
    Enable(IDC_ENABLE_BEEP, true);

    beepTypeChoice_ = edited_.BeepType;
    SetCheck(IDC_PC_SPEAKER, beepTypeChoice_ == kPcSpeaker);
    SetCheck(IDC_SOUND_CARD, beepTypeChoice_ != kPcSpeaker);

    beepModeChoice_ = edited_.BeepMode;
    const int shownBeepMode = std::min(beepModeChoice_, static_cast<int>(kBeepBoth));
    for (int mode = 0; mode < static_cast<int>(std::size(kBeepModeRadios)); ++mode) {
        SetCheck(kBeepModeRadios[mode], mode == shownBeepMode);
    }

    const bool fourPoints = edited_.CalibrateType == kFourPoints;
    SetCheck(IDC_FOUR_POINTS, fourPoints);
    SetCheck(IDC_TWENTY_FIVE_POINTS, !fourPoints);
    calibrationPoints_ = fourPoints ? kFourPointCount : kTwentyFivePointCount;
}

void CSettingsDlg::ShowTrackbars() {
    for (const Trackbar& trackbar : kTrackbars) {
        view_.ConfigureTrackbar(trackbar.controlId, trackbar.scale);
        const std::uint32_t value = Get(edited_, trackbar.field);
        int position = trackbar.scaling == Scaling::kScreenWidth
                           ? SmoothnessLevel(value, ScreenWidth(view_))
                           : static_cast<int>(std::min<std::uint32_t>(value, INT32_MAX));
        // The trackbar holds no position outside its range, and the label shows what it holds.
        position = std::clamp(position, trackbar.scale.minimum, trackbar.scale.maximum);
        view_.SetTrackbarPosition(trackbar.controlId, position);
        view_.SetControlText(trackbar.valueLabel, std::to_string(position));
    }
}

void CSettingsDlg::SetTexts() {
    SetDialogTexts(view_, system_, kCaptionKey, kControlTexts);
    if (!versionTestPassed_) {
        view_.SetControlText(IDC_MOUSE_EMULATION, GetLanguageText(system_, kMouseEmulationOlderSystemKey));
    }
}

void CSettingsDlg::OnClicked(int controlId, bool checked) {
    if (const int mode = IndexIn(kClickModeRadios, controlId); mode >= 0) {
        clickModeChoice_ = mode;
        edited_.Mode = static_cast<std::uint8_t>(mode);
        for (const int radio : kClickModeRadios) SetCheck(radio, radio == controlId);
    } else if (const int beepMode = IndexIn(kBeepModeRadios, controlId); beepMode >= 0) {
        beepModeChoice_ = beepMode;
        edited_.BeepMode = static_cast<std::uint8_t>(beepMode);
        for (const int radio : kBeepModeRadios) SetCheck(radio, radio == controlId);
    } else if (controlId == IDC_PC_SPEAKER || controlId == IDC_SOUND_CARD) {
        // Two groups of one radio each: the dialog keeps them exclusive itself.
        beepTypeChoice_ = controlId == IDC_PC_SPEAKER ? kPcSpeaker : kSoundCard;
        edited_.BeepType = static_cast<std::uint8_t>(beepTypeChoice_);
        SetCheck(IDC_PC_SPEAKER, beepTypeChoice_ == kPcSpeaker);
        SetCheck(IDC_SOUND_CARD, beepTypeChoice_ == kSoundCard);
    } else if (controlId == IDC_FOUR_POINTS || controlId == IDC_TWENTY_FIVE_POINTS) {
        const bool fourPoints = controlId == IDC_FOUR_POINTS;
        edited_.CalibrateType = fourPoints ? kFourPoints : kTwentyFivePoints;
        calibrationPoints_ = fourPoints ? kFourPointCount : kTwentyFivePointCount;
        SetCheck(IDC_FOUR_POINTS, fourPoints);
        SetCheck(IDC_TWENTY_FIVE_POINTS, !fourPoints);
        UpdateApply();
        PushRadioChoices();
        return;
    } else if (const CheckBox* box = FindCheckBox(controlId)) {
        checks_[controlId] = checked;
        // The touch sensitivity box is hidden; if it is ever reached it can only switch on.
        const bool on = controlId == IDC_ENABLE_TOUCH_SENSITIVITY || checked;
        Set(edited_, box->field, on ? 1 : 0);
    } else {
        return;
    }
    UpdateApply();
    UpdateEnables();
}

void CSettingsDlg::OnTrackbarMoved(int controlId, int position) {
    const Trackbar* trackbar = FindTrackbar(controlId);
    if (!trackbar) return;
    const std::uint32_t value = trackbar->scaling == Scaling::kScreenWidth
                                    ? SmoothnessOfLevel(position, ScreenWidth(view_))
                                    : static_cast<std::uint32_t>(std::max(position, 0));
    Set(edited_, trackbar->field, value);
    view_.SetControlText(trackbar->valueLabel, std::to_string(position));
    UpdateApply();
    UpdateEnables();
}

bool CSettingsDlg::IsUnchanged() const {
    return std::all_of(std::begin(kComparedFields), std::end(kComparedFields),
                       [this](Field field) { return Get(stored_, field) == Get(edited_, field); });
}

void CSettingsDlg::UpdateApply() {
    Enable(IDC_SETTINGS_APPLY, !IsUnchanged());
}

void CSettingsDlg::UpdateEnables() {
    const int mode = clickModeChoice_;
    if (mode == kClickOnTouch || mode == kClickOnRelease) {
        // The driver beeps on the click's own edge in these modes; the record keeps its choice.
        beepModeChoice_ = mode == kClickOnTouch ? kBeepOnTouch : kBeepOnRelease;
        for (int radio = 0; radio < static_cast<int>(std::size(kBeepModeRadios)); ++radio) {
            SetCheck(kBeepModeRadios[radio], radio == beepModeChoice_);
        }
        Enable(IDC_ENABLE_RIGHT_CLICK, false);
    } else if (mode == kMouseEmulation && !versionTestPassed_) {
        Enable(IDC_ENABLE_RIGHT_CLICK, true);
    }
    // Newer systems hide the cursor themselves.
    Enable(IDC_HIDE_CURSOR, !versionTestPassed_);

    const bool rightClick = checked(IDC_ENABLE_RIGHT_CLICK) && enabled(IDC_ENABLE_RIGHT_CLICK);
    for (const int control : kRightClickControls) Enable(control, rightClick);

    const bool beep = checked(IDC_ENABLE_BEEP) && enabled(IDC_ENABLE_BEEP);
    Enable(IDC_BEEP_ON_TOUCH, beep && (mode == kClickOnTouch || mode == kMouseEmulation));
    Enable(IDC_BEEP_ON_RELEASE, beep && (mode == kClickOnRelease || mode == kMouseEmulation));
    Enable(IDC_BEEP_BOTH, beep && mode == kMouseEmulation);
    Enable(IDC_PC_SPEAKER, beep);
    Enable(IDC_SOUND_CARD, beep);

    const bool speaker = beep && checked(IDC_PC_SPEAKER) && enabled(IDC_PC_SPEAKER);
    for (const int control : kSpeakerControls) Enable(control, speaker);

    const bool antishake = checked(IDC_ENABLE_ANTISHAKE);
    Enable(IDC_SMOOTHNESS, antishake);
    Enable(IDC_SMOOTHNESS_VALUE, antishake);
}

// The radio choices as the groups show them: the button at the choice's index is checked.
void CSettingsDlg::PushRadioChoices() {
    for (int radio = 0; radio < static_cast<int>(std::size(kClickModeRadios)); ++radio) {
        SetCheck(kClickModeRadios[radio], radio == clickModeChoice_);
    }
    for (int radio = 0; radio < static_cast<int>(std::size(kBeepModeRadios)); ++radio) {
        SetCheck(kBeepModeRadios[radio], radio == beepModeChoice_);
    }
    SetCheck(IDC_PC_SPEAKER, beepTypeChoice_ == kPcSpeaker);
}

void CSettingsDlg::OnOk() {
    view_.BeginWaitCursor();
    if (screens_.GetTouchScreenCount() >= 1) {
        ApplySettings();
    } else {
        ShowMessage(keys::kNoTouchScreen, keys::kErrorCaption);
    }
    view_.EndDialog(true);
    view_.EndWaitCursor();
}

void CSettingsDlg::OnApply() {
    view_.BeginWaitCursor();
    if (screens_.GetTouchScreenCount() < 1) {
        ShowMessage(keys::kNoTouchScreen, keys::kErrorCaption);
        view_.EndDialog(false);
        view_.EndWaitCursor();
        return;
    }
    ApplySettings();
    Enable(IDC_SETTINGS_APPLY, false);
    view_.EndWaitCursor();
    view_.FocusDialog();
}

void CSettingsDlg::OnCancel() {
    view_.BeginWaitCursor();
    view_.EndDialog(false);
    view_.EndWaitCursor();
}

void CSettingsDlg::ApplySettings() {
    if (!IsUnchanged()) {
        // The stored record takes the new values even when the write fails, so Apply does not
        // offer the same write again.
        stored_ = edited_;
        const _NERIO_DRIVER_CONFIG written = stored_;
        // The driver's settings are one set for all screens; the first screen reaches it.
        const bool ok = access_.WithAttachedScreen(
            0, [this, &written](ScreenHandle screen) { return screens_.SetDriverConfig(screen, written); });
        if (ok) {
            view_.PostBeepChanged();
        } else {
            ShowMessage(keys::kWriteFailed, keys::kErrorCaption);
        }
    }
    if (versionTestPassed_) return;
    ApplyCursorState(cursors_, stored_.HideCursor != 0);
}

void CSettingsDlg::SetCheck(int controlId, bool checked) {
    checks_[controlId] = checked;
    view_.SetCheck(controlId, checked);
}

void CSettingsDlg::Enable(int controlId, bool enabled) {
    enables_[controlId] = enabled;
    view_.EnableControl(controlId, enabled);
}

bool CSettingsDlg::checked(int controlId) const {
    const auto found = checks_.find(controlId);
    return found != checks_.end() && found->second;
}

// Template controls start enabled.
bool CSettingsDlg::enabled(int controlId) const {
    const auto found = enables_.find(controlId);
    return found == enables_.end() || found->second;
}

void CSettingsDlg::ShowMessage(std::string_view textKey, std::string_view captionKey) {
    view_.ShowMessage(GetLanguageText(system_, textKey), GetLanguageText(system_, captionKey), MessageIcon::kError);
}

}  // namespace kav::cpl
