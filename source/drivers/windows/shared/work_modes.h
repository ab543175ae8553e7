// Work modes, set through the driver request report; they steer the pipeline's output.
#pragma once

#include <cstdint>

namespace kav {

constexpr std::uint8_t kWorkModeMouse = 0xF1;      // set at device creation
constexpr std::uint8_t kWorkModeDigitizer = 0xF2;  // set when the system reads feature 0x03
constexpr std::uint8_t kWorkModeDigitizer2 = 0xF3;
constexpr std::uint8_t kWorkModeCalibrate = 0xF4;  // raw touch reports
constexpr std::uint8_t kWorkModeRawPacket = 0xF5;  // packets forwarded as raw packet reports

constexpr bool IsValidWorkMode(std::uint8_t mode) { return mode >= kWorkModeMouse && mode <= kWorkModeRawPacket; }

}  // namespace kav
