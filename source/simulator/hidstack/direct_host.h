// KavUSB on one touch screen without the USB and HID layers: the driver is loaded
// through DriverEntry, the device is added, its records are set as if read from the
// controller, and each transfer goes straight to the read completion. Read requests are
// kept pending as the HID class keeps them. Benchmarks and pipeline tests use it; whole
// touch screens run on the virtual HID stack (hid_stack.h).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "kavusb/kmdf/usermode/kmdf_sim.h"
#include "kavusb/pipeline/device_context.h"
#include "kavusb/pipeline/driver_context.h"

namespace kav::sim {

struct DeviceRecords {
    SCREEN_PROPERTY screen{};
    CAMERA_PROPERTIES camera[2]{};
    DEVICE_CONFIG deviceConfig{};
    DEVICE_CALIB_PARAS calibration[2]{};
    TOOLBAR_PARAMS toolbar{};
    std::uint16_t productId = 0x0A31;
};

// A 400 x 300 mm screen with cameras 20 mm outside its top corners.
DeviceRecords NominalRecords();

class RegistryStore;

// What the framework runs on while the host lives; nullptr keeps the framework's own.
// Both must outlive the host. The framework's reset at construction would otherwise
// drop a clock or store set beforehand.
struct HostEnvironment {
    kmdf::Clock* clock = nullptr;
    RegistryStore* registry = nullptr;
};

class DirectHost {
public:
    // Loads the driver (DriverEntry reads the parameters from the framework's registry
    // store) and starts one device with these records. Aborts the process when the
    // framework refuses, as a test fixture would.
    explicit DirectHost(const DeviceRecords& records, std::size_t pendingReads = 4,
                        const HostEnvironment& environment = {});
    ~DirectHost();
    DirectHost(const DirectHost&) = delete;
    DirectHost& operator=(const DirectHost&) = delete;

    // Copies a transfer into the reader's buffer and completes it.
    void Feed(std::span<const std::uint8_t> transfer);
    // A transfer buffer of the device, filled once, to be completed any number of times:
    // what a benchmark times is the completion alone.
    WDFMEMORY CreateTransfer(std::span<const std::uint8_t> transfer);
    void Complete(WDFMEMORY transfer);

    // Reports completed since the last call, oldest first; completed requests are
    // replaced by new pending ones.
    std::vector<std::vector<std::uint8_t>> TakeReports();
    // Tops the pending reads up to the number given at construction.
    void KeepReadsPending();
    std::size_t PendingReads() const;

    WDFDEVICE Device() const { return device_; }
    DEVICE_CONTEXT* Context() const { return context_; }
    DRIVER_CONTEXT* Driver() const { return driver_; }
    // After changing Driver()->Config, as a configuration set would.
    void ApplyDriverConfig();

private:
    std::size_t pendingReads_;
    WDFDRIVER driverHandle_ = nullptr;
    WDFDEVICE device_ = nullptr;
    DEVICE_CONTEXT* context_ = nullptr;
    DRIVER_CONTEXT* driver_ = nullptr;
    WDFMEMORY transfer_ = nullptr;
    std::vector<std::unique_ptr<kmdf::ScopedRequest>> reads_;
};

}  // namespace kav::sim
