// The virtual HID stack: the PnP manager and the HID class with its shim for framework
// drivers, around the real KavUSB on the user-mode framework.
//
// Attach plays a controller being plugged in: the driver adds a device, prepares the
// hardware (the 5 s wait and the configuration exchange, on the framework's clock) and
// enters D0; the class then reads the HID descriptor, the attributes and the report
// descriptor through the driver's requests, keeps two read requests pending, reads the
// touch collection's feature reports as the operating system does, and lists one
// interface per top-level collection. Every input report the driver completes goes to
// the collection that declares its report ID, to each open handle of that collection
// (32 reports buffered per handle, the oldest dropped first) and to raw-input sinks.
//
// The framework is process-wide, so only one stack (or direct host) lives at a time.
// Client calls may come from any thread; sinks are called without the stack's locks held.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "kavusb/kmdf/usermode/kmdf_sim.h"
#include "simulator/hidstack/direct_host.h"
#include "simulator/hidstack/report_descriptor.h"

namespace kav::sim {

using HidDeviceId = std::uint32_t;
using HidHandle = std::uint32_t;  // 0 is never a handle

constexpr std::size_t kInputBuffersPerHandle = 32;
constexpr std::size_t kPingPongReads = 2;

struct HidDeviceAttributes {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;
    friend bool operator==(const HidDeviceAttributes&, const HidDeviceAttributes&) = default;
};

struct HidInterfaceInfo {
    std::u16string path;  // \\?\hid#vid_4b1d&pid_0a31&col01#...#{4d1e55b2-...}
    HidDeviceId device = 0;
    std::size_t collection = 0;  // 0-based position in the report descriptor
    std::uint16_t usagePage = 0;
    std::uint16_t usage = 0;
};

// The event codes of the device-change broadcast.
enum class DeviceChange : std::uint32_t { Arrival = 0x8000, RemoveComplete = 0x8004 };

struct RawInputEvent {
    // Mouse and keyboard collections come as the system's own mouse and keyboard input;
    // every other collection as HID input.
    enum class Type { Mouse, Keyboard, Hid } type = Type::Hid;
    std::u16string deviceName;    // the interface path
    std::uint16_t usagePage = 0;  // of the collection
    std::uint16_t usage = 0;
    std::vector<std::uint8_t> report;
};

enum class ReadStatus {
    Report,     // a report was read
    TimedOut,   // nothing arrived within the wait
    Cancelled,  // CancelRead ended the wait
    Gone,       // the device was removed, or the handle is not open
};

struct ReadResult {
    ReadStatus status = ReadStatus::Gone;
    std::vector<std::uint8_t> report;
};

// A report as the class routed it, for tools that watch every collection at once.
struct TracedReport {
    HidDeviceId device = 0;
    std::size_t collection = 0;
    std::vector<std::uint8_t> report;  // as the collection's readers see it
};

struct HidStackCounters {
    std::uint64_t reportsCompleted = 0;    // input reports the driver completed
    std::uint64_t reportsUnrouted = 0;     // with an ID no collection declares, or too short
    std::uint64_t reportsOverwritten = 0;  // pushed out of a full handle buffer
};

class HidStack {
public:
    // Resets the framework and loads the driver (DriverEntry) with this environment.
    explicit HidStack(const HostEnvironment& environment = {});
    // Removes every device and unloads the driver.
    ~HidStack();
    HidStack(const HidStack&) = delete;
    HidStack& operator=(const HidStack&) = delete;

    // ---- the PnP side ----

    struct AttachResult {
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        HidDeviceId device = 0;  // 0 when the device did not start
    };
    // Plugs a device in. A device that fails to start is removed again and lists nothing;
    // the status says which step failed. The model must outlive its attachment.
    AttachResult Attach(kmdf::UsbDeviceModel& usb);
    // Surprise removal: reads pending on its handles end with Gone, the handles stay open
    // until closed, the driver's device is stopped and deleted.
    void Remove(HidDeviceId device);
    std::vector<HidDeviceId> Devices() const;

    // The driver's device object and context, for tests; nullptr once removed.
    WDFDEVICE DeviceObject(HidDeviceId device) const;
    DEVICE_CONTEXT* DeviceContextOf(HidDeviceId device) const;
    // What the operating system read from the touch collection at start (feature 0x03).
    std::optional<std::uint8_t> ContactCountMaximum(HidDeviceId device) const;
    std::vector<TopLevelCollection> CollectionsOf(HidDeviceId device) const;

    // Hands every transfer the attached devices have ready to the driver, routes what it
    // completes and then calls the raw-input sinks, on the calling thread (one thread at
    // a time). Returns the number of transfers delivered.
    std::size_t Pump();

    // ---- the client side (what user mode reaches through the HID class) ----

    // Present interfaces: devices in attach order, each with its collections in order.
    std::vector<HidInterfaceInfo> Interfaces() const;
    // Paths compare without regard to case, as the system's do. 0 when no such interface.
    HidHandle Open(std::u16string_view path);
    bool Close(HidHandle handle);

    std::optional<HidDeviceAttributes> Attributes(HidHandle handle) const;
    // HID string IDs 14 (manufacturer), 15 (product), 16 (serial number), read from the
    // driver with a 128-character buffer; nullopt when the driver refuses.
    std::optional<std::u16string> String(HidHandle handle, std::uint16_t stringId);

    // report[0] is the report ID, which the device must declare as a feature report; the
    // buffer must hold at least that report. The driver sees the caller's whole buffer.
    bool GetFeature(HidHandle handle, std::span<std::uint8_t> report);
    bool SetFeature(HidHandle handle, std::span<const std::uint8_t> report);

    // The oldest buffered report of the handle's collection, waiting up to `wait` (real
    // time) for one.
    ReadResult Read(HidHandle handle, std::chrono::milliseconds wait);
    // Ends a wait in Read on this handle (with Cancelled); the next Read waits again.
    void CancelRead(HidHandle handle);

    // ---- notifications ----

    using RawInputSink = std::function<void(const RawInputEvent&)>;
    // Reports of every collection with this usage page and usage; returns a
    // registration for UnregisterRawInput.
    std::uint32_t RegisterRawInput(std::uint16_t usagePage, std::uint16_t usage, RawInputSink sink);
    void UnregisterRawInput(std::uint32_t registration);

    // One call per interface that arrives or is removed, on the thread calling Attach or
    // Remove.
    using DeviceChangeSink = std::function<void(DeviceChange, const std::u16string& path)>;
    std::uint32_t RegisterDeviceChange(DeviceChangeSink sink);
    void UnregisterDeviceChange(std::uint32_t registration);

    // While on, every routed report is also kept, in completion order across collections.
    void TraceReports(bool on);
    std::vector<TracedReport> TakeTrace();

    HidStackCounters Counters() const;

private:
    struct Device;
    struct OpenHandle {
        std::shared_ptr<Device> device;
        std::size_t collection = 0;
        std::deque<std::vector<std::uint8_t>> buffered;
        std::uint64_t cancels = 0;
    };

    std::shared_ptr<Device> DeviceOfHandle(HidHandle handle) const;
    // Sends one request to the device and waits for its completion.
    static kmdf::RequestResult Transact(Device& device, kmdf::ScopedRequest& request);
    // An output request's bytes, when the driver completes it successfully.
    static std::optional<std::vector<std::uint8_t>> Query(Device& device, ULONG ioControlCode, std::size_t length);
    static NTSTATUS TransferFeature(Device& device, ULONG ioControlCode, std::span<std::uint8_t> report);
    bool ReadDescriptors(Device& device);
    void SendPingPongRead(Device& device);
    void OnReadComplete(Device& device, WDFREQUEST request);
    void Route(Device& device, std::span<const std::uint8_t> report);
    bool ClientFeature(HidHandle handle, ULONG ioControlCode, std::span<std::uint8_t> report);
    void StopAndDelete(Device& device);
    void Announce(DeviceChange change, const std::vector<std::u16string>& paths);
    void DeliverRawInput();

    WDFDRIVER driver_ = nullptr;
    std::mutex attaching_;  // the driver's new device is found only if adds do not overlap
    mutable std::mutex mutex_;
    std::condition_variable arrived_;  // a report was buffered, a read cancelled, a device removed
    std::vector<std::shared_ptr<Device>> devices_;
    std::map<HidHandle, OpenHandle> handles_;
    HidHandle nextHandle_ = 1;
    HidDeviceId nextDevice_ = 1;
    std::uint32_t nextRegistration_ = 1;
    std::map<std::uint32_t, std::tuple<std::uint16_t, std::uint16_t, RawInputSink>> rawInputSinks_;
    std::map<std::uint32_t, DeviceChangeSink> deviceChangeSinks_;
    std::deque<RawInputEvent> rawInput_;  // routed, waiting for DeliverRawInput
    std::mutex delivering_;               // one thread calls the raw-input sinks at a time
    bool tracing_ = false;
    std::vector<TracedReport> trace_;
    HidStackCounters counters_;
};

}  // namespace kav::sim
