// Requests that KavUSB answers itself, in the driver request report (feature 0x55).
#pragma once

#include <cstdint>
#include <optional>

#include "devicelib/platform/platform.h"
#include "shared/driver_config.h"

namespace kav::devicelib {

using platform::Handle;

std::optional<std::uint8_t> ReadWorkMode(Handle device);
// Modes outside 0xF1..0xF5 are refused before anything is sent.
bool WriteWorkMode(Handle device, std::uint8_t mode);

std::optional<_NERIO_DRIVER_CONFIG> ReadDriverConfig(Handle device);
bool WriteDriverConfig(Handle device, const _NERIO_DRIVER_CONFIG& config);

// The driver's speed values: MaxSpeed, VelocityRefCount, VelocityWeight.
struct SpeedParameters {
    std::uint32_t maxSpeed;
    std::uint8_t velocityRefCount;
    std::uint8_t velocityWeight;
};
std::optional<SpeedParameters> ReadSpeedParameters(Handle device);
bool WriteSpeedParameters(Handle device, const SpeedParameters& speed);

}  // namespace kav::devicelib
