// KavSvc's view of KavLib: the driver configuration read from the driver's registry key.
#pragma once

#include "shared/driver_config.h"

namespace kav::beep {

class DriverConfigSource {
public:
    DriverConfigSource() = default;
    DriverConfigSource(const DriverConfigSource&) = delete;
    DriverConfigSource& operator=(const DriverConfigSource&) = delete;
    virtual ~DriverConfigSource() = default;

    // Fills the registry-backed fields. When the key cannot be read the record keeps what
    // it held and the result is false.
    virtual bool Read(_NERIO_DRIVER_CONFIG& config) = 0;
};

}  // namespace kav::beep
