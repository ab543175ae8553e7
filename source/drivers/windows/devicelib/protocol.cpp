#include "devicelib/protocol.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kav::devicelib {

namespace {

using Report = std::array<std::uint8_t, kFeatureReportSize>;

platform::Platform& Os() {
    return platform::CurrentPlatform();
}

// The frame of `packet` in a zeroed report; its length, 0 when the packet cannot be framed.
std::size_t Frame(const DEVICE_PACKET& packet, Report& report) {
    report.fill(0);
    const std::size_t n = packet.length;
    if (n > kMaxPacketPayload) return 0;
    return BuildFramedPacket(packet.type, packet.command, packet.subCode, packet.payload, n, report.data());
}

}  // namespace

std::optional<DEVICE_PACKET> MakePacket(std::uint8_t type, std::uint8_t command, std::uint8_t subCode,
                                        std::span<const std::uint8_t> payload) {
    if (payload.size() > kMaxPacketPayload) return std::nullopt;
    DEVICE_PACKET packet{};
    packet.type = type;
    packet.command = command;
    packet.subCode = subCode;
    packet.length = static_cast<std::uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), packet.payload);
    return packet;
}

std::span<const std::uint8_t> PacketPayload(const DEVICE_PACKET& packet) {
    const std::size_t n = std::min<std::size_t>(packet.length, kMaxPacketPayload);
    return {packet.payload, n};
}

bool IsReplyTo(const DEVICE_PACKET& request, const DEVICE_PACKET& reply) {
    return reply.command == request.command && protocol::IsReplyType(reply.type);
}

// --- HID ---

bool SendPacket_HID(const DEVICE_PACKET& packet, Handle device) {
    Report report;
    if (Frame(packet, report) == 0) return false;
    return Os().SetFeature(device, report);
}

bool ReceivePacket_HID(Handle device, const DEVICE_PACKET& request, DEVICE_PACKET& reply, std::uint32_t polls,
                       std::uint32_t pollWaitMs) {
    platform::Platform& os = Os();
    for (std::uint32_t poll = 0; poll < polls; ++poll) {
        if (pollWaitMs > 0) os.Sleep(pollWaitMs);
        Report report{};
        report[0] = kPacketStart;
        if (!os.GetFeature(device, report)) continue;
        DEVICE_PACKET candidate;
        // Also rejects L = 0 and L > 59, whose checksum would lie outside the report.
        if (!ParseFramedPacket(report.data(), report.size(), &candidate)) continue;
        if (!IsReplyTo(request, candidate)) continue;
        reply = candidate;
        return true;
    }
    return false;
}

bool TransactPacket_HID(const DEVICE_PACKET& packet, Handle device, DEVICE_PACKET& reply, const Timing& timing) {
    for (std::uint32_t attempt = 0; attempt < timing.tries; ++attempt) {
        if (!SendPacket_HID(packet, device)) continue;
        if (timing.settleMs > 0) Os().Sleep(timing.settleMs);
        if (ReceivePacket_HID(device, packet, reply, timing.polls, timing.pollWaitMs)) return true;
    }
    return false;
}

// --- Serial ---

bool SendPacket_COM(const DEVICE_PACKET& packet, Handle port) {
    Report report;
    const std::size_t size = Frame(packet, report);
    if (size == 0) return false;
    platform::Platform& os = Os();
    // Stale bytes from an earlier exchange would be read first. A purge that fails leaves
    // at worst such bytes, which the reply matching skips, so the write still goes out.
    os.PurgeSerial(port);
    const std::optional<std::size_t> written = os.WriteSerial(port, std::span(report.data(), size));
    return written && *written == size;
}

std::optional<std::size_t> ReadPacket_COM(Handle port, std::span<std::uint8_t, kFeatureReportSize> buffer) {
    platform::Platform& os = Os();
    std::optional<std::uint8_t> byte;
    for (std::size_t skipped = 0;; ++skipped) {
        if (skipped > kMaxSkippedSerialBytes) return std::nullopt;
        byte = os.ReadSerialByte(port);
        if (!byte) return std::nullopt;
        if (*byte == kPacketStart) break;
    }
    buffer[0] = kPacketStart;
    for (std::size_t i = 1; i <= 3; ++i) {
        byte = os.ReadSerialByte(port);
        if (!byte) return std::nullopt;
        buffer[i] = *byte;
    }
    const std::uint8_t l = buffer[3];
    // Trusting a larger L would write past the frame.
    if (!FrameLengthValid(l)) return std::nullopt;
    const std::size_t size = std::size_t{l} + 5;
    for (std::size_t i = 4; i < size; ++i) {
        byte = os.ReadSerialByte(port);
        if (!byte) return std::nullopt;
        buffer[i] = *byte;
    }
    return size;
}

bool ReceivePacket_COM(Handle port, const DEVICE_PACKET& request, DEVICE_PACKET& reply, std::uint32_t maxPackets) {
    for (std::uint32_t packet = 0; packet < maxPackets; ++packet) {
        Report buffer{};
        const std::optional<std::size_t> size = ReadPacket_COM(port, buffer);
        if (!size || *size < 6) return false;
        DEVICE_PACKET candidate;
        if (!ParseFramedPacket(buffer.data(), *size, &candidate)) return false;
        if (!IsReplyTo(request, candidate)) continue;
        reply = candidate;
        return true;
    }
    return false;
}

bool TransactPacket_COM(const DEVICE_PACKET& packet, Handle port, DEVICE_PACKET& reply, std::uint32_t tries,
                        std::uint32_t maxPackets) {
    for (std::uint32_t attempt = 0; attempt < tries; ++attempt) {
        if (!SendPacket_COM(packet, port)) return false;
        if (ReceivePacket_COM(port, packet, reply, maxPackets)) return true;
    }
    return false;
}

// --- Transport-neutral ---

std::optional<DEVICE_PACKET> Transact(std::uint8_t transport, Handle handle, const DEVICE_PACKET& request,
                                      const Timing& timing) {
    const std::optional<Transport> kind = TransportFromSelector(transport);
    if (!kind) return std::nullopt;
    DEVICE_PACKET reply{};
    const bool ok = *kind == Transport::Hid ? TransactPacket_HID(request, handle, reply, timing)
                                            : TransactPacket_COM(request, handle, reply, timing.tries, timing.polls);
    if (!ok) return std::nullopt;
    return reply;
}

std::optional<DEVICE_PACKET> QueryDevice(std::uint8_t transport, Handle handle, std::uint8_t subCode,
                                         std::uint8_t command, std::span<const std::uint8_t> request,
                                         const Timing& timing) {
    if (!TransportFromSelector(transport)) return std::nullopt;
    const std::optional<DEVICE_PACKET> packet = MakePacket(kPacketTypeQuery, command, subCode, request);
    if (!packet) return std::nullopt;
    return Transact(transport, handle, *packet, timing);
}

bool CommandDevice(std::uint8_t transport, Handle handle, std::uint8_t subCode, std::uint8_t command,
                   std::span<const std::uint8_t> payload) {
    if (!TransportFromSelector(transport)) return false;
    const std::optional<DEVICE_PACKET> packet = MakePacket(kPacketTypeCommand, command, subCode, payload);
    if (!packet) return false;
    return Transact(transport, handle, *packet, kStandardTiming).has_value();
}

std::optional<std::size_t> QueryInto(std::uint8_t transport, Handle handle, std::uint8_t subCode, std::uint8_t command,
                                     std::span<const std::uint8_t> request, std::span<std::uint8_t> destination,
                                     const Timing& timing) {
    const std::optional<DEVICE_PACKET> reply = QueryDevice(transport, handle, subCode, command, request, timing);
    if (!reply) return std::nullopt;
    const std::span<const std::uint8_t> payload = PacketPayload(*reply);
    const std::size_t copied = std::min(payload.size(), destination.size());
    std::copy_n(payload.begin(), copied, destination.begin());
    return payload.size();
}

bool QueryExact(std::uint8_t transport, Handle handle, std::uint8_t subCode, std::uint8_t command,
                std::span<const std::uint8_t> request, std::span<std::uint8_t> destination, const Timing& timing) {
    const std::optional<DEVICE_PACKET> reply = QueryDevice(transport, handle, subCode, command, request, timing);
    if (!reply) return false;
    const std::span<const std::uint8_t> payload = PacketPayload(*reply);
    if (payload.size() != destination.size()) return false;
    std::copy(payload.begin(), payload.end(), destination.begin());
    return true;
}

}  // namespace kav::devicelib
