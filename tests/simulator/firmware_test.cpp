// The simulated controller's firmware: records and their commands, replies, the access
// bracket, buttons, the input pipe, faults, and the controller behind the kmdf USB target.
#include "simulator/controller/firmware.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "shared/device_commands.h"
#include "shared/device_packet.h"
#include "simulator/controller/optics.h"

namespace firmware_test {

// Packed fields are compared through a copy: no reference to them is bound.
template <typename T>
T Value(T value) {
    return value;
}

using kav::DEVICE_PACKET;
using kav::sim::Controller;
using kav::sim::ReplyFault;

WDF_USB_CONTROL_SETUP_PACKET VendorSetup(WDF_USB_BMREQUEST_DIRECTION direction) {
    WDF_USB_CONTROL_SETUP_PACKET setup;
    WDF_USB_CONTROL_SETUP_PACKET_INIT_VENDOR(&setup, direction, BmRequestToDevice, 0, 0, 0);
    return setup;
}

std::vector<std::uint8_t> Frame(std::uint8_t type, std::uint8_t command, std::uint8_t subCode,
                                std::vector<std::uint8_t> payload = {}) {
    std::vector<std::uint8_t> frame(payload.size() + 6);
    kav::BuildFramedPacket(type, command, subCode, payload.data(), payload.size(), frame.data());
    return frame;
}

NTSTATUS SendFrame(Controller& controller, std::vector<std::uint8_t> frame) {
    WDF_USB_CONTROL_SETUP_PACKET setup = VendorSetup(BmRequestHostToDevice);
    setup.Packet.wLength = static_cast<USHORT>(frame.size());
    ULONG moved = 0;
    return controller.ControlTransfer(setup, frame, &moved);
}

std::vector<std::uint8_t> ReadReply(Controller& controller, NTSTATUS* status = nullptr) {
    std::vector<std::uint8_t> reply(64, 0xEE);
    WDF_USB_CONTROL_SETUP_PACKET setup = VendorSetup(BmRequestDeviceToHost);
    setup.Packet.wLength = 64;
    ULONG moved = 0;
    const NTSTATUS result = controller.ControlTransfer(setup, reply, &moved);
    if (status != nullptr) *status = result;
    EXPECT_EQ(moved, NT_SUCCESS(result) ? 64u : 0u);
    return reply;
}

// One exchange; the parsed reply, or a packet of type 0 when the reply does not parse.
DEVICE_PACKET Transact(Controller& controller, std::uint8_t type, std::uint8_t command, std::uint8_t subCode,
                       std::vector<std::uint8_t> payload = {}) {
    EXPECT_EQ(SendFrame(controller, Frame(type, command, subCode, std::move(payload))), STATUS_SUCCESS);
    const std::vector<std::uint8_t> reply = ReadReply(controller);
    DEVICE_PACKET packet{};
    if (!kav::ParseFramedPacket(reply.data(), reply.size(), &packet)) packet = DEVICE_PACKET{};
    return packet;
}

std::vector<std::uint8_t> PayloadOf(const DEVICE_PACKET& packet) {
    return std::vector<std::uint8_t>(packet.payload, packet.payload + packet.length);
}

std::vector<std::uint8_t> Pattern(size_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(seed + 3 * i);
    return bytes;
}

TEST(Firmware, EveryRecordRoundTripsThroughItsCommands) {
    struct Case {
        std::uint8_t get, set, subCode, getSize, setSize;
    };
    const Case cases[] = {
        {0x10, 0x11, 0, 58, 58},    {0x10, 0x11, 1, 58, 58}, {0x14, 0x15, 0, 58, 58},    {0x14, 0x15, 1, 58, 58},
        {0x18, 0x19, 0, 58, 58},    {0x1A, 0x1B, 0, 58, 58}, {0x20, 0x21, 0, 58, 58},    {0x20, 0x21, 1, 58, 58},
        {0x22, 0x23, 0, 8, 6},      {0x22, 0x23, 1, 8, 6},   {0x24, 0x25, 0, 1, 1},      {0x24, 0x25, 1, 1, 1},
        {0x26, 0x27, 0, 16, 16},    {0x26, 0x27, 1, 16, 16}, {0x29, 0x2A, 0x80, 58, 58}, {0x2B, 0x2C, 0x80, 58, 58},
        {0x2D, 0x2E, 0x80, 58, 58}, {0x30, 0x31, 0, 58, 58}, {0x30, 0x31, 1, 58, 58},    {0x34, 0x35, 0, 20, 20},
        {0x36, 0x37, 0, 20, 20},    {0x36, 0x37, 1, 20, 20}, {0x70, 0x71, 0, 1, 1},      {0x70, 0x71, 1, 1, 1},
        {0x70, 0x71, 0x80, 1, 1},   {0x62, 0x61, 0, 2, 2},   {0x62, 0x61, 1, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "get 0x" << std::hex << int{c.get} << " sub-code 0x" << int{c.subCode});
        Controller controller;
        const DEVICE_PACKET before = Transact(controller, 0x02, c.get, c.subCode);
        ASSERT_EQ(before.length, c.getSize);
        const std::vector<std::uint8_t> written = Pattern(c.setSize, static_cast<std::uint8_t>(c.set));
        const DEVICE_PACKET ack = Transact(controller, 0x01, c.set, c.subCode, written);
        EXPECT_EQ(ack.type, 0x11);
        EXPECT_EQ(ack.command, c.set);
        EXPECT_EQ(PayloadOf(ack), std::vector<std::uint8_t>{0}) << "done";

        const DEVICE_PACKET after = Transact(controller, 0x02, c.get, c.subCode);
        ASSERT_EQ(after.length, c.getSize);
        std::vector<std::uint8_t> expected = PayloadOf(before);
        std::copy(written.begin(), written.end(), expected.begin());
        EXPECT_EQ(PayloadOf(after), expected);

        // The other sub-code of the pair is left alone.
        if (c.subCode <= 1) {
            const std::uint8_t other = c.subCode ^ 1;
            Controller fresh;
            EXPECT_EQ(PayloadOf(Transact(controller, 0x02, c.get, other)),
                      PayloadOf(Transact(fresh, 0x02, c.get, other)));
        }
    }
}

TEST(Firmware, ReadOnlyItemsAnswerWithTheirSizes) {
    struct Case {
        std::uint8_t command, subCode, size;
    };
    const Case cases[] = {
        {0x32, 0, 4}, {0x3A, 0, 2}, {0x3C, 0, 4}, {0x40, 0x0F, 7}, {0x42, 0x0F, 6}, {0x50, 0, 2}, {0x52, 1, 4},
    };
    Controller controller;
    for (const Case& c : cases) {
        SCOPED_TRACE(int{c.command});
        const DEVICE_PACKET reply = Transact(controller, 0x02, c.command, c.subCode);
        EXPECT_EQ(reply.type, 0x12);
        EXPECT_EQ(reply.command, c.command);
        EXPECT_EQ(reply.length, c.size);
    }
    const DEVICE_PACKET version = Transact(controller, 0x02, 0x32, 0);
    EXPECT_EQ(PayloadOf(version), (std::vector<std::uint8_t>{0x01, 0x05, 0x07, 0x0A}));
    const DEVICE_PACKET type = Transact(controller, 0x02, 0x3A, 0);
    EXPECT_EQ(type.payload[0] | (type.payload[1] << 8), 0x0A31);
}

TEST(Firmware, DefaultRecordsDescribeA400By300Screen) {
    Controller controller;
    const kav::SCREEN_PROPERTY screen = controller.ScreenProperty();
    EXPECT_EQ(Value(screen.Width), 400u);
    EXPECT_EQ(Value(screen.Height), 300u);
    EXPECT_EQ(Value(screen.NewContactDivisor), 100u);
    EXPECT_EQ(Value(screen.NewContactNumerator), 15000u);
    EXPECT_EQ(Value(screen.BaselineY), -20);
    EXPECT_EQ(Value(screen.CameraAX), -20);
    EXPECT_EQ(Value(screen.CameraBX), 20);
    EXPECT_EQ(Value(screen.VelocityRefCount), 5u);
    EXPECT_FLOAT_EQ(screen.VelocityWeight, 0.2f);
    for (std::uint8_t camera = 0; camera < 2; ++camera) {
        const kav::CAMERA_PROPERTIES record = controller.CameraProperties(camera);
        EXPECT_EQ(record.Flags & 3, 0) << "no camera swap";
        EXPECT_EQ(Value(record.WindowStart), 0u);
        EXPECT_EQ(Value(record.WindowEnd), 640u);
        EXPECT_FLOAT_EQ(record.P[1], 1.15f);
        EXPECT_FLOAT_EQ(record.Scale, 1.0f);
        EXPECT_FLOAT_EQ(record.Offset, 0.0f);
    }
    // Identity calibration in one cubic region over the screen.
    EXPECT_FLOAT_EQ(controller.CalibParams(0).Coef[8], 1.0f);
    EXPECT_FLOAT_EQ(controller.CalibParams(1).Coef[7], 1.0f);
    const kav::DEVICE_CONFIG config = controller.DeviceConfig();
    EXPECT_EQ(config.RegionByte, 0x01);
    EXPECT_EQ(Value(config.Region0.XMax), 400);
    EXPECT_EQ(Value(config.Region0.YMax), 300);

    // The queries return exactly these bytes.
    kav::SCREEN_PROPERTY copy = screen;
    std::vector<std::uint8_t> bytes(sizeof copy);
    std::memcpy(bytes.data(), &copy, sizeof copy);
    EXPECT_EQ(PayloadOf(Transact(controller, 0x02, 0x30, 0)), bytes);
}

TEST(Firmware, TypedSettersShowInTheQueries) {
    Controller controller;
    kav::SCREEN_PROPERTY screen = controller.ScreenProperty();
    screen.Width = 520;
    controller.SetScreenProperty(screen);
    kav::CAMERA_PROPERTIES camera = controller.CameraProperties(0);
    camera.Flags = 0x02;
    controller.SetCameraProperties(0, camera);
    kav::TOOLBAR_PARAMS toolbar{};
    toolbar.Enabled = 1;
    controller.SetToolbarParams(toolbar);

    EXPECT_EQ(Transact(controller, 0x02, 0x30, 0).payload[2], 520 & 0xFF);
    EXPECT_EQ(Transact(controller, 0x02, 0x10, 0).payload[0], 0x02);
    EXPECT_EQ(Transact(controller, 0x02, 0x10, 1).payload[0], 0x00);
    EXPECT_EQ(Transact(controller, 0x02, 0x1A, 0).payload[0], 1);
    EXPECT_TRUE(controller.SetBlock(0x26, 1, Pattern(16, 9)));
    EXPECT_FALSE(controller.SetBlock(0x26, 1, Pattern(15, 9))) << "wrong size";
    EXPECT_FALSE(controller.SetBlock(0x26, 7, Pattern(16, 9))) << "no such sub-code";
    EXPECT_EQ(PayloadOf(Transact(controller, 0x02, 0x26, 1)), Pattern(16, 9));
}

TEST(Firmware, RepliesCarryTheTypeNibbleCommandSubCodeAndAValidChecksum) {
    struct Case {
        std::uint8_t type, command, subCode, replyType;
    };
    const Case cases[] = {
        {0x02, 0x10, 0x01, 0x12}, {0x01, 0x71, 0x00, 0x11},
        {0x02, 0x70, 0x80, 0x12}, {0x02, 0x99, 0x00, 0x12},  // unknown command: answered, empty
        {0x05, 0x30, 0x00, 0x15},
    };
    Controller controller;
    for (const Case& c : cases) {
        SCOPED_TRACE(int{c.command});
        const std::vector<std::uint8_t> payload =
            c.command == 0x71 ? std::vector<std::uint8_t>{1} : std::vector<std::uint8_t>{};
        ASSERT_EQ(SendFrame(controller, Frame(c.type, c.command, c.subCode, payload)), STATUS_SUCCESS);
        const std::vector<std::uint8_t> reply = ReadReply(controller);
        ASSERT_TRUE(kav::FrameChecksumValid(reply.data(), reply.size()));
        EXPECT_EQ(reply[0], 0xAA);
        EXPECT_EQ(reply[1], c.replyType);
        EXPECT_EQ(reply[1] >> 4, 1);
        EXPECT_EQ(reply[2], c.command);
        EXPECT_EQ(reply[4], c.subCode);
        const size_t end = 5u + reply[3];
        for (size_t i = end; i < reply.size(); ++i) ASSERT_EQ(reply[i], 0) << "zero fill at " << i;
    }
    EXPECT_EQ(Transact(controller, 0x02, 0x99, 0).length, 0);
    EXPECT_EQ(controller.Counters().unknownCommands, 2u);
}

TEST(Firmware, RejectedSetsChangeNothing) {
    struct Case {
        const char* name;
        std::uint8_t command, subCode;
        size_t length;
        std::uint8_t result;
    };
    const Case cases[] = {
        {"short camera record", 0x11, 0, 57, 1},
        {"camera record for a third camera", 0x11, 2, 58, 2},
        {"screen property with sub-code 2", 0x31, 2, 58, 2},
        {"mode with two bytes", 0x71, 0, 2, 1},
        {"camera parameters of eight bytes", 0x23, 0, 8, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Controller controller;
        Controller reference;
        const DEVICE_PACKET ack = Transact(controller, 0x01, c.command, c.subCode, Pattern(c.length, 0x40));
        EXPECT_EQ(ack.command, c.command);
        EXPECT_EQ(PayloadOf(ack), std::vector<std::uint8_t>{c.result});
        for (std::uint8_t get : {0x10, 0x22, 0x30}) {
            for (std::uint8_t sub : {0, 1}) EXPECT_EQ(controller.Block(get, sub), reference.Block(get, sub));
        }
        EXPECT_EQ(controller.Mode(0), 0);
    }
}

TEST(Firmware, AccessBracketSwitchesBothSubUnits) {
    Controller controller(kav::sim::kProductPacket);
    for (std::uint8_t sub : {0, 1}) Transact(controller, 0x01, 0x71, sub, {0x01});
    EXPECT_EQ(controller.Mode(0), 1);
    EXPECT_EQ(controller.Mode(1), 1);
    EXPECT_EQ(PayloadOf(Transact(controller, 0x02, 0x70, 1)), std::vector<std::uint8_t>{1});
    // Records are read and written inside the bracket as outside it.
    EXPECT_EQ(Transact(controller, 0x02, 0x14, 1).length, 58);
    for (std::uint8_t sub : {0, 1}) Transact(controller, 0x01, 0x71, sub, {0x00});
    EXPECT_EQ(controller.Mode(0), 0);
    EXPECT_EQ(controller.Mode(1), 0);

    // The one-switch form of the stylus controller.
    Controller stylus(kav::sim::kProductStylus);
    Transact(stylus, 0x01, 0x71, 0x80, {0x01});
    EXPECT_EQ(stylus.Mode(0x80), 1);
    EXPECT_EQ(stylus.Mode(0), 0);
    EXPECT_EQ(PayloadOf(Transact(stylus, 0x02, 0x70, 0x80)), std::vector<std::uint8_t>{1});
    EXPECT_EQ(Transact(stylus, 0x01, 0x71, 0x05, {0x01}).payload[0], 2) << "no such sub-unit";
}

TEST(Firmware, FramesThatAreNotCommandsGetNoReply) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> frame;
    };
    std::vector<std::uint8_t> badChecksum = Frame(0x02, 0x10, 0);
    badChecksum.back() ^= 0x01;
    std::vector<std::uint8_t> driverRequest(64, 0);
    driverRequest[0] = 0x55;
    driverRequest[1] = 0x20;
    std::vector<std::uint8_t> zeroLength = Frame(0x02, 0x10, 0);
    zeroLength[3] = 0;
    std::vector<std::uint8_t> longLength = Frame(0x02, 0x10, 0);
    longLength[3] = 0xFB;
    longLength.resize(64, 0);
    const Case cases[] = {
        {"bad checksum", badChecksum},
        {"a driver request report passed on", driverRequest},
        {"L of zero", zeroLength},
        {"L past the report", longLength},
        {"too short for a frame", {0xAA, 0x02, 0x10}},
        {"nothing at all", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Controller controller;
        EXPECT_EQ(SendFrame(controller, c.frame), STATUS_SUCCESS) << "the transfer itself succeeds";
        EXPECT_EQ(controller.PendingReplies(), 0u);
        EXPECT_EQ(controller.Counters().badFrames, 1u);
        EXPECT_EQ(ReadReply(controller), std::vector<std::uint8_t>(64, 0)) << "an empty read is all zeros";
    }
}

TEST(Firmware, RepliesQueueInOrderUpToADepth) {
    Controller controller;
    for (std::uint8_t sub : {0, 1}) ASSERT_EQ(SendFrame(controller, Frame(0x02, 0x10, sub)), STATUS_SUCCESS);
    ASSERT_EQ(SendFrame(controller, Frame(0x02, 0x30, 0)), STATUS_SUCCESS);
    EXPECT_EQ(controller.PendingReplies(), 3u);
    EXPECT_EQ(ReadReply(controller)[4], 0);
    EXPECT_EQ(ReadReply(controller)[4], 1);
    EXPECT_EQ(ReadReply(controller)[2], 0x30);
    EXPECT_EQ(ReadReply(controller)[0], 0);

    for (size_t i = 0; i < kav::sim::kReplyQueueDepth + 2; ++i)
        ASSERT_EQ(SendFrame(controller, Frame(0x02, 0x70, static_cast<std::uint8_t>(i))), STATUS_SUCCESS);
    EXPECT_EQ(controller.PendingReplies(), kav::sim::kReplyQueueDepth);
    EXPECT_EQ(controller.Counters().repliesLost, 2u);
    EXPECT_EQ(ReadReply(controller)[4], 2) << "the oldest went first";

    // A short read takes the reply and what fits.
    Controller other;
    ASSERT_EQ(SendFrame(other, Frame(0x02, 0x10, 0)), STATUS_SUCCESS);
    std::vector<std::uint8_t> small(8);
    WDF_USB_CONTROL_SETUP_PACKET setup = VendorSetup(BmRequestDeviceToHost);
    ULONG moved = 0;
    ASSERT_EQ(other.ControlTransfer(setup, small, &moved), STATUS_SUCCESS);
    EXPECT_EQ(moved, 8u);
    EXPECT_EQ(small[2], 0x10);
    EXPECT_EQ(other.PendingReplies(), 0u);
}

TEST(Firmware, ReplyFaultsShapeTheReplies) {
    struct Case {
        const char* name;
        ReplyFault fault;
        size_t replies;
        std::uint8_t command, subCode;
        bool checksumValid;
    };
    const Case cases[] = {
        {"unanswered", ReplyFault::Unanswered, 0, 0, 0, false},
        {"other command", ReplyFault::OtherCommand, 1, 0x14 ^ 0x80, 1, true},
        {"other sub-code", ReplyFault::OtherSubCode, 1, 0x14, 0, true},
        {"bad checksum", ReplyFault::BadChecksum, 1, 0x14, 1, false},
        {"duplicated", ReplyFault::Duplicated, 2, 0x14, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Controller controller;
        controller.AddReplyFault({c.fault, 0x14, 1, 1});
        // Another command, and the same command with another sub-code, are not hit.
        EXPECT_EQ(Transact(controller, 0x02, 0x10, 1).command, 0x10);
        EXPECT_EQ(Transact(controller, 0x02, 0x14, 0).command, 0x14);

        ASSERT_EQ(SendFrame(controller, Frame(0x02, 0x14, 1)), STATUS_SUCCESS);
        EXPECT_EQ(controller.PendingReplies(), c.replies);
        if (c.replies > 0) {
            for (size_t i = 0; i < c.replies; ++i) {
                const std::vector<std::uint8_t> reply = ReadReply(controller);
                EXPECT_EQ(kav::FrameChecksumValid(reply.data(), reply.size()), c.checksumValid);
                EXPECT_EQ(reply[1], 0x12);
                EXPECT_EQ(reply[2], c.command);
                EXPECT_EQ(reply[4], c.subCode);
                EXPECT_EQ(reply[3], 59) << "the payload is still there";
            }
        }
        // Once only: the next request is answered properly.
        const DEVICE_PACKET next = Transact(controller, 0x02, 0x14, 1);
        EXPECT_EQ(next.command, 0x14);
        EXPECT_EQ(next.subCode, 1);
        EXPECT_EQ(next.length, 58);
    }
}

TEST(Firmware, UnansweredSetIsStillCarriedOut) {
    Controller controller;
    controller.AddReplyFault({ReplyFault::Unanswered, std::nullopt, std::nullopt, kav::sim::kEveryTime});
    ASSERT_EQ(SendFrame(controller, Frame(0x01, 0x1B, 0, Pattern(58, 1))), STATUS_SUCCESS);
    ASSERT_EQ(SendFrame(controller, Frame(0x02, 0x1A, 0)), STATUS_SUCCESS);
    EXPECT_EQ(controller.PendingReplies(), 0u);
    EXPECT_EQ(controller.Block(0x1A, 0), Pattern(58, 1));
    controller.ClearFaults();
    EXPECT_EQ(Transact(controller, 0x02, 0x1A, 0).length, 58);
}

TEST(Firmware, FailedControlTransfersLoseTheCommand) {
    struct Case {
        const char* name;
        NTSTATUS status;
        std::optional<kav::sim::TransferDirection> direction;
        NTSTATUS sendStatus, readStatus;
    };
    using kav::sim::TransferDirection;
    const Case cases[] = {
        {"stalled command", STATUS_UNSUCCESSFUL, TransferDirection::HostToDevice, STATUS_UNSUCCESSFUL, STATUS_SUCCESS},
        {"silent on the command", STATUS_IO_TIMEOUT, std::nullopt, STATUS_IO_TIMEOUT, STATUS_SUCCESS},
        {"stalled read", STATUS_UNSUCCESSFUL, TransferDirection::DeviceToHost, STATUS_SUCCESS, STATUS_UNSUCCESSFUL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Controller controller;
        controller.AddControlFault({c.status, c.direction, 1});
        EXPECT_EQ(SendFrame(controller, Frame(0x01, 0x25, 0, {0x77})), c.sendStatus);
        NTSTATUS read = STATUS_SUCCESS;
        ReadReply(controller, &read);
        EXPECT_EQ(read, c.readStatus);
        const bool executed = NT_SUCCESS(c.sendStatus);
        EXPECT_EQ(controller.Block(0x24, 0), std::vector<std::uint8_t>{static_cast<std::uint8_t>(executed ? 0x77 : 0)});
        EXPECT_EQ(controller.Counters().failedControl, 1u);
        // A failed read leaves the reply waiting for the next one.
        EXPECT_EQ(controller.PendingReplies(), executed && !NT_SUCCESS(read) ? 1u : 0u);
        if (!NT_SUCCESS(read)) {
            EXPECT_EQ(ReadReply(controller)[2], 0x25);
        }
        // The fault is spent: the next exchange works.
        EXPECT_EQ(Transact(controller, 0x02, 0x24, 0).command, 0x24);
    }

    // Requests other than the two vendor ones are stalled; so is a command past 64 bytes.
    Controller controller;
    WDF_USB_CONTROL_SETUP_PACKET setup = VendorSetup(BmRequestHostToDevice);
    setup.Packet.bRequest = 1;
    std::vector<std::uint8_t> data = Frame(0x02, 0x10, 0);
    ULONG moved = 0;
    EXPECT_EQ(controller.ControlTransfer(setup, data, &moved), STATUS_UNSUCCESSFUL);
    std::vector<std::uint8_t> big(65, 0);
    EXPECT_EQ(SendFrame(controller, big), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(controller.PendingReplies(), 0u);
}

TEST(Firmware, UnplugFailsEverythingUntilReplugged) {
    Controller controller;
    ASSERT_EQ(SendFrame(controller, Frame(0x02, 0x10, 0)), STATUS_SUCCESS);
    ASSERT_TRUE(controller.QueueTransfer(std::vector<std::uint8_t>(16, 1)));
    controller.Unplug();
    EXPECT_FALSE(controller.Plugged());
    EXPECT_EQ(SendFrame(controller, Frame(0x02, 0x10, 0)), STATUS_DEVICE_NOT_CONNECTED);
    NTSTATUS read = STATUS_SUCCESS;
    ReadReply(controller, &read);
    EXPECT_EQ(read, STATUS_DEVICE_NOT_CONNECTED);
    std::vector<std::uint8_t> buffer(1024);
    EXPECT_FALSE(controller.NextInterruptTransfer(buffer).has_value());

    controller.Replug();
    EXPECT_EQ(controller.PendingReplies(), 0u) << "lost with the power";
    EXPECT_FALSE(controller.NextInterruptTransfer(buffer).has_value());
    EXPECT_EQ(Transact(controller, 0x02, 0x10, 0).length, 58) << "the records survive";
}

TEST(Firmware, ButtonsSendDeviceEventsActiveLow) {
    Controller controller;
    controller.SetEventByte(0x5C);
    controller.PressButton(0);
    controller.PressButton(3);
    controller.SetButtons(0x09);  // no change, no event
    controller.ReleaseButton(0);
    controller.SetEventCommand(0x40);
    controller.ReleaseButton(3);
    controller.PressButton(8);  // no such line
    EXPECT_EQ(controller.Buttons(), 0);

    const std::uint8_t expected[][2] = {{0x02, 0xFE}, {0x02, 0xF6}, {0x02, 0xF7}, {0x40, 0xFF}};
    ASSERT_EQ(controller.PendingTransfers(), 4u);
    for (const auto& e : expected) {
        std::vector<std::uint8_t> buffer(1024, 0xEE);
        const std::optional<size_t> n = controller.NextInterruptTransfer(buffer);
        ASSERT_TRUE(n.has_value());
        EXPECT_EQ(*n, 1024u);
        EXPECT_EQ(buffer[0], 0xAA);
        EXPECT_EQ(buffer[2], e[0]);
        EXPECT_EQ(buffer[5], 0x5C) << "passed through";
        EXPECT_EQ(buffer[6], e[1]);
        EXPECT_TRUE(kav::FrameChecksumValid(buffer.data(), buffer.size()));
        EXPECT_EQ(buffer[100], 0);
    }
    std::vector<std::uint8_t> buffer(1024);
    EXPECT_FALSE(controller.NextInterruptTransfer(buffer).has_value());
}

TEST(Firmware, ImageDevicesSendNoEventPackets) {
    Controller controller(kav::sim::kProductImage);
    controller.PressButton(0);
    EXPECT_EQ(controller.Buttons(), 1);
    EXPECT_EQ(controller.PendingTransfers(), 0u) << "it would be read as a pair of image lines";
}

TEST(Firmware, InterruptTransfersQueueDropAndDuplicate) {
    Controller controller;
    EXPECT_FALSE(controller.QueueTransfer({})) << "empty";
    EXPECT_FALSE(controller.QueueTransfer(std::vector<std::uint8_t>(1025))) << "past the endpoint";
    for (std::uint8_t i = 1; i <= 5; ++i) ASSERT_TRUE(controller.QueueTransfer(std::vector<std::uint8_t>(4, i)));
    controller.DropTransfers(1);
    std::vector<std::uint8_t> seen;
    std::vector<std::uint8_t> buffer(1024);
    auto next = [&] {
        std::optional<size_t> n = controller.NextInterruptTransfer(buffer);
        if (n.has_value()) {
            EXPECT_EQ(*n, 4u);
            seen.push_back(buffer[0]);
        }
        return n.has_value();
    };
    ASSERT_TRUE(next());  // 1 lost, 2 sent
    controller.DuplicateTransfers(2);
    while (next()) {
    }
    EXPECT_EQ(seen, (std::vector<std::uint8_t>{2, 3, 3, 4, 4, 5}));
    EXPECT_EQ(controller.Counters().transfersDropped, 1u);

    // A buffer shorter than the transfer takes what fits.
    ASSERT_TRUE(controller.QueueTransfer(std::vector<std::uint8_t>(8, 7)));
    std::vector<std::uint8_t> small(3);
    EXPECT_EQ(controller.NextInterruptTransfer(small), std::optional<size_t>(3));
}

TEST(Firmware, ImageBlocksAndLines) {
    Controller controller;
    controller.SetImage(1, 40, 2, Pattern(80, 0x10));
    const DEVICE_PACKET count = Transact(controller, 0x02, 0x50, 1);
    EXPECT_EQ(PayloadOf(count), (std::vector<std::uint8_t>{3, 0}));
    EXPECT_EQ(PayloadOf(Transact(controller, 0x02, 0x52, 1)), (std::vector<std::uint8_t>{40, 0, 2, 0}));
    const DEVICE_PACKET block1 = Transact(controller, 0x02, 0x60, 1, {1, 0});
    ASSERT_EQ(block1.length, 32);
    const std::vector<std::uint8_t> pixels = Pattern(80, 0x10);
    EXPECT_TRUE(std::equal(pixels.begin() + 32, pixels.begin() + 64, block1.payload));
    const DEVICE_PACKET last = Transact(controller, 0x02, 0x60, 1, {2, 0});
    ASSERT_EQ(last.length, 32);
    EXPECT_EQ(last.payload[15], pixels[79]);
    EXPECT_EQ(last.payload[16], 0) << "padded";
    EXPECT_EQ(Transact(controller, 0x02, 0x60, 1, {3, 0}).length, 0) << "past the image";
    EXPECT_EQ(Transact(controller, 0x02, 0x60, 2, {0, 0}).length, 0) << "no third camera";

    const std::vector<std::uint8_t> line = Pattern(640, 0x33);
    controller.SetImageLine(0, 0x66, line);
    for (std::uint8_t chunk : {0, 19}) {
        const DEVICE_PACKET part = Transact(controller, 0x02, 0x66, 0, {chunk});
        ASSERT_EQ(part.length, 32);
        EXPECT_TRUE(std::equal(line.begin() + chunk * 32, line.begin() + chunk * 32 + 32, part.payload));
    }
    EXPECT_EQ(Transact(controller, 0x02, 0x66, 0, {20}).length, 0);
    EXPECT_EQ(Transact(controller, 0x02, 0x64, 0, {0}).length, 32);
    EXPECT_EQ(Transact(controller, 0x02, 0x68, 1, {0}).length, 32);

    Transact(controller, 0x01, 0x53, 0, {0x10, 0x01});
    Transact(controller, 0x01, 0x75, 0, {0x55});
    EXPECT_TRUE(controller.UpgradeRequested());
}

TEST(Firmware, DescriptorNamesTheProduct) {
    for (std::uint16_t product : {kav::sim::kProductPacket, kav::sim::kProductImage, kav::sim::kProductStylus}) {
        Controller controller(product);
        const USB_DEVICE_DESCRIPTOR d = controller.DeviceDescriptor();
        EXPECT_EQ(d.bLength, 18);
        EXPECT_EQ(d.bDescriptorType, 1);
        EXPECT_EQ(Value(d.idVendor), 0x4B1D);
        EXPECT_EQ(Value(d.idProduct), product);
        EXPECT_EQ(d.bNumConfigurations, 1);
    }
    Controller controller;
    controller.SetProductId(0x0A41);
    EXPECT_EQ(Value(controller.DeviceDescriptor().idProduct), 0x0A41);
}

TEST(Firmware, SameInputSameBytes) {
    auto run = [] {
        Controller controller;
        controller.AddReplyFault({ReplyFault::OtherSubCode, 0x30, std::nullopt, 2});
        controller.DuplicateTransfers(1);
        std::vector<std::uint8_t> out;
        for (std::uint8_t command : {0x10, 0x30, 0x30, 0x14, 0x1A, 0x32, 0x70}) {
            SendFrame(controller, Frame(0x02, command, 1));
            const std::vector<std::uint8_t> reply = ReadReply(controller);
            out.insert(out.end(), reply.begin(), reply.end());
        }
        controller.PressButton(2);
        std::vector<std::uint8_t> buffer(1024);
        while (controller.NextInterruptTransfer(buffer).has_value())
            out.insert(out.end(), buffer.begin(), buffer.end());
        return out;
    };
    EXPECT_EQ(run(), run());
}

TEST(Firmware, ReceivedFramesAreRecorded) {
    Controller controller;
    Transact(controller, 0x01, 0x71, 0, {1});
    Transact(controller, 0x02, 0x10, 1);
    const std::vector<DEVICE_PACKET> received = controller.TakeReceived();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].command, 0x71);
    EXPECT_EQ(received[0].payload[0], 1);
    EXPECT_EQ(received[1].subCode, 1);
    EXPECT_TRUE(controller.TakeReceived().empty());
}

// ---- behind the kmdf USB target ----

struct Reads {
    std::vector<std::vector<std::uint8_t>> transfers;
};
Reads g_reads;

void ReadComplete(WDFUSBPIPE, WDFMEMORY memory, size_t transferred, WDFOBJECT) {
    size_t size = 0;
    auto* data = static_cast<std::uint8_t*>(WdfMemoryGetBuffer(memory, &size));
    g_reads.transfers.emplace_back(data, data + std::min(size, transferred));
}

class ControllerOnUsb : public ::testing::Test {
protected:
    void SetUp() override {
        kmdf::ResetFramework();
        g_reads = {};
        WDF_DRIVER_CONFIG config;
        WDF_DRIVER_CONFIG_INIT(&config, nullptr);
        WDFDRIVER driver = nullptr;
        ASSERT_EQ(WdfDriverCreate(kmdf::CreateDriverObject(), nullptr, WDF_NO_OBJECT_ATTRIBUTES, &config, &driver),
                  STATUS_SUCCESS);
        PWDFDEVICE_INIT init = kmdf::AllocateDeviceInit(driver);
        ASSERT_EQ(WdfDeviceCreate(&init, WDF_NO_OBJECT_ATTRIBUTES, &device_), STATUS_SUCCESS);
        kmdf::AttachUsbDevice(device_, &controller_);
        ASSERT_EQ(WdfUsbTargetDeviceCreate(device_, WDF_NO_OBJECT_ATTRIBUTES, &usb_), STATUS_SUCCESS);
    }
    void TearDown() override { kmdf::ResetFramework(); }

    // The driver's two transfers: a command with a 2 s time-out, a reply read without.
    NTSTATUS SendCommand(std::vector<std::uint8_t> frame) {
        WDF_USB_CONTROL_SETUP_PACKET setup;
        WDF_USB_CONTROL_SETUP_PACKET_INIT_VENDOR(&setup, BmRequestHostToDevice, BmRequestToDevice, 0, 0, 0);
        WDF_MEMORY_DESCRIPTOR memory;
        WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(&memory, frame.data(), static_cast<ULONG>(frame.size()));
        WDF_REQUEST_SEND_OPTIONS options;
        WDF_REQUEST_SEND_OPTIONS_INIT(&options, 0);
        WDF_REQUEST_SEND_OPTIONS_SET_TIMEOUT(&options, WDF_REL_TIMEOUT_IN_MS(2000));
        ULONG moved = 0;
        return WdfUsbTargetDeviceSendControlTransferSynchronously(usb_, WDF_NO_HANDLE, &options, &setup, &memory,
                                                                  &moved);
    }
    NTSTATUS ReadReplyVia(std::vector<std::uint8_t>& reply) {
        reply.assign(64, 0);
        WDF_USB_CONTROL_SETUP_PACKET setup;
        WDF_USB_CONTROL_SETUP_PACKET_INIT_VENDOR(&setup, BmRequestDeviceToHost, BmRequestToDevice, 0, 0, 0);
        WDF_MEMORY_DESCRIPTOR memory;
        WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(&memory, reply.data(), 64);
        ULONG moved = 0;
        return WdfUsbTargetDeviceSendControlTransferSynchronously(usb_, WDF_NO_HANDLE, nullptr, &setup, &memory,
                                                                  &moved);
    }
    static LONGLONG Now() {
        LARGE_INTEGER now;
        KeQuerySystemTime(&now);
        return now.QuadPart;
    }

    Controller controller_;
    WDFDEVICE device_ = nullptr;
    WDFUSBDEVICE usb_ = nullptr;
};

TEST_F(ControllerOnUsb, CommandAndReplyOverTheDefaultPipe) {
    USB_DEVICE_DESCRIPTOR descriptor;
    WdfUsbTargetDeviceGetDeviceDescriptor(usb_, &descriptor);
    EXPECT_EQ(Value(descriptor.idVendor), 0x4B1D);
    EXPECT_EQ(Value(descriptor.idProduct), 0x0A31);

    ASSERT_EQ(SendCommand(Frame(0x02, 0x30, 0)), STATUS_SUCCESS);
    std::vector<std::uint8_t> reply;
    ASSERT_EQ(ReadReplyVia(reply), STATUS_SUCCESS);
    EXPECT_EQ(reply[1], 0x12);
    EXPECT_EQ(reply[2], 0x30);
    EXPECT_EQ(reply[5 + 2], 400 & 0xFF) << "screen width";

    // A silent controller costs the command's 2 s on the clock.
    controller_.AddControlFault({STATUS_IO_TIMEOUT, kav::sim::TransferDirection::HostToDevice, 1});
    const LONGLONG before = Now();
    EXPECT_EQ(SendCommand(Frame(0x02, 0x30, 0)), STATUS_IO_TIMEOUT);
    EXPECT_EQ(Now() - before, 20000000);

    // Unplugged through the controller: not connected, however the target asks.
    controller_.Unplug();
    EXPECT_EQ(SendCommand(Frame(0x02, 0x30, 0)), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(ReadReplyVia(reply), STATUS_DEVICE_NOT_CONNECTED);
}

TEST_F(ControllerOnUsb, ButtonEventsReachTheContinuousReader) {
    WDF_USB_DEVICE_SELECT_CONFIG_PARAMS select;
    WDF_USB_DEVICE_SELECT_CONFIG_PARAMS_INIT_SINGLE_INTERFACE(&select);
    ASSERT_EQ(WdfUsbTargetDeviceSelectConfig(usb_, WDF_NO_OBJECT_ATTRIBUTES, &select), STATUS_SUCCESS);
    WDFUSBPIPE pipe = WdfUsbInterfaceGetConfiguredPipe(select.SingleInterface.ConfiguredUsbInterface, 0, nullptr);
    ASSERT_NE(pipe, nullptr);
    WdfUsbTargetPipeSetNoMaximumPacketSizeCheck(pipe);
    WDF_USB_CONTINUOUS_READER_CONFIG reader;
    WDF_USB_CONTINUOUS_READER_CONFIG_INIT(&reader, ReadComplete, device_, 1024);
    ASSERT_EQ(WdfUsbTargetPipeConfigContinuousReader(pipe, &reader), STATUS_SUCCESS);

    controller_.PressButton(1);  // before D0 entry: waits in the controller
    EXPECT_EQ(kmdf::PumpContinuousReaders(), 0u);
    ASSERT_EQ(WdfIoTargetStart(WdfUsbTargetPipeGetIoTarget(pipe)), STATUS_SUCCESS);
    controller_.ReleaseButton(1);
    controller_.DuplicateTransfers(1);
    EXPECT_EQ(kmdf::PumpContinuousReaders(), 3u);
    ASSERT_EQ(g_reads.transfers.size(), 3u);
    EXPECT_EQ(g_reads.transfers[0][6], 0xFD);
    EXPECT_EQ(g_reads.transfers[1][6], 0xFD) << "duplicated";
    EXPECT_EQ(g_reads.transfers[2][6], 0xFF);
    EXPECT_EQ(g_reads.transfers[2].size(), 1024u);
}

TEST_F(ControllerOnUsb, CommandsAndInputFromTwoThreads) {
    WDF_USB_DEVICE_SELECT_CONFIG_PARAMS select;
    WDF_USB_DEVICE_SELECT_CONFIG_PARAMS_INIT_SINGLE_INTERFACE(&select);
    ASSERT_EQ(WdfUsbTargetDeviceSelectConfig(usb_, WDF_NO_OBJECT_ATTRIBUTES, &select), STATUS_SUCCESS);
    WDFUSBPIPE pipe = WdfUsbInterfaceGetConfiguredPipe(select.SingleInterface.ConfiguredUsbInterface, 0, nullptr);
    WDF_USB_CONTINUOUS_READER_CONFIG reader;
    WDF_USB_CONTINUOUS_READER_CONFIG_INIT(&reader, ReadComplete, device_, 1024);
    ASSERT_EQ(WdfUsbTargetPipeConfigContinuousReader(pipe, &reader), STATUS_SUCCESS);
    ASSERT_EQ(WdfIoTargetStart(WdfUsbTargetPipeGetIoTarget(pipe)), STATUS_SUCCESS);

    constexpr int kRounds = 200;
    std::thread input([this] {
        for (int i = 0; i < kRounds; ++i) {
            controller_.SetButtons(static_cast<std::uint8_t>(i % 2 == 0 ? 0x01 : 0x00));
            kmdf::PumpContinuousReaders();
        }
    });
    int answered = 0;
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_EQ(SendCommand(Frame(0x02, 0x10, static_cast<std::uint8_t>(i & 1))), STATUS_SUCCESS);
        std::vector<std::uint8_t> reply;
        ASSERT_EQ(ReadReplyVia(reply), STATUS_SUCCESS);
        answered += reply[2] == 0x10 && reply[4] == (i & 1) ? 1 : 0;
    }
    input.join();
    kmdf::PumpContinuousReaders();
    EXPECT_EQ(answered, kRounds) << "each reply pairs with its command";
    ASSERT_EQ(g_reads.transfers.size(), static_cast<size_t>(kRounds));
    for (int i = 0; i < kRounds; ++i) EXPECT_EQ(g_reads.transfers[i][6], i % 2 == 0 ? 0xFE : 0xFF);
}

// Every command of the protocol catalogue gets its reply, of the size its row takes: a get
// as much as the accessor reads (exactly, for the exact rows), a set its result byte.
TEST(Firmware, AnswersEveryCommandOfTheCatalogueWithItsRowsSize) {
    namespace protocol = kav::protocol;
    for (const protocol::Command& row : protocol::kCatalogue) {
        SCOPED_TRACE(::testing::Message()
                     << "command 0x" << std::hex << int{row.code} << " sub-code 0x" << int{row.SubCodeFor(0)});
        Controller controller;
        std::vector<std::uint8_t> request(row.requestSize, 0);
        if (row.code == protocol::kSetUpgradeLinear.code) request[0] = protocol::kUpgradeRequest;
        const DEVICE_PACKET reply = Transact(controller, row.type, row.code, row.SubCodeFor(0), request);
        EXPECT_TRUE(protocol::IsReplyType(reply.type));
        EXPECT_EQ(reply.command, row.code);
        if (row.IsGet()) {
            EXPECT_EQ(reply.length, row.replySize);
        } else {
            EXPECT_EQ(PayloadOf(reply), std::vector<std::uint8_t>{0});  // done
        }
    }
}

// The records the controller starts with describe its own optics, so that the driver
// started on it maps touches where the fingers are.
TEST(Firmware, DefaultRecordsAreThoseOfItsOptics) {
    Controller controller;
    const kav::sim::Geometry geometry = kav::sim::Geometry::From(controller.ScreenProperty());
    const kav::SCREEN_PROPERTY expected = kav::sim::ScreenRecord(geometry);
    const kav::SCREEN_PROPERTY screen = controller.ScreenProperty();
    EXPECT_EQ(std::memcmp(&screen, &expected, sizeof screen), 0);
    for (const bool cameraB : {false, true}) {
        const kav::CAMERA_PROPERTIES record = kav::sim::CameraRecord(kav::sim::Lens::Nominal(cameraB), cameraB);
        const kav::CAMERA_PROPERTIES stored = controller.CameraProperties(cameraB ? 1 : 0);
        EXPECT_EQ(std::memcmp(&stored, &record, sizeof record), 0) << "camera " << cameraB;
    }
    // Its camera lines and images are the grey line the image device shows of the empty
    // glass: the piece from pixel 64 holds the first lit samples.
    kav::sim::Noise noise(1);
    const std::vector<std::uint8_t> lit =
        kav::sim::ImageTransfer(geometry, kav::sim::Lens::Nominal(false), kav::sim::Lens::Nominal(true), {}, {}, {},
                                kav::sim::ImageLighting{}, noise);
    const std::uint8_t piece = kav::sim::kImageFirstPixel / 32;
    const std::vector<std::uint8_t> expectedPiece(lit.begin(), lit.begin() + 32);
    for (const std::uint8_t command : {0x64, 0x66, 0x68})
        EXPECT_EQ(PayloadOf(Transact(controller, 0x02, command, 0, {piece})), expectedPiece);
    EXPECT_EQ(PayloadOf(Transact(controller, 0x02, kav::protocol::kGetImageBlock.code, 0, {piece, 0})), expectedPiece);

    // A product serial number whose fields are all in range.
    const std::vector<std::uint8_t> serial = controller.Block(kav::protocol::kGetProductSn.code, 0);
    ASSERT_EQ(serial.size(), 20u);
    EXPECT_TRUE(serial[0] >= 'A' && serial[0] <= 'Z' && serial[1] <= 99 && serial[6] <= 9);
}

}  // namespace firmware_test
