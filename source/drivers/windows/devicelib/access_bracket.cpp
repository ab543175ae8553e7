#include "devicelib/access_bracket.h"

#include <array>

namespace kav::devicelib {

bool SwitchMode(Handle device, std::uint8_t subCode, std::uint8_t value) {
    const std::array<std::uint8_t, 1> payload{value};
    return CommandDevice(static_cast<std::uint8_t>(Transport::Hid), device, subCode, kCommandSetMode, payload);
}

void EnterAccess(Handle device) {
    for (const std::uint8_t unit : protocol::kBracketSubCodes) SwitchMode(device, unit, protocol::kAccessOn);
}

void LeaveAccess(Handle device) {
    for (const std::uint8_t unit : protocol::kBracketSubCodes) SwitchMode(device, unit, protocol::kAccessOff);
}

}  // namespace kav::devicelib
