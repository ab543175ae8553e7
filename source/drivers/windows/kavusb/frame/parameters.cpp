#include "parameters.h"

#include <cstring>

namespace kav {
namespace {

constexpr ACCESS_MASK kParametersKeyAccess = STANDARD_RIGHTS_ALL;
constexpr ACCESS_MASK kSubkeyAccess = KEY_READ | KEY_WRITE;

enum class Field : std::uint8_t {
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

struct Parameter {
    PCWSTR name;
    Field field;
    ULONG defaultValue;
};

// The load order.
constexpr Parameter kReadOrder[] = {
    {u"Mode", Field::Mode, kDefaultMode},
    {u"EnableRightClick", Field::EnableRightClick, kDefaultEnableRightClick},
    {u"RightClickArea", Field::RightClickArea, kDefaultRightClickArea},
    {u"RightClickTime", Field::RightClickTime, kDefaultRightClickTime},
    {u"EnableDoubleClick", Field::EnableDoubleClick, kDefaultEnableDoubleClick},
    {u"DoubleClickTime", Field::DoubleClickTime, kDefaultDoubleClickTime},
    {u"DoubleClickArea", Field::DoubleClickArea, kDefaultDoubleClickArea},
    {u"HideCursor", Field::HideCursor, kDefaultHideCursor},
    {u"EnableBeep", Field::EnableBeep, kDefaultEnableBeep},
    {u"BeepType", Field::BeepType, kDefaultBeepType},
    {u"BeepMode", Field::BeepMode, kDefaultBeepMode},
    {u"BeepFrequency", Field::BeepFrequency, kDefaultBeepFrequency},
    {u"BeepDuration", Field::BeepDuration, kDefaultBeepDuration},
    {u"EnableTouch", Field::EnableTouch, kDefaultEnableTouch},
    {u"CalibrateType", Field::CalibrateType, kDefaultCalibrateType},
    {u"Smoothness", Field::Smoothness, kDefaultSmoothness},
    {u"Antijamming", Field::Antijamming, kDefaultAntijamming},
    {u"EnableAntishake", Field::EnableAntishake, kDefaultEnableAntishake},
    {u"MaxSpeed", Field::MaxSpeed, kDefaultMaxSpeed},
    {u"VelocityRefCount", Field::VelocityRefCount, kDefaultVelocityRefCount},
    {u"VelocityWeight", Field::VelocityWeight, kDefaultVelocityWeight},
};

struct Written {
    PCWSTR name;
    Field field;
};

// The write-back order after a configuration set; user mode reads the key back.
constexpr Written kConfigWriteOrder[] = {
    {u"Mode", Field::Mode},
    {u"EnableRightClick", Field::EnableRightClick},
    {u"RightClickTime", Field::RightClickTime},
    {u"RightClickArea", Field::RightClickArea},
    {u"EnableDoubleClick", Field::EnableDoubleClick},
    {u"DoubleClickTime", Field::DoubleClickTime},
    {u"DoubleClickArea", Field::DoubleClickArea},
    {u"HideCursor", Field::HideCursor},
    {u"BeepType", Field::BeepType},
    {u"BeepFrequency", Field::BeepFrequency},
    {u"BeepDuration", Field::BeepDuration},
    {u"EnableBeep", Field::EnableBeep},
    {u"BeepMode", Field::BeepMode},
    {u"EnableTouch", Field::EnableTouch},
    {u"CalibrateType", Field::CalibrateType},
    {u"Smoothness", Field::Smoothness},
    {u"Antijamming", Field::Antijamming},
    {u"EnableAntishake", Field::EnableAntishake},
};
static_assert(sizeof kConfigWriteOrder / sizeof kConfigWriteOrder[0] == 18);

constexpr std::uint8_t LowByte(ULONG value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}

// By value: the record is packed, so no multi-byte member's address is ever taken.
void Store(DRIVER_CONTEXT* record, Field field, ULONG value) {
    _NERIO_DRIVER_CONFIG& c = record->Config;
    switch (field) {
        case Field::Mode:
            c.Mode = LowByte(value);
            break;
        case Field::EnableTouch:
            c.EnableTouch = LowByte(value);
            break;
        case Field::EnableRightClick:
            c.EnableRightClick = LowByte(value);
            break;
        case Field::CalibrateType:
            c.CalibrateType = LowByte(value);
            break;
        case Field::EnableDoubleClick:
            c.EnableDoubleClick = LowByte(value);
            break;
        case Field::HideCursor:
            c.HideCursor = LowByte(value);
            break;
        case Field::EnableBeep:
            c.EnableBeep = LowByte(value);
            break;
        case Field::BeepType:
            c.BeepType = LowByte(value);
            break;
        case Field::BeepMode:
            c.BeepMode = LowByte(value);
            break;
        case Field::BeepFrequency:
            c.BeepFrequency = value;
            break;
        case Field::BeepDuration:
            c.BeepDuration = value;
            break;
        case Field::Smoothness:
            c.Smoothness = value;
            break;
        case Field::RightClickTime:
            c.RightClickTime = value;
            break;
        case Field::RightClickArea:
            c.RightClickArea = value;
            break;
        case Field::DoubleClickTime:
            c.DoubleClickTime = value;
            break;
        case Field::DoubleClickArea:
            c.DoubleClickArea = value;
            break;
        case Field::Antijamming:
            c.Antijamming = LowByte(value);
            break;
        case Field::EnableAntishake:
            c.EnableAntishake = LowByte(value);
            break;
        case Field::MaxSpeed:
            record->MaxSpeed = value;
            break;
        case Field::VelocityRefCount:
            record->VelocityRefCount = LowByte(value);
            break;
        case Field::VelocityWeight:
            record->VelocityWeight = LowByte(value);
            break;
    }
}

ULONG Load(const _NERIO_DRIVER_CONFIG& c, Field field) {
    switch (field) {
        case Field::Mode:
            return c.Mode;
        case Field::EnableTouch:
            return c.EnableTouch;
        case Field::EnableRightClick:
            return c.EnableRightClick;
        case Field::CalibrateType:
            return c.CalibrateType;
        case Field::EnableDoubleClick:
            return c.EnableDoubleClick;
        case Field::HideCursor:
            return c.HideCursor;
        case Field::EnableBeep:
            return c.EnableBeep;
        case Field::BeepType:
            return c.BeepType;
        case Field::BeepMode:
            return c.BeepMode;
        case Field::BeepFrequency:
            return c.BeepFrequency;
        case Field::BeepDuration:
            return c.BeepDuration;
        case Field::Smoothness:
            return c.Smoothness;
        case Field::RightClickTime:
            return c.RightClickTime;
        case Field::RightClickArea:
            return c.RightClickArea;
        case Field::DoubleClickTime:
            return c.DoubleClickTime;
        case Field::DoubleClickArea:
            return c.DoubleClickArea;
        case Field::Antijamming:
            return c.Antijamming;
        case Field::EnableAntishake:
            return c.EnableAntishake;
        case Field::MaxSpeed:
        case Field::VelocityRefCount:
        case Field::VelocityWeight:
            break;
    }
    return 0;
}

// The DriverParameters subkey, opened for reading and writing alike.
NTSTATUS OpenDriverParametersKey(WDFDRIVER driver, WDFKEY* subkey) {
    WDFKEY parameters = nullptr;
    NTSTATUS status =
        WdfDriverOpenParametersRegistryKey(driver, kParametersKeyAccess, WDF_NO_OBJECT_ATTRIBUTES, &parameters);
    if (!NT_SUCCESS(status)) return status;
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, kDriverParametersSubkey);
    ULONG disposition = 0;
    status = WdfRegistryCreateKey(parameters, &name, kSubkeyAccess, REG_OPTION_NON_VOLATILE, &disposition,
                                  WDF_NO_OBJECT_ATTRIBUTES, subkey);
    WdfRegistryClose(parameters);
    return status;
}

}  // namespace

NTSTATUS QueryDriverParameter(WDFDRIVER driver, PCWSTR valueName, ULONG* value, ULONG defaultValue) {
    if (valueName == nullptr || value == nullptr) return STATUS_INVALID_PARAMETER;
    WDFKEY key = nullptr;
    NTSTATUS status = OpenDriverParametersKey(driver, &key);
    if (!NT_SUCCESS(status)) return status;
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, valueName);
    ULONG stored = 0;
    status = WdfRegistryQueryULong(key, &name, &stored);
    *value = NT_SUCCESS(status) ? stored : defaultValue;
    WdfRegistryClose(key);
    return status;
}

NTSTATUS AssignDriverParameter(WDFDRIVER driver, PCWSTR valueName, ULONG value) {
    if (valueName == nullptr) return STATUS_INVALID_PARAMETER;
    WDFKEY key = nullptr;
    NTSTATUS status = OpenDriverParametersKey(driver, &key);
    if (!NT_SUCCESS(status)) return status;
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, valueName);
    status = WdfRegistryAssignULong(key, &name, value);
    WdfRegistryClose(key);
    return status;
}

void ReadDriverParameters(DRIVER_CONTEXT* record, WDFDRIVER driver) {
    if (record == nullptr) return;
    for (const Parameter& parameter : kReadOrder) {
        // Preset, so that keys that cannot be opened still leave the default.
        ULONG value = parameter.defaultValue;
        QueryDriverParameter(driver, parameter.name, &value, parameter.defaultValue);
        Store(record, parameter.field, value);
    }
}

void WriteDriverParameters(const _NERIO_DRIVER_CONFIG* config, WDFDRIVER driver) {
    if (config == nullptr) return;
    for (const Written& value : kConfigWriteOrder)
        AssignDriverParameter(driver, value.name, Load(*config, value.field));
}

void WriteSpeedParameters(WDFDRIVER driver, ULONG maxSpeed, UCHAR velocityRefCount, UCHAR velocityWeight) {
    AssignDriverParameter(driver, u"MaxSpeed", maxSpeed);
    AssignDriverParameter(driver, u"VelocityRefCount", velocityRefCount);
    AssignDriverParameter(driver, u"VelocityWeight", velocityWeight);
}

NTSTATUS QueryScreenSizeOverride(USHORT* width, USHORT* height) {
    if (width == nullptr || height == nullptr) return STATUS_INVALID_PARAMETER;
    UNICODE_STRING path;
    RtlInitUnicodeString(&path, kScreenSizeOverrideKey);
    WDFKEY key = nullptr;
    NTSTATUS status = WdfRegistryOpenKey(nullptr, &path, KEY_READ, WDF_NO_OBJECT_ATTRIBUTES, &key);
    if (!NT_SUCCESS(status)) return status;
    UNICODE_STRING name;
    ULONG w = 0;
    ULONG h = 0;
    RtlInitUnicodeString(&name, u"Width");
    status = WdfRegistryQueryULong(key, &name, &w);
    if (NT_SUCCESS(status)) {
        RtlInitUnicodeString(&name, u"Height");
        status = WdfRegistryQueryULong(key, &name, &h);
    }
    WdfRegistryClose(key);
    if (!NT_SUCCESS(status)) return status;
    *width = static_cast<USHORT>(w & 0xFFFF);
    *height = static_cast<USHORT>(h & 0xFFFF);
    return STATUS_SUCCESS;
}

NTSTATUS LoadDriverParameters(WDFDRIVER driver) {
    if (driver == nullptr) return STATUS_INVALID_PARAMETER;
    DRIVER_CONTEXT* context = NerioGetDriverContext(driver);
    if (context == nullptr) return STATUS_INVALID_DEVICE_STATE;
    const NTSTATUS status = CreateDriverConfigLock(driver);
    ReadDriverParameters(context, driver);
    return status;
}

}  // namespace kav
