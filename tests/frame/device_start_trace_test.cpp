// A device start that fails says in the debug output which call failed and with which
// status; what goes to the event log stays as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kavusb/frame/device_add.h"
#include "kavusb/frame/device_start.h"
#include "kavusb/frame/driver_entry.h"
#include "kavusb/kmdf/usermode/kmdf_sim.h"
#include "simulator/controller/firmware.h"

namespace kav::test {
namespace {

class DeviceStartTraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        kmdf::ResetFramework();
        kmdf::SetClock(&clock_);
        ASSERT_TRUE(NT_SUCCESS(DriverEntry(kmdf::CreateDriverObject(), nullptr)));
        ASSERT_TRUE(NT_SUCCESS(NerioUSBCreateDevice(kmdf::AllocateDeviceInit(WdfGetDriver()), &device_)));
        kmdf::TakeDebugOutput();
    }
    void TearDown() override {
        kmdf::AttachUsbDevice(device_, nullptr);
        kmdf::ResetFramework();
    }

    kmdf::VirtualClock clock_{1'000'000};
    sim::Controller controller_;
    WDFDEVICE device_ = nullptr;
};

TEST_F(DeviceStartTraceTest, AnUnpluggedControllerNamesTheUsbTargetCreation) {
    kmdf::AttachUsbDevice(device_, nullptr);
    EXPECT_EQ(NerioUSBEvtDevicePrepareHardware(device_, nullptr, nullptr), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(kmdf::TakeDebugOutput(),
              std::vector<std::string>{"KavUSB: NerioUSBEvtDevicePrepareHardware: WdfUsbTargetDeviceCreate failed "
                                       "with status 0xC000009D\n"});
    // A failure before the configuration read writes no event-log entry.
    EXPECT_TRUE(kmdf::ErrorLog().empty());
}

TEST_F(DeviceStartTraceTest, AFailedQueryNamesTheTransactionThenTheConfigurationRead) {
    struct Case {
        const char* name;
        std::uint8_t command, subCode;
        const char* transaction;
        std::size_t eventEntries;  // the row's entry, if it has one, and the start failure
    };
    const Case cases[] = {
        {"access bracket", 0x71, 0x01, "type 0x01, command 0x71, sub-code 0x01", 1},
        {"Y calibration", 0x14, 0x01, "type 0x02, command 0x14, sub-code 0x01", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Controller controller;
        controller.AddReplyFault({sim::ReplyFault::Unanswered, c.command, c.subCode, sim::kEveryTime});
        kmdf::AttachUsbDevice(device_, &controller);
        kmdf::TakeErrorLog();
        EXPECT_EQ(NerioUSBEvtDevicePrepareHardware(device_, nullptr, nullptr), STATUS_UNSUCCESSFUL);
        const std::vector<std::string> trace = kmdf::TakeDebugOutput();
        ASSERT_EQ(trace.size(), 2u);
        EXPECT_EQ(trace[0], std::string("KavUSB: ReadDeviceConfiguration: TransactDeviceCommand (") + c.transaction +
                                ") failed with status 0xC0000001\n");
        EXPECT_EQ(trace[1],
                  "KavUSB: NerioUSBEvtDevicePrepareHardware: ReadDeviceConfiguration failed with status 0xC0000001\n");
        EXPECT_EQ(kmdf::TakeErrorLog().size(), c.eventEntries);
        kmdf::AttachUsbDevice(device_, nullptr);
    }
}

TEST_F(DeviceStartTraceTest, AStartThatSucceedsTracesNothing) {
    kmdf::AttachUsbDevice(device_, &controller_);
    ASSERT_EQ(NerioUSBEvtDevicePrepareHardware(device_, nullptr, nullptr), STATUS_SUCCESS);
    ASSERT_EQ(NerioUSBEvtDeviceD0Entry(device_, WdfPowerDeviceD3), STATUS_SUCCESS);
    EXPECT_TRUE(kmdf::TakeDebugOutput().empty());
    NerioUSBEvtDeviceD0Exit(device_, WdfPowerDeviceD3);
}

TEST_F(DeviceStartTraceTest, D0EntryOnAnUnpluggedControllerNamesTheReaderStart) {
    kmdf::AttachUsbDevice(device_, &controller_);
    ASSERT_EQ(NerioUSBEvtDevicePrepareHardware(device_, nullptr, nullptr), STATUS_SUCCESS);
    kmdf::AttachUsbDevice(device_, nullptr);
    EXPECT_EQ(NerioUSBEvtDeviceD0Entry(device_, WdfPowerDeviceD3), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(
        kmdf::TakeDebugOutput(),
        std::vector<std::string>{"KavUSB: NerioUSBEvtDeviceD0Entry: WdfIoTargetStart failed with status 0xC000009D\n"});
}

}  // namespace
}  // namespace kav::test
