#include "direct_host.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kavusb/frame/device_add.h"
#include "kavusb/frame/driver_entry.h"
#include "kavusb/frame/pipeline_start.h"
#include "kavusb/pipeline/packet_entry.h"
#include "shared/device_packet.h"
#include "simulator/registry/kmdf_registry.h"

namespace kav::sim {
namespace {

void Require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "direct host: %s failed\n", what);
    std::abort();
}

constexpr std::size_t kReadBufferSize = 64;

}  // namespace

DeviceRecords NominalRecords() {
    DeviceRecords records;
    SCREEN_PROPERTY& s = records.screen;
    s.Width = 400;
    s.Height = 300;
    s.NewContactDivisor = 100;
    s.BaselineY = -20;
    s.CameraAX = -20;
    s.CameraBX = 20;
    // The camera records are left invalid: the driver then uses the nominal lens, which
    // Lens::Nominal renders.
    return records;
}

DirectHost::DirectHost(const DeviceRecords& records, std::size_t pendingReads, const HostEnvironment& environment)
    : pendingReads_(pendingReads) {
    kmdf::ResetFramework();
    if (environment.clock != nullptr) kmdf::SetClock(environment.clock);
    if (environment.registry != nullptr) kmdf::SetRegistryStore(environment.registry);
    Require(NT_SUCCESS(DriverEntry(kmdf::CreateDriverObject(), nullptr)), "DriverEntry");
    driverHandle_ = WdfGetDriver();
    driver_ = NerioGetDriverContext(driverHandle_);
    Require(NT_SUCCESS(NerioUSBCreateDevice(kmdf::AllocateDeviceInit(driverHandle_), &device_)), "device add");
    context_ = NerioGetDeviceContext(device_);

    // What prepare hardware leaves after reading the controller's records.
    context_->DeviceDescriptor.idVendor = 0x4B1D;
    context_->DeviceDescriptor.idProduct = records.productId;
    context_->ScreenProperty = records.screen;
    context_->CameraProperties[0] = records.camera[0];
    context_->CameraProperties[1] = records.camera[1];
    context_->DeviceConfig = records.deviceConfig;
    context_->CalibParams[0] = records.calibration[0];
    context_->CalibParams[1] = records.calibration[1];
    context_->ToolbarParams = records.toolbar;
    DRIVER_CONFIG_SNAPSHOT parameters;
    SnapshotDriverConfig(driverHandle_, &parameters);
    InitializePipelineState(context_, parameters);
    ApplyDriverConfig();

    transfer_ = CreateTransfer({});
    KeepReadsPending();
}

DirectHost::~DirectHost() {
    reads_.clear();
    kmdf::ResetFramework();
}

void DirectHost::ApplyDriverConfig() {
    SnapshotDriverConfig(driverHandle_, &context_->DriverConfig);
}

WDFMEMORY DirectHost::CreateTransfer(std::span<const std::uint8_t> transfer) {
    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = device_;
    WDFMEMORY memory = nullptr;
    PVOID buffer = nullptr;
    Require(NT_SUCCESS(WdfMemoryCreate(&attributes, NonPagedPool, 0, kUsbTransferSize, &memory, &buffer)),
            "transfer buffer");
    if (!transfer.empty()) std::memcpy(buffer, transfer.data(), std::min(transfer.size(), kUsbTransferSize));
    return memory;
}

void DirectHost::Complete(WDFMEMORY transfer) {
    NerioUSBEvtUsbInterruptPipeReadComplete(nullptr, transfer, kUsbTransferSize, device_);
}

void DirectHost::Feed(std::span<const std::uint8_t> transfer) {
    size_t size = 0;
    auto* buffer = static_cast<std::uint8_t*>(WdfMemoryGetBuffer(transfer_, &size));
    const std::size_t n = std::min(transfer.size(), size);
    // An empty span may carry a null pointer, which memcpy must not see even for 0 bytes.
    if (n != 0) std::memcpy(buffer, transfer.data(), n);
    std::memset(buffer + n, 0, size - n);
    Complete(transfer_);
}

std::vector<std::vector<std::uint8_t>> DirectHost::TakeReports() {
    std::vector<std::vector<std::uint8_t>> reports;
    std::erase_if(reads_, [&](const std::unique_ptr<kmdf::ScopedRequest>& read) {
        const kmdf::RequestResult result = read->Result();
        if (!result.Completed) return false;
        if (NT_SUCCESS(result.Status)) {
            const std::span<std::uint8_t> out = read->Output();
            reports.emplace_back(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(result.Information));
        }
        return true;
    });
    KeepReadsPending();
    return reports;
}

void DirectHost::KeepReadsPending() {
    while (PendingReads() < pendingReads_) {
        kmdf::RequestSetup setup;
        setup.IoControlCode = IOCTL_HID_READ_REPORT;
        setup.OutputLength = kReadBufferSize;
        reads_.push_back(std::make_unique<kmdf::ScopedRequest>(setup));
        kmdf::SendToDevice(device_, reads_.back()->get());
    }
}

std::size_t DirectHost::PendingReads() const {
    return kmdf::PendingRequestCount(context_->ReadQueue);
}

}  // namespace kav::sim
