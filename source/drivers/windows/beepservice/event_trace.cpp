#include "beepservice/event_trace.h"

#include <cstdio>

namespace kav::beep {
namespace {

// Appends whole sequences at once; g++ 12 at -O3 misreads single-character appends as
// overlapping copies.
void AppendUtf8(std::string& out, char32_t code) {
    char bytes[4];
    std::size_t count = 0;
    if (code < 0x80) {
        bytes[count++] = static_cast<char>(code);
    } else if (code < 0x800) {
        bytes[count++] = static_cast<char>(0xC0 | (code >> 6));
        bytes[count++] = static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        bytes[count++] = static_cast<char>(0xE0 | (code >> 12));
        bytes[count++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        bytes[count++] = static_cast<char>(0x80 | (code & 0x3F));
    } else {
        bytes[count++] = static_cast<char>(0xF0 | (code >> 18));
        bytes[count++] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        bytes[count++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        bytes[count++] = static_cast<char>(0x80 | (code & 0x3F));
    }
    out.append(bytes, count);
}

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

}  // namespace

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        const bool high = code >= 0xD800 && code < 0xDC00;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        AppendUtf8(out, code);
    }
    return out;
}

std::string DescribeRecord(const RawInputRecord& record) {
    std::string line;
    switch (record.type) {
        case RawInputRecord::Type::Mouse:
            line = "mouse 0x" + Hex(record.mouseButtonFlags, 4);
            break;
        case RawInputRecord::Type::Hid:
            line = "hid";
            for (std::uint8_t byte : record.hidReport) {
                line.append(" ");
                line.append(Hex(byte, 2));
            }
            break;
        case RawInputRecord::Type::Other:
            line = "other";
            break;
    }
    return line + " " + ToUtf8(record.deviceName);
}

void TracedSound::Play(const Sound& sound) {
    trace_.WriteLine("play " + DescribeSound(sound));
    sound_.Play(sound);
}

bool TracedRawInput::Register(const std::array<RawInputDevice, 2>& devices) {
    const bool registered = source_.Register(devices);
    trace_.WriteLine(registered ? "registered" : "registration refused");
    return registered;
}

std::optional<RawInputRecord> TracedRawInput::Read(RawInputHandle handle) {
    std::optional<RawInputRecord> record = source_.Read(handle);
    trace_.WriteLine(record ? "input " + DescribeRecord(*record) : "input unreadable");
    return record;
}

bool TracedConfigSource::Read(_NERIO_DRIVER_CONFIG& config) {
    const bool read = source_.Read(config);
    if (!read) {
        trace_.WriteLine("settings unread");
        return false;
    }
    trace_.WriteLine("settings Mode " + std::to_string(config.Mode) + " EnableBeep " +
                     std::to_string(config.EnableBeep) + " BeepType " + std::to_string(config.BeepType) + " BeepMode " +
                     std::to_string(config.BeepMode) + " BeepFrequency " + std::to_string(config.BeepFrequency) +
                     " BeepDuration " + std::to_string(config.BeepDuration));
    return true;
}

}  // namespace kav::beep
