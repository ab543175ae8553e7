// Click emulation and keys: output samples to touch, mouse and keyboard reports.
#pragma once

#include <cstdint>

#include "device_context.h"

namespace kav {

// The eight hardware button lines of a device event packet (byte 6, active low).
void DeviceButtons(DEVICE_CONTEXT* context, const std::uint8_t* packet);

// One output sample (OutputPoint) to reports, by work mode and the driver's Mode.
void ComposeSample(DEVICE_CONTEXT* context);

// Toolbar areas: a touch-down of contact 1 inside one becomes a key stroke.
void ToolbarTouch(DEVICE_CONTEXT* context);

}  // namespace kav
