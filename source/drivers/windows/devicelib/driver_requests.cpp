#include "devicelib/driver_requests.h"

#include <array>
#include <cstring>

#include "shared/device_packet.h"
#include "shared/driver_request.h"
#include "shared/hid_reports.h"
#include "shared/work_modes.h"

namespace kav::devicelib {

namespace {

using Report = std::array<std::uint8_t, kFeatureReportSize>;

Report Request(std::uint8_t code) {
    Report report{};
    report[0] = kDriverRequestFeatureId;
    report[kDriverRequestCodeOffset] = code;
    return report;
}

}  // namespace

std::optional<std::uint8_t> ReadWorkMode(Handle device) {
    if (!platform::IsValidHandle(device)) return std::nullopt;
    Report report = Request(kDriverRequestWorkMode);
    if (!platform::CurrentPlatform().GetFeature(device, report)) return std::nullopt;
    return report[kDriverRequestWorkModeOffset];
}

bool WriteWorkMode(Handle device, std::uint8_t mode) {
    if (!IsValidWorkMode(mode) || !platform::IsValidHandle(device)) return false;
    Report report = Request(kDriverRequestWorkMode);
    report[kDriverRequestWorkModeOffset] = mode;
    return platform::CurrentPlatform().SetFeature(device, report);
}

std::optional<_NERIO_DRIVER_CONFIG> ReadDriverConfig(Handle device) {
    if (!platform::IsValidHandle(device)) return std::nullopt;
    Report report = Request(kDriverRequestGetConfig);
    if (!platform::CurrentPlatform().GetFeature(device, report)) return std::nullopt;
    // The record's first byte stands where the report ID stood.
    _NERIO_DRIVER_CONFIG config;
    std::memcpy(&config, report.data() + kDriverRequestGetDataOffset, sizeof(config));
    return config;
}

bool WriteDriverConfig(Handle device, const _NERIO_DRIVER_CONFIG& config) {
    if (!platform::IsValidHandle(device)) return false;
    Report report = Request(kDriverRequestSetConfig);
    static_assert(kDriverRequestSetDataOffset + sizeof(_NERIO_DRIVER_CONFIG) <= kFeatureReportSize);
    std::memcpy(report.data() + kDriverRequestSetDataOffset, &config, sizeof(config));
    return platform::CurrentPlatform().SetFeature(device, report);
}

std::optional<SpeedParameters> ReadSpeedParameters(Handle device) {
    if (!platform::IsValidHandle(device)) return std::nullopt;
    Report report = Request(kDriverRequestGetSpeed);
    if (!platform::CurrentPlatform().GetFeature(device, report)) return std::nullopt;
    SpeedParameters speed{};
    const std::uint8_t* data = report.data() + kDriverRequestGetDataOffset;
    std::memcpy(&speed.maxSpeed, data, sizeof(speed.maxSpeed));
    speed.velocityRefCount = data[4];
    speed.velocityWeight = data[5];
    return speed;
}

bool WriteSpeedParameters(Handle device, const SpeedParameters& speed) {
    if (!platform::IsValidHandle(device)) return false;
    Report report = Request(kDriverRequestSetSpeed);
    std::uint8_t* data = report.data() + kDriverRequestSetDataOffset;
    std::memcpy(data, &speed.maxSpeed, sizeof(speed.maxSpeed));
    data[4] = speed.velocityRefCount;
    data[5] = speed.velocityWeight;
    return platform::CurrentPlatform().SetFeature(device, report);
}

}  // namespace kav::devicelib
