// The driver request report (feature 0x55): answered by KavUSB itself, never relayed to the
// controller. A get reply carries its data from byte 0, over the report ID; a set request
// carries it from byte 2, after the request code. Both sides use exactly these offsets.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav {

constexpr std::uint8_t kDriverRequestWorkMode = 0x01;   // get and set
constexpr std::uint8_t kDriverRequestGetConfig = 0x12;  // reply: the 59-byte record
constexpr std::uint8_t kDriverRequestSetConfig = 0x13;  // request: the record
constexpr std::uint8_t kDriverRequestGetSpeed = 0x16;   // reply: MaxSpeed, ref count, weight
constexpr std::uint8_t kDriverRequestSetSpeed = 0x17;   // request: the same

constexpr std::size_t kDriverRequestCodeOffset = 1;
constexpr std::size_t kDriverRequestSetDataOffset = 2;
constexpr std::size_t kDriverRequestGetDataOffset = 0;
// The work mode sits at byte 2 both ways.
constexpr std::size_t kDriverRequestWorkModeOffset = 2;

// Speed parameters: MaxSpeed (u32, little-endian), VelocityRefCount (u8), VelocityWeight (u8).
constexpr std::size_t kSpeedParametersSize = 6;

}  // namespace kav
