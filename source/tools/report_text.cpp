#include "report_text.h"

#include <cstdio>
#include <cstring>

#include "shared/device_packet.h"
#include "shared/hid_reports.h"

namespace kav::tools {
namespace {

std::string Format(const char* format, auto... args) {
    char buffer[256];
    std::snprintf(buffer, sizeof(buffer), format, args...);
    return buffer;
}

const char* StatusName(std::uint8_t status) {
    switch (status) {
        case kContactTouching:
            return "touching";
        case kContactLifted:
            return "lifted";
        case kContactNone:
            return "none";
        default:
            return "?";
    }
}

template <typename Record>
bool Read(std::span<const std::uint8_t> bytes, Record* record) {
    if (bytes.size() < sizeof(Record)) return false;
    std::memcpy(record, bytes.data(), sizeof(Record));
    return true;
}

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (std::uint8_t b : bytes) text += Format(text.empty() ? "%02X" : " %02X", b);
    return text;
}

std::string Touch(std::span<const std::uint8_t> bytes) {
    TOUCH_REPORT r;
    if (!Read(bytes, &r)) return "touch (short: " + Hex(bytes) + ")";
    std::string text = "touch";
    for (int i = 0; i < 2; ++i) {
        const TOUCH_CONTACT& c = r.Contact[i];
        text += Format("  [%d] %-8s id %u x %5u y %5u w %5u h %5u", i + 1, StatusName(c.Status), c.ContactId, c.X, c.Y,
                       c.Width, c.Height);
    }
    return text + Format("  count %u", r.ContactCount);
}

std::string Mouse(std::span<const std::uint8_t> bytes) {
    MOUSE_REPORT r;
    if (!DecodeMouseReport(bytes.data(), bytes.size(), &r)) return "mouse (short: " + Hex(bytes) + ")";
    const char* buttons = r.Buttons == 0 ? "none" : r.Buttons == 1 ? "left" : r.Buttons == 2 ? "right" : "both";
    return Format("mouse  buttons %-5s x %5u y %5u", buttons, r.X, r.Y);
}

std::string Keyboard(std::span<const std::uint8_t> bytes) {
    KEYBOARD_REPORT r;
    if (!Read(bytes, &r)) return "keyboard (short: " + Hex(bytes) + ")";
    return Format("keyboard  modifiers %02X  keys ", r.Modifiers) + Hex(r.Keys);
}

std::string DeviceEvent(std::span<const std::uint8_t> bytes) {
    DEVICE_EVENT_REPORT r;
    if (!Read(bytes, &r)) return "device event (short: " + Hex(bytes) + ")";
    std::string pressed;
    for (int line = 0; line < 8; ++line)
        if ((r.Data[1] & (1u << line)) == 0) pressed += Format(pressed.empty() ? "%d" : ",%d", line);
    return Format("device event  byte 5 %02X  buttons %02X (pressed: %s)", r.Data[0], r.Data[1],
                  pressed.empty() ? "none" : pressed.c_str());
}

std::string RawPacket(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kPacketHeaderSize + 1) return "raw packet (short: " + Hex(bytes) + ")";
    const std::uint8_t l = bytes[3];
    std::string text = Format("raw packet  type %02X command %02X L %u sub-code %u", bytes[1], bytes[2], l, bytes[4]);
    if (!FrameLengthValid(l) || 4u + l >= bytes.size()) return text + "  (frame longer than the report)";
    text += "  payload " + Hex(bytes.subspan(kPacketHeaderSize, l - 1u));
    return text + (FrameChecksumValid(bytes.data(), bytes.size()) ? "  checksum ok" : "  checksum BAD");
}

}  // namespace

std::string DescribeReport(std::span<const std::uint8_t> report) {
    if (report.empty()) return "(empty)";
    switch (report[0]) {
        case kTouchReportId:
            return Touch(report);
        case kMouseReportId:
            return Mouse(report);
        case kKeyboardReportId:
            return Keyboard(report);
        case kDeviceEventReportId:
            return DeviceEvent(report);
        case kRawPacketReportId:
            return RawPacket(report);
        default:
            return "unknown report " + Hex(report);
    }
}

}  // namespace kav::tools
