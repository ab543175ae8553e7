// The C entry points: thin shells over the protocol, which holds the behaviour.
#include <array>
#include <span>

#include "devicelib/driver_requests.h"
#include "devicelib/include/KavLib.h"
#include "devicelib/platform/platform.h"
#include "shared/device_packet.h"

namespace {

using kav::platform::CurrentPlatform;
using kav::platform::IsValidHandle;

unsigned char Result(bool ok) {
    return ok ? 1 : 0;
}

}  // namespace

extern "C" {

unsigned char GetFeature(KAVLIB_HANDLE device, unsigned char* buffer) {
    if (!IsValidHandle(device) || buffer == nullptr) return 0;
    return Result(CurrentPlatform().GetFeature(device, std::span(buffer, kav::kFeatureReportSize)));
}

unsigned char SetFeature(KAVLIB_HANDLE device, unsigned char* buffer) {
    if (!IsValidHandle(device) || buffer == nullptr) return 0;
    return Result(
        CurrentPlatform().SetFeature(device, std::span<const unsigned char>(buffer, kav::kFeatureReportSize)));
}

unsigned char Nerio_GetWorkMode(KAVLIB_HANDLE device, unsigned char& mode) {
    const auto current = kav::devicelib::ReadWorkMode(device);
    if (!current) return 0;
    mode = *current;
    return 1;
}

unsigned char Get_WorkMode(KAVLIB_HANDLE device, unsigned char& mode) {
    return Nerio_GetWorkMode(device, mode);
}

unsigned char Nerio_SetWorkMode(KAVLIB_HANDLE device, unsigned char mode) {
    return Result(kav::devicelib::WriteWorkMode(device, mode));
}

unsigned char Set_WorkMode(KAVLIB_HANDLE device, unsigned char mode) {
    return Nerio_SetWorkMode(device, mode);
}

// A failed read reports 0, so that a caller who checks can tell its record was not filled.
unsigned char Nerio_GetDriverConfig(KAVLIB_HANDLE device, _NERIO_DRIVER_CONFIG& config) {
    const auto current = kav::devicelib::ReadDriverConfig(device);
    if (!current) return 0;
    config = *current;
    return 1;
}

unsigned char Get_DriverConfig(KAVLIB_HANDLE device, _NERIO_DRIVER_CONFIG& config) {
    return Nerio_GetDriverConfig(device, config);
}

unsigned char Nerio_SetDriverConfig(KAVLIB_HANDLE device, _NERIO_DRIVER_CONFIG config) {
    return Result(kav::devicelib::WriteDriverConfig(device, config));
}

unsigned char Set_DriverConfig(KAVLIB_HANDLE device, _NERIO_DRIVER_CONFIG config) {
    return Nerio_SetDriverConfig(device, config);
}

}  // extern "C"
