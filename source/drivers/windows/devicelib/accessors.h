// Every device accessor is one row of the command catalogue run by these two functions:
// the row says what is sent, with which timing, how much of the reply is taken, whether
// its length must be exact, and whether a successful set is followed by a pause.
#pragma once

#include <cstdint>
#include <span>

#include "devicelib/protocol.h"
#include "shared/device_commands.h"

namespace kav::devicelib {

// A get: a type-0x02 query over the selected transport (0 serial, 1 HID; any other
// selector fails without I/O). On success the reply's bytes go to `destination`, at most
// the row's size and the destination's. An exact row fails on any other reply length and
// then leaves `destination` untouched, unless the caller asks for `replyLength`: that is
// written, with the data, whenever the exchange succeeded, before the length is judged.
bool ReadItem(const protocol::Command& command, std::uint8_t transport, Handle handle, std::uint8_t subCode,
              std::span<const std::uint8_t> request, std::span<std::uint8_t> destination,
              std::uint8_t* replyLength = nullptr);

// A set: a type-0x01 command with standard timing whose payload must be the row's size;
// the reply's payload is not used. The row's pause follows success only.
bool WriteItem(const protocol::Command& command, std::uint8_t transport, Handle handle, std::uint8_t subCode,
               std::span<const std::uint8_t> payload);

// Little-endian 16-bit numbers, as payloads carry them.
inline std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

}  // namespace kav::devicelib
