#include "beepservice/beep_decision.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace kav::beep {
namespace {

_NERIO_DRIVER_CONFIG Config(std::uint8_t mode, std::uint8_t beepMode) {
    _NERIO_DRIVER_CONFIG config{};
    config.Mode = mode;
    config.EnableBeep = 1;
    config.BeepMode = beepMode;
    config.BeepFrequency = 750;
    config.BeepDuration = 50;
    return config;
}

// "T7" is a touch report whose first contact has flags 7, "M1" a mouse record with button
// flags 1; both from the touch screen.
RawInputRecord Record(const std::string& token) {
    RawInputRecord record;
    record.deviceName = u"\\\\?\\HID#VID_4B1D&PID_0A31&Col01#7&2c6e1a&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    const int value = std::stoi(token.substr(1));
    if (token[0] == 'T') {
        record.type = RawInputRecord::Type::Hid;
        record.hidReport.assign(sizeof(TOUCH_REPORT), 0);
        record.hidReport[0] = kTouchReportId;
        record.hidReport[1] = static_cast<std::uint8_t>(value);
    } else {
        record.type = RawInputRecord::Type::Mouse;
        record.mouseButtonFlags = static_cast<std::uint16_t>(value);
    }
    return record;
}

// One character per record: 'B' where it beeped, '.' where it did not.
std::string Feed(const _NERIO_DRIVER_CONFIG& config, bool isWindows7, const std::string& records, BeepState& state) {
    std::istringstream tokens(records);
    std::string beeps;
    for (std::string token; tokens >> token;) beeps += DecideBeep(config, isWindows7, Record(token), state) ? 'B' : '.';
    return beeps;
}

struct SequenceCase {
    const char* name;
    std::uint8_t mode;
    bool isWindows7;
    std::uint8_t beepMode;
    const char* records;
    const char* beeps;
};

constexpr bool kWin7 = true;
constexpr bool kXp = false;

TEST(BeepDecision, SequencesOfRecords) {
    const SequenceCase cases[] = {
        // Digitizer reports on Windows 7 with Mode 2: a touch, then a second touch.
        {"touch down", 2, kWin7, 0, "T7 T7 T7 T6 T7 T7 T6", "B...B.."},
        {"lift", 2, kWin7, 1, "T7 T7 T7 T6 T7 T7 T6", "...B..B"},
        {"down and lift", 2, kWin7, 2, "T7 T7 T7 T6 T7 T7 T6", "B..BB.B"},
        {"touch down after an idle report", 2, kWin7, 0, "T7 T6 T0 T7", "B..B"},
        {"down and lift, idle reports change nothing", 2, kWin7, 2, "T7 T0 T7 T6", "B..B"},
        {"digitizer ignores mouse records", 2, kWin7, 2, "M1 M2 M1 M2", "...."},
        // The mouse path everywhere else: touch reports count for nothing.
        {"mouse ignores touch reports", 0, kWin7, 2, "T7 T6", ".."},
        {"Mode 2 before Windows 7", 2, kXp, 0, "T7 M1 M0 M2", ".B.."},
        {"left-down, move, left-down", 1, kWin7, 0, "M1 M0 M1", "B.B"},
        {"left-down twice without a move", 0, kWin7, 0, "M1 M1", "B."},
        {"click, click", 0, kXp, 0, "M1 M2 M1 M2", "B.B."},
        {"mouse lift", 0, kWin7, 1, "M1 M0 M2 M1 M2", "..B.B"},
        {"mouse down and lift", 0, kWin7, 2, "M1 M0 M1 M2 M1", "B..BB"},
        {"right button is not a touch", 0, kWin7, 2, "M4 M8", ".."},
        {"left down with another button is not a touch", 0, kWin7, 0, "M5 M1", ".B"},
        // Modes beyond the table never beep.
        {"BeepMode 3", 2, kWin7, 3, "T7 T6", ".."},
        {"BeepMode 255 on the mouse path", 0, kWin7, 255, "M1 M2", ".."},
    };
    for (const SequenceCase& c : cases) {
        SCOPED_TRACE(c.name);
        BeepState state;
        EXPECT_EQ(Feed(Config(c.mode, c.beepMode), c.isWindows7, c.records, state), c.beeps);
    }
}

struct StateCase {
    const char* name;
    std::uint8_t mode;
    std::uint8_t beepMode;
    const char* records;
    BeepState after;
};

TEST(BeepDecision, StateBytesAfterSequences) {
    const StateCase cases[] = {
        {"touch down stores every flags byte", 2, 0, "T7 T6 T0", {0, kMouseReleased}},
        {"lift stores nothing", 2, 1, "T7 T6 M1", {kContactNone, kMouseReleased}},
        {"down and lift keep 7 through idle reports", 2, 2, "T7 T0", {7, kMouseReleased}},
        {"a mouse press is taken", 0, 0, "M1", {kContactNone, kMousePressed}},
        {"a move releases it in touch-down mode", 0, 0, "M1 M0", {kContactNone, kMouseReleased}},
        {"a move keeps it in down-and-lift mode", 0, 2, "M1 M0", {kContactNone, kMousePressed}},
        {"other modes store nothing", 0, 7, "M1", {kContactNone, kMouseReleased}},
    };
    for (const StateCase& c : cases) {
        SCOPED_TRACE(c.name);
        BeepState state;
        Feed(Config(c.mode, c.beepMode), kWin7, c.records, state);
        EXPECT_EQ(state.LastTouchFlags, c.after.LastTouchFlags);
        EXPECT_EQ(state.LastMouseState, c.after.LastMouseState);
    }
}

TEST(BeepDecision, FirstTouchBeepsFromTheStartState) {
    const BeepState start;
    EXPECT_EQ(start.LastTouchFlags, kContactNone);
    EXPECT_EQ(start.LastMouseState, kMouseReleased);
    for (std::uint8_t beepMode : {0, 2}) {
        SCOPED_TRACE(beepMode);
        BeepState touch, mouse;
        EXPECT_EQ(Feed(Config(2, beepMode), kWin7, "T7", touch), "B");
        EXPECT_EQ(Feed(Config(0, beepMode), kWin7, "M1", mouse), "B");
    }
}

TEST(BeepDecision, ShortHidRecordsSayNothing) {
    BeepState state;
    for (std::size_t size : {0, 1}) {
        RawInputRecord record = Record("T7");
        record.hidReport.resize(size);
        EXPECT_FALSE(DecideBeep(Config(2, 2), kWin7, record, state));
    }
    EXPECT_EQ(state, BeepState{});
}

TEST(BeepDecision, DeviceNameFilter) {
    const struct {
        const char16_t* name;
        bool matches;
    } cases[] = {
        {u"\\\\?\\HID#VID_4B1D&PID_0A31&Col01#7&2c6e1a&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}", true},
        {u"\\\\?\\hid#vid_4b1d&pid_0a31&col03#7&2c6e1a&0&0002#{4d1e55b2-f16f-11cf-88cb-001111000030}", true},
        {u"\\\\?\\Hid#Vid_4b1D&Pid_0A31&mi_00", true},
        {u"\\\\?\\HID#VID_4B1D&PID_0A41&Col01#7&1&0&0000", false},  // the image device
        {u"\\\\?\\HID#VID_845E&PID_0001#0&0000&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}", false},
        {u"\\\\?\\USB#VID_4B1D&PID_0A31#5&1", false},
        {u"\\\\?\\HID#VID_4B1D&PID_0A3", false},
        {u"\\\\?\\ＨID#VID_4B1D&PID_0A31", false},  // only ASCII letters are upper-cased
        {u"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)));
        EXPECT_EQ(DeviceNameMatches(c.name), c.matches);
    }
}

TEST(BeepDecision, WindowsSevenOrLater) {
    const struct {
        std::uint32_t major, minor;
        bool windows7;
    } cases[] = {
        {5, 1, false},  // XP
        {5, 2, false},  // XP x64, Server 2003
        {6, 0, false},  // Vista
        {6, 1, true},   // 7
        {6, 2, true},   // 8, and every later system for a program without a manifest
        {6, 3, true},   // 8.1
        {10, 0, true},  // 10 and 11, for a program that declares them
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor));
        EXPECT_EQ(IsWindows7OrLater(c.major, c.minor), c.windows7);
    }
}

TEST(BeepDecision, SoundByBeepType) {
    _NERIO_DRIVER_CONFIG config = Config(2, 0);
    config.BeepFrequency = 2000;
    config.BeepDuration = 120;
    const struct {
        std::uint8_t beepType;
        const char* sound;
    } cases[] = {{0, "beep 2000 120"}, {1, "wave beep.wav"}, {2, "wave beep.wav"}, {255, "wave beep.wav"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.beepType);
        config.BeepType = c.beepType;
        EXPECT_EQ(DescribeSound(ChooseSound(config)), c.sound);
    }
}

}  // namespace
}  // namespace kav::beep
