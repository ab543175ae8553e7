// Key usages the toolbar areas and device buttons send: function keys the listener in
// user mode maps to actions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kav {

constexpr std::uint8_t kKeyModifierLeftControl = 0x01;
constexpr std::uint8_t kKeyModifierLeftShift = 0x02;

// F13..F24, then F13..F19 again (sent with Control), then no key.
constexpr std::array<std::uint8_t, 20> kKeyUsage = {0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F, 0x70, 0x71,
                                                    0x72, 0x73, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x00};

constexpr std::uint8_t KeyUsage(std::size_t index) {
    return index < kKeyUsage.size() ? kKeyUsage[index] : 0;
}

}  // namespace kav
