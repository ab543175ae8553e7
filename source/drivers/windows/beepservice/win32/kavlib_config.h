// The driver configuration through KavLib.dll's registry read.
#pragma once

#include "beepservice/driver_config_source.h"

namespace kav::beep::win32 {

class KavLibConfigSource : public DriverConfigSource {
public:
    bool Read(_NERIO_DRIVER_CONFIG& config) override;
};

}  // namespace kav::beep::win32
