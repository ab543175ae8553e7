#include "beepservice/beep_decision.h"

#include <algorithm>
#include <array>
#include <optional>

namespace kav::beep {
namespace {

// What one record means, on either path.
enum class Event { Down, Up, Other };

enum class Rule {
    Never,
    Always,
    UnlessDown,  // only when the last stored state is not "down": one beep per touch
};

struct Cell {
    Rule beep;
    bool store;  // the record's state byte replaces the last one
};

// Rows by BeepMode, columns by event. Touch reports and mouse records follow the same
// rules; they differ only in what they store.
constexpr std::array<std::array<Cell, 3>, 3> kBeepModes = {{
    //  Down                        Up                          Other
    {{{Rule::UnlessDown, true}, {Rule::Never, true}, {Rule::Never, true}}},    // kBeepOnTouch
    {{{Rule::Never, false}, {Rule::Always, false}, {Rule::Never, false}}},     // kBeepOnLift
    {{{Rule::UnlessDown, true}, {Rule::Always, true}, {Rule::Never, false}}},  // kBeepOnTouchAndLift
}};

// The touch path stores the flags byte as it came; the mouse path whether a press was taken.
struct Reading {
    Event event;
    std::uint8_t stateByte;
    std::uint8_t* last;
    std::uint8_t down;  // the last state that means "touching"
};

std::optional<Reading> ReadTouch(const RawInputRecord& record, BeepState& state) {
    // The first contact's flags follow the report ID; a shorter record says nothing.
    if (record.type != RawInputRecord::Type::Hid || record.hidReport.size() < 2) return std::nullopt;
    const std::uint8_t flags = record.hidReport[1];
    const Event event = flags == kContactTouching ? Event::Down : flags == kContactLifted ? Event::Up : Event::Other;
    return Reading{event, flags, &state.LastTouchFlags, kContactTouching};
}

std::optional<Reading> ReadMouse(const RawInputRecord& record, BeepState& state) {
    if (record.type != RawInputRecord::Type::Mouse) return std::nullopt;
    const std::uint16_t buttons = record.mouseButtonFlags;
    const Event event = buttons == kLeftButtonDown ? Event::Down : buttons == kLeftButtonUp ? Event::Up : Event::Other;
    return Reading{event, event == Event::Down ? kMousePressed : kMouseReleased, &state.LastMouseState, kMousePressed};
}

char16_t UpperAscii(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

}  // namespace

bool DeviceNameMatches(std::u16string_view deviceName) {
    std::u16string upper(deviceName);
    std::transform(upper.begin(), upper.end(), upper.begin(), UpperAscii);
    const std::u16string filter(kDeviceNameFilter.begin(), kDeviceNameFilter.end());
    return upper.find(filter) != std::u16string::npos;
}

bool DecideBeep(const _NERIO_DRIVER_CONFIG& config, bool isWindows7, const RawInputRecord& record, BeepState& state) {
    if (config.BeepMode >= kBeepModes.size()) return false;
    const bool digitizer = isWindows7 && config.Mode == kDigitizerMode;
    const std::optional<Reading> reading = digitizer ? ReadTouch(record, state) : ReadMouse(record, state);
    if (!reading) return false;

    const Cell& cell = kBeepModes[config.BeepMode][static_cast<std::size_t>(reading->event)];
    const bool beep = cell.beep == Rule::Always || (cell.beep == Rule::UnlessDown && *reading->last != reading->down);
    if (cell.store) *reading->last = reading->stateByte;
    return beep;
}

Sound ChooseSound(const _NERIO_DRIVER_CONFIG& config) {
    if (config.BeepType != kBeepTypeSpeaker) return Sound{Sound::Kind::WaveFile, 0, 0};
    return Sound{Sound::Kind::Speaker, config.BeepFrequency, config.BeepDuration};
}

std::string DescribeSound(const Sound& sound) {
    if (sound.kind == Sound::Kind::WaveFile) {
        return "wave " + std::string(kWaveFileName.begin(), kWaveFileName.end());
    }
    return "beep " + std::to_string(sound.frequencyHz) + " " + std::to_string(sound.durationMs);
}

}  // namespace kav::beep
