// Input reports completed into the read requests the HID class leaves in ReadQueue.
// Each report consumes exactly one pending request; without one the report is dropped
// and no state changes. All run under the device's spin lock.
#pragma once

#include <cstdint>

#include "device_context.h"

namespace kav {

constexpr std::uint16_t kLowWord = 0xFFFF;

// Digitizer form: OutputPoint through the mapping regions.
void SendTouchReport(DEVICE_CONTEXT* context);
// Calibration form: OutputPoint's logical coordinates, unmapped.
void SendRawTouchReport(DEVICE_CONTEXT* context);
// Absolute mouse at contact 1 of OutputPoint, mapped; buttons: kMouseButton*.
void SendMouseReport(DEVICE_CONTEXT* context, std::uint8_t buttons);
void SendKeyboardReport(DEVICE_CONTEXT* context, std::uint8_t modifiers, std::uint8_t key, std::uint8_t second);
// Bytes 5 and 6 of a device event packet.
void SendDeviceEventReport(DEVICE_CONTEXT* context, const std::uint8_t* packet);
// The whole transfer, 0x36 in place of the start byte, as far as the buffer holds.
void SendRawPacketReport(DEVICE_CONTEXT* context, const std::uint8_t* packet);

}  // namespace kav
