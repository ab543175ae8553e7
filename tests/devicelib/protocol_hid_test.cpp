#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "devicelib/access_bracket.h"
#include "devicelib/protocol.h"
#include "fake_controller.h"

namespace kav::devicelib::testing {
namespace {

constexpr std::uint8_t kHid = 1;

// The sleeps of `tries` unanswered tries.
std::vector<std::uint32_t> SilentTries(const Timing& timing, std::uint32_t tries) {
    std::vector<std::uint32_t> sleeps;
    for (std::uint32_t t = 0; t < tries; ++t) {
        if (timing.settleMs > 0) sleeps.push_back(timing.settleMs);
        sleeps.insert(sleeps.end(), timing.polls, timing.pollWaitMs);
    }
    return sleeps;
}

DEVICE_PACKET Request(std::uint8_t type, std::uint8_t command, std::uint8_t subCode, const Bytes& payload = {}) {
    const auto packet = MakePacket(type, command, subCode, payload);
    EXPECT_TRUE(packet);
    return packet.value_or(DEVICE_PACKET{});
}

using HidProtocol = ControllerTest;

TEST_F(HidProtocol, SendFramesIntoAZeroFilledCommandReport) {
    struct Capture : FakeController {
        bool SetFeature(platform::Handle, std::span<const std::uint8_t> report) override {
            sent.assign(report.begin(), report.end());
            return true;
        }
        Bytes sent;
    } capture;
    platform::SetPlatform(&capture);
    ASSERT_TRUE(SendPacket_HID(Request(0x01, 0x71, 0x00, {0x01}), capture.device));
    Bytes expected(kFeatureReportSize, 0);
    const Bytes frame{0xAA, 0x01, 0x71, 0x02, 0x00, 0x01, 0x74};
    std::copy(frame.begin(), frame.end(), expected.begin());
    EXPECT_EQ(capture.sent, expected);
}

struct Acceptance {
    const char* name;
    std::uint8_t requestType;
    std::optional<std::uint8_t> replyType;  // else request type | 0x10
    Fault fault;
    bool accepted;
};

class HidAcceptance : public HidProtocol, public ::testing::WithParamInterface<Acceptance> {};

TEST_P(HidAcceptance, AcceptsByTypeNibbleAndCommand) {
    const Acceptance& a = GetParam();
    controller.payloads[0x70] = {0xF3};
    controller.faults[0x70] = a.fault;
    if (a.replyType) controller.types[0x70] = *a.replyType;
    DEVICE_PACKET reply{};
    const bool ok = TransactPacket_HID(Request(a.requestType, 0x70, 0x01), controller.device, reply, kStandardTiming);
    EXPECT_EQ(ok, a.accepted);
    if (a.accepted) {
        EXPECT_EQ(reply.command, 0x70);
        EXPECT_EQ(reply.length, 1);
        EXPECT_EQ(reply.payload[0], 0xF3);
        EXPECT_EQ(controller.featureReads, 1);
    } else {
        // Every poll of every try was used up.
        EXPECT_EQ(controller.CommandReportsSent(), 5);
        EXPECT_EQ(controller.featureReads, 5 * 50);
    }
}

INSTANTIATE_TEST_SUITE_P(Protocol, HidAcceptance,
                         ::testing::Values(Acceptance{"Plain", 0x02, std::nullopt, Fault::None, true},
                                           Acceptance{"Type12ToACommand", 0x01, 0x12, Fault::None, true},
                                           Acceptance{"Type1F", 0x02, 0x1F, Fault::None, true},
                                           Acceptance{"OtherSubCode", 0x02, std::nullopt, Fault::OtherSubCode, true},
                                           Acceptance{"Type02", 0x02, 0x02, Fault::None, false},
                                           Acceptance{"Type20", 0x01, 0x20, Fault::None, false},
                                           Acceptance{"WrongCommand", 0x02, std::nullopt, Fault::WrongCommand, false},
                                           Acceptance{"BadChecksum", 0x02, std::nullopt, Fault::BadChecksum, false}),
                         [](const ::testing::TestParamInfo<Acceptance>& info) { return info.param.name; });

TEST_F(HidProtocol, BadChecksumsAndImpossibleLengthsOnlyUsePolls) {
    const Bytes good = FrameBytes(0x12, 0x32, 0x00, {1, 5, 7, 10});
    Report lZero{};
    lZero[0] = 0xAA;
    lZero[1] = 0x12;
    lZero[2] = 0x32;
    lZero[4] = PacketChecksum(lZero.data(), 4);  // where an L of 0 would want it
    Report lSixty = AsReport(FrameBytes(0x12, 0x32, 0x00, Bytes(kMaxPacketPayload, 0)));
    lSixty[3] = 60;
    controller.hidReads = {AsReport(CorruptChecksum(good)), lZero, lSixty, Report{}, std::nullopt, AsReport(good)};

    DEVICE_PACKET reply{};
    ASSERT_TRUE(TransactPacket_HID(Request(0x02, 0x32, 0x00), controller.device, reply, kStandardTiming));
    EXPECT_EQ(controller.CommandReportsSent(), 1);
    EXPECT_EQ(controller.featureReads, 6);
    EXPECT_EQ(controller.sleeps, (std::vector<std::uint32_t>{40, 5, 5, 5, 5, 5, 5}));
    EXPECT_EQ(reply.length, 4);
    EXPECT_EQ(reply.payload[3], 10);
}

TEST_F(HidProtocol, AnswerToAnotherCommandUsesUpTheTryThenTheNextTrySucceeds) {
    const Report other = AsReport(FrameBytes(0x12, 0x71, 0x00, {}));
    controller.hidReads.assign(50, other);
    DEVICE_PACKET reply{};
    ASSERT_TRUE(TransactPacket_HID(Request(0x02, 0x70, 0x00), controller.device, reply, kStandardTiming));
    EXPECT_EQ(controller.CommandReportsSent(), 2);
    EXPECT_EQ(controller.featureReads, 51);
    EXPECT_EQ(controller.nowMs, 2u * 40 + 51u * 5);
}

struct SilentCase {
    const char* name;
    Timing timing;
    std::uint8_t command;
    std::uint64_t totalMs;
};

class HidSilent : public HidProtocol, public ::testing::WithParamInterface<SilentCase> {};

TEST_P(HidSilent, ControllerThatNeverAnswers) {
    const SilentCase& c = GetParam();
    controller.faults[c.command] = Fault::Silent;
    const std::array<std::uint8_t, 2> block{0x05, 0x00};
    EXPECT_FALSE(QueryDevice(kHid, controller.device, 0x00, c.command, block, c.timing));
    EXPECT_EQ(controller.CommandReportsSent(), static_cast<int>(c.timing.tries));
    EXPECT_EQ(controller.featureReads, static_cast<int>(c.timing.tries * c.timing.polls));
    EXPECT_EQ(controller.sleeps, SilentTries(c.timing, c.timing.tries));
    EXPECT_EQ(controller.nowMs, c.totalMs);
}

INSTANTIATE_TEST_SUITE_P(Protocol, HidSilent,
                         ::testing::Values(SilentCase{"Standard", kStandardTiming, 0x32, 5u * (40 + 50 * 5)},
                                           SilentCase{"Fast", kFastTiming, 0x60, 3u * 30}),
                         [](const ::testing::TestParamInfo<SilentCase>& info) { return info.param.name; });

TEST_F(HidProtocol, FailedWriteMovesToTheNextTryWithoutWaiting) {
    controller.failingWrites = 2;
    DEVICE_PACKET reply{};
    ASSERT_TRUE(TransactPacket_HID(Request(0x01, 0x71, 0x00, {0x01}), controller.device, reply, kStandardTiming));
    EXPECT_EQ(controller.featureWrites, 3);
    EXPECT_EQ(controller.sleeps, (std::vector<std::uint32_t>{40, 5}));

    FakeController dead;
    dead.failingWrites = 1000;
    platform::SetPlatform(&dead);
    EXPECT_FALSE(TransactPacket_HID(Request(0x01, 0x71, 0x00, {0x01}), dead.device, reply, kStandardTiming));
    EXPECT_EQ(dead.featureWrites, 5);
    EXPECT_EQ(dead.featureReads, 0);
    EXPECT_TRUE(dead.sleeps.empty());
}

TEST_F(HidProtocol, QueryAndCommandBuildTheirTypes) {
    controller.payloads[0x22] = {1, 2, 3};
    const std::array<std::uint8_t, 1> line{7};
    const auto reply = QueryDevice(kHid, controller.device, 0x03, 0x22, line);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->length, 3);
    const std::array<std::uint8_t, 6> params{9, 8, 7, 6, 5, 4};
    EXPECT_TRUE(CommandDevice(kHid, controller.device, 0x01, 0x23, params));

    ASSERT_EQ(controller.requests.size(), 2u);
    const DEVICE_PACKET query = controller.requests[0];
    EXPECT_EQ(query.type, kPacketTypeQuery);
    EXPECT_EQ(query.command, 0x22);
    EXPECT_EQ(query.subCode, 0x03);
    EXPECT_EQ(query.length, 1);
    EXPECT_EQ(query.payload[0], 7);
    const DEVICE_PACKET command = controller.requests[1];
    EXPECT_EQ(command.type, kPacketTypeCommand);
    EXPECT_EQ(command.command, 0x23);
    EXPECT_EQ(command.length, 6);
    EXPECT_EQ(command.payload[5], 4);
}

TEST_F(HidProtocol, QueryIntoCopiesUpToTheDestination) {
    struct Case {
        std::size_t replyLength;
        std::size_t copied;
    };
    for (const Case c : {Case{3, 3}, Case{8, 8}, Case{20, 8}, Case{0, 0}}) {
        Bytes payload(c.replyLength);
        for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i + 1);
        controller.payloads[0x22] = payload;
        std::array<std::uint8_t, 8> destination;
        destination.fill(0xEE);
        const auto length = QueryInto(kHid, controller.device, 0x00, 0x22, {}, destination);
        ASSERT_EQ(length, c.replyLength);
        for (std::size_t i = 0; i < destination.size(); ++i) {
            EXPECT_EQ(destination[i], i < c.copied ? i + 1 : 0xEE) << c.replyLength << " @" << i;
        }
    }
}

TEST_F(HidProtocol, ExactLengthQueriesFailOnAnyOtherLength) {
    for (const std::size_t length : {0u, 3u, 4u, 5u, 58u}) {
        FakeController fresh;
        platform::SetPlatform(&fresh);
        fresh.payloads[0x52] = Bytes(length, 0x21);
        std::array<std::uint8_t, 4> size;
        size.fill(0xEE);
        const bool ok = QueryExact(kHid, fresh.device, 0x00, 0x52, {}, size);
        EXPECT_EQ(ok, length == 4) << length;
        EXPECT_EQ(size[0], length == 4 ? 0x21 : 0xEE) << length;
        // One transaction, answered at the first poll: the length rule alone decides.
        EXPECT_EQ(fresh.CommandReportsSent(), 1);
        EXPECT_EQ(fresh.featureReads, 1);
    }
}

TEST_F(HidProtocol, UnknownTransportSelectorsTouchNothing) {
    std::array<std::uint8_t, 4> destination{};
    for (const std::uint8_t selector : {2, 7, 0xFF}) {
        EXPECT_FALSE(QueryDevice(selector, controller.device, 0x00, 0x70, {}));
        EXPECT_FALSE(CommandDevice(selector, controller.device, 0x00, 0x71, std::array<std::uint8_t, 1>{1}));
        EXPECT_FALSE(QueryInto(selector, controller.device, 0x00, 0x70, {}, destination));
        EXPECT_FALSE(QueryExact(selector, controller.device, 0x00, 0x52, {}, destination));
    }
    EXPECT_EQ(controller.DeviceCalls(), 0);
    EXPECT_TRUE(controller.sleeps.empty());
}

struct Switch {
    std::uint8_t command, subCode, value;
    friend bool operator==(const Switch&, const Switch&) = default;
};

std::vector<Switch> Sent(const FakeController& controller) {
    std::vector<Switch> sent;
    for (const DEVICE_PACKET& r : controller.requests) {
        sent.push_back({r.command, r.subCode, r.length > 0 ? r.payload[0] : std::uint8_t{0}});
    }
    return sent;
}

TEST_F(HidProtocol, AccessBracketSwitchesAroundTheAccessAndReportsOnlyIt) {
    controller.payloads[0x30] = Bytes(58, 0x42);
    const auto result = WithAccessBracket(
        controller.device, [&] { return QueryDevice(kHid, controller.device, 0x01, 0x30, {}).has_value(); });
    EXPECT_TRUE(result);
    const std::vector<Switch> expected{
        {0x71, 0x00, 1}, {0x71, 0x01, 1}, {0x30, 0x01, 0}, {0x71, 0x00, 0}, {0x71, 0x01, 0}};
    EXPECT_EQ(Sent(controller), expected);
    for (std::size_t i : {0u, 1u, 3u, 4u}) EXPECT_EQ(controller.requests[i].type, kPacketTypeCommand);
}

TEST_F(HidProtocol, AccessBracketIgnoresFailedSwitchesAndStillLeavesAfterAFailedAccess) {
    controller.faults[0x71] = Fault::Silent;
    controller.faults[0x30] = Fault::Silent;
    const bool failed = WithAccessBracket(
        controller.device, [&] { return QueryDevice(kHid, controller.device, 0x00, 0x30, {}).has_value(); });
    EXPECT_FALSE(failed);
    // Four switches and the access, each through all five tries.
    EXPECT_EQ(controller.CommandReportsSent(), 5 * 5);
    EXPECT_EQ(controller.requests.back().subCode, 0x01);
    EXPECT_EQ(controller.requests.back().payload[0], 0x00);

    FakeController answering;
    answering.faults[0x71] = Fault::Silent;
    platform::SetPlatform(&answering);
    EXPECT_TRUE(WithAccessBracket(answering.device,
                                  [&] { return QueryDevice(kHid, answering.device, 0x00, 0x30, {}).has_value(); }));
}

TEST_F(HidProtocol, CalibrationBracketTakesOneSwitchOnProduct0A07) {
    const auto access = [&] { return CommandDevice(kHid, controller.device, 0x80, 0x2C, Bytes(58, 1)); };
    EXPECT_TRUE(WithCalibrationBracket(controller.device, 0x0A07, access));
    EXPECT_EQ(Sent(controller), (std::vector<Switch>{{0x71, 0x80, 1}, {0x2C, 0x80, 1}, {0x71, 0x80, 0}}));

    for (const std::uint16_t product : {0x0A31, 0x0A41}) {
        controller.requests.clear();
        EXPECT_TRUE(WithCalibrationBracket(controller.device, product, access));
        EXPECT_EQ(
            Sent(controller),
            (std::vector<Switch>{{0x71, 0x00, 1}, {0x71, 0x01, 1}, {0x2C, 0x80, 1}, {0x71, 0x00, 0}, {0x71, 0x01, 0}}));
    }
}

}  // namespace
}  // namespace kav::devicelib::testing
