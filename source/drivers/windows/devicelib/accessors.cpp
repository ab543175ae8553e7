#include "devicelib/accessors.h"

#include <algorithm>

#include "devicelib/platform/platform.h"

namespace kav::devicelib {

bool ReadItem(const protocol::Command& command, std::uint8_t transport, Handle handle, std::uint8_t subCode,
              std::span<const std::uint8_t> request, std::span<std::uint8_t> destination, std::uint8_t* replyLength) {
    if (!command.IsGet() || !TransportFromSelector(transport)) return false;
    const Timing& timing = command.timing == protocol::Timing::Fast ? kFastTiming : kStandardTiming;
    const std::optional<DEVICE_PACKET> reply =
        QueryDevice(transport, handle, command.SubCodeFor(subCode), command.code, request, timing);
    if (!reply) return false;
    const std::span<const std::uint8_t> payload = PacketPayload(*reply);
    // Never more than the row's size: a controller that answers with more must not write
    // past a caller's buffer sized for the item.
    const std::size_t copied = std::min({payload.size(), std::size_t{command.replySize}, destination.size()});
    const bool exact = command.reply != protocol::ReplyRule::Exactly || payload.size() == command.replySize;
    if (replyLength != nullptr) {
        *replyLength = static_cast<std::uint8_t>(payload.size());
    } else if (!exact) {
        return false;
    }
    std::copy_n(payload.begin(), copied, destination.begin());
    return exact;
}

bool WriteItem(const protocol::Command& command, std::uint8_t transport, Handle handle, std::uint8_t subCode,
               std::span<const std::uint8_t> payload) {
    if (command.IsGet() || payload.size() != command.requestSize) return false;
    if (!CommandDevice(transport, handle, command.SubCodeFor(subCode), command.code, payload)) return false;
    if (command.pauseMs > 0) platform::CurrentPlatform().Sleep(command.pauseMs);
    return true;
}

}  // namespace kav::devicelib
