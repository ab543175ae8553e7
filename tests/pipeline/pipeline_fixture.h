// A device as device add leaves it (context, queues, spin lock) on the user-mode
// framework, with touch enabled in the driver's parameters.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "kavusb/frame/device_add.h"
#include "kavusb/kmdf/usermode/kmdf_sim.h"
#include "kavusb/pipeline/device_context.h"
#include "kavusb/pipeline/driver_context.h"
#include "kavusb/pipeline/regions.h"
#include "shared/hid_reports.h"
#include "shared/work_modes.h"

namespace kav::test {

class PipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        kmdf::ResetFramework();
        WDF_DRIVER_CONFIG config;
        WDF_DRIVER_CONFIG_INIT(&config, nullptr);
        WDF_OBJECT_ATTRIBUTES attributes;
        WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
        WDF_OBJECT_ATTRIBUTES_SET_CONTEXT_TYPE(&attributes, DRIVER_CONTEXT);
        ASSERT_TRUE(NT_SUCCESS(WdfDriverCreate(kmdf::CreateDriverObject(), nullptr, &attributes, &config, &driver_)));
        Driver()->Config.EnableTouch = 1;
        ASSERT_TRUE(NT_SUCCESS(CreateDriverConfigLock(driver_)));  // as DriverEntry does

        ASSERT_TRUE(NT_SUCCESS(NerioUSBCreateDevice(kmdf::AllocateDeviceInit(driver_), &device_)));
        context_ = NerioGetDeviceContext(device_);
        ASSERT_NE(context_, nullptr);
        ASSERT_EQ(context_->WorkMode, kWorkModeMouse);

        // What device start leaves: contact identifiers, identity regions.
        context_->LastTouchReport.Contact[0].ContactId = 0;
        context_->LastTouchReport.Contact[1].ContactId = 1;
        for (MAP_REGION& region : context_->Region) ResetRegion(&region);
        ApplyDriverConfig();
    }

    // Packet processing copies the driver's parameters at the start of every packet;
    // tests that run a stage on its own copy them after changing them.
    void ApplyDriverConfig() { SnapshotDriverConfig(driver_, &context_->DriverConfig); }

    void TearDown() override {
        requests_.clear();
        kmdf::ResetFramework();
    }

    DRIVER_CONTEXT* Driver() { return NerioGetDriverContext(driver_); }
    DEVICE_CONTEXT* Context() { return context_; }
    WDFDEVICE DeviceHandle() { return device_; }

    // A read-report request parked in ReadQueue, as the HID request handler leaves it.
    WDFREQUEST ParkRead(size_t outputLength) {
        kmdf::RequestSetup setup;
        setup.Type = WdfRequestTypeDeviceControlInternal;
        setup.IoControlCode = IOCTL_HID_READ_REPORT;
        setup.OutputLength = outputLength;
        requests_.push_back(std::make_unique<kmdf::ScopedRequest>(setup));
        WDFREQUEST request = requests_.back()->get();
        kmdf::SendToDevice(device_, request);
        EXPECT_FALSE(kmdf::ResultOf(request).Completed);
        return request;
    }

    size_t Pending() { return kmdf::PendingRequestCount(context_->ReadQueue); }

    static std::vector<std::uint8_t> Report(WDFREQUEST request) {
        const kmdf::RequestResult result = kmdf::ResultOf(request);
        std::span<std::uint8_t> out = kmdf::OutputOf(request);
        return {out.begin(),
                out.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(result.Information, out.size()))};
    }

    void SetOutput(int contact, std::int32_t x, std::int32_t y, std::int32_t size, std::uint8_t tip) {
        context_->OutputPoint[contact] = TOUCH_POINT{x, y, size, tip};
    }

private:
    WDFDRIVER driver_ = nullptr;
    WDFDEVICE device_ = nullptr;
    DEVICE_CONTEXT* context_ = nullptr;
    std::vector<std::unique_ptr<kmdf::ScopedRequest>> requests_;
};

}  // namespace kav::test
