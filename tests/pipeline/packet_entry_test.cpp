#include "kavusb/pipeline/packet_entry.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "pipeline_fixture.h"
#include "shared/device_packet.h"

namespace kav::test {
namespace {

using Transfer = std::array<std::uint8_t, kUsbTransferSize>;

Transfer Packet(std::uint8_t command, std::uint8_t subCode, std::vector<std::uint8_t> payload) {
    Transfer transfer{};
    BuildFramedPacket(0x10, command, subCode, payload.data(), payload.size(), transfer.data());
    return transfer;
}

// A camera line whose first `shadow` pixels are dark, then lit.
Transfer Line(std::uint8_t subCode, std::uint8_t shadow) {
    return Packet(kPacketCameraLine, subCode, {static_cast<std::uint8_t>(((shadow - 1) << 1) | 1)});
}

// No button line pressed (they are active low): no key strokes ahead of the event report.
Transfer DeviceEvent(std::uint8_t command) {
    return Packet(command, 0, {0x42, 0xFF});
}

// Dark pixels at the start of a decoded line.
int LeadingShadow(const std::uint8_t* line) {
    return static_cast<int>(std::find(line, line + kLinePixels, 0) - line);
}

class PacketEntryTest : public PipelineTest {
protected:
    NTSTATUS Feed(const Transfer& transfer) { return ProcessTransfer(Context(), transfer.data()); }
    int ShadowA() { return LeadingShadow(Context()->Triangulation.Camera[0].Line); }
    int ShadowB() { return LeadingShadow(Context()->Triangulation.Camera[1].Line); }
};

TEST_F(PacketEntryTest, HalfFramesPairIntoOneFrame) {
    struct Step {
        std::uint8_t subCode;
        std::uint8_t shadow;
        NTSTATUS status;
        std::uint8_t pendingAfter;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::uint8_t swap;
        int shadowA, shadowB;
    };
    const NTSTATUS ok = STATUS_SUCCESS, no = STATUS_UNSUCCESSFUL;
    const Case cases[] = {
        {"in order", {{0, 3, no, 1}, {1, 5, ok, 0}}, 0, 5, 3},
        {"sub-code 1 first", {{1, 3, no, 0}, {0, 5, no, 1}, {1, 7, ok, 0}}, 0, 7, 5},
        {"second sub-code 0 replaces the first", {{0, 3, no, 1}, {0, 5, no, 1}, {1, 7, ok, 0}}, 0, 7, 5},
        {"unpaired sub-code 1 after a frame", {{0, 3, no, 1}, {1, 5, ok, 0}, {1, 7, no, 0}}, 0, 5, 3},
        {"other sub-codes are ignored", {{0, 3, no, 1}, {2, 9, no, 1}, {1, 5, ok, 0}}, 0, 5, 3},
        {"swapped cameras", {{0, 3, no, 1}, {1, 5, ok, 0}}, 2, 3, 5},
        {"swap flag uses its low two bits", {{0, 3, no, 1}, {1, 5, ok, 0}}, 1, 3, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        Context()->SwapCameras = c.swap;
        for (const Step& step : c.steps) {
            EXPECT_EQ(Feed(Line(step.subCode, step.shadow)), step.status);
            EXPECT_EQ(Context()->HalfFramePending, step.pendingAfter);
        }
        EXPECT_EQ(ShadowA(), c.shadowA);
        EXPECT_EQ(ShadowB(), c.shadowB);
        TearDown();
    }
}

TEST_F(PacketEntryTest, EmptyOrZeroLengthLinesDecodeAsLit) {
    Transfer zeroLength = Line(1, 5);
    zeroLength[3] = 0;  // L = 0: no payload at all
    EXPECT_EQ(Feed(Line(0, 4)), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Feed(zeroLength), STATUS_SUCCESS);
    EXPECT_EQ(ShadowA(), 0);
    EXPECT_EQ(ShadowB(), 4);
}

TEST_F(PacketEntryTest, TouchDisabledProducesNothing) {
    Driver()->Config.EnableTouch = 0;
    ParkRead(64);
    EXPECT_EQ(Feed(Line(0, 3)), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Context()->HalfFramePending, 0);
    Context()->HalfFramePending = 1;
    EXPECT_EQ(Feed(Line(1, 3)), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Context()->HalfFramePending, 1);
    EXPECT_EQ(Feed(DeviceEvent(kPacketDeviceEvent)), STATUS_UNSUCCESSFUL);
    Context()->WorkMode = kWorkModeRawPacket;
    EXPECT_EQ(Feed(Line(0, 3)), STATUS_UNSUCCESSFUL);
    Context()->DeviceDescriptor.idProduct = kImageDeviceProductId;
    Transfer image{};
    EXPECT_EQ(Feed(image), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Pending(), 1u);
}

TEST_F(PacketEntryTest, RawPacketModeForwardsEveryFramedPacketAndLeavesFramesAlone) {
    Context()->WorkMode = kWorkModeRawPacket;
    for (std::uint8_t pending : {0, 1}) {
        for (const Transfer& transfer :
             {Line(0, 3), Line(1, 3), DeviceEvent(kPacketDeviceEvent), Packet(0x77, 0, {})}) {
            Context()->HalfFramePending = pending;
            WDFREQUEST request = ParkRead(64);
            EXPECT_EQ(Feed(transfer), STATUS_UNSUCCESSFUL);
            EXPECT_EQ(Context()->HalfFramePending, pending);
            const std::vector<std::uint8_t> report = Report(request);
            ASSERT_EQ(report.size(), 64u);
            EXPECT_EQ(report[0], 0x36);
            EXPECT_TRUE(std::equal(report.begin() + 1, report.end(), transfer.begin() + 1));
        }
    }
    Transfer unframed = Line(0, 3);
    unframed[0] = 0x55;
    ParkRead(64);
    EXPECT_EQ(Feed(unframed), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Pending(), 1u);
}

TEST_F(PacketEntryTest, DeviceEventsBecomeEventReportsExceptWhileCalibrating) {
    struct Case {
        std::uint8_t workMode;
        std::uint8_t command;
        bool reported;
    };
    const Case cases[] = {
        {kWorkModeMouse, 0x02, true},      {kWorkModeDigitizer, 0x40, true},
        {kWorkModeDigitizer2, 0x02, true}, {0x00, 0x40, true},
        {kWorkModeCalibrate, 0x02, false}, {kWorkModeCalibrate, 0x40, false},
        {kWorkModeMouse, 0x03, false},     {kWorkModeMouse, 0x41, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.workMode) << " " << int(c.command));
        Context()->WorkMode = c.workMode;
        WDFREQUEST request = ParkRead(8);
        EXPECT_EQ(Feed(DeviceEvent(c.command)), STATUS_UNSUCCESSFUL);
        EXPECT_EQ(kmdf::ResultOf(request).Completed, c.reported);
        if (c.reported) {
            EXPECT_EQ(Report(request), (std::vector<std::uint8_t>{0x32, 0x42, 0xFF, 0, 0, 0, 0, 0}));
        } else {
            // Leave the queue empty for the next case.
            WDFREQUEST left = nullptr;
            ASSERT_TRUE(NT_SUCCESS(WdfIoQueueRetrieveNextRequest(Context()->ReadQueue, &left)));
            WdfRequestComplete(left, STATUS_CANCELLED);
        }
    }
}

TEST_F(PacketEntryTest, MissingStartByteIsDropped) {
    Transfer transfer = Line(0, 3);
    transfer[0] = 0xAB;
    EXPECT_EQ(Feed(transfer), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(Context()->HalfFramePending, 0);
}

TEST_F(PacketEntryTest, ImageDeviceMakesAFrameOfEveryTransfer) {
    Context()->DeviceDescriptor.idProduct = kImageDeviceProductId;
    Context()->Background[0].FirstFrame = 1;
    Context()->Background[1].FirstFrame = 1;
    Transfer lit;
    lit.fill(200);
    EXPECT_EQ(Feed(lit), STATUS_SUCCESS);  // learns the background
    EXPECT_EQ(ShadowA(), 0);

    Transfer touched = lit;
    std::fill(touched.begin() + 512, touched.begin() + 512 + 10, 50);  // dark start of the second line
    EXPECT_EQ(Feed(touched), STATUS_SUCCESS);
    const std::uint8_t* b = Context()->Triangulation.Camera[1].Line;
    EXPECT_EQ(LeadingShadow(b + 64), 10);
    EXPECT_EQ(std::count(b, b + kLinePixels, 1), 10);
    EXPECT_EQ(
        std::count(Context()->Triangulation.Camera[0].Line, Context()->Triangulation.Camera[0].Line + kLinePixels, 1),
        0);

    Context()->SwapCameras = 1;
    EXPECT_EQ(Feed(touched), STATUS_SUCCESS);
    EXPECT_EQ(LeadingShadow(Context()->Triangulation.Camera[0].Line + 64), 10);
}

TEST_F(PacketEntryTest, ReadCompletionSignalsPresenceThenProcessesUnderTheLock) {
    WDFMEMORY memory = nullptr;
    PVOID buffer = nullptr;
    ASSERT_TRUE(
        NT_SUCCESS(WdfMemoryCreate(WDF_NO_OBJECT_ATTRIBUTES, NonPagedPool, 0, kUsbTransferSize, &memory, &buffer)));
    const Transfer event = DeviceEvent(kPacketDeviceEvent);
    std::memcpy(buffer, event.data(), event.size());
    WDFREQUEST request = ParkRead(8);

    const std::uint64_t before = kmdf::UserPresentCount();
    NerioUSBEvtUsbInterruptPipeReadComplete(nullptr, memory, 64, reinterpret_cast<WDFOBJECT>(DeviceHandle()));
    EXPECT_EQ(kmdf::UserPresentCount(), before + 1);
    EXPECT_TRUE(kmdf::ResultOf(request).Completed);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);

    // A buffer shorter than a transfer still counts as presence but is not read.
    WDFMEMORY small = nullptr;
    ASSERT_TRUE(NT_SUCCESS(WdfMemoryCreate(WDF_NO_OBJECT_ATTRIBUTES, NonPagedPool, 0, 16, &small, &buffer)));
    std::memcpy(buffer, event.data(), 16);
    ParkRead(8);
    NerioUSBEvtUsbInterruptPipeReadComplete(nullptr, small, 16, reinterpret_cast<WDFOBJECT>(DeviceHandle()));
    EXPECT_EQ(kmdf::UserPresentCount(), before + 2);
    EXPECT_EQ(Pending(), 1u);
    WdfObjectDelete(memory);
    WdfObjectDelete(small);
}

}  // namespace
}  // namespace kav::test
