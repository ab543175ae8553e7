// The texts that KavLib makes of the controller's version and serial number records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "shared/device_commands.h"

namespace kav::devicelib {

// Room of GetFirewareVersion's caller buffer, terminator included.
constexpr std::size_t kVersionTextChars = 64;

// Version bytes v0..v3 as "v1.v0.v3v2", each but the first in two digits at least:
// 01 05 07 0A gives "5.01.1007".
std::string FirmwareVersionText(std::span<const std::uint8_t, protocol::kProductVersionSize> version);

enum class SerialNumberForm { Full, Oem };

// Room of the callers' buffers, terminator included, and the length every valid record
// prints to.
constexpr std::size_t kSerialTextChars[] = {36, 29};
constexpr std::size_t kSerialTextLength[] = {35, 27};

// "TARNEVO-A10B20C-D5E-11-1213-1234567", or the OEM form without the prefix; nullopt when
// any field is out of its range, so that no malformed number is ever shown.
std::optional<std::string> ProductSerialNumberText(std::span<const std::uint8_t, protocol::kSerialNumberSize> record,
                                                   SerialNumberForm form);

}  // namespace kav::devicelib
