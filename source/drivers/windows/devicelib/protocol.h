// The device command protocol: framed packets in command reports (feature 0xAA) over HID,
// and the same frames over a serial port. Transactions are synchronous, keep no state, and
// wait only through the platform's Sleep and the serial port's own time-outs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "devicelib/platform/platform.h"
#include "shared/device_commands.h"
#include "shared/device_packet.h"

namespace kav::devicelib {

using platform::Handle;

constexpr std::uint8_t kPacketTypeCommand = protocol::kTypeSet;
constexpr std::uint8_t kPacketTypeQuery = protocol::kTypeGet;
constexpr std::uint8_t kReplyTypeNibble = protocol::kReplyTypeNibble;

enum class Transport : std::uint8_t { Serial = 0, Hid = 1 };

// nullopt for any selector but 0 and 1; callers then refuse without touching the device.
constexpr std::optional<Transport> TransportFromSelector(std::uint8_t selector) {
    if (selector == 0) return Transport::Serial;
    if (selector == 1) return Transport::Hid;
    return std::nullopt;
}

using Timing = protocol::TimingSet;
constexpr Timing kStandardTiming = protocol::kStandardTiming;
constexpr Timing kFastTiming = protocol::kFastTiming;

// Bytes the serial receiver skips while it looks for the 0xAA marker before it gives the
// packet up: a full input queue of noise holds no reply.
constexpr std::size_t kMaxSkippedSerialBytes = 1024;

// A packet with the payload copied in; nullopt when the payload exceeds a frame.
std::optional<DEVICE_PACKET> MakePacket(std::uint8_t type, std::uint8_t command, std::uint8_t subCode,
                                        std::span<const std::uint8_t> payload);

// The meaningful payload bytes (never more than the record holds).
std::span<const std::uint8_t> PacketPayload(const DEVICE_PACKET& packet);

// The reply is matched by command and by the high nibble of its type only; its sub-code
// is not compared.
bool IsReplyTo(const DEVICE_PACKET& request, const DEVICE_PACKET& reply);

// --- HID command report ---

bool SendPacket_HID(const DEVICE_PACKET& packet, Handle device);
// Up to `polls` reads of the command report; frames that fail the checksum, carry an
// impossible length or answer another command only use up a poll.
bool ReceivePacket_HID(Handle device, const DEVICE_PACKET& request, DEVICE_PACKET& reply, std::uint32_t polls,
                       std::uint32_t pollWaitMs);
bool TransactPacket_HID(const DEVICE_PACKET& packet, Handle device, DEVICE_PACKET& reply, const Timing& timing);

// --- Serial port ---

bool SendPacket_COM(const DEVICE_PACKET& packet, Handle port);
// One frame into `buffer`; its byte count (L + 5), or nullopt when the line fell silent,
// no marker came within kMaxSkippedSerialBytes, or L cannot be a frame's.
std::optional<std::size_t> ReadPacket_COM(Handle port, std::span<std::uint8_t, kFeatureReportSize> buffer);
// Up to `maxPackets` frames; a failed read or a bad checksum ends it at once, a reply to
// another command makes it read the next frame.
bool ReceivePacket_COM(Handle port, const DEVICE_PACKET& request, DEVICE_PACKET& reply, std::uint32_t maxPackets);
// A failed send ends the transaction; a failed receive sends again on the next try.
bool TransactPacket_COM(const DEVICE_PACKET& packet, Handle port, DEVICE_PACKET& reply, std::uint32_t tries,
                        std::uint32_t maxPackets);

// --- Transport-neutral operations ---

// One transaction over the selected transport; nullopt on failure or an unknown selector.
std::optional<DEVICE_PACKET> Transact(std::uint8_t transport, Handle handle, const DEVICE_PACKET& request,
                                      const Timing& timing);

// A type-0x02 query; the accepted reply.
std::optional<DEVICE_PACKET> QueryDevice(std::uint8_t transport, Handle handle, std::uint8_t subCode,
                                         std::uint8_t command, std::span<const std::uint8_t> request,
                                         const Timing& timing = kStandardTiming);

// A type-0x01 command with standard timing; the reply's payload is not used.
bool CommandDevice(std::uint8_t transport, Handle handle, std::uint8_t subCode, std::uint8_t command,
                   std::span<const std::uint8_t> payload);

// A query whose reply is copied into `destination` up to its size; the reply's length, or
// nullopt on failure with `destination` untouched.
std::optional<std::size_t> QueryInto(std::uint8_t transport, Handle handle, std::uint8_t subCode, std::uint8_t command,
                                     std::span<const std::uint8_t> request, std::span<std::uint8_t> destination,
                                     const Timing& timing = kStandardTiming);

// A query that must answer with exactly destination.size() bytes; any other length fails
// and leaves `destination` untouched, even though the transaction succeeded.
bool QueryExact(std::uint8_t transport, Handle handle, std::uint8_t subCode, std::uint8_t command,
                std::span<const std::uint8_t> request, std::span<std::uint8_t> destination,
                const Timing& timing = kStandardTiming);

}  // namespace kav::devicelib
