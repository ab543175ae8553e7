#include "beepservice/nerio_svc_dlg.h"

#include <gtest/gtest.h>

#include "beepservice/resource.h"
#include "fakes.h"

namespace kav::beep::test {
namespace {

using Strings = std::vector<std::string>;

const char16_t kTouchScreenMouse[] =
    u"\\\\?\\HID#VID_4B1D&PID_0A31&Col03#7&2c6e1a&0&0002#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const char16_t kTouchScreenDigitizer[] =
    u"\\\\?\\HID#VID_4B1D&PID_0A31&Col01#7&2c6e1a&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const char16_t kOtherMouse[] = u"\\\\?\\HID#VID_045E&PID_0040#6&1&0&0000#{378de44c-56ef-11d1-bc8c-00a0c91405dd}";

_NERIO_DRIVER_CONFIG Settings(std::uint8_t mode, std::uint8_t beepMode, std::uint8_t beepType = 0) {
    _NERIO_DRIVER_CONFIG config{};
    config.Mode = mode;
    config.EnableBeep = 1;
    config.BeepType = beepType;
    config.BeepMode = beepMode;
    config.BeepFrequency = 750;
    config.BeepDuration = 50;
    return config;
}

class NerioSvcDlgTest : public ::testing::Test {
protected:
    NerioSvcDlgTest() { view.strings[IDS_ABOUTBOX] = u"关于 KavSvc(&A)..."; }

    // Posts a record under a fresh handle and lets the dialog take it, as WM_INPUT does.
    void Input(const char16_t* device, RawInputRecord::Type type, std::uint16_t buttons, std::uint8_t flags = 0) {
        RawInputRecord record;
        record.type = type;
        record.deviceName = device;
        record.mouseButtonFlags = buttons;
        if (type == RawInputRecord::Type::Hid)
            record.hidReport = {kTouchReportId, flags, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1};
        const RawInputHandle handle = ++nextHandle;
        rawInput.records[handle] = record;
        dialog.OnRawInput(handle);
    }
    void Click() {
        Input(kTouchScreenMouse, RawInputRecord::Type::Mouse, kLeftButtonDown);
        Input(kTouchScreenMouse, RawInputRecord::Type::Mouse, 0);
        Input(kTouchScreenMouse, RawInputRecord::Type::Mouse, kLeftButtonUp);
    }
    void Tap() {
        for (std::uint8_t flags : {7, 7, 7, 6}) Input(kTouchScreenDigitizer, RawInputRecord::Type::Hid, 0, flags);
    }

    RecordingView view;
    FakeRawInput rawInput;
    FakeConfigSource config;
    RecordingSound sound;
    CNerioSvcDlg dialog{view, rawInput, config, sound};
    RawInputHandle nextHandle = 0;
};

TEST_F(NerioSvcDlgTest, StartRegistersReadsAndHides) {
    config.registry = Settings(2, 0);
    dialog.OnInitDialog();
    EXPECT_EQ(view.calls, (Strings{"menu separator", "menu 16 ?? KavSvc(&A)...", "icons", "invisible"}));
    EXPECT_EQ(rawInput.registrations, (Strings{"1/2", "13/4"}));
    EXPECT_EQ(config.reads, 1);
    EXPECT_TRUE(dialog.IsWindows7());
}

TEST_F(NerioSvcDlgTest, NoAboutEntryWithoutItsString) {
    view.strings.clear();
    dialog.OnInitDialog();
    EXPECT_EQ(view.calls, (Strings{"icons", "invisible"}));
}

TEST_F(NerioSvcDlgTest, RefusedRegistrationLeavesTheDialogVisibleAndSilent) {
    config.registry = Settings(0, 0);
    rawInput.registerResult = false;
    dialog.OnInitDialog();
    EXPECT_EQ(view.calls, (Strings{"menu separator", "menu 16 ?? KavSvc(&A)...", "icons", "show"}));
    EXPECT_EQ(config.reads, 0);
    Click();
    EXPECT_TRUE(sound.played.empty());
}

TEST_F(NerioSvcDlgTest, OperatingSystemDecidesThePath) {
    config.registry = Settings(2, 0);
    view.version = {6, 0};  // Vista: digitizer reports are not touches
    dialog.OnInitDialog();
    EXPECT_FALSE(dialog.IsWindows7());
    Tap();
    EXPECT_TRUE(sound.played.empty());
    Click();
    EXPECT_EQ(sound.played, (Strings{"beep 750 50"}));
}

TEST_F(NerioSvcDlgTest, BeepsPerModeForATap) {
    const struct {
        std::uint8_t beepMode;
        std::size_t beeps;
    } cases[] = {{0, 1}, {1, 1}, {2, 2}, {3, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.beepMode);
        RecordingSound heard;
        CNerioSvcDlg fresh{view, rawInput, config, heard};
        config.registry = Settings(2, c.beepMode);
        fresh.OnInitDialog();
        for (std::uint8_t flags : {7, 7, 7, 6}) {
            rawInput.records[++nextHandle] = RawInputRecord{RawInputRecord::Type::Hid, kTouchScreenDigitizer, 0,
                                                            std::vector<std::uint8_t>{kTouchReportId, flags}};
            fresh.OnRawInput(nextHandle);
        }
        EXPECT_EQ(heard.played, Strings(c.beeps, "beep 750 50"));
    }
}

TEST_F(NerioSvcDlgTest, BeepOffReadsNothing) {
    _NERIO_DRIVER_CONFIG off = Settings(2, 2);
    off.EnableBeep = 0;
    config.registry = off;
    dialog.OnInitDialog();
    Tap();
    Click();
    EXPECT_TRUE(sound.played.empty());
    EXPECT_EQ(rawInput.reads, 0);
}

TEST_F(NerioSvcDlgTest, OnlyTheTouchScreenBeeps) {
    config.registry = Settings(0, 2);
    dialog.OnInitDialog();
    Input(kOtherMouse, RawInputRecord::Type::Mouse, kLeftButtonDown);
    Input(kOtherMouse, RawInputRecord::Type::Mouse, kLeftButtonUp);
    EXPECT_TRUE(sound.played.empty());
    // A foreign press leaves the touch screen's state alone: its own press still beeps.
    EXPECT_EQ(dialog.State().LastMouseState, kMouseReleased);
    Input(kTouchScreenMouse, RawInputRecord::Type::Mouse, kLeftButtonDown);
    EXPECT_EQ(sound.played, (Strings{"beep 750 50"}));
}

TEST_F(NerioSvcDlgTest, UnreadableRecordIsDropped) {
    config.registry = Settings(0, 0);
    dialog.OnInitDialog();
    dialog.OnRawInput(999);  // nothing behind the handle
    EXPECT_EQ(rawInput.reads, 1);
    EXPECT_TRUE(sound.played.empty());
    EXPECT_EQ(dialog.State(), BeepState{});
}

TEST_F(NerioSvcDlgTest, BeepChangedRereadsTheSettings) {
    config.registry = Settings(0, 0);
    dialog.OnInitDialog();
    Click();
    config.registry = Settings(0, 2, 1);
    EXPECT_EQ(sound.played, (Strings{"beep 750 50"}));  // not before the broadcast
    dialog.OnBeepChanged();
    Click();
    EXPECT_EQ(sound.played, (Strings{"beep 750 50", "wave beep.wav", "wave beep.wav"}));
}

TEST_F(NerioSvcDlgTest, AbsentRegistryKeepsTheSettings) {
    config.registry = Settings(0, 0);
    dialog.OnInitDialog();
    config.registry.reset();
    dialog.OnBeepChanged();
    Click();
    EXPECT_EQ(sound.played, (Strings{"beep 750 50"}));
}

TEST_F(NerioSvcDlgTest, NothingBeepsBeforeTheSettingsAreKnown) {
    dialog.OnInitDialog();  // key absent: the settings stay zero, beep off
    Click();
    EXPECT_TRUE(sound.played.empty());
}

TEST_F(NerioSvcDlgTest, SystemMenuAboutEntry) {
    const struct {
        std::uint32_t command;
        bool handled;
    } cases[] = {{IDM_ABOUTBOX, true}, {IDM_ABOUTBOX | 0x3, true}, {0xF060 /* SC_CLOSE */, false}, {0x20, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        view.calls.clear();
        EXPECT_EQ(dialog.OnSysCommand(c.command), c.handled);
        EXPECT_EQ(view.calls, c.handled ? Strings{"about"} : Strings{});
    }
}

}  // namespace
}  // namespace kav::beep::test
