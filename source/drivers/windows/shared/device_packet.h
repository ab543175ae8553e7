// The framed device packet: the command report, the serial form, and the start of every
// packet the controller sends on its input pipe.
//
//   0: 0xAA  1: type  2: command  3: L (= payload length + 1)  4: sub-code
//   5 .. 3+L: payload   4+L: checksum = (0x55 + sum of bytes 0 .. 3+L) mod 256
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kav {

constexpr std::uint8_t kPacketStart = 0xAA;
constexpr std::size_t kPacketHeaderSize = 5;      // start, type, command, L, sub-code
constexpr std::size_t kMaxPacketPayload = 58;     // L = 59, checksum in byte 63
constexpr std::size_t kFeatureReportSize = 64;    // a frame always fits one command report
constexpr std::size_t kUsbTransferSize = 1024;    // one continuous-reader transfer

#pragma pack(push, 1)
// A packet in memory; serves as request and as parsed reply.
struct DEVICE_PACKET {
    std::uint8_t type;
    std::uint8_t command;
    std::uint8_t subCode;
    std::uint8_t length;  // payload bytes, 0..58
    std::uint8_t payload[kMaxPacketPayload];
};
#pragma pack(pop)
static_assert(sizeof(DEVICE_PACKET) == 62);
static_assert(offsetof(DEVICE_PACKET, length) == 3);
static_assert(offsetof(DEVICE_PACKET, payload) == 4);
using _DEVICE_PACKET = DEVICE_PACKET;

// Checksum over the first `count` bytes of a frame (the 0xAA marker included).
constexpr std::uint8_t PacketChecksum(const std::uint8_t* frame, std::size_t count) {
    unsigned sum = 0x55;
    for (std::size_t i = 0; i < count; ++i) sum += frame[i];
    return static_cast<std::uint8_t>(sum);
}

// Frames a packet into `out` (at least n + 6 bytes; callers zero the rest of a report
// themselves). Returns the frame's length, n + 6, or 0 when n exceeds a frame.
inline std::size_t BuildFramedPacket(std::uint8_t type, std::uint8_t command, std::uint8_t subCode,
                                     const std::uint8_t* payload, std::size_t n, std::uint8_t* out) {
    if (n > kMaxPacketPayload) return 0;
    out[0] = kPacketStart;
    out[1] = type;
    out[2] = command;
    out[3] = static_cast<std::uint8_t>(n + 1);
    out[4] = subCode;
    if (n != 0) std::memcpy(out + kPacketHeaderSize, payload, n);
    out[kPacketHeaderSize + n] = PacketChecksum(out, kPacketHeaderSize + n);
    return n + 6;
}

// A frame's L is usable when its payload fits a DEVICE_PACKET and its checksum lies
// inside a 64-byte report.
constexpr bool FrameLengthValid(std::uint8_t l) { return l >= 1 && l <= kMaxPacketPayload + 1; }

// True when frame[0..4+L] (L = frame[3]) is within `size` bytes, L is valid and the
// checksum matches. The start byte is taken as 0xAA whatever it holds, so that a raw
// packet report (0x36 in byte 0) checks the same.
inline bool FrameChecksumValid(const std::uint8_t* frame, std::size_t size) {
    if (size < 6) return false;
    const std::uint8_t l = frame[3];
    if (!FrameLengthValid(l) || static_cast<std::size_t>(4 + l) >= size) return false;
    const std::uint8_t sum = static_cast<std::uint8_t>(PacketChecksum(frame + 1, 3u + l) + kPacketStart);
    return sum == frame[4 + l];
}

// Parses a checked frame into a DEVICE_PACKET. Returns false when the frame is not valid.
inline bool ParseFramedPacket(const std::uint8_t* frame, std::size_t size, DEVICE_PACKET* packet) {
    if (!FrameChecksumValid(frame, size)) return false;
    packet->type = frame[1];
    packet->command = frame[2];
    packet->subCode = frame[4];
    packet->length = static_cast<std::uint8_t>(frame[3] - 1);
    std::memset(packet->payload, 0, sizeof(packet->payload));
    std::memcpy(packet->payload, frame + kPacketHeaderSize, packet->length);
    return true;
}

}  // namespace kav
