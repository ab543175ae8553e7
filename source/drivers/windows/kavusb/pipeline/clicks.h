// Click emulation and keys: output samples to touch, mouse and keyboard reports.
//
// The click state lives in DRIVER_CONTEXT and is shared by every device. It is guarded
// by one driver-wide lock, always taken while the calling device's spin lock is already
// held (device lock first, click lock second, never the other way round), and never
// held while waiting for anything else.
#pragma once

#include <cstdint>

#include "device_context.h"
#include "driver_context.h"
#include "key_usage.h"

namespace kav {

constexpr std::uint8_t kModeClickOnTouch = 0;
constexpr std::uint8_t kModeClickOnRelease = 1;

// CLICK_STATE::HoldState, once per touch in mouse emulation.
constexpr std::uint32_t kHoldIdle = 0;          // no touch yet
constexpr std::uint32_t kHoldHolding = 1;       // left button down, a right click still possible
constexpr std::uint32_t kHoldDragging = 2;      // moved out of RightClickArea: left button to the lift
constexpr std::uint32_t kHoldRightClicked = 3;  // right button sent: nothing more until the lift

constexpr std::size_t kToolbarButtonsPerArea = 20;

// Creates the click-state lock. DriverEntry calls it at PASSIVE_LEVEL right after the
// driver object (and so its context) exists, before any device is added. Calling it again
// keeps the existing lock. If it was never called, or the lock could not be created, the
// click stage serialises on an interlocked flag in the click state instead; that fallback
// spins, which is sound only because every caller already runs at DISPATCH_LEVEL under
// its device spin lock.
NTSTATUS InitClickState(WDFDRIVER driver);

// The eight hardware button lines of a device event packet (byte 6, active low).
void DeviceButtons(DEVICE_CONTEXT* context, const std::uint8_t* packet);

// One output sample (OutputPoint) to reports, by work mode and the driver's Mode.
// A lifted contact 1 is released where this device's contact 1 last touched.
void ComposeSample(DEVICE_CONTEXT* context);

// Toolbar areas: a touch-down of contact 1 inside one becomes a key stroke. The
// one-argument form takes contact 1 as the output stage last took it (JamHoldPoint).
void ToolbarTouch(DEVICE_CONTEXT* context);
void ToolbarTouch(DEVICE_CONTEXT* context, const TOUCH_POINT& point);

}  // namespace kav
