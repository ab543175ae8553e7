// The driver configuration as programs without a device see it (the driver's registry
// key), and the single-field shortcuts over the driver request report.
#pragma once

#include <cstdint>
#include <optional>

#include "devicelib/platform/platform.h"
#include "shared/driver_config.h"

namespace kav::devicelib {

using platform::Handle;

// Fills the sixteen registry-backed fields of `config` from HKLM's DriverParameters key,
// opened once. A value that is absent or not a REG_DWORD takes the driver's default, as
// the driver itself would load it; byte fields take the low 8 bits. Antijamming,
// EnableAntishake and the reserved bytes keep what `config` held. False, with `config`
// untouched, when the key cannot be opened.
bool ReadDriverConfigFromRegistry(_NERIO_DRIVER_CONFIG& config);

// The byte fields that have their own getter and setter.
enum class DriverConfigField { TouchMode, Antijamming, Antishake };

// The field's byte from the driver's record (request 0x12); nullopt when the record
// cannot be read.
std::optional<std::uint8_t> ReadDriverConfigField(Handle device, DriverConfigField field);

// Reads the record, and writes it back (request 0x13) with the field changed only when
// the value differs. A record that cannot be read is never written: false. True without
// a write when the field already holds the value.
bool WriteDriverConfigField(Handle device, DriverConfigField field, std::uint8_t value);

}  // namespace kav::devicelib
