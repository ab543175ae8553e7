#include "devicelib/calib_para.h"

#include <optional>
#include <span>

#include "devicelib/access_bracket.h"
#include "devicelib/accessors.h"
#include "shared/device_commands.h"

namespace kav::devicelib {

namespace {

constexpr std::uint8_t kHid = static_cast<std::uint8_t>(Transport::Hid);

struct Product {
    std::uint16_t productId;
    CalibrationCommands commands;
};

constexpr Product kProducts[] = {
    {protocol::kProductPacket, CalibrationCommands::Standard},
    {protocol::kProductImage, CalibrationCommands::Standard},
    {protocol::kProductStylus, CalibrationCommands::Infrared},
};

// The commands and sub-codes that carry one axis's record.
struct Axis {
    const protocol::Command& get;
    const protocol::Command& set;
    std::uint8_t subCode;
};

constexpr Axis kStandardX{protocol::kGetCalibParams, protocol::kSetCalibParams, protocol::kSubCalibX};
constexpr Axis kStandardY{protocol::kGetCalibParams, protocol::kSetCalibParams, protocol::kSubCalibY};
constexpr Axis kInfraredX{protocol::kGetCalibParamsXInfrared, protocol::kSetCalibParamsXInfrared,
                          protocol::kSubInfrared};
constexpr Axis kInfraredY{protocol::kGetCalibParamsYInfrared, protocol::kSetCalibParamsYInfrared,
                          protocol::kSubInfrared};

bool Read(const Axis& axis, Handle device, DEVICE_CALIB_PARAS& record) {
    return ReadItem(axis.get, kHid, device, axis.subCode, {},
                    std::span(reinterpret_cast<std::uint8_t*>(&record), sizeof record));
}

bool Write(const Axis& axis, Handle device, const DEVICE_CALIB_PARAS& record) {
    return WriteItem(axis.set, kHid, device, axis.subCode,
                     std::span(reinterpret_cast<const std::uint8_t*>(&record), sizeof record));
}

struct Target {
    std::uint16_t productId;
    const Axis& x;
    const Axis& y;
};

// The product's axes, or nullopt when it has none or cannot be asked.
std::optional<Target> TargetOf(Handle device) {
    if (!platform::IsValidHandle(device)) return std::nullopt;
    const std::optional<platform::HidAttributes> attributes = platform::CurrentPlatform().GetAttributes(device);
    if (!attributes) return std::nullopt;
    switch (CalibrationCommandsOf(attributes->ProductId)) {
        case CalibrationCommands::Standard:
            return Target{attributes->ProductId, kStandardX, kStandardY};
        case CalibrationCommands::Infrared:
            return Target{attributes->ProductId, kInfraredX, kInfraredY};
        case CalibrationCommands::None:
            break;
    }
    return std::nullopt;
}

}  // namespace

CalibrationCommands CalibrationCommandsOf(std::uint16_t productId) {
    for (const Product& product : kProducts)
        if (product.productId == productId) return product.commands;
    return CalibrationCommands::None;
}

bool ReadCalibration(Handle device, DEVICE_CALIB_PARAS& x, DEVICE_CALIB_PARAS& y) {
    const std::optional<Target> target = TargetOf(device);
    if (!target) return false;
    return WithCalibrationBracket(device, target->productId, [&] {
        const bool first = Read(target->x, device, x);
        const bool second = Read(target->y, device, y);  // whatever the first did
        return first && second;
    });
}

bool WriteCalibration(Handle device, const DEVICE_CALIB_PARAS& x, const DEVICE_CALIB_PARAS& y) {
    const std::optional<Target> target = TargetOf(device);
    if (!target) return false;
    return WithCalibrationBracket(device, target->productId, [&] {
        const bool first = Write(target->x, device, x);
        const bool second = Write(target->y, device, y);  // whatever the first did
        return first && second;
    });
}

}  // namespace kav::devicelib
