#include "devicelib/driver_config_api.h"

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

#include "devicelib/driver_requests.h"
#include "shared/driver_parameters.h"

namespace kav::devicelib {

namespace {

using Id = DriverParameterId;

// The values the registry read fills, in the order it queries them.
constexpr Id kRegistryOrder[] = {
    Id::Mode,           Id::EnableTouch,       Id::EnableRightClick, Id::RightClickTime,
    Id::RightClickArea, Id::EnableDoubleClick, Id::DoubleClickTime,  Id::DoubleClickArea,
    Id::HideCursor,     Id::EnableBeep,        Id::BeepType,         Id::BeepMode,
    Id::BeepFrequency,  Id::BeepDuration,      Id::CalibrateType,    Id::Smoothness,
};
constexpr std::size_t kRegistryValueCount = std::size(kRegistryOrder);

std::array<std::u16string_view, kRegistryValueCount> RegistryNames() {
    std::array<std::u16string_view, kRegistryValueCount> names;
    for (std::size_t i = 0; i < kRegistryValueCount; ++i) names[i] = DriverParameterOf(kRegistryOrder[i]).name;
    return names;
}

std::uint8_t& FieldOf(_NERIO_DRIVER_CONFIG& config, DriverConfigField field) {
    switch (field) {
        case DriverConfigField::TouchMode:
            return config.EnableTouch;
        case DriverConfigField::Antijamming:
            return config.Antijamming;
        case DriverConfigField::Antishake:
            break;
    }
    return config.EnableAntishake;
}

}  // namespace

bool ReadDriverConfigFromRegistry(_NERIO_DRIVER_CONFIG& config) {
    const auto names = RegistryNames();
    const std::optional<std::vector<std::optional<platform::RegistryData>>> values =
        platform::CurrentPlatform().QueryRegistryValues(platform::RegistryRoot::LocalMachine, kDriverParametersKeyPath,
                                                        names);
    if (!values || values->size() != kRegistryValueCount) return false;
    _NERIO_DRIVER_CONFIG read = config;
    auto* bytes = reinterpret_cast<std::uint8_t*>(&read);
    for (std::size_t i = 0; i < kRegistryValueCount; ++i) {
        const DriverParameter& parameter = DriverParameterOf(kRegistryOrder[i]);
        SetParameterField(bytes, sizeof read, parameter,
                          platform::AsDword((*values)[i]).value_or(parameter.defaultValue));
    }
    config = read;
    return true;
}

std::optional<std::uint8_t> ReadDriverConfigField(Handle device, DriverConfigField field) {
    std::optional<_NERIO_DRIVER_CONFIG> config = ReadDriverConfig(device);
    if (!config) return std::nullopt;
    return FieldOf(*config, field);
}

bool WriteDriverConfigField(Handle device, DriverConfigField field, std::uint8_t value) {
    std::optional<_NERIO_DRIVER_CONFIG> config = ReadDriverConfig(device);
    if (!config) return false;
    std::uint8_t& current = FieldOf(*config, field);
    if (current == value) return true;
    current = value;
    return WriteDriverConfig(device, *config);
}

}  // namespace kav::devicelib
