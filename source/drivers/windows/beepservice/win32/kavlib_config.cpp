#include "beepservice/win32/kavlib_config.h"

#include "KavLib.h"

namespace kav::beep::win32 {

bool KavLibConfigSource::Read(_NERIO_DRIVER_CONFIG& config) {
    return GetDriverConfig_Register(config) != 0;
}

}  // namespace kav::beep::win32
