#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "devicelib/protocol.h"
#include "fake_controller.h"
#include "shared/device_packet.h"

namespace kav::devicelib::testing {
namespace {

struct FrameExample {
    std::uint8_t type, command, subCode;
    Bytes payload;
    Bytes frame;
};

class FrameExamples : public ::testing::TestWithParam<FrameExample> {};

TEST_P(FrameExamples, FramesAndParsesBack) {
    const FrameExample& e = GetParam();
    EXPECT_EQ(FrameBytes(e.type, e.command, e.subCode, e.payload), e.frame);

    DEVICE_PACKET parsed;
    ASSERT_TRUE(ParseFramedPacket(e.frame.data(), e.frame.size(), &parsed));
    EXPECT_EQ(parsed.type, e.type);
    EXPECT_EQ(parsed.command, e.command);
    EXPECT_EQ(parsed.subCode, e.subCode);
    const auto payload = PacketPayload(parsed);
    EXPECT_EQ(Bytes(payload.begin(), payload.end()), e.payload);
}

INSTANTIATE_TEST_SUITE_P(
    Protocol, FrameExamples,
    ::testing::Values(FrameExample{0x01, 0x71, 0x00, {0x01}, {0xAA, 0x01, 0x71, 0x02, 0x00, 0x01, 0x74}},
                      FrameExample{0x02, 0x70, 0x00, {}, {0xAA, 0x02, 0x70, 0x01, 0x00, 0x72}},
                      FrameExample{0x02, 0x60, 0x00, {0x05, 0x00}, {0xAA, 0x02, 0x60, 0x03, 0x00, 0x05, 0x00, 0x69}}));

TEST(Framing, EmptyPayloadIsSixBytesWithLOne) {
    const Bytes frame = FrameBytes(0x02, 0x32, 0x07, {});
    ASSERT_EQ(frame.size(), 6u);
    EXPECT_EQ(frame[3], 1);
    EXPECT_EQ(frame[4], 0x07);
}

TEST(Framing, FullPayloadPutsTheChecksumInTheLastReportByte) {
    Bytes payload(kMaxPacketPayload);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(0xC0 + i);
    const Bytes frame = FrameBytes(0x01, 0x11, 0x01, payload);
    ASSERT_EQ(frame.size(), kFeatureReportSize);
    EXPECT_EQ(frame[3], 59);
    EXPECT_EQ(frame[63], PacketChecksum(frame.data(), 63));

    const Report report = AsReport(frame);
    DEVICE_PACKET parsed;
    ASSERT_TRUE(ParseFramedPacket(report.data(), report.size(), &parsed));
    EXPECT_EQ(parsed.length, kMaxPacketPayload);
    EXPECT_EQ(parsed.payload[57], 0xC0 + 57);
}

TEST(Framing, MakePacketRefusesMoreThanAFrameHolds) {
    const std::array<std::uint8_t, kMaxPacketPayload + 1> tooLong{};
    EXPECT_FALSE(MakePacket(0x01, 0x11, 0x00, tooLong));
    const auto full = MakePacket(0x01, 0x11, 0x00, std::span(tooLong).first(kMaxPacketPayload));
    ASSERT_TRUE(full);
    EXPECT_EQ(full->length, kMaxPacketPayload);
}

// L = 0 would put the checksum over the sub-code; L = 60 beyond the report.
TEST(Framing, ImpossibleLengthsAreRejected) {
    for (const std::uint8_t l : {0, 60, 255}) {
        Report report{};
        report[0] = kPacketStart;
        report[1] = 0x12;
        report[2] = 0x70;
        report[3] = l;
        const std::size_t checksumAt = std::min<std::size_t>(4u + l, report.size() - 1);
        report[checksumAt] = PacketChecksum(report.data(), checksumAt);
        DEVICE_PACKET parsed;
        EXPECT_FALSE(ParseFramedPacket(report.data(), report.size(), &parsed)) << int{l};
    }
}

struct ReplyMatch {
    std::uint8_t requestType, replyType, replyCommand;
    bool accepted;
};

TEST(Framing, RepliesMatchByCommandAndTypeNibbleOnly) {
    const ReplyMatch cases[] = {
        {0x01, 0x11, 0x70, true},  {0x01, 0x12, 0x70, true},  {0x02, 0x12, 0x70, true},  {0x02, 0x1F, 0x70, true},
        {0x02, 0x02, 0x70, false}, {0x01, 0x20, 0x70, false}, {0x02, 0x01, 0x70, false}, {0x02, 0x12, 0x71, false},
        {0x02, 0x12, 0x60, false}, {0x02, 0x10, 0x70, true},  {0x02, 0x32, 0x70, false}, {0x01, 0x91, 0x70, false},
        {0x02, 0xF2, 0x70, false},
    };
    for (const ReplyMatch& c : cases) {
        DEVICE_PACKET request{};
        request.type = c.requestType;
        request.command = 0x70;
        request.subCode = 0x01;
        DEVICE_PACKET reply{};
        reply.type = c.replyType;
        reply.command = c.replyCommand;
        reply.subCode = 0x44;  // never compared
        EXPECT_EQ(IsReplyTo(request, reply), c.accepted)
            << std::hex << int{c.requestType} << " " << int{c.replyType} << " " << int{c.replyCommand};
    }
}

TEST(Framing, TransportSelectors) {
    EXPECT_EQ(TransportFromSelector(0), Transport::Serial);
    EXPECT_EQ(TransportFromSelector(1), Transport::Hid);
    for (const std::uint8_t selector : {2, 3, 0x80, 0xFF}) EXPECT_FALSE(TransportFromSelector(selector));
}

}  // namespace
}  // namespace kav::devicelib::testing
