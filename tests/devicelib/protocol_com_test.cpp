#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "devicelib/protocol.h"
#include "fake_controller.h"

namespace kav::devicelib::testing {
namespace {

constexpr std::uint8_t kSerial = 0;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Repeat(const Bytes& part, std::size_t times) {
    Bytes all;
    for (std::size_t i = 0; i < times; ++i) all.insert(all.end(), part.begin(), part.end());
    return all;
}

using SerialProtocol = ControllerTest;

TEST_F(SerialProtocol, SendPurgesThenWritesTheFrameWithoutFill) {
    struct Capture : FakeController {
        bool PurgeSerial(platform::Handle) override {
            log.push_back("purge");
            return true;
        }
        std::optional<std::size_t> WriteSerial(platform::Handle, std::span<const std::uint8_t> bytes) override {
            log.push_back("write");
            sent.assign(bytes.begin(), bytes.end());
            return bytes.size();
        }
        std::vector<std::string> log;
        Bytes sent;
    } capture;
    platform::SetPlatform(&capture);
    const auto packet = MakePacket(0x02, 0x70, 0x00, {});
    ASSERT_TRUE(packet);
    ASSERT_TRUE(SendPacket_COM(*packet, capture.port));
    EXPECT_EQ(capture.log, (std::vector<std::string>{"purge", "write"}));
    EXPECT_EQ(capture.sent, (Bytes{0xAA, 0x02, 0x70, 0x01, 0x00, 0x72}));
}

TEST_F(SerialProtocol, QueryRoundTripWithAFullFrame) {
    Bytes payload(kMaxPacketPayload);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i);
    controller.payloads[0x30] = payload;
    std::array<std::uint8_t, kMaxPacketPayload> destination{};
    ASSERT_EQ(QueryInto(kSerial, controller.port, 0x01, 0x30, {}, destination), kMaxPacketPayload);
    EXPECT_EQ(Bytes(destination.begin(), destination.end()), payload);
    EXPECT_EQ(controller.serialWrites, 1);
    EXPECT_EQ(controller.serialReads, 64);
    EXPECT_EQ(controller.requests.at(0).subCode, 0x01);
}

TEST_F(SerialProtocol, ShortWriteEndsTheTransactionAtOnce) {
    controller.serialWriteLimit = 3;
    EXPECT_FALSE(CommandDevice(kSerial, controller.port, 0x00, 0x71, std::array<std::uint8_t, 1>{1}));
    EXPECT_EQ(controller.serialWrites, 1);
    EXPECT_EQ(controller.serialReads, 0);
}

struct SilentCase {
    const char* name;
    Timing timing;
    std::uint8_t command;
};

class SerialSilent : public SerialProtocol, public ::testing::WithParamInterface<SilentCase> {};

// Each try sends once and ends with the first read that brings nothing.
TEST_P(SerialSilent, ControllerThatNeverAnswers) {
    const SilentCase& c = GetParam();
    controller.faults[c.command] = Fault::Silent;
    EXPECT_FALSE(QueryDevice(kSerial, controller.port, 0x00, c.command, {}, c.timing));
    EXPECT_EQ(controller.serialWrites, static_cast<int>(c.timing.tries));
    EXPECT_EQ(controller.purges, static_cast<int>(c.timing.tries));
    EXPECT_EQ(controller.serialReads, static_cast<int>(c.timing.tries));
    EXPECT_EQ(controller.serialTimeouts, static_cast<int>(c.timing.tries));
    EXPECT_TRUE(controller.sleeps.empty());
}

INSTANTIATE_TEST_SUITE_P(Protocol, SerialSilent,
                         ::testing::Values(SilentCase{"Standard", kStandardTiming, 0x32},
                                           SilentCase{"Fast", kFastTiming, 0x66}),
                         [](const ::testing::TestParamInfo<SilentCase>& info) { return info.param.name; });

struct TryCase {
    const char* name;
    std::vector<Bytes> replies;  // per write; later writes get the proper answer
    int writes;                  // until the transaction succeeds
};

class SerialTries : public SerialProtocol, public ::testing::WithParamInterface<TryCase> {};

TEST_P(SerialTries, WhatEndsATryAndWhatOnlyReadsOn) {
    const TryCase& c = GetParam();
    controller.payloads[0x32] = {1, 5, 7, 10};
    controller.serialReplies.assign(c.replies.begin(), c.replies.end());
    const auto reply = QueryDevice(kSerial, controller.port, 0x00, 0x32, {});
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->length, 4);
    EXPECT_EQ(reply->payload[3], 10);
    EXPECT_EQ(controller.serialWrites, c.writes);
}

const Bytes kGood = FrameBytes(0x12, 0x32, 0x00, {1, 5, 7, 10});
const Bytes kOtherCommand = FrameBytes(0x12, 0x33, 0x00, {9});
const Bytes kType02 = FrameBytes(0x02, 0x32, 0x00, {9});
const Bytes kType20 = FrameBytes(0x20, 0x32, 0x00, {9});
const Bytes kOtherSubCode = FrameBytes(0x12, 0x32, 0x07, {1, 5, 7, 10});
const Bytes kLZero{0xAA, 0x12, 0x32, 0x00, 0xF1, 0x00};
const Bytes kLSixty{0xAA, 0x12, 0x32, 60};

INSTANTIATE_TEST_SUITE_P(
    Protocol, SerialTries,
    ::testing::Values(TryCase{"Answered", {kGood}, 1}, TryCase{"OtherSubCodeAccepted", {kOtherSubCode}, 1},
                      TryCase{"OtherCommandReadsOn", {Concat({kOtherCommand, kType02, kType20, kGood})}, 1},
                      TryCase{"NoiseBeforeTheMarkerSkipped", {Concat({Bytes(7, 0x55), kGood})}, 1},
                      TryCase{"BadChecksumEndsTheTry", {Concat({CorruptChecksum(kGood), kGood})}, 2},
                      TryCase{"LZeroEndsTheTry", {Concat({kLZero, kGood})}, 2},
                      TryCase{"LSixtyEndsTheTry", {Concat({kLSixty, kGood})}, 2},
                      TryCase{"TruncatedFrameEndsTheTry", {Bytes(kGood.begin(), kGood.end() - 1)}, 2},
                      TryCase{"FiftyOtherRepliesEndTheTry", {Concat({Repeat(kOtherCommand, 50), kGood})}, 2},
                      TryCase{"FortyNineOtherRepliesDoNot", {Concat({Repeat(kOtherCommand, 49), kGood})}, 1},
                      TryCase{"FourFailedTries", {{}, CorruptChecksum(kGood), kLZero, {}}, 5}),
    [](const ::testing::TestParamInfo<TryCase>& info) { return info.param.name; });

TEST_F(SerialProtocol, ImpossibleLengthIsRejectedBeforeReadingOn) {
    controller.QueueSerialBytes(Concat({kLSixty, Bytes(60, 0)}));
    std::array<std::uint8_t, kFeatureReportSize> buffer{};
    EXPECT_FALSE(ReadPacket_COM(controller.port, buffer));
    EXPECT_EQ(controller.serialReads, 4);
    EXPECT_EQ(controller.SerialBytesLeft(), 60u);
}

TEST_F(SerialProtocol, MarkerSearchGivesUpAfterTheBound) {
    std::array<std::uint8_t, kFeatureReportSize> buffer{};
    controller.QueueSerialBytes(Concat({Bytes(kMaxSkippedSerialBytes, 0x00), kGood}));
    EXPECT_EQ(ReadPacket_COM(controller.port, buffer), kGood.size());
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + kGood.size()), kGood);

    FakeController noisy;
    platform::SetPlatform(&noisy);
    noisy.QueueSerialBytes(Concat({Bytes(kMaxSkippedSerialBytes + 1, 0x00), kGood}));
    EXPECT_FALSE(ReadPacket_COM(noisy.port, buffer));
    EXPECT_EQ(noisy.serialReads, static_cast<int>(kMaxSkippedSerialBytes + 1));
    EXPECT_EQ(noisy.serialTimeouts, 0);
}

TEST_F(SerialProtocol, EmptyPayloadReplyIsSixBytes) {
    controller.QueueSerialBytes(FrameBytes(0x11, 0x71, 0x00, {}));
    std::array<std::uint8_t, kFeatureReportSize> buffer{};
    EXPECT_EQ(ReadPacket_COM(controller.port, buffer), 6u);
}

}  // namespace
}  // namespace kav::devicelib::testing
