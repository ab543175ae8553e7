// Feature reports through the HID dispatcher: what the driver keeps, answers and changes.
#include "kavusb/frame/feature_relay.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "kavusb/frame/parameters.h"
#include "kavusb/frame/pipeline_start.h"
#include "kavusb/pipeline/output_stage.h"
#include "pipeline/pipeline_fixture.h"

namespace kav::test {
namespace {

using FeatureReport = std::array<std::uint8_t, 64>;

class FeatureRelayTest : public PipelineTest {
protected:
    // A feature request as the HID class sends it: the transfer packet at the user buffer.
    NTSTATUS Feature(ULONG ioctl, std::uint8_t reportId, std::uint8_t* buffer, ULONG length,
                     size_t inputLength = sizeof(HID_XFER_PACKET)) {
        HID_XFER_PACKET packet{buffer, length, reportId};
        kmdf::RequestSetup setup;
        setup.IoControlCode = ioctl;
        setup.Input.assign(inputLength, 0);
        setup.UserBuffer = &packet;
        kmdf::ScopedRequest request(setup);
        kmdf::SendToDevice(DeviceHandle(), request);
        const kmdf::RequestResult result = request.Result();
        EXPECT_TRUE(result.Completed);
        return result.Status;
    }
    NTSTATUS Set(FeatureReport& report, ULONG length = 64) {
        return Feature(IOCTL_HID_SET_FEATURE, report[0], report.data(), length);
    }
    NTSTATUS Get(FeatureReport& report, ULONG length = 64) {
        return Feature(IOCTL_HID_GET_FEATURE, report[0], report.data(), length);
    }

    static FeatureReport CommandReport(std::uint8_t command, std::uint8_t subCode, std::uint8_t fill) {
        FeatureReport r{};
        r[0] = 0xAA;
        r[1] = 0x02;
        r[2] = command;
        r[3] = 59;
        r[4] = subCode;
        for (size_t i = 5; i < 63; ++i) r[i] = static_cast<std::uint8_t>(fill + i);
        return r;
    }
    static FeatureReport DriverRequest(std::uint8_t code) {
        FeatureReport r{};
        r[0] = 0x55;
        r[1] = code;
        return r;
    }
};

TEST_F(FeatureRelayTest, CommandSetsKeepCopiesOfTheirRecords) {
    struct Case {
        std::uint8_t command, subCode;
        const void* record;
    };
    DEVICE_CONTEXT* c = Context();
    const Case cases[] = {
        {0x11, 0, &c->CameraProperties[0]}, {0x11, 1, &c->CameraProperties[1]}, {0x15, 0, &c->CalibParams[0]},
        {0x15, 1, &c->CalibParams[1]},      {0x1B, 0, &c->ToolbarParams},       {0x31, 0, &c->ScreenProperty},
        {0x31, 1, &c->DeviceConfig},
    };
    std::uint8_t fill = 1;
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(k.command) << "/" << int(k.subCode));
        FeatureReport report = CommandReport(k.command, k.subCode, fill++);
        EXPECT_EQ(Set(report), STATUS_SUCCESS);
        EXPECT_EQ(std::memcmp(k.record, report.data() + 5, 58), 0);
    }
}

TEST_F(FeatureRelayTest, SetsWithOtherSubCodesStoreNothingButStillRebuild) {
    const DEVICE_CONTEXT before = *Context();
    Context()->DeviceConfig.RegionByte = 0x02;  // two regions once rebuilt
    FeatureReport report = CommandReport(0x31, 2, 7);
    EXPECT_EQ(Set(report), STATUS_SUCCESS);
    EXPECT_EQ(std::memcmp(&before.ScreenProperty, &Context()->ScreenProperty, 58), 0);
    EXPECT_EQ(Context()->RegionCount, 2);  // SetupRegions ran
    report = CommandReport(0x11, 2, 9);
    Context()->Triangulation.HoldCounter = 3;
    EXPECT_EQ(Set(report), STATUS_SUCCESS);
    EXPECT_EQ(std::memcmp(&before.CameraProperties, &Context()->CameraProperties, sizeof(before.CameraProperties)), 0);
    EXPECT_EQ(+Context()->Triangulation.HoldCounter, 0);  // the camera model was rebuilt
}

TEST_F(FeatureRelayTest, CachedGetsAnswerWithoutTheController) {
    FeatureReport set = CommandReport(0x31, 0, 3);
    ASSERT_EQ(Set(set), STATUS_SUCCESS);
    FeatureReport get = CommandReport(0x30, 0, 0);
    ASSERT_EQ(Get(get), STATUS_SUCCESS);
    EXPECT_EQ(std::memcmp(get.data(), set.data() + 5, 58), 0);  // from byte 0

    FeatureReport other = CommandReport(0x10, 2, 0x40);
    const FeatureReport sent = other;
    EXPECT_EQ(Get(other), STATUS_SUCCESS);
    EXPECT_EQ(other, sent);  // another sub-code leaves the buffer as the client filled it
}

TEST_F(FeatureRelayTest, DriverRequestsSetAndGetWorkModeConfigAndSpeed) {
    FeatureReport mode = DriverRequest(0x01);
    mode[2] = 0x07;  // not limited here
    EXPECT_EQ(Set(mode), STATUS_SUCCESS);
    EXPECT_EQ(Context()->WorkMode, 0x07);
    FeatureReport query = DriverRequest(0x01);
    EXPECT_EQ(Get(query), STATUS_SUCCESS);
    EXPECT_EQ(query[2], 0x07);

    FeatureReport config = DriverRequest(0x13);
    for (size_t i = 2; i <= 60; ++i) config[i] = static_cast<std::uint8_t>(i * 3);
    config[2 + offsetof(_NERIO_DRIVER_CONFIG, Smoothness)] = 64;  // 64 / 32768 = 2^-9
    for (size_t k = 1; k < 4; ++k) config[2 + offsetof(_NERIO_DRIVER_CONFIG, Smoothness) + k] = 0;
    EXPECT_EQ(Set(config), STATUS_SUCCESS);
    FeatureReport back = DriverRequest(0x12);
    EXPECT_EQ(Get(back), STATUS_SUCCESS);
    EXPECT_EQ(std::memcmp(back.data(), config.data() + 2, 59), 0);
    EXPECT_EQ(+Context()->SmoothHistory[0].Scale, 1.0f / 512);
    EXPECT_EQ(kmdf::TakeRegistryWrites().size(), 18u);

    FeatureReport speed = DriverRequest(0x17);
    speed[2] = 0x98;  // MaxSpeed 15000
    speed[3] = 0x3A;
    speed[6] = 5;
    speed[7] = 20;
    EXPECT_EQ(Set(speed), STATUS_SUCCESS);
    EXPECT_EQ(+Context()->ScreenProperty.NewContactNumerator, 15000u);
    EXPECT_EQ(+Context()->ScreenProperty.VelocityWeight, 0.01f * 20.0f);  // single precision after a set
    FeatureReport speedBack = DriverRequest(0x16);
    EXPECT_EQ(Get(speedBack), STATUS_SUCCESS);
    EXPECT_EQ(speedBack[0], 0x98);
    EXPECT_EQ(speedBack[1], 0x3A);
    EXPECT_EQ(speedBack[4], 5);
    EXPECT_EQ(speedBack[5], 20);
}

TEST_F(FeatureRelayTest, ContactCountMaximumSwitchesToDigitizerMode) {
    std::uint8_t one[1] = {0x03};
    EXPECT_EQ(Feature(IOCTL_HID_GET_FEATURE, 0x03, one, 1), STATUS_SUCCESS);
    EXPECT_EQ(Context()->WorkMode, kWorkModeMouse);
    std::uint8_t two[2] = {0x03, 0};
    EXPECT_EQ(Feature(IOCTL_HID_GET_FEATURE, 0x03, two, 2), STATUS_SUCCESS);
    EXPECT_EQ(two[1], 2);
    EXPECT_EQ(Context()->WorkMode, kWorkModeDigitizer);
}

TEST_F(FeatureRelayTest, MalformedRequestsAreRefusedAndShortBuffersNeverOverrun) {
    FeatureReport report = CommandReport(0x31, 0, 1);
    EXPECT_EQ(Feature(IOCTL_HID_SET_FEATURE, 0xAA, report.data(), 64, sizeof(HID_XFER_PACKET) - 1),
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(+Context()->ScreenProperty.Width, 0u);

    // Reports 0xAA and 0x55 are 64 bytes: a shorter buffer is refused, not overrun.
    std::array<std::uint8_t, 80> guarded{};
    guarded.fill(0xEE);
    guarded[0] = 0x55;
    guarded[1] = 0x12;
    EXPECT_EQ(Feature(IOCTL_HID_GET_FEATURE, 0x55, guarded.data(), 40), STATUS_BUFFER_TOO_SMALL);
    for (size_t i = 2; i < guarded.size(); ++i) EXPECT_EQ(guarded[i], 0xEE) << i;
    guarded[0] = 0xAA;
    guarded[2] = 0x30;
    EXPECT_EQ(Feature(IOCTL_HID_SET_FEATURE, 0xAA, guarded.data(), 40), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(+Context()->ScreenProperty.Width, 0u);

    // The device mode feature is accepted and ignored either way.
    std::uint8_t mode[3] = {0x02, 1, 2};
    EXPECT_EQ(Feature(IOCTL_HID_SET_FEATURE, 0x02, mode, 3), STATUS_SUCCESS);
    EXPECT_EQ(Feature(IOCTL_HID_GET_FEATURE, 0x02, mode, 3), STATUS_SUCCESS);
    EXPECT_EQ(mode[1], 1);
}

}  // namespace
}  // namespace kav::test

namespace kav::test {
namespace {

// Records the vendor transfers the relay makes and answers reads with a fixed reply.
class RecordingUsb final : public kmdf::UsbDeviceModel {
public:
    struct Transfer {
        std::uint8_t requestType;
        std::vector<std::uint8_t> data;
    };
    USB_DEVICE_DESCRIPTOR DeviceDescriptor() override {
        USB_DEVICE_DESCRIPTOR d{};
        d.bLength = 18;
        d.idVendor = 0x4B1D;
        d.idProduct = 0x0A31;
        return d;
    }
    NTSTATUS ControlTransfer(const WDF_USB_CONTROL_SETUP_PACKET& setup, std::span<std::uint8_t> data,
                             ULONG* transferred) override {
        const std::uint8_t type = setup.Packet.Bm;
        if (type & 0x80) std::copy(reply.begin(), reply.begin() + std::min(data.size(), reply.size()), data.begin());
        transfers.push_back({type, {data.begin(), data.end()}});
        *transferred = static_cast<ULONG>(data.size());
        return STATUS_SUCCESS;
    }
    std::optional<size_t> NextInterruptTransfer(std::span<std::uint8_t>) override { return std::nullopt; }

    std::vector<Transfer> transfers;
    std::array<std::uint8_t, 64> reply{};
};

class FeatureRelayUsbTest : public FeatureRelayTest {
protected:
    void SetUp() override {
        FeatureRelayTest::SetUp();
        kmdf::AttachUsbDevice(DeviceHandle(), &usb_);
        WDFUSBDEVICE usbDevice = nullptr;
        ASSERT_TRUE(NT_SUCCESS(WdfUsbTargetDeviceCreate(DeviceHandle(), WDF_NO_OBJECT_ATTRIBUTES, &usbDevice)));
        Context()->UsbDevice = usbDevice;
    }
    void TearDown() override {
        kmdf::AttachUsbDevice(DeviceHandle(), nullptr);
        FeatureRelayTest::TearDown();
    }
    RecordingUsb usb_;
};

TEST_F(FeatureRelayUsbTest, CommandSetsGoToTheControllerWithTheFrameLength) {
    struct Case {
        std::uint8_t lengthByte;
        size_t sent;
    };
    // n = byte 3 + 5 modulo 256, never more than the report holds.
    for (const Case c : {Case{0x02, 7}, Case{59, 64}, Case{0xFB, 0}, Case{0x50, 64}}) {
        SCOPED_TRACE(int(c.lengthByte));
        usb_.transfers.clear();
        FeatureReport report = CommandReport(0x31, 2, 0);
        report[3] = c.lengthByte;
        EXPECT_EQ(Set(report), STATUS_SUCCESS);
        ASSERT_EQ(usb_.transfers.size(), 1u);
        EXPECT_EQ(usb_.transfers[0].requestType, 0x40);
        EXPECT_EQ(usb_.transfers[0].data.size(), c.sent);
        EXPECT_TRUE(std::equal(usb_.transfers[0].data.begin(), usb_.transfers[0].data.end(), report.begin()));
    }
}

TEST_F(FeatureRelayUsbTest, CameraSetIsCachedThenSent) {
    FeatureReport report = CommandReport(0x11, 1, 5);
    EXPECT_EQ(Set(report), STATUS_SUCCESS);
    EXPECT_EQ(std::memcmp(&Context()->CameraProperties[1], report.data() + 5, 58), 0);
    ASSERT_EQ(usb_.transfers.size(), 1u);
    EXPECT_EQ(usb_.transfers[0].data.size(), 64u);
}

TEST_F(FeatureRelayUsbTest, GetsReadTheControllerUnlessTheCacheAnswers) {
    usb_.reply[0] = 0xAA;
    usb_.reply[1] = 0x12;
    usb_.reply[2] = 0x70;
    FeatureReport poll{};
    poll[0] = 0xAA;  // byte 2 = 0: how the library polls
    EXPECT_EQ(Get(poll), STATUS_SUCCESS);
    ASSERT_EQ(usb_.transfers.size(), 1u);
    EXPECT_EQ(usb_.transfers[0].requestType, 0xC0);
    EXPECT_EQ(usb_.transfers[0].data.size(), 64u);
    EXPECT_EQ(poll, usb_.reply);

    FeatureReport cached = CommandReport(0x10, 2, 0);
    EXPECT_EQ(Get(cached), STATUS_SUCCESS);
    EXPECT_EQ(usb_.transfers.size(), 1u);  // no traffic for a cached block
}

TEST_F(FeatureRelayUsbTest, UnknownDriverRequestsArePassedOnWhole) {
    FeatureReport report = DriverRequest(0x20);
    for (size_t i = 2; i < 64; ++i) report[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(Set(report), STATUS_SUCCESS);
    ASSERT_EQ(usb_.transfers.size(), 1u);
    EXPECT_EQ(usb_.transfers[0].data, std::vector<std::uint8_t>(report.begin(), report.end()));

    FeatureReport mode = DriverRequest(0x01);
    mode[2] = kWorkModeRawPacket;
    EXPECT_EQ(Set(mode), STATUS_SUCCESS);
    EXPECT_EQ(usb_.transfers.size(), 1u);  // answered by the driver alone
}

}  // namespace
}  // namespace kav::test

namespace kav::test {
namespace {

SCREEN_PROPERTY Screen(std::uint32_t width, std::uint32_t height) {
    SCREEN_PROPERTY s{};
    s.Width = width;
    s.Height = height;
    s.NewContactDivisor = 100;
    s.NewContactNumerator = 777;  // the controller's value; the driver's MaxSpeed replaces it
    s.VelocityRefCount = 1;
    s.VelocityWeight = 0.5f;
    s.CameraAX = -20;  // a 440 mm baseline: a scale unlike the default 32768
    s.CameraBX = 20;
    return s;
}

class ConfigurationCacheTest : public FeatureRelayTest {
protected:
    void SetUp() override {
        FeatureRelayTest::SetUp();
        Driver()->MaxSpeed = 15000;
        Driver()->VelocityRefCount = 5;
        Driver()->VelocityWeight = 20;
        Context()->ScreenProperty = Screen(400, 300);
        DRIVER_CONFIG_SNAPSHOT parameters;
        SnapshotDriverConfig(WdfGetDriver(), &parameters);
        InitializePipelineState(Context(), parameters);
    }
    void SetScreen(const SCREEN_PROPERTY& screen) {
        FeatureReport report = CommandReport(0x31, 0, 0);
        std::memcpy(report.data() + 5, &screen, sizeof(screen));
        ASSERT_EQ(Set(report), STATUS_SUCCESS);
    }
    void SetSpeed(std::uint32_t maxSpeed, std::uint8_t refCount, std::uint8_t weight) {
        FeatureReport speed = DriverRequest(0x17);
        std::memcpy(speed.data() + 2, &maxSpeed, 4);
        speed[6] = refCount;
        speed[7] = weight;
        ASSERT_EQ(Set(speed), STATUS_SUCCESS);
    }
};

TEST_F(ConfigurationCacheTest, AScreenPropertySetChangesTheRegionsButNotTheCameraModel) {
    Context()->DeviceConfig.RegionByte = 0x02;
    Context()->DeviceConfig.Region0 = {0, 0, 200, 300};
    const SCREEN_SCALE before = Context()->Triangulation.Scale;
    SetScreen(Screen(800, 600));
    EXPECT_EQ(Context()->Region[0].XMax, 8192);  // 200 mm of 800
    EXPECT_EQ(+Context()->Triangulation.Scale.ScaleX, +before.ScaleX);
    EXPECT_EQ(+Context()->Triangulation.Scale.BaselineMm, +before.BaselineMm);
}

TEST_F(ConfigurationCacheTest, ACachedScreenPropertyCarriesMaxSpeed) {
    FeatureReport get = CommandReport(0x30, 0, 0);
    ASSERT_EQ(Get(get), STATUS_SUCCESS);
    SCREEN_PROPERTY screen;
    std::memcpy(&screen, get.data(), sizeof(screen));
    EXPECT_EQ(screen.NewContactNumerator, 15000u);
    EXPECT_EQ(screen.VelocityRefCount, 5u);
    EXPECT_EQ(screen.VelocityWeight, static_cast<float>(20 * 0.01));  // double precision at start
}

TEST_F(ConfigurationCacheTest, SpeedValuesThatSpoilTheScreenPropertyGiveTheDefaultGeometry) {
    EXPECT_NE(+Context()->Triangulation.Scale.ScaleX, 32768.0f);
    for (auto [refCount, weight] : {std::pair<std::uint8_t, std::uint8_t>{0, 20}, {5, 100}}) {
        SetSpeed(15000, refCount, weight);
        EXPECT_EQ(+Context()->Triangulation.Scale.ScaleX, 32768.0f) << int(refCount) << " " << int(weight);
        EXPECT_EQ(+Context()->Triangulation.Scale.NewContactDistance, 0.25f);
        SetSpeed(15000, 5, 20);
        EXPECT_NE(+Context()->Triangulation.Scale.ScaleX, 32768.0f);
    }
    EXPECT_EQ(Driver()->VelocityWeight, 20);
}

}  // namespace
}  // namespace kav::test
