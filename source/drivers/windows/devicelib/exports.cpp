// The C entry points: thin shells over the protocol, which holds the behaviour.
#include <array>
#include <span>

#include "devicelib/driver_requests.h"
#include "devicelib/guarded.h"
#include "devicelib/include/KavLib.h"
#include "devicelib/platform/platform.h"
#include "shared/device_packet.h"

namespace {

using kav::devicelib::Guarded;
using kav::platform::CurrentPlatform;
using kav::platform::IsValidHandle;

}  // namespace

extern "C" {

unsigned char GetFeature(KAVLIB_HANDLE device, unsigned char* buffer) {
    if (!IsValidHandle(device) || buffer == nullptr) return 0;
    return Guarded([&] { return CurrentPlatform().GetFeature(device, std::span(buffer, kav::kFeatureReportSize)); });
}

unsigned char SetFeature(KAVLIB_HANDLE device, unsigned char* buffer) {
    if (!IsValidHandle(device) || buffer == nullptr) return 0;
    return Guarded([&] {
        return CurrentPlatform().SetFeature(device, std::span<const unsigned char>(buffer, kav::kFeatureReportSize));
    });
}

unsigned char Nerio_GetWorkMode(KAVLIB_HANDLE device, unsigned char& mode) {
    return Guarded([&] {
        const auto current = kav::devicelib::ReadWorkMode(device);
        if (current) mode = *current;
        return current.has_value();
    });
}

unsigned char Get_WorkMode(KAVLIB_HANDLE device, unsigned char& mode) KAV_EXPORT_ALIAS_OF(Nerio_GetWorkMode);

unsigned char Nerio_SetWorkMode(KAVLIB_HANDLE device, unsigned char mode) {
    return Guarded([&] { return kav::devicelib::WriteWorkMode(device, mode); });
}

unsigned char Set_WorkMode(KAVLIB_HANDLE device, unsigned char mode) KAV_EXPORT_ALIAS_OF(Nerio_SetWorkMode);

// A failed read reports 0, so that a caller who checks can tell its record was not filled.
unsigned char Nerio_GetDriverConfig(KAVLIB_HANDLE device, _NERIO_DRIVER_CONFIG& config) {
    return Guarded([&] {
        const auto current = kav::devicelib::ReadDriverConfig(device);
        if (current) config = *current;
        return current.has_value();
    });
}

unsigned char Get_DriverConfig(KAVLIB_HANDLE device, _NERIO_DRIVER_CONFIG& config)
    KAV_EXPORT_ALIAS_OF(Nerio_GetDriverConfig);

unsigned char Nerio_SetDriverConfig(KAVLIB_HANDLE device, _NERIO_DRIVER_CONFIG config) {
    return Guarded([&] { return kav::devicelib::WriteDriverConfig(device, config); });
}

unsigned char Set_DriverConfig(KAVLIB_HANDLE device, _NERIO_DRIVER_CONFIG config)
    KAV_EXPORT_ALIAS_OF(Nerio_SetDriverConfig);

}  // extern "C"
