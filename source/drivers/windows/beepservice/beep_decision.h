// When a touch is heard: the beep settings of the driver configuration applied to one
// raw input record of the touch screen, and the sound that a beep makes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "shared/driver_config.h"
#include "shared/hid_reports.h"
#include "shared/windows_version.h"

namespace kav::beep {

// Only the touch screen's own collections beep, whatever else reports through raw input.
inline constexpr std::string_view kDeviceNameFilter = "HID#VID_4B1D&PID_0A31";

// True when the device name, its ASCII letters upper-cased, contains the filter.
bool DeviceNameMatches(std::u16string_view deviceName);

// Windows 7 or later, where the driver's digitizer reports (Mode 2) are touch input.
using kav::IsWindows7OrLater;

// Mode 2: the driver reports touches as a digitizer rather than as mouse clicks.
inline constexpr std::uint8_t kDigitizerMode = 2;

// Raw mouse button flags that matter here (RI_MOUSE_LEFT_BUTTON_DOWN / _UP).
inline constexpr std::uint16_t kLeftButtonDown = 0x0001;
inline constexpr std::uint16_t kLeftButtonUp = 0x0002;

// LastMouseState values: a left press was taken as a touch, or not.
inline constexpr std::uint8_t kMousePressed = 7;
inline constexpr std::uint8_t kMouseReleased = 6;

enum BeepMode : std::uint8_t {
    kBeepOnTouch = 0,
    kBeepOnLift = 1,
    kBeepOnTouchAndLift = 2,
};

// BeepType 0 sounds the PC speaker; every other value plays the wave file.
inline constexpr std::uint8_t kBeepTypeSpeaker = 0;
inline constexpr std::u16string_view kWaveFileName = u"beep.wav";

// One raw input record as the beep decision sees it.
struct RawInputRecord {
    enum class Type { Mouse, Hid, Other } type = Type::Other;
    std::u16string deviceName;
    std::uint16_t mouseButtonFlags = 0;   // Mouse: usButtonFlags
    std::vector<std::uint8_t> hidReport;  // Hid: the first report of the record
};

// The two state bytes, kept for the program's life. Both start as "not touching": the
// flags byte of no contact and a press not taken, so that the first touch beeps in
// every mode that beeps on touch-down.
struct BeepState {
    std::uint8_t LastTouchFlags = kContactNone;
    std::uint8_t LastMouseState = kMouseReleased;

    friend bool operator==(const BeepState&, const BeepState&) = default;
};

// Whether the record beeps. Updates the state as the beep mode says. EnableBeep and the
// device filter are checked before this.
bool DecideBeep(const _NERIO_DRIVER_CONFIG& config, bool isWindows7, const RawInputRecord& record, BeepState& state);

struct Sound {
    enum class Kind { Speaker, WaveFile } kind = Kind::Speaker;
    std::uint32_t frequencyHz = 0;  // Speaker
    std::uint32_t durationMs = 0;   // Speaker

    friend bool operator==(const Sound&, const Sound&) = default;
};

Sound ChooseSound(const _NERIO_DRIVER_CONFIG& config);

// "beep 750 50" or "wave beep.wav": how logs and test recordings name a sound.
std::string DescribeSound(const Sound& sound);

}  // namespace kav::beep
