#include "devicelib/access_bracket.h"

#include <array>

namespace kav::devicelib {

bool SwitchMode(Handle device, std::uint8_t subCode, std::uint8_t value) {
    const std::array<std::uint8_t, 1> payload{value};
    return CommandDevice(static_cast<std::uint8_t>(Transport::Hid), device, subCode, kCommandSetMode, payload);
}

void EnterAccess(Handle device) {
    SwitchMode(device, 0x00, 0x01);
    SwitchMode(device, 0x01, 0x01);
}

void LeaveAccess(Handle device) {
    SwitchMode(device, 0x00, 0x00);
    SwitchMode(device, 0x01, 0x00);
}

}  // namespace kav::devicelib
