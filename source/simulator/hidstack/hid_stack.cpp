#include "hid_stack.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <shared_mutex>
#include <utility>

#include "kavusb/frame/driver_entry.h"
#include "kavusb/pipeline/device_context.h"
#include "simulator/registry/kmdf_registry.h"

namespace kav::sim {
namespace {

constexpr std::uint8_t kHidDescriptorType = 0x21;
constexpr std::uint8_t kReportDescriptorType = 0x22;
constexpr std::size_t kHidDescriptorLength = 9;
constexpr std::size_t kStringCharacters = 128;  // what the class asks for
constexpr ULONG kEnglish = 0x0409;
constexpr std::uint16_t kDigitizerPage = 0x0D;
constexpr std::uint16_t kTouchScreenUsage = 0x04;
constexpr std::uint16_t kDesktopPage = 0x01;
constexpr std::uint16_t kMouseUsage = 0x02;
constexpr std::uint16_t kKeyboardUsage = 0x06;

char16_t Lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool SamePath(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return Lower(x) == Lower(y); });
}

// The interface path of one collection, spelt as SetupAPI lists HID interfaces.
std::u16string InterfacePath(const HidDeviceAttributes& attributes, HidDeviceId device, std::size_t collection) {
    // The instance part is the PnP manager's: unique per device, stable while it stays.
    const std::uint32_t instance = (device * 0x9E3779B1u) ^ 0x2C1F0A3u;
    char ascii[160];
    std::snprintf(ascii, sizeof ascii,
                  "\\\\?\\hid#vid_%04x&pid_%04x&col%02zu#7&%x&0&%04zu#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                  attributes.vendorId, attributes.productId, collection + 1, instance, collection);
    return std::u16string(ascii, ascii + std::strlen(ascii));
}

RawInputEvent::Type RawInputTypeOf(const TopLevelCollection& c) {
    if (c.usagePage == kDesktopPage && c.usage == kMouseUsage) return RawInputEvent::Type::Mouse;
    if (c.usagePage == kDesktopPage && c.usage == kKeyboardUsage) return RawInputEvent::Type::Keyboard;
    return RawInputEvent::Type::Hid;
}

// The declared length of a feature report anywhere in the device; 0 when none declares it.
// The class looks feature reports up across the device, not only in the handle's
// collection: user mode sends every feature report through the touch collection.
std::size_t FeatureLength(const std::vector<TopLevelCollection>& collections, std::uint8_t id) {
    for (const TopLevelCollection& c : collections) {
        const auto it = c.featureBits.find(id);
        if (it != c.featureBits.end()) return ReportLength(it->second);
    }
    return 0;
}

}  // namespace

struct HidStack::Device {
    HidDeviceId id = 0;
    WDFDEVICE wdf = nullptr;
    HidDeviceAttributes attributes;
    std::vector<TopLevelCollection> collections;
    std::vector<std::u16string> paths;  // one per collection
    std::optional<std::uint8_t> contactCountMaximum;
    std::size_t readLength = 0;  // the longest input report

    std::atomic<bool> removed{false};
    // Shared by client requests in flight, taken whole by removal.
    std::shared_mutex io;

    std::mutex readsMutex;
    std::vector<WDFREQUEST> reads;     // sent to the driver
    std::vector<WDFREQUEST> finished;  // completed; deleted outside their own completion
    bool stopping = false;
};

HidStack::HidStack(const HostEnvironment& environment) {
    kmdf::ResetFramework();
    if (environment.clock != nullptr) kmdf::SetClock(environment.clock);
    if (environment.registry != nullptr) kmdf::SetRegistryStore(environment.registry);
    const NTSTATUS status = DriverEntry(kmdf::CreateDriverObject(), nullptr);
    if (!NT_SUCCESS(status)) {
        std::fprintf(stderr, "hid stack: the driver did not load (0x%08X)\n", static_cast<unsigned>(status));
        std::abort();
    }
    driver_ = WdfGetDriver();
}

HidStack::~HidStack() {
    for (HidDeviceId id : Devices()) Remove(id);
    const WDF_DRIVER_CONFIG& config = kmdf::DriverConfigOf(driver_);
    if (config.EvtDriverUnload != nullptr) config.EvtDriverUnload(driver_);
    kmdf::ResetFramework();
}

// ---- PnP ----

HidStack::AttachResult HidStack::Attach(kmdf::UsbDeviceModel& usb) {
    std::unique_lock attachLock(attaching_);

    const std::vector<WDFDEVICE> before = kmdf::DevicesOf(driver_);
    PWDFDEVICE_INIT init = kmdf::AllocateDeviceInit(driver_);
    NTSTATUS status = kmdf::DriverConfigOf(driver_).EvtDriverDeviceAdd(driver_, init);
    WDFDEVICE wdf = nullptr;
    for (WDFDEVICE d : kmdf::DevicesOf(driver_))
        if (std::find(before.begin(), before.end(), d) == before.end()) wdf = d;
    if (wdf == nullptr) {
        kmdf::FreeDeviceInit(init);
        return {NT_SUCCESS(status) ? STATUS_INVALID_DEVICE_STATE : status, 0};
    }
    if (!NT_SUCCESS(status)) {
        kmdf::DeleteDevice(wdf);
        return {status, 0};
    }

    auto device = std::make_shared<Device>();
    device->wdf = wdf;
    kmdf::AttachUsbDevice(wdf, &usb);
    const WDF_PNPPOWER_EVENT_CALLBACKS pnp = kmdf::DeviceInitOf(wdf).PnpPower;
    auto fail = [&](NTSTATUS failure, bool started) {
        if (started && pnp.EvtDeviceD0Exit != nullptr) pnp.EvtDeviceD0Exit(wdf, WdfPowerDeviceD3Final);
        if (pnp.EvtDeviceReleaseHardware != nullptr) pnp.EvtDeviceReleaseHardware(wdf, nullptr);
        kmdf::AttachUsbDevice(wdf, nullptr);
        kmdf::DeleteDevice(wdf);
        return AttachResult{failure, 0};
    };
    if (pnp.EvtDevicePrepareHardware != nullptr) {
        status = pnp.EvtDevicePrepareHardware(wdf, nullptr, nullptr);
        if (!NT_SUCCESS(status)) return fail(status, false);
    }
    if (pnp.EvtDeviceD0Entry != nullptr) {
        status = pnp.EvtDeviceD0Entry(wdf, WdfPowerDeviceD3Final);
        if (!NT_SUCCESS(status)) return fail(status, false);
    }
    if (!ReadDescriptors(*device)) return fail(STATUS_DEVICE_CONFIGURATION_ERROR, true);

    {
        std::lock_guard lock(mutex_);
        device->id = nextDevice_++;
        for (std::size_t c = 0; c < device->collections.size(); ++c)
            device->paths.push_back(InterfacePath(device->attributes, device->id, c));
    }
    for (std::size_t i = 0; i < kPingPongReads; ++i) SendPingPongRead(*device);

    // Windows reads the digitizer's contact count maximum before it uses a touch screen.
    for (const TopLevelCollection& c : device->collections) {
        if (c.usagePage != kDigitizerPage || c.usage != kTouchScreenUsage || !c.contactCountMaximumReport) continue;
        std::vector<std::uint8_t> report(ReportLength(c.featureBits.at(*c.contactCountMaximumReport)));
        report[0] = *c.contactCountMaximumReport;
        if (NT_SUCCESS(TransferFeature(*device, IOCTL_HID_GET_FEATURE, report)) && report.size() > 1)
            device->contactCountMaximum = report[1];
    }

    {
        std::lock_guard lock(mutex_);
        devices_.push_back(device);
    }
    attachLock.unlock();
    Announce(DeviceChange::Arrival, device->paths);
    return {STATUS_SUCCESS, device->id};
}

bool HidStack::ReadDescriptors(Device& device) {
    const auto hid = Query(device, IOCTL_HID_GET_DEVICE_DESCRIPTOR, kHidDescriptorLength);
    if (!hid || hid->size() < kHidDescriptorLength) return false;
    const std::vector<std::uint8_t>& d = *hid;
    if (d[0] != kHidDescriptorLength || d[1] != kHidDescriptorType || d[5] < 1 || d[6] != kReportDescriptorType)
        return false;
    const std::size_t reportLength = d[7] | (d[8] << 8);

    const auto attributes = Query(device, IOCTL_HID_GET_DEVICE_ATTRIBUTES, sizeof(HID_DEVICE_ATTRIBUTES));
    if (!attributes || attributes->size() < sizeof(HID_DEVICE_ATTRIBUTES)) return false;
    HID_DEVICE_ATTRIBUTES a;
    std::memcpy(&a, attributes->data(), sizeof a);
    device.attributes = {a.VendorID, a.ProductID, a.VersionNumber};

    const auto report = Query(device, IOCTL_HID_GET_REPORT_DESCRIPTOR, reportLength);
    if (!report || report->size() != reportLength) return false;
    auto parsed = ParseReportDescriptor(*report);
    if (auto* error = std::get_if<ReportDescriptorError>(&parsed)) {
        std::fprintf(stderr, "hid stack: report descriptor at byte %zu: %s\n", error->offset, error->reason.c_str());
        return false;
    }
    device.collections = std::move(std::get<std::vector<TopLevelCollection>>(parsed));
    for (const TopLevelCollection& c : device.collections)
        for (const auto& [id, bits] : c.inputBits) device.readLength = std::max(device.readLength, ReportLength(bits));
    return !device.collections.empty();
}

void HidStack::Remove(HidDeviceId id) {
    std::shared_ptr<Device> device;
    {
        std::lock_guard lock(mutex_);
        const auto it = std::find_if(devices_.begin(), devices_.end(), [&](const auto& d) { return d->id == id; });
        if (it == devices_.end()) return;
        device = *it;
        devices_.erase(it);
        device->removed = true;
    }
    arrived_.notify_all();
    { std::unique_lock wait(device->io); }  // requests in flight finish first
    StopAndDelete(*device);
    Announce(DeviceChange::RemoveComplete, device->paths);
}

void HidStack::StopAndDelete(Device& device) {
    {
        std::lock_guard lock(device.readsMutex);
        device.stopping = true;
    }
    const WDF_PNPPOWER_EVENT_CALLBACKS pnp = kmdf::DeviceInitOf(device.wdf).PnpPower;
    if (pnp.EvtDeviceD0Exit != nullptr) pnp.EvtDeviceD0Exit(device.wdf, WdfPowerDeviceD3Final);
    if (pnp.EvtDeviceReleaseHardware != nullptr) pnp.EvtDeviceReleaseHardware(device.wdf, nullptr);
    kmdf::AttachUsbDevice(device.wdf, nullptr);
    // Cancels the reads still parked in the driver's queue.
    kmdf::DeleteDevice(device.wdf);
    device.wdf = nullptr;
    std::vector<WDFREQUEST> requests;
    {
        std::lock_guard lock(device.readsMutex);
        requests = std::move(device.reads);
        requests.insert(requests.end(), device.finished.begin(), device.finished.end());
        device.reads.clear();
        device.finished.clear();
    }
    for (WDFREQUEST request : requests) kmdf::DeleteRequest(request);
}

std::vector<HidDeviceId> HidStack::Devices() const {
    std::lock_guard lock(mutex_);
    std::vector<HidDeviceId> ids;
    for (const auto& d : devices_) ids.push_back(d->id);
    return ids;
}

WDFDEVICE HidStack::DeviceObject(HidDeviceId id) const {
    std::lock_guard lock(mutex_);
    for (const auto& d : devices_)
        if (d->id == id) return d->wdf;
    return nullptr;
}

DEVICE_CONTEXT* HidStack::DeviceContextOf(HidDeviceId id) const {
    const WDFDEVICE wdf = DeviceObject(id);
    return wdf == nullptr ? nullptr : NerioGetDeviceContext(wdf);
}

std::optional<std::uint8_t> HidStack::ContactCountMaximum(HidDeviceId id) const {
    std::lock_guard lock(mutex_);
    for (const auto& d : devices_)
        if (d->id == id) return d->contactCountMaximum;
    return std::nullopt;
}

std::vector<TopLevelCollection> HidStack::CollectionsOf(HidDeviceId id) const {
    std::lock_guard lock(mutex_);
    for (const auto& d : devices_)
        if (d->id == id) return d->collections;
    return {};
}

void HidStack::Announce(DeviceChange change, const std::vector<std::u16string>& paths) {
    std::vector<DeviceChangeSink> sinks;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [registration, sink] : deviceChangeSinks_) sinks.push_back(sink);
    }
    for (const std::u16string& path : paths)
        for (const DeviceChangeSink& sink : sinks) sink(change, path);
}

// ---- requests ----

kmdf::RequestResult HidStack::Transact(Device& device, kmdf::ScopedRequest& request) {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    kmdf::OnCompletion(request, [&](WDFREQUEST) {
        std::lock_guard lock(m);
        done = true;
        cv.notify_all();
    });
    kmdf::SendToDevice(device.wdf, request);
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return done; });
    return request.Result();
}

std::optional<std::vector<std::uint8_t>> HidStack::Query(Device& device, ULONG ioControlCode, std::size_t length) {
    kmdf::RequestSetup setup;
    setup.IoControlCode = ioControlCode;
    setup.OutputLength = length;
    kmdf::ScopedRequest request(setup);
    const kmdf::RequestResult result = Transact(device, request);
    if (!NT_SUCCESS(result.Status)) return std::nullopt;
    const std::span<const std::uint8_t> output = request.Output();
    return std::vector<std::uint8_t>(output.begin(), output.begin() + std::min(result.Information, output.size()));
}

NTSTATUS HidStack::TransferFeature(Device& device, ULONG ioControlCode, std::span<std::uint8_t> report) {
    HID_XFER_PACKET packet{report.data(), static_cast<ULONG>(report.size()), report[0]};
    kmdf::RequestSetup setup;
    setup.IoControlCode = ioControlCode;
    setup.Input.assign(sizeof(HID_XFER_PACKET), 0);
    setup.UserBuffer = &packet;
    kmdf::ScopedRequest request(setup);
    return Transact(device, request).Status;
}

void HidStack::SendPingPongRead(Device& device) {
    kmdf::RequestSetup setup;
    setup.IoControlCode = IOCTL_HID_READ_REPORT;
    setup.OutputLength = device.readLength;
    const WDFREQUEST request = kmdf::CreateRequest(setup);
    Device* owner = &device;
    kmdf::OnCompletion(request, [this, owner](WDFREQUEST completed) { OnReadComplete(*owner, completed); });
    {
        std::lock_guard lock(device.readsMutex);
        device.reads.push_back(request);
    }
    kmdf::SendToDevice(device.wdf, request);
}

// Runs inside the driver's report composition, under its device lock: it only copies the
// report out and sends the next read, as the class's completion routine does.
void HidStack::OnReadComplete(Device& device, WDFREQUEST request) {
    const kmdf::RequestResult result = kmdf::ResultOf(request);
    if (NT_SUCCESS(result.Status) && result.Information > 0) {
        const std::span<const std::uint8_t> output = kmdf::OutputOf(request);
        Route(device, output.first(std::min<std::size_t>(result.Information, output.size())));
    }
    bool again = false;
    {
        std::lock_guard lock(device.readsMutex);
        std::erase(device.reads, request);
        device.finished.push_back(request);
        again = !device.stopping && NT_SUCCESS(result.Status);
    }
    if (again) SendPingPongRead(device);
}

void HidStack::Route(Device& device, std::span<const std::uint8_t> report) {
    std::lock_guard lock(mutex_);
    ++counters_.reportsCompleted;
    for (std::size_t c = 0; c < device.collections.size(); ++c) {
        const TopLevelCollection& collection = device.collections[c];
        const auto declared = collection.inputBits.find(report[0]);
        if (declared == collection.inputBits.end()) continue;
        const std::size_t length = ReportLength(declared->second);
        if (report.size() < length) break;
        // A longer completion carries bytes the descriptor does not declare.
        const std::vector<std::uint8_t> bytes(report.begin(), report.begin() + static_cast<std::ptrdiff_t>(length));
        for (auto& [handle, open] : handles_) {
            if (open.device.get() != &device || open.collection != c) continue;
            if (open.buffered.size() == kInputBuffersPerHandle) {
                open.buffered.pop_front();
                ++counters_.reportsOverwritten;
            }
            open.buffered.push_back(bytes);
        }
        if (tracing_) trace_.push_back({device.id, c, bytes});
        for (const auto& [registration, sink] : rawInputSinks_) {
            if (std::get<0>(sink) != collection.usagePage || std::get<1>(sink) != collection.usage) continue;
            rawInput_.push_back(
                {RawInputTypeOf(collection), device.paths[c], collection.usagePage, collection.usage, bytes});
            break;  // one event per report; every matching sink gets it
        }
        arrived_.notify_all();
        return;
    }
    ++counters_.reportsUnrouted;
}

std::size_t HidStack::Pump() {
    const std::size_t delivered = kmdf::PumpContinuousReaders();
    std::vector<std::shared_ptr<Device>> devices;
    {
        std::lock_guard lock(mutex_);
        devices = devices_;
    }
    for (const auto& device : devices) {
        std::vector<WDFREQUEST> finished;
        {
            std::lock_guard lock(device->readsMutex);
            finished.swap(device->finished);
        }
        for (WDFREQUEST request : finished) kmdf::DeleteRequest(request);
    }
    DeliverRawInput();
    return delivered;
}

void HidStack::DeliverRawInput() {
    std::lock_guard delivering(delivering_);
    for (;;) {
        RawInputEvent event;
        std::vector<RawInputSink> sinks;
        {
            std::lock_guard lock(mutex_);
            if (rawInput_.empty()) return;
            event = std::move(rawInput_.front());
            rawInput_.pop_front();
            for (const auto& [registration, sink] : rawInputSinks_)
                if (std::get<0>(sink) == event.usagePage && std::get<1>(sink) == event.usage)
                    sinks.push_back(std::get<2>(sink));
        }
        for (const RawInputSink& sink : sinks) sink(event);
    }
}

// ---- client side ----

std::vector<HidInterfaceInfo> HidStack::Interfaces() const {
    std::lock_guard lock(mutex_);
    std::vector<HidInterfaceInfo> interfaces;
    for (const auto& d : devices_)
        for (std::size_t c = 0; c < d->collections.size(); ++c)
            interfaces.push_back({d->paths[c], d->id, c, d->collections[c].usagePage, d->collections[c].usage});
    return interfaces;
}

HidHandle HidStack::Open(std::u16string_view path) {
    std::lock_guard lock(mutex_);
    for (const auto& d : devices_) {
        for (std::size_t c = 0; c < d->paths.size(); ++c) {
            if (!SamePath(d->paths[c], path)) continue;
            const HidHandle handle = nextHandle_++;
            handles_[handle] = OpenHandle{d, c, {}, 0};
            return handle;
        }
    }
    return 0;
}

bool HidStack::Close(HidHandle handle) {
    bool closed = false;
    {
        std::lock_guard lock(mutex_);
        closed = handles_.erase(handle) == 1;
    }
    arrived_.notify_all();
    return closed;
}

std::shared_ptr<HidStack::Device> HidStack::DeviceOfHandle(HidHandle handle) const {
    std::lock_guard lock(mutex_);
    const auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.device->removed) return nullptr;
    return it->second.device;
}

std::optional<HidDeviceAttributes> HidStack::Attributes(HidHandle handle) const {
    const std::shared_ptr<Device> device = DeviceOfHandle(handle);
    if (device == nullptr) return std::nullopt;
    return device->attributes;
}

std::optional<std::u16string> HidStack::String(HidHandle handle, std::uint16_t stringId) {
    const std::shared_ptr<Device> device = DeviceOfHandle(handle);
    if (device == nullptr) return std::nullopt;
    std::shared_lock inFlight(device->io);
    if (device->removed) return std::nullopt;
    char16_t text[kStringCharacters] = {};
    kmdf::RequestSetup setup;
    setup.IoControlCode = IOCTL_HID_GET_STRING;
    setup.OutputLength = sizeof text;
    setup.UserBuffer = text;
    setup.Type3InputBuffer = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(stringId | (kEnglish << 16)));
    kmdf::ScopedRequest request(setup);
    const kmdf::RequestResult result = Transact(*device, request);
    if (!NT_SUCCESS(result.Status)) return std::nullopt;
    const std::size_t characters = std::min<std::size_t>(result.Information / 2, kStringCharacters);
    std::u16string value(text, characters);
    while (!value.empty() && value.back() == u'\0') value.pop_back();
    return value;
}

bool HidStack::ClientFeature(HidHandle handle, ULONG ioControlCode, std::span<std::uint8_t> report) {
    const std::shared_ptr<Device> device = DeviceOfHandle(handle);
    if (device == nullptr || report.empty()) return false;
    const std::size_t declared = FeatureLength(device->collections, report[0]);
    if (declared == 0 || report.size() < declared) return false;
    std::shared_lock inFlight(device->io);
    if (device->removed) return false;
    return NT_SUCCESS(TransferFeature(*device, ioControlCode, report));
}

bool HidStack::GetFeature(HidHandle handle, std::span<std::uint8_t> report) {
    return ClientFeature(handle, IOCTL_HID_GET_FEATURE, report);
}

bool HidStack::SetFeature(HidHandle handle, std::span<const std::uint8_t> report) {
    // The driver only reads a set's buffer; a copy keeps the caller's const.
    std::vector<std::uint8_t> copy(report.begin(), report.end());
    return ClientFeature(handle, IOCTL_HID_SET_FEATURE, copy);
}

ReadResult HidStack::Read(HidHandle handle, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::unique_lock lock(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end()) return {ReadStatus::Gone, {}};
    const std::uint64_t cancels = it->second.cancels;
    for (;;) {
        it = handles_.find(handle);
        if (it == handles_.end() || it->second.device->removed) return {ReadStatus::Gone, {}};
        OpenHandle& open = it->second;
        if (!open.buffered.empty()) {
            ReadResult result{ReadStatus::Report, std::move(open.buffered.front())};
            open.buffered.pop_front();
            return result;
        }
        if (open.cancels != cancels) return {ReadStatus::Cancelled, {}};
        if (arrived_.wait_until(lock, deadline) == std::cv_status::timeout) {
            it = handles_.find(handle);
            if (it != handles_.end() && !it->second.device->removed && !it->second.buffered.empty()) continue;
            return {ReadStatus::TimedOut, {}};
        }
    }
}

void HidStack::CancelRead(HidHandle handle) {
    {
        std::lock_guard lock(mutex_);
        const auto it = handles_.find(handle);
        if (it == handles_.end()) return;
        ++it->second.cancels;
    }
    arrived_.notify_all();
}

// ---- notifications ----

std::uint32_t HidStack::RegisterRawInput(std::uint16_t usagePage, std::uint16_t usage, RawInputSink sink) {
    std::lock_guard lock(mutex_);
    const std::uint32_t registration = nextRegistration_++;
    rawInputSinks_[registration] = {usagePage, usage, std::move(sink)};
    return registration;
}

void HidStack::UnregisterRawInput(std::uint32_t registration) {
    std::lock_guard lock(mutex_);
    rawInputSinks_.erase(registration);
}

std::uint32_t HidStack::RegisterDeviceChange(DeviceChangeSink sink) {
    std::lock_guard lock(mutex_);
    const std::uint32_t registration = nextRegistration_++;
    deviceChangeSinks_[registration] = std::move(sink);
    return registration;
}

void HidStack::UnregisterDeviceChange(std::uint32_t registration) {
    std::lock_guard lock(mutex_);
    deviceChangeSinks_.erase(registration);
}

void HidStack::TraceReports(bool on) {
    std::lock_guard lock(mutex_);
    tracing_ = on;
}

std::vector<TracedReport> HidStack::TakeTrace() {
    std::lock_guard lock(mutex_);
    return std::exchange(trace_, {});
}

HidStackCounters HidStack::Counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

}  // namespace kav::sim
