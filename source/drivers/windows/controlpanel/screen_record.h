// The bytes of the device configuration record that the control panel reads and writes.
#pragma once

#include <cstdint>

#include "shared/device_records.h"

namespace kav::cpl {

// Bytes 0 and 1 are the controller's own storage, which the driver does not read.
inline std::uint8_t& TouchScreenNo(DEVICE_CONFIG& record) {
    return record.Reserved1[0];
}
inline std::uint8_t TouchScreenNo(const DEVICE_CONFIG& record) {
    return record.Reserved1[0];
}
inline std::uint8_t& MonitorNo(DEVICE_CONFIG& record) {
    return record.Reserved1[1];
}
inline std::uint8_t MonitorNo(const DEVICE_CONFIG& record) {
    return record.Reserved1[1];
}

// Nonzero when the screen has a calibration of its own.
inline bool IsCalibrated(const DEVICE_CONFIG& record) {
    return record.RegionByte != 0;
}

// A number the controller was never given.
inline constexpr std::uint8_t kUnsetNumber = 0xFF;

}  // namespace kav::cpl
