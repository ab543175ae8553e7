#include "parameters.h"

#include <cstddef>
#include <cstdint>

namespace kav {
namespace {

constexpr ACCESS_MASK kParametersKeyAccess = STANDARD_RIGHTS_ALL;
constexpr ACCESS_MASK kSubkeyAccess = KEY_READ | KEY_WRITE;

// The record the table's offsets address is where DRIVER_CONTEXT begins.
static_assert(offsetof(DRIVER_CONTEXT, Config) == offsetof(DRIVER_PARAMETERS, Config));
static_assert(offsetof(DRIVER_CONTEXT, MaxSpeed) == offsetof(DRIVER_PARAMETERS, MaxSpeed));
static_assert(offsetof(DRIVER_CONTEXT, VelocityRefCount) == offsetof(DRIVER_PARAMETERS, VelocityRefCount));
static_assert(offsetof(DRIVER_CONTEXT, VelocityWeight) == offsetof(DRIVER_PARAMETERS, VelocityWeight));
static_assert(offsetof(DRIVER_CONTEXT, Click) >= sizeof(DRIVER_PARAMETERS));

using Id = DriverParameterId;

// The load order.
constexpr Id kReadOrder[] = {
    Id::Mode,
    Id::EnableRightClick,
    Id::RightClickArea,
    Id::RightClickTime,
    Id::EnableDoubleClick,
    Id::DoubleClickTime,
    Id::DoubleClickArea,
    Id::HideCursor,
    Id::EnableBeep,
    Id::BeepType,
    Id::BeepMode,
    Id::BeepFrequency,
    Id::BeepDuration,
    Id::EnableTouch,
    Id::CalibrateType,
    Id::Smoothness,
    Id::Antijamming,
    Id::EnableAntishake,
    Id::MaxSpeed,
    Id::VelocityRefCount,
    Id::VelocityWeight,
};
static_assert(sizeof kReadOrder / sizeof kReadOrder[0] == kDriverParameterCount);

// The write-back order after a configuration set; user mode reads the key back.
constexpr Id kConfigWriteOrder[] = {
    Id::Mode,
    Id::EnableRightClick,
    Id::RightClickTime,
    Id::RightClickArea,
    Id::EnableDoubleClick,
    Id::DoubleClickTime,
    Id::DoubleClickArea,
    Id::HideCursor,
    Id::BeepType,
    Id::BeepFrequency,
    Id::BeepDuration,
    Id::EnableBeep,
    Id::BeepMode,
    Id::EnableTouch,
    Id::CalibrateType,
    Id::Smoothness,
    Id::Antijamming,
    Id::EnableAntishake,
};
static_assert(sizeof kConfigWriteOrder / sizeof kConfigWriteOrder[0] == kConfigParameterCount);

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
    // Bytes, not members: the record is packed, so no multi-byte member's address is taken.
    auto* bytes = reinterpret_cast<std::uint8_t*>(record);
    for (Id id : kReadOrder) {
        const DriverParameter& parameter = DriverParameterOf(id);
        // Preset, so that keys that cannot be opened still leave the default.
        ULONG value = parameter.defaultValue;
        QueryDriverParameter(driver, parameter.name, &value, parameter.defaultValue);
        SetParameterField(bytes, sizeof(DRIVER_PARAMETERS), parameter, value);
    }
}

void WriteDriverParameters(const _NERIO_DRIVER_CONFIG* config, WDFDRIVER driver) {
    if (config == nullptr) return;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(config);
    for (Id id : kConfigWriteOrder) {
        const DriverParameter& parameter = DriverParameterOf(id);
        std::uint32_t value = 0;
        GetParameterField(bytes, sizeof *config, parameter, &value);
        AssignDriverParameter(driver, parameter.name, value);
    }
}

void WriteSpeedParameters(WDFDRIVER driver, ULONG maxSpeed, UCHAR velocityRefCount, UCHAR velocityWeight) {
    AssignDriverParameter(driver, DriverParameterOf(Id::MaxSpeed).name, maxSpeed);
    AssignDriverParameter(driver, DriverParameterOf(Id::VelocityRefCount).name, velocityRefCount);
    AssignDriverParameter(driver, DriverParameterOf(Id::VelocityWeight).name, velocityWeight);
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
