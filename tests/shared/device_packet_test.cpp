#include "shared/device_packet.h"

#include <gtest/gtest.h>

#include <vector>

namespace kav::test {
namespace {

TEST(DevicePacket, FramesAndChecksumsAsTheControllerExpects) {
    struct Case {
        std::uint8_t type, command, subCode;
        std::vector<std::uint8_t> payload;
        std::vector<std::uint8_t> frame;
    };
    const Case cases[] = {
        {0x01, 0x71, 0x00, {0x01}, {0xAA, 0x01, 0x71, 0x02, 0x00, 0x01, 0x74}},
        {0x02, 0x70, 0x00, {}, {0xAA, 0x02, 0x70, 0x01, 0x00, 0x72}},
        {0x02, 0x60, 0x00, {0x05, 0x00}, {0xAA, 0x02, 0x60, 0x03, 0x00, 0x05, 0x00, 0x69}},
    };
    for (const Case& c : cases) {
        std::uint8_t out[64] = {};
        ASSERT_EQ(BuildFramedPacket(c.type, c.command, c.subCode, c.payload.data(), c.payload.size(), out),
                  c.frame.size());
        EXPECT_EQ(std::vector<std::uint8_t>(out, out + c.frame.size()), c.frame);
        EXPECT_TRUE(FrameChecksumValid(out, sizeof(out)));

        DEVICE_PACKET parsed{};
        ASSERT_TRUE(ParseFramedPacket(out, sizeof(out), &parsed));
        EXPECT_EQ(parsed.type, c.type);
        EXPECT_EQ(parsed.command, c.command);
        EXPECT_EQ(parsed.subCode, c.subCode);
        EXPECT_EQ(std::vector<std::uint8_t>(parsed.payload, parsed.payload + parsed.length), c.payload);
    }
}

TEST(DevicePacket, LengthLimitsAndCorruption) {
    std::uint8_t payload[kMaxPacketPayload + 1] = {};
    for (size_t i = 0; i < sizeof(payload); ++i) payload[i] = static_cast<std::uint8_t>(i);
    std::uint8_t out[kFeatureReportSize] = {};

    // L = 59: the checksum is the last byte of a 64-byte report.
    ASSERT_EQ(BuildFramedPacket(1, 2, 3, payload, kMaxPacketPayload, out), 64u);
    EXPECT_EQ(out[3], 59);
    EXPECT_TRUE(FrameChecksumValid(out, sizeof(out)));
    EXPECT_FALSE(FrameChecksumValid(out, sizeof(out) - 1));  // checksum beyond the buffer
    EXPECT_EQ(BuildFramedPacket(1, 2, 3, payload, kMaxPacketPayload + 1, out), 0u);

    // A raw packet report carries 0x36 in place of the start byte and checks the same.
    BuildFramedPacket(1, 2, 3, payload, 4, out);
    out[0] = 0x36;
    EXPECT_TRUE(FrameChecksumValid(out, sizeof(out)));
    out[6] ^= 1;
    EXPECT_FALSE(FrameChecksumValid(out, sizeof(out)));

    for (std::uint8_t l : {0, 60, 255}) {
        std::uint8_t frame[kFeatureReportSize] = {0xAA, 1, 2, l, 0};
        frame[4 + (l < 60 ? l : 0)] = PacketChecksum(frame, 4u + (l < 60 ? l : 0));
        DEVICE_PACKET parsed{};
        EXPECT_FALSE(ParseFramedPacket(frame, sizeof(frame), &parsed)) << int(l);
    }
    EXPECT_TRUE(FrameLengthValid(1));
    EXPECT_TRUE(FrameLengthValid(59));
}

}  // namespace
}  // namespace kav::test
