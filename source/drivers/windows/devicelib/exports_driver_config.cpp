// The C entry points of the driver configuration's registry read and single-field access.
#include "devicelib/driver_config_api.h"
#include "devicelib/guarded.h"
#include "devicelib/include/KavLib.h"

namespace {

using namespace kav::devicelib;

unsigned char GetField(KAVLIB_HANDLE device, DriverConfigField field, unsigned char& value) {
    return Guarded([&] {
        const std::optional<std::uint8_t> current = ReadDriverConfigField(device, field);
        if (current) value = *current;
        return current.has_value();
    });
}

unsigned char SetField(KAVLIB_HANDLE device, DriverConfigField field, unsigned char value) {
    return Guarded([&] { return WriteDriverConfigField(device, field, value); });
}

}  // namespace

extern "C" {

unsigned char GetDriverConfig_Register(_NERIO_DRIVER_CONFIG& config) {
    return Guarded([&] { return ReadDriverConfigFromRegistry(config); });
}

unsigned char GetDriverConfig_Default(_NERIO_DRIVER_CONFIG& config) KAV_EXPORT_ALIAS_OF(GetDriverConfig_Register);

unsigned char Nerio_GetTouchMode(KAVLIB_HANDLE device, unsigned char& mode) {
    return GetField(device, DriverConfigField::TouchMode, mode);
}

unsigned char Nerio_SetTouchMode(KAVLIB_HANDLE device, unsigned char mode) {
    return SetField(device, DriverConfigField::TouchMode, mode);
}

unsigned char Nerio_GetAntijammingMode(KAVLIB_HANDLE device, unsigned char& mode) {
    return GetField(device, DriverConfigField::Antijamming, mode);
}

unsigned char Nerio_SetAntijammingMode(KAVLIB_HANDLE device, unsigned char mode) {
    return SetField(device, DriverConfigField::Antijamming, mode);
}

unsigned char Nerio_GetAntishakeMode(KAVLIB_HANDLE device, unsigned char& mode) {
    return GetField(device, DriverConfigField::Antishake, mode);
}

unsigned char Nerio_SetAntishakeMode(KAVLIB_HANDLE device, unsigned char mode) {
    return SetField(device, DriverConfigField::Antishake, mode);
}

}  // extern "C"
