// The mode switches that the handle-only operations wrap around their device access. The
// switches' own outcome is ignored: the operation reports only its access.
#pragma once

#include <cstdint>
#include <utility>

#include "devicelib/protocol.h"
#include "shared/device_commands.h"

namespace kav::devicelib {

constexpr std::uint8_t kCommandSetMode = protocol::kSetMode.code;
// The controller that takes one switch for the calibration operations.
constexpr std::uint16_t kSingleSwitchProductId = protocol::kProductStylus;
constexpr std::uint8_t kSingleSwitchSubCode = protocol::kSingleSwitchSubCode;

// One command-0x71 switch over HID with standard timing.
bool SwitchMode(Handle device, std::uint8_t subCode, std::uint8_t value);

void EnterAccess(Handle device);
void LeaveAccess(Handle device);

template <typename Access>
auto WithAccessBracket(Handle device, Access&& access) {
    EnterAccess(device);
    auto result = std::forward<Access>(access)();
    LeaveAccess(device);
    return result;
}

// The calibration operations' bracket: the one-switch form for product 0x0A07, the usual
// bracket for every other controller.
template <typename Access>
auto WithCalibrationBracket(Handle device, std::uint16_t productId, Access&& access) {
    if (productId != kSingleSwitchProductId) return WithAccessBracket(device, std::forward<Access>(access));
    SwitchMode(device, kSingleSwitchSubCode, protocol::kAccessOn);
    auto result = std::forward<Access>(access)();
    SwitchMode(device, kSingleSwitchSubCode, protocol::kAccessOff);
    return result;
}

}  // namespace kav::devicelib
