#include "controlpanel/settings_dlg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "controlpanel/resource.h"
#include "fakes.h"

namespace kav::cpl::test {
namespace {

// Logs what the user would see and what the dialog asked of the system.
class RecordingSettingsView : public SettingsView {
public:
    std::vector<std::string> log;
    std::map<int, bool> checks;
    std::map<int, bool> enables;
    std::map<int, std::string> texts;
    std::map<int, TrackbarScale> scales;
    std::map<int, int> positions;
    std::string caption;
    int screenWidth = 1280;
    int waitCursors = 0;
    int ownerWaitCursorsEnded = 0;
    int beepChangedPosts = 0;
    bool focused = false;
    std::optional<bool> ended;  // confirmed or not

    void SetCaption(const std::string& text) override { caption = text; }
    void SetControlText(int id, const std::string& text) override { texts[id] = text; }
    void EnableControl(int id, bool on) override { enables[id] = on; }
    void SetCheck(int id, bool on) override { checks[id] = on; }
    void ConfigureTrackbar(int id, const TrackbarScale& scale) override { scales[id] = scale; }
    void SetTrackbarPosition(int id, int position) override { positions[id] = position; }
    int PrimaryScreenWidth() override { return screenWidth; }
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
        log.push_back("Message " + text + " / " + caption + (icon == MessageIcon::kError ? " error" : " info"));
    }
    void BeginWaitCursor() override { ++waitCursors; }
    void EndWaitCursor() override { --waitCursors; }
    void EndOwnerWaitCursor() override { ++ownerWaitCursorsEnded; }
    void FocusDialog() override { focused = true; }
    void EndDialog(bool confirmed) override {
        ended = confirmed;
        log.push_back(confirmed ? "EndDialog OK" : "EndDialog Cancel");
    }
    void PostBeepChanged() override {
        ++beepChangedPosts;
        log.push_back("BeepChanged");
    }

    bool Checked(int id) const { return checks.count(id) && checks.at(id); }
    // Controls start enabled, as in the template.
    bool Enabled(int id) const { return !enables.count(id) || enables.at(id); }
};

// KavLib's driver configuration calls on a number of screens, each call logged with the
// screen it reached. Handles are tags that remember their screen.
class DriverConfigScreens : public TouchScreens {
public:
    int count = 1;
    _NERIO_DRIVER_CONFIG config{};
    bool readable = true;
    bool writable = true;
    std::vector<std::string> calls;
    std::vector<_NERIO_DRIVER_CONFIG> written;
    std::map<ScreenHandle, int> open;

    int GetTouchScreenCount() override { return count; }
    std::vector<ScreenHandle> GetTouchScreenInformation() override {
        std::vector<ScreenHandle> handles;
        for (int screen = 0; screen < count; ++screen) {
            const auto handle = reinterpret_cast<ScreenHandle>(static_cast<std::uintptr_t>(0x1000 + nextTag_++));
            open[handle] = screen;
            handles.push_back(handle);
        }
        return handles;
    }
    void Close(ScreenHandle handle) override {
        if (open.erase(handle) == 0) calls.push_back("Close of a handle not open");
    }
    bool GetDriverConfig(ScreenHandle handle, _NERIO_DRIVER_CONFIG& out) override {
        calls.push_back("Get " + ScreenOf(handle));
        if (!readable) return false;
        out = config;
        return true;
    }
    bool SetDriverConfig(ScreenHandle handle, const _NERIO_DRIVER_CONFIG& in) override {
        calls.push_back("Set " + ScreenOf(handle));
        written.push_back(in);
        if (!writable) return false;
        config = in;
        return true;
    }
    bool GetDeviceConfig(ScreenHandle, DEVICE_CONFIG&) override { return false; }
    bool SetDeviceConfig(ScreenHandle, const DEVICE_CONFIG&) override { return false; }
    std::optional<std::string> GetFirmwareVersion(ScreenHandle) override { return std::nullopt; }
    std::optional<std::string> GetProductSerialNumber(ScreenHandle) override { return std::nullopt; }
    std::optional<std::uint16_t> GetUsbCableVersion(ScreenHandle) override { return std::nullopt; }
    bool RegisterDeviceNotifyCallback(DeviceNotifyCallback) override { return false; }
    bool UnRegisterDeviceNotifyCallback() override { return false; }
    bool CalibraterStart(ScreenHandle, CalibrationMode) override { return false; }

    std::vector<std::string> Writes() const {
        std::vector<std::string> writes;
        for (const std::string& call : calls) {
            if (call.rfind("Get", 0) != 0) writes.push_back(call);
        }
        return writes;
    }

private:
    std::string ScreenOf(ScreenHandle handle) const {
        const auto found = open.find(handle);
        return found == open.end() ? "on a handle not open" : std::to_string(found->second);
    }

    int nextTag_ = 0;
};

// Only which cursor was installed matters here; the registry side has tests of its own.
class RecordingCursors : public CursorSystem {
public:
    std::vector<int> installed;

    std::unique_ptr<RegistryKey> OpenUserKey(const std::string&) override { return nullptr; }
    std::unique_ptr<RegistryKey> CreateUserKey(const std::string&) override { return nullptr; }
    bool InstallNormalCursor(int resourceId) override {
        installed.push_back(resourceId);
        return true;
    }
    bool ReloadSystemCursors() override { return false; }
};

_NERIO_DRIVER_CONFIG TypicalConfig() {
    _NERIO_DRIVER_CONFIG config{};
    config.Mode = 2;
    config.EnableTouch = 1;
    config.EnableRightClick = 1;
    config.CalibrateType = 0;
    config.EnableDoubleClick = 0;
    config.HideCursor = 1;
    config.EnableBeep = 1;
    config.BeepType = 0;
    config.BeepMode = 2;
    config.BeepFrequency = 2000;
    config.BeepDuration = 50;
    config.Smoothness = 8;
    config.RightClickTime = 3000;
    config.RightClickArea = 8;
    config.DoubleClickTime = 300;
    config.DoubleClickArea = 10;
    config.Antijamming = 7;
    config.EnableAntishake = 1;
    for (std::size_t i = 0; i < sizeof config.Reserved; ++i) config.Reserved[i] = static_cast<std::uint8_t>(0xA0 + i);
    return config;
}

constexpr OsVersion kXp{5, 1};
constexpr OsVersion kWindows7{6, 1};
constexpr OsVersion kWindows10{10, 0};

class SettingsDialogTest : public ::testing::Test {
protected:
    SettingsDialogTest() {
        system.AddEnglish();
        auto& english = system.files[system.LanguageFile(1033)];
        english["21"] = "Settings";
        english["25"] = "Mouse Emulation";
        english["130"] = "Mouse Emulation (hold for right click)";
        screens.config = TypicalConfig();
    }

    void Open(OsVersion version = kXp, int screenIndex = 0) {
        system.version = version;
        dialog = std::make_unique<CSettingsDlg>(view, screens, system, cursors, screenIndex);
        dialog->OnInitDialog();
    }

    void Click(int controlId) { dialog->OnClicked(controlId, true); }

    void ExpectNoHandleLeft() const { EXPECT_TRUE(screens.open.empty()) << screens.open.size() << " handles open"; }

    RecordingSettingsView view;
    DriverConfigScreens screens;
    FakeSystem system;
    RecordingCursors cursors;
    std::unique_ptr<CSettingsDlg> dialog;
};

TEST_F(SettingsDialogTest, OpensShowingTheRecordOfItsScreen) {
    screens.count = 2;
    Open(kXp, 1);

    EXPECT_EQ(screens.calls, (std::vector<std::string>{"Get 1"}));
    EXPECT_EQ(view.caption, "Settings");
    EXPECT_EQ(view.texts[IDC_MOUSE_EMULATION], "Mouse Emulation (hold for right click)");
    EXPECT_EQ(view.texts[IDC_SETTINGS_APPLY], "50");        // not in the test's file: the key itself
    EXPECT_EQ(view.texts[IDC_DOUBLE_CLICK_TIME_UNIT], "");  // unit labels keep the template's
    EXPECT_TRUE(view.Checked(IDC_MOUSE_EMULATION));
    EXPECT_FALSE(view.Checked(IDC_CLICK_ON_TOUCH));
    EXPECT_TRUE(view.Checked(IDC_BEEP_BOTH));
    EXPECT_TRUE(view.Checked(IDC_PC_SPEAKER));
    EXPECT_FALSE(view.Checked(IDC_SOUND_CARD));
    EXPECT_TRUE(view.Checked(IDC_FOUR_POINTS));
    EXPECT_FALSE(view.Checked(IDC_ENABLE_TOUCH_SENSITIVITY));
    EXPECT_EQ(dialog->calibrationPoints(), 4);
    EXPECT_FALSE(view.Enabled(IDC_SETTINGS_APPLY));
    EXPECT_EQ(view.ownerWaitCursorsEnded, 1);
    EXPECT_FALSE(view.ended);

    const struct {
        int trackbar, label;
        TrackbarScale scale;
        int position;
    } trackbars[] = {
        {IDC_DOUBLE_CLICK_TIME, IDC_DOUBLE_CLICK_TIME_VALUE, {50, 1000, 100, 100, 100}, 300},
        {IDC_DOUBLE_CLICK_AREA, IDC_DOUBLE_CLICK_AREA_VALUE, {0, 50, 5, 5, 5}, 10},
        {IDC_RIGHT_CLICK_TIME, IDC_RIGHT_CLICK_TIME_VALUE, {1000, 8000, 1000, 1000, 1000}, 3000},
        {IDC_RIGHT_CLICK_AREA, IDC_RIGHT_CLICK_AREA_VALUE, {4, 32, 4, 4, 4}, 8},
        {IDC_BEEP_FREQUENCY, IDC_BEEP_FREQUENCY_VALUE, {50, 7000, 50, 1000, 100}, 2000},
        {IDC_BEEP_DURATION, IDC_BEEP_DURATION_VALUE, {10, 100, 10, 10, 10}, 50},
        {IDC_SMOOTHNESS, IDC_SMOOTHNESS_VALUE, {0, 5, 1, 1, 1}, 2},
    };
    for (const auto& t : trackbars) {
        SCOPED_TRACE(t.trackbar);
        EXPECT_EQ(view.scales[t.trackbar], t.scale);
        EXPECT_EQ(view.positions[t.trackbar], t.position);
        EXPECT_EQ(view.texts[t.label], std::to_string(t.position));
    }
    ExpectNoHandleLeft();
}

TEST_F(SettingsDialogTest, MouseEmulationTextAndHideCursorFollowTheVersionTest) {
    const struct {
        OsVersion version;
        const char* mouseEmulation;
        bool hideCursorEnabled;
    } cases[] = {
        {kXp, "Mouse Emulation (hold for right click)", true},
        {{6, 0}, "Mouse Emulation (hold for right click)", true},
        {kWindows7, "Mouse Emulation", false},
        {{6, 2}, "Mouse Emulation", false},
        {kWindows10, "Mouse Emulation", false},  // not an older system for its minor version 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.version.major) + "." + std::to_string(c.version.minor));
        view = RecordingSettingsView{};
        Open(c.version);
        EXPECT_EQ(view.texts[IDC_MOUSE_EMULATION], c.mouseEmulation);
        EXPECT_EQ(view.Enabled(IDC_HIDE_CURSOR), c.hideCursorEnabled);
    }
}

TEST_F(SettingsDialogTest, OkWithoutChangesWritesNothingAndAppliesTheCursorStateOnlyOnOlderSystems) {
    const struct {
        OsVersion version;
        std::uint8_t hideCursor;
        std::vector<int> installed;
    } cases[] = {
        {kXp, 1, {IDC_CURSOR_BLANK}},
        {kXp, 0, {IDC_CURSOR_ARROW}},
        {kWindows7, 1, {}},
        {kWindows10, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.version.major) + "." + std::to_string(c.version.minor) + " hide " +
                     std::to_string(c.hideCursor));
        view = RecordingSettingsView{};
        cursors.installed.clear();
        screens.calls.clear();
        screens.config.HideCursor = c.hideCursor;
        Open(c.version);
        dialog->OnOk();
        EXPECT_TRUE(screens.Writes().empty());
        EXPECT_EQ(view.beepChangedPosts, 0);
        EXPECT_EQ(cursors.installed, c.installed);
        EXPECT_EQ(view.ended, std::optional<bool>(true));
        EXPECT_EQ(view.waitCursors, 0);
    }
}

TEST_F(SettingsDialogTest, ApplyWritesOnceThroughTheFirstScreenAndStaysOpen) {
    screens.count = 3;
    Open(kXp, 2);
    dialog->OnTrackbarMoved(IDC_BEEP_DURATION, 80);
    EXPECT_TRUE(view.Enabled(IDC_SETTINGS_APPLY));

    dialog->OnApply();
    EXPECT_EQ(screens.Writes(), (std::vector<std::string>{"Set 0"}));
    EXPECT_EQ(screens.config.BeepDuration, 80u);
    EXPECT_EQ(view.beepChangedPosts, 1);
    EXPECT_FALSE(view.Enabled(IDC_SETTINGS_APPLY));
    EXPECT_TRUE(view.focused);
    EXPECT_FALSE(view.ended);
    EXPECT_EQ(cursors.installed, (std::vector<int>{IDC_CURSOR_BLANK}));

    // The written values are the stored ones now: the next Apply has nothing to write.
    dialog->OnApply();
    dialog->OnOk();
    EXPECT_EQ(screens.Writes(), (std::vector<std::string>{"Set 0"}));
    EXPECT_EQ(view.beepChangedPosts, 1);
    EXPECT_EQ(cursors.installed.size(), 3u);  // every OK and Apply on an older system
    ExpectNoHandleLeft();
}

TEST_F(SettingsDialogTest, ATrackbarMovedBackDisablesApply) {
    Open();
    dialog->OnTrackbarMoved(IDC_RIGHT_CLICK_TIME, 5000);
    EXPECT_TRUE(view.Enabled(IDC_SETTINGS_APPLY));
    EXPECT_EQ(view.texts[IDC_RIGHT_CLICK_TIME_VALUE], "5000");
    dialog->OnTrackbarMoved(IDC_RIGHT_CLICK_TIME, 3000);
    EXPECT_FALSE(view.Enabled(IDC_SETTINGS_APPLY));
    EXPECT_TRUE(dialog->IsUnchanged());

    // The smoothness level 2 stands for 8 on this screen; back at level 2 it stores 8 again,
    // which is no change.
    dialog->OnTrackbarMoved(IDC_SMOOTHNESS, 3);
    EXPECT_TRUE(view.Enabled(IDC_SETTINGS_APPLY));
    dialog->OnTrackbarMoved(IDC_SMOOTHNESS, 2);
    EXPECT_EQ(dialog->edited().Smoothness, 8u);
    EXPECT_FALSE(view.Enabled(IDC_SETTINGS_APPLY));
}

TEST_F(SettingsDialogTest, ClickOnTouchShowsBeepOnTouchWhileTheRecordKeepsItsBeepMode) {
    Open();
    Click(IDC_CLICK_ON_TOUCH);
    EXPECT_TRUE(view.Checked(IDC_BEEP_ON_TOUCH));
    EXPECT_FALSE(view.Checked(IDC_BEEP_ON_RELEASE));
    EXPECT_FALSE(view.Checked(IDC_BEEP_BOTH));
    EXPECT_TRUE(view.Enabled(IDC_BEEP_ON_TOUCH));
    EXPECT_FALSE(view.Enabled(IDC_BEEP_ON_RELEASE));
    EXPECT_FALSE(view.Enabled(IDC_BEEP_BOTH));

    Click(IDC_CLICK_ON_RELEASE);
    EXPECT_TRUE(view.Checked(IDC_BEEP_ON_RELEASE));
    EXPECT_FALSE(view.Checked(IDC_BEEP_ON_TOUCH));
    EXPECT_TRUE(view.Enabled(IDC_BEEP_ON_RELEASE));
    EXPECT_FALSE(view.Enabled(IDC_BEEP_ON_TOUCH));

    Click(IDC_CLICK_ON_TOUCH);
    dialog->OnOk();
    ASSERT_EQ(screens.written.size(), 1u);
    EXPECT_EQ(screens.written[0].Mode, 0);
    EXPECT_EQ(screens.written[0].BeepMode, 2);
}

TEST_F(SettingsDialogTest, EnableRightClickOnlyInMouseEmulationOnOlderSystems) {
    const struct {
        OsVersion version;
        int mode;
        bool enabled;
    } cases[] = {
        {kXp, IDC_MOUSE_EMULATION, true},         {kXp, IDC_CLICK_ON_TOUCH, false},
        {kXp, IDC_CLICK_ON_RELEASE, false},       {kWindows7, IDC_MOUSE_EMULATION, false},
        {kWindows10, IDC_MOUSE_EMULATION, false}, {kWindows7, IDC_CLICK_ON_TOUCH, false},
    };
    const int rightClickControls[] = {IDC_RIGHT_CLICK_TIME, IDC_RIGHT_CLICK_TIME_LABEL, IDC_RIGHT_CLICK_TIME_VALUE,
                                      IDC_RIGHT_CLICK_AREA, IDC_RIGHT_CLICK_AREA_LABEL, IDC_RIGHT_CLICK_AREA_VALUE};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.version.major) + "." + std::to_string(c.version.minor) + " mode " +
                     std::to_string(c.mode));
        view = RecordingSettingsView{};
        screens.config.Mode = 1;  // opened elsewhere, then chosen
        Open(c.version);
        Click(c.mode);
        EXPECT_TRUE(view.Checked(IDC_ENABLE_RIGHT_CLICK));  // checked in the record either way
        EXPECT_EQ(view.Enabled(IDC_ENABLE_RIGHT_CLICK), c.enabled);
        for (const int control : rightClickControls) EXPECT_EQ(view.Enabled(control), c.enabled) << control;
    }

    // Unchecked in mouse emulation: the box stays usable, its trackbars do not.
    view = RecordingSettingsView{};
    screens.config = TypicalConfig();
    Open(kXp);
    dialog->OnClicked(IDC_ENABLE_RIGHT_CLICK, false);
    EXPECT_TRUE(view.Enabled(IDC_ENABLE_RIGHT_CLICK));
    EXPECT_FALSE(view.Enabled(IDC_RIGHT_CLICK_TIME));
    EXPECT_EQ(dialog->edited().EnableRightClick, 0);
}

TEST_F(SettingsDialogTest, BeepTypeAndEnableBeepGovernTheSpeakerControls) {
    const int speakerControls[] = {IDC_BEEP_FREQUENCY, IDC_BEEP_FREQUENCY_LABEL, IDC_BEEP_FREQUENCY_VALUE,
                                   IDC_BEEP_DURATION,  IDC_BEEP_DURATION_LABEL,  IDC_BEEP_DURATION_VALUE};
    Open();
    for (const int control : speakerControls) EXPECT_TRUE(view.Enabled(control)) << control;

    Click(IDC_SOUND_CARD);
    EXPECT_TRUE(view.Checked(IDC_SOUND_CARD));
    EXPECT_FALSE(view.Checked(IDC_PC_SPEAKER));
    EXPECT_EQ(dialog->edited().BeepType, 1);
    for (const int control : speakerControls) EXPECT_FALSE(view.Enabled(control)) << control;

    Click(IDC_PC_SPEAKER);
    EXPECT_FALSE(view.Checked(IDC_SOUND_CARD));
    for (const int control : speakerControls) EXPECT_TRUE(view.Enabled(control)) << control;
    EXPECT_FALSE(view.Enabled(IDC_SETTINGS_APPLY));

    dialog->OnClicked(IDC_ENABLE_BEEP, false);
    for (const int control : {IDC_BEEP_ON_TOUCH, IDC_BEEP_ON_RELEASE, IDC_BEEP_BOTH, IDC_PC_SPEAKER, IDC_SOUND_CARD}) {
        EXPECT_FALSE(view.Enabled(control)) << control;
    }
    for (const int control : speakerControls) EXPECT_FALSE(view.Enabled(control)) << control;
}

TEST_F(SettingsDialogTest, OpensOnASoundCardWithTheSpeakerControlsDisabled) {
    screens.config.BeepType = 1;
    Open();
    EXPECT_TRUE(view.Checked(IDC_SOUND_CARD));
    EXPECT_FALSE(view.Checked(IDC_PC_SPEAKER));
    EXPECT_FALSE(view.Enabled(IDC_BEEP_FREQUENCY));
    EXPECT_FALSE(view.Enabled(IDC_BEEP_DURATION_VALUE));
}

TEST_F(SettingsDialogTest, SmoothnessFollowsThePrimaryScreenWidth) {
    // W = 1280: a stored 8 opens at level 2, and level 3 stores 12 (12.8 truncated).
    view.screenWidth = 1280;
    Open();
    EXPECT_EQ(view.positions[IDC_SMOOTHNESS], 2);
    EXPECT_EQ(view.texts[IDC_SMOOTHNESS_VALUE], "2");
    dialog->OnTrackbarMoved(IDC_SMOOTHNESS, 3);
    EXPECT_EQ(dialog->edited().Smoothness, 12u);
    EXPECT_EQ(view.texts[IDC_SMOOTHNESS_VALUE], "3");

    const struct {
        int width;
        std::uint32_t stored[6];
    } widths[] = {{1024, {0, 3, 6, 10, 13, 17}}, {1920, {0, 6, 12, 19, 25, 32}}};
    for (const auto& w : widths) {
        for (int level = 0; level <= 5; ++level) {
            SCOPED_TRACE("W " + std::to_string(w.width) + " level " + std::to_string(level));
            view = RecordingSettingsView{};
            view.screenWidth = w.width;
            Open();
            dialog->OnTrackbarMoved(IDC_SMOOTHNESS, level);
            EXPECT_EQ(dialog->edited().Smoothness, w.stored[level]);
            // ... and a stored value opens at its own level again.
            screens.config.Smoothness = w.stored[level];
            view = RecordingSettingsView{};
            view.screenWidth = w.width;
            Open();
            EXPECT_EQ(view.positions[IDC_SMOOTHNESS], level);
            screens.config = TypicalConfig();
        }
    }
}

TEST_F(SettingsDialogTest, OutOfRangeValuesOpenAtTheTrackbarsEnds) {
    screens.config.Smoothness = 0xFFFFFFFF;  // no overflow into a small level
    screens.config.BeepFrequency = 20;
    view.screenWidth = 0;  // an unreadable width does not divide by zero
    Open();
    EXPECT_EQ(view.positions[IDC_SMOOTHNESS], 5);
    EXPECT_EQ(view.positions[IDC_BEEP_FREQUENCY], 50);
    EXPECT_EQ(view.texts[IDC_BEEP_FREQUENCY_VALUE], "50");
    EXPECT_FALSE(view.Enabled(IDC_SETTINGS_APPLY));  // shown, not yet changed
}

TEST_F(SettingsDialogTest, EachControlWritesItsFieldAndCarriesTheRest) {
    // Byte offsets of the packed record as the driver reads it.
    const struct {
        int control;
        bool checked;
        std::size_t offset;
        std::uint8_t value;
    } cases[] = {
        {IDC_CLICK_ON_RELEASE, true, 0, 1},
        {IDC_ENABLE_TOUCH, false, 1, 0},
        {IDC_ENABLE_RIGHT_CLICK, false, 2, 0},
        {IDC_TWENTY_FIVE_POINTS, true, 3, 1},
        {IDC_ENABLE_TOUCH_SENSITIVITY, false, 4, 1},  // hidden: can only switch on
        {IDC_HIDE_CURSOR, false, 5, 0},
        {IDC_ENABLE_BEEP, false, 6, 0},
        {IDC_SOUND_CARD, true, 7, 1},
        {IDC_BEEP_ON_RELEASE, true, 8, 1},
        {IDC_ENABLE_ANTISHAKE, false, 38, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control);
        view = RecordingSettingsView{};
        screens.config = TypicalConfig();
        screens.written.clear();
        Open();
        dialog->OnClicked(c.control, c.checked);
        EXPECT_TRUE(view.Enabled(IDC_SETTINGS_APPLY));
        dialog->OnOk();
        ASSERT_EQ(screens.written.size(), 1u);
        _NERIO_DRIVER_CONFIG expected = TypicalConfig();
        reinterpret_cast<std::uint8_t*>(&expected)[c.offset] = c.value;
        EXPECT_EQ(std::memcmp(&screens.written[0], &expected, sizeof expected), 0);
    }
    EXPECT_EQ(dialog->calibrationPoints(), 4);
}

TEST_F(SettingsDialogTest, TwentyFivePointsCountsAndLeavesTheOtherControlsAlone) {
    Open();
    Click(IDC_TWENTY_FIVE_POINTS);
    EXPECT_EQ(dialog->calibrationPoints(), 25);
    EXPECT_TRUE(view.Checked(IDC_TWENTY_FIVE_POINTS));
    EXPECT_FALSE(view.Checked(IDC_FOUR_POINTS));
    EXPECT_TRUE(view.Checked(IDC_MOUSE_EMULATION));
    Click(IDC_FOUR_POINTS);
    EXPECT_FALSE(view.Enabled(IDC_SETTINGS_APPLY));
}

TEST_F(SettingsDialogTest, AFailedWriteIsReportedAndNotOfferedAgain) {
    screens.writable = false;
    Open();
    Click(IDC_CLICK_ON_RELEASE);
    dialog->OnApply();
    EXPECT_EQ(view.log, (std::vector<std::string>{"Message Write failed / Error error"}));
    EXPECT_EQ(view.beepChangedPosts, 0);
    EXPECT_FALSE(view.Enabled(IDC_SETTINGS_APPLY));
    EXPECT_EQ(dialog->stored().Mode, 1);
    dialog->OnOk();
    EXPECT_EQ(screens.Writes(), (std::vector<std::string>{"Set 0"}));
}

TEST_F(SettingsDialogTest, NoScreenLeftWhenConfirmingClosesWithoutWriting) {
    for (const bool apply : {false, true}) {
        SCOPED_TRACE(apply ? "Apply" : "OK");
        view = RecordingSettingsView{};
        screens.count = 1;
        cursors.installed.clear();
        Open();
        Click(IDC_CLICK_ON_TOUCH);
        screens.count = 0;
        apply ? dialog->OnApply() : dialog->OnOk();
        EXPECT_EQ(view.log.front(), "Message No touch screen / Error error");
        EXPECT_TRUE(view.ended.has_value());
        EXPECT_TRUE(screens.Writes().empty());
        EXPECT_TRUE(cursors.installed.empty());
        EXPECT_EQ(view.waitCursors, 0);
    }
}

TEST_F(SettingsDialogTest, AnUnreadableConfigurationIsReportedAndNeverWritten) {
    screens.readable = false;
    Open();
    EXPECT_EQ(view.log, (std::vector<std::string>{"Message Unreadable / Error error", "EndDialog Cancel"}));
    EXPECT_EQ(view.ownerWaitCursorsEnded, 1);
    EXPECT_TRUE(screens.Writes().empty());
    EXPECT_TRUE(cursors.installed.empty());
    ExpectNoHandleLeft();

    // No screen at all when it opens: nothing is opened.
    view = RecordingSettingsView{};
    screens.readable = true;
    screens.count = 0;
    screens.calls.clear();
    Open();
    EXPECT_TRUE(screens.calls.empty());
    EXPECT_EQ(view.ended, std::optional<bool>(false));
}

TEST_F(SettingsDialogTest, CancelWritesNothing) {
    Open();
    Click(IDC_CLICK_ON_TOUCH);
    dialog->OnCancel();
    EXPECT_EQ(view.ended, std::optional<bool>(false));
    EXPECT_TRUE(screens.Writes().empty());
    EXPECT_TRUE(cursors.installed.empty());
    EXPECT_EQ(view.waitCursors, 0);
}

TEST(SettingsDialog, EnterReachesTheDialogOnlyOnItsButtons) {
    for (const int control : {IDC_SETTINGS_OK, IDC_SETTINGS_CANCEL, IDC_SETTINGS_APPLY}) {
        EXPECT_TRUE(CSettingsDlg::GivesEnterToDialog(control)) << control;
    }
    for (const int control : {IDC_SMOOTHNESS, IDC_ENABLE_BEEP, IDC_CLICK_ON_TOUCH, 0}) {
        EXPECT_FALSE(CSettingsDlg::GivesEnterToDialog(control)) << control;
    }
}

}  // namespace
}  // namespace kav::cpl::test
