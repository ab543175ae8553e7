// A touch screen starting: the driver on the simulated controller over the kmdf USB
// layer, the configuration read on the virtual clock, then touch packets flowing.
#include <gtest/gtest.h>

#include <cstring>

#include "kavusb/frame/device_add.h"
#include "kavusb/frame/device_start.h"
#include "kavusb/frame/driver_entry.h"
#include "kavusb/kmdf/usermode/kmdf_sim.h"
#include "simulator/controller/firmware.h"
#include "simulator/controller/optics.h"

namespace kav::test {
namespace {

constexpr LONGLONG kMs = 10000;
constexpr LONGLONG kTransaction = 50 * kMs;  // 20 ms before the send, 30 ms before the read

class DeviceStartTest : public ::testing::Test {
protected:
    void SetUp() override {
        kmdf::ResetFramework();
        kmdf::SetClock(&clock_);
        ASSERT_TRUE(NT_SUCCESS(DriverEntry(kmdf::CreateDriverObject(), nullptr)));
        ASSERT_TRUE(NT_SUCCESS(NerioUSBCreateDevice(kmdf::AllocateDeviceInit(WdfGetDriver()), &device_)));
        kmdf::AttachUsbDevice(device_, &controller_);
        context_ = NerioGetDeviceContext(device_);
    }
    void TearDown() override {
        kmdf::AttachUsbDevice(device_, nullptr);
        kmdf::ResetFramework();
    }
    NTSTATUS Start() {
        start_ = clock_.Now();
        return NerioUSBEvtDevicePrepareHardware(device_, nullptr, nullptr);
    }
    LONGLONG Elapsed() const { return const_cast<kmdf::VirtualClock&>(clock_).Now() - start_; }

    kmdf::VirtualClock clock_{1'000'000};
    sim::Controller controller_;
    WDFDEVICE device_ = nullptr;
    DEVICE_CONTEXT* context_ = nullptr;
    LONGLONG start_ = 0;
};

TEST_F(DeviceStartTest, AnsweringControllerStartsAfterTheWaitAndTheExchange) {
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    EXPECT_EQ(Elapsed(), kStartWait100ns + 11 * kTransaction);
    EXPECT_TRUE(kmdf::ErrorLog().empty());

    const SCREEN_PROPERTY screen = controller_.ScreenProperty();
    EXPECT_EQ(+context_->ScreenProperty.Width, screen.Width);
    EXPECT_EQ(+context_->ScreenProperty.NewContactNumerator, 15000u);  // MaxSpeed, not the controller's
    const CAMERA_PROPERTIES camera = controller_.CameraProperties(1);
    EXPECT_EQ(std::memcmp(&context_->CameraProperties[1], &camera, sizeof(camera)), 0);
    EXPECT_EQ(context_->DeviceDescriptor.idVendor, 0x4B1D);
    EXPECT_EQ(context_->DeviceDescriptor.idProduct, 0x0A31);
    EXPECT_EQ(context_->LastTouchReport.Contact[1].ContactId, 1);

    // D0 entry starts the reader: transfers now reach the pipeline.
    ASSERT_EQ(NerioUSBEvtDeviceD0Entry(device_, WdfPowerDeviceD3), STATUS_SUCCESS);
    const sim::Geometry geometry = sim::Geometry::From(context_->ScreenProperty);
    const std::vector<sim::Finger> finger = {{200, 150, 10}};
    controller_.QueueTransfer(sim::LineTransfer(0, sim::RenderLine(geometry, true, sim::Lens::Nominal(true), finger)));
    controller_.QueueTransfer(
        sim::LineTransfer(1, sim::RenderLine(geometry, false, sim::Lens::Nominal(false), finger)));
    EXPECT_EQ(kmdf::PumpContinuousReaders(), 2u);
    EXPECT_EQ(+context_->Triangulation.Camera[0].Count, 1);
    EXPECT_EQ(+context_->Triangulation.Raw[0].state, kPointMeasured);

    ASSERT_EQ(NerioUSBEvtDeviceD0Exit(device_, WdfPowerDeviceD3), STATUS_SUCCESS);
    controller_.QueueTransfer(sim::LineTransfer(0, {}));
    EXPECT_EQ(kmdf::PumpContinuousReaders(), 0u);
}

TEST_F(DeviceStartTest, SilentYCalibrationQueryFailsTheStartAndKeepsWhatWasRead) {
    controller_.AddReplyFault({sim::ReplyFault::Unanswered, 0x14, 1, sim::kEveryTime});
    EXPECT_EQ(Start(), STATUS_UNSUCCESSFUL);
    // Rows 1-7 answered, then sixteen attempts at row 8.
    EXPECT_EQ(Elapsed(), kStartWait100ns + 7 * kTransaction + 16 * kTransaction);
    const std::vector<kmdf::ErrorLogEntry> log = kmdf::TakeErrorLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(static_cast<std::uint32_t>(log[0].Packet().ErrorCode), 0x80050006u);
    EXPECT_EQ(log[0].InsertionString(), u"读取Y校准参数失败.");
    EXPECT_EQ(static_cast<std::uint32_t>(log[1].Packet().ErrorCode), 0xC0040004u);
    EXPECT_EQ(log[1].InsertionString(),
              u"NerioUSBEvtDevicePrepareHardware: Zandric USB Touchscreen Driver Init Kavcore failed.");
    EXPECT_EQ(log[1].Bytes.size(), 212u);
    const DEVICE_CALIB_PARAS x = controller_.CalibParams(0);
    EXPECT_EQ(std::memcmp(&context_->CalibParams[0], &x, sizeof(x)), 0);
    EXPECT_EQ(+context_->ScreenProperty.Width, controller_.ScreenProperty().Width);
}

TEST_F(DeviceStartTest, RepliesWithAnotherCommandByteAreAccepted) {
    controller_.AddReplyFault({sim::ReplyFault::OtherCommand, std::nullopt, std::nullopt, sim::kEveryTime});
    EXPECT_EQ(Start(), STATUS_SUCCESS);
    EXPECT_TRUE(kmdf::ErrorLog().empty());
}

TEST_F(DeviceStartTest, SwapFlagBuildsCameraAFromRecordZero) {
    CAMERA_PROPERTIES record0 = controller_.CameraProperties(0);
    record0.Flags = 0x02;
    record0.P[1] = 1.25f;
    record0.Scale = 1.0f;
    controller_.SetCameraProperties(0, record0);
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    EXPECT_EQ(context_->SwapCameras, 2);
    EXPECT_EQ(+context_->Triangulation.Model[0].Coef[1], 1.25f);
}

TEST_F(DeviceStartTest, RestartKeepsTheUsbTarget) {
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    const WDFUSBDEVICE first = context_->UsbDevice;
    ASSERT_EQ(NerioUSBEvtDeviceD0Entry(device_, WdfPowerDeviceD3), STATUS_SUCCESS);
    ASSERT_EQ(NerioUSBEvtDeviceD0Exit(device_, WdfPowerDeviceD3), STATUS_SUCCESS);
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    EXPECT_EQ(context_->UsbDevice, first);
}

TEST_F(DeviceStartTest, WithoutAControllerThereIsNoStart) {
    kmdf::AttachUsbDevice(device_, nullptr);
    EXPECT_FALSE(NT_SUCCESS(Start()));
    EXPECT_TRUE(kmdf::ErrorLog().empty());
}

}  // namespace
}  // namespace kav::test
