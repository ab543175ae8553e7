// The driver's parameters as data: every REG_DWORD value under the driver's DriverParameters
// key, where it lives in the record that the driver keeps, and the default used when the value
// is absent or not a REG_DWORD. KavUSB loads and writes back through this table; KavLib, the
// control panel and the beep service read the same key with it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "shared/driver_config.h"

namespace kav {

// HKEY_LOCAL_MACHINE's key, as user mode opens it. The driver reaches the same key as the
// DriverParameters subkey of its service's Parameters key.
inline constexpr char16_t kDriverParametersKeyPath[] =
    u"SYSTEM\\CurrentControlSet\\Services\\KavUSB\\Parameters\\DriverParameters";
inline constexpr char16_t kDriverParametersSubkey[] = u"DriverParameters";

#pragma pack(push, 1)
// What the registry backs: the configuration record, then the speed values. DRIVER_CONTEXT
// begins with these bytes, and a speed get or set carries the last six of them.
struct DRIVER_PARAMETERS {
    _NERIO_DRIVER_CONFIG Config;
    std::uint32_t MaxSpeed;
    std::uint8_t VelocityRefCount;
    std::uint8_t VelocityWeight;
};
#pragma pack(pop)
static_assert(sizeof(DRIVER_PARAMETERS) == 65);
static_assert(offsetof(DRIVER_PARAMETERS, Config) == 0);
static_assert(offsetof(DRIVER_PARAMETERS, MaxSpeed) == 59);

// One per row of kDriverParameters, in the record's order.
enum class DriverParameterId : std::uint8_t {
    Mode,
    EnableTouch,
    EnableRightClick,
    CalibrateType,
    EnableDoubleClick,
    HideCursor,
    EnableBeep,
    BeepType,
    BeepMode,
    BeepFrequency,
    BeepDuration,
    Smoothness,
    RightClickTime,
    RightClickArea,
    DoubleClickTime,
    DoubleClickArea,
    Antijamming,
    EnableAntishake,
    MaxSpeed,
    VelocityRefCount,
    VelocityWeight,
};

struct DriverParameter {
    DriverParameterId id;
    const char16_t* name;  // the REG_DWORD value's name
    std::uint8_t offset;   // in DRIVER_PARAMETERS
    std::uint8_t width;    // 1 or 4 bytes, little-endian
    std::uint32_t defaultValue;
};

// Id, value name, offset and width, all from the field of the same name, so that they
// cannot drift apart.
#define KAV_CONFIG_FIELD(field) \
    DriverParameterId::field, u"" #field, offsetof(_NERIO_DRIVER_CONFIG, field), sizeof(_NERIO_DRIVER_CONFIG::field)
#define KAV_SPEED_FIELD(field) \
    DriverParameterId::field, u"" #field, offsetof(DRIVER_PARAMETERS, field), sizeof(DRIVER_PARAMETERS::field)

inline constexpr DriverParameter kDriverParameters[] = {
    {KAV_CONFIG_FIELD(Mode), 2},
    {KAV_CONFIG_FIELD(EnableTouch), 1},
    {KAV_CONFIG_FIELD(EnableRightClick), 1},
    {KAV_CONFIG_FIELD(CalibrateType), 1},
    {KAV_CONFIG_FIELD(EnableDoubleClick), 1},
    {KAV_CONFIG_FIELD(HideCursor), 0},
    {KAV_CONFIG_FIELD(EnableBeep), 0},
    {KAV_CONFIG_FIELD(BeepType), 0},
    {KAV_CONFIG_FIELD(BeepMode), 0},
    {KAV_CONFIG_FIELD(BeepFrequency), 2000},
    {KAV_CONFIG_FIELD(BeepDuration), 50},
    {KAV_CONFIG_FIELD(Smoothness), 1},
    {KAV_CONFIG_FIELD(RightClickTime), 1000},
    {KAV_CONFIG_FIELD(RightClickArea), 4},
    {KAV_CONFIG_FIELD(DoubleClickTime), 300},
    {KAV_CONFIG_FIELD(DoubleClickArea), 4},
    {KAV_CONFIG_FIELD(Antijamming), 0},
    {KAV_CONFIG_FIELD(EnableAntishake), 1},
    {KAV_SPEED_FIELD(MaxSpeed), 15000},
    {KAV_SPEED_FIELD(VelocityRefCount), 5},
    {KAV_SPEED_FIELD(VelocityWeight), 20},
};

#undef KAV_CONFIG_FIELD
#undef KAV_SPEED_FIELD

inline constexpr std::size_t kDriverParameterCount = sizeof kDriverParameters / sizeof kDriverParameters[0];
// The first 18 rows are the configuration record's; the speed values follow.
inline constexpr std::size_t kConfigParameterCount = 18;

constexpr const DriverParameter& DriverParameterOf(DriverParameterId id) {
    return kDriverParameters[static_cast<std::size_t>(id)];
}

namespace detail {
constexpr bool DriverParameterTableIsWellFormed() {
    if (kDriverParameterCount != static_cast<std::size_t>(DriverParameterId::VelocityWeight) + 1) return false;
    std::size_t end = 0;
    for (std::size_t i = 0; i < kDriverParameterCount; ++i) {
        const DriverParameter& row = kDriverParameters[i];
        if (i == kConfigParameterCount) {
            if (end != offsetof(_NERIO_DRIVER_CONFIG, Reserved)) return false;
            end = sizeof(_NERIO_DRIVER_CONFIG);
        }
        if (static_cast<std::size_t>(row.id) != i || row.offset != end) return false;
        if (row.width != 1 && row.width != 4) return false;
        end = row.offset + row.width;
    }
    return end == sizeof(DRIVER_PARAMETERS);
}
}  // namespace detail
// Rows in the enum's order, each field right after the one before, only the reserved bytes
// skipped: a row left out or misplaced does not compile.
static_assert(detail::DriverParameterTableIsWellFormed());

// The field of `parameter` in `bytes`, a DRIVER_PARAMETERS-shaped buffer of `size` bytes
// (a bare _NERIO_DRIVER_CONFIG holds only the first kConfigParameterCount). Little-endian
// whatever the host, as the record travels. False, and nothing read or written, when the
// field lies beyond `size`.
inline bool GetParameterField(const std::uint8_t* bytes, std::size_t size, const DriverParameter& parameter,
                              std::uint32_t* value) {
    if (bytes == nullptr || value == nullptr || parameter.offset + parameter.width > size) return false;
    std::uint32_t loaded = 0;
    for (std::size_t i = parameter.width; i-- > 0;) loaded = loaded << 8 | bytes[parameter.offset + i];
    *value = loaded;
    return true;
}

// A byte field takes the low 8 bits of `value`, as the driver stores a REG_DWORD into it.
inline bool SetParameterField(std::uint8_t* bytes, std::size_t size, const DriverParameter& parameter,
                              std::uint32_t value) {
    if (bytes == nullptr || parameter.offset + parameter.width > size) return false;
    for (std::size_t i = 0; i < parameter.width; ++i)
        bytes[parameter.offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    return true;
}

}  // namespace kav
