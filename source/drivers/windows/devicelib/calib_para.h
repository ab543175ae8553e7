// The controller's calibration records, moved with the commands its product understands.
#pragma once

#include <cstdint>

#include "devicelib/platform/platform.h"
#include "shared/device_records.h"

namespace kav::devicelib {

using platform::Handle;

// How a product's calibration records are reached.
enum class CalibrationCommands {
    None,      // not at all: nothing is sent
    Standard,  // queries 0x14 / commands 0x15, sub-code 0 for record X and 1 for Y
    Infrared,  // one command per axis (0x2D / 0x2E for X, 0x2B / 0x2C for Y), sub-code 0x80
};
CalibrationCommands CalibrationCommandsOf(std::uint16_t productId);

// By the product ID that the attributes report, inside that product's bracket, over HID.
// Both records are always transferred; true only when both were. A record whose read
// fails keeps what it held. False without any exchange for products outside the table or
// attributes that cannot be read.
bool ReadCalibration(Handle device, DEVICE_CALIB_PARAS& x, DEVICE_CALIB_PARAS& y);
bool WriteCalibration(Handle device, const DEVICE_CALIB_PARAS& x, const DEVICE_CALIB_PARAS& y);

}  // namespace kav::devicelib
