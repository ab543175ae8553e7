#include "devicelib/platform/sim/sim_platform.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <thread>

#include "shared/hid_reports.h"
#include "simulator/hidstack/hid_stack.h"
#include "simulator/registry/registry_store.h"

#ifndef _WIN32
#include "devicelib/platform/posix/posix_platform.h"
#endif

namespace kav::platform::sim {

namespace {

// Handles carry a tag in the top byte over a serial number of their own, so they are never
// null, never INVALID_HANDLE_VALUE, never a POSIX port (small values), and never reused
// while the process lives in practice. The stack's ids restart with every stack, ours do not.
constexpr unsigned kTagShift = std::numeric_limits<std::uintptr_t>::digits - 8;
constexpr std::uintptr_t kTag = std::uintptr_t{0xA5} << kTagShift;
constexpr std::uintptr_t kSerialMask = (std::uintptr_t{1} << kTagShift) - 1;

// How often a waiting read looks at its cancel flag: the stack's own cancellation only
// reaches a read already waiting, and a Cancel may come just before the wait begins.
constexpr std::chrono::milliseconds kReadSlice{10};

Handle ToHandle(std::uintptr_t serial) {
    return reinterpret_cast<Handle>(kTag | serial);
}

std::uintptr_t SerialOf(Handle handle) {
    return reinterpret_cast<std::uintptr_t>(handle) & kSerialMask;
}

Platform& Factory() {
    return SimPlatformInstance();
}

RegistryData ToData(const ::kav::sim::RegistryValue& value) {
    ::kav::sim::RegistryBytes data = ::kav::sim::ToRegistryBytes(value);
    return {data.type, std::move(data.bytes)};
}

}  // namespace

struct SimPlatform::State {
    // Held shared by every call into the stack, exclusively to swap it.
    std::shared_mutex stackMutex;
    ::kav::sim::HidStack* stack = nullptr;
    ::kav::sim::RegistryStore* registry = nullptr;
    std::uint64_t generation = 0;  // which stack readers and registrations belong to

    mutable std::mutex tableMutex;
    std::map<std::uintptr_t, ::kav::sim::HidHandle> hid;  // by serial number
    std::uintptr_t nextSerial = 1;
#ifndef _WIN32
    std::set<Handle> serial;  // ports opened through this platform, which alone it closes
#endif

    // The stack's handle behind one of ours; 0 when it is not ours or not open.
    ::kav::sim::HidHandle Lookup(Handle handle) const {
        if (!IsSimHidHandle(handle)) return 0;
        std::lock_guard lock(tableMutex);
        const auto it = hid.find(SerialOf(handle));
        return it == hid.end() ? 0 : it->second;
    }
#ifndef _WIN32
    bool IsOurSerial(Handle port) const {
        std::lock_guard lock(tableMutex);
        return serial.contains(port);
    }
#endif
};

namespace {

using State = SimPlatform::State;

class SimInputReader final : public InputReader {
public:
    SimInputReader(std::shared_ptr<State> state, Handle handle, std::size_t reportLength)
        : state_(std::move(state)), handle_(handle), reportLength_(reportLength) {}

    ReadResult Read(std::span<uint8_t> buffer, uint32_t waitMs) override {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            if (cancelled_.exchange(false)) return {ReadStatus::Cancelled, 0};
            const auto now = std::chrono::steady_clock::now();
            const auto slice = std::min<std::chrono::steady_clock::duration>(kReadSlice, std::max(deadline - now, {}));
            ::kav::sim::ReadResult result;
            {
                std::shared_lock lock(state_->stackMutex);
                const ::kav::sim::HidHandle hid = state_->Lookup(handle_);
                if (hid == 0 || state_->stack == nullptr) return {ReadStatus::Failed, 0};
                result = state_->stack->Read(hid, std::chrono::duration_cast<std::chrono::milliseconds>(slice));
            }
            switch (result.status) {
                case ::kav::sim::ReadStatus::Report: {
                    const std::size_t length = std::min({result.report.size(), buffer.size(), reportLength_});
                    std::copy_n(result.report.begin(), length, buffer.begin());
                    return {ReadStatus::Report, length};
                }
                case ::kav::sim::ReadStatus::Gone:
                    return {ReadStatus::Failed, 0};
                case ::kav::sim::ReadStatus::Cancelled:
                case ::kav::sim::ReadStatus::TimedOut:
                    break;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                if (cancelled_.exchange(false)) return {ReadStatus::Cancelled, 0};
                return {ReadStatus::TimedOut, 0};
            }
        }
    }

    void Cancel() override {
        cancelled_ = true;
        std::shared_lock lock(state_->stackMutex);
        const ::kav::sim::HidHandle hid = state_->Lookup(handle_);
        if (hid != 0 && state_->stack != nullptr) state_->stack->CancelRead(hid);
    }

private:
    std::shared_ptr<State> state_;
    Handle handle_;
    std::size_t reportLength_;
    std::atomic<bool> cancelled_{false};
};

// Lets a registration end while the stack may be calling its sink on another thread.
template <typename Callback>
struct Gate {
    std::mutex mutex;  // held while the callback runs
    bool open = true;
    Callback callback;
    MouseButtonTracker mouseButtons;  // for raw input
};

class SimRegistration final : public Registration {
public:
    using Unregister = void (::kav::sim::HidStack::*)(std::uint32_t);

    SimRegistration(std::shared_ptr<State> state, std::uint64_t generation, std::vector<std::uint32_t> ids,
                    Unregister unregister, std::function<void()> close)
        : state_(std::move(state)),
          generation_(generation),
          ids_(std::move(ids)),
          unregister_(unregister),
          close_(std::move(close)) {}

    ~SimRegistration() override {
        {
            std::shared_lock lock(state_->stackMutex);
            if (state_->stack != nullptr && state_->generation == generation_)
                for (std::uint32_t id : ids_) (state_->stack->*unregister_)(id);
        }
        close_();
    }

private:
    std::shared_ptr<State> state_;
    std::uint64_t generation_;
    std::vector<std::uint32_t> ids_;
    Unregister unregister_;
    std::function<void()> close_;
};

RawInputEvent ToPlatformEvent(const ::kav::sim::RawInputEvent& event, Gate<RawInputCallback>& gate) {
    RawInputEvent out;
    out.deviceName = event.deviceName;
    switch (event.type) {
        case ::kav::sim::RawInputEvent::Type::Mouse:
            out.kind = RawInputEvent::Kind::Mouse;
            out.mouseButtonFlags = gate.mouseButtons.Transitions(event.deviceName, event.report);
            break;
        case ::kav::sim::RawInputEvent::Type::Keyboard:
            out.kind = RawInputEvent::Kind::Keyboard;
            break;
        case ::kav::sim::RawInputEvent::Type::Hid:
            out.kind = RawInputEvent::Kind::Hid;
            out.report = event.report;
            break;
    }
    return out;
}

}  // namespace

SimPlatform::SimPlatform(::kav::sim::HidStack* stack, ::kav::sim::RegistryStore* registry)
    : state_(std::make_shared<State>()) {
    state_->stack = stack;
    state_->registry = registry;
}

SimPlatform::~SimPlatform() = default;

bool SimPlatform::IsSimHidHandle(Handle handle) noexcept {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    return (value & ~kSerialMask) == kTag && (value & kSerialMask) != 0;
}

void SimPlatform::Attach(::kav::sim::HidStack* stack, ::kav::sim::RegistryStore* registry) {
    std::unique_lock stackLock(state_->stackMutex);
    std::lock_guard tableLock(state_->tableMutex);
    state_->stack = stack;
    if (registry != nullptr) state_->registry = registry;
    ++state_->generation;
    // The old stack may already be going away, so its handles are dropped, not closed.
    state_->hid.clear();
}

std::optional<std::vector<std::u16string>> SimPlatform::EnumerateHidInterfaces() {
    std::shared_lock lock(state_->stackMutex);
    std::vector<std::u16string> paths;
    if (state_->stack == nullptr) return paths;
    for (::kav::sim::HidInterfaceInfo& info : state_->stack->Interfaces()) paths.push_back(std::move(info.path));
    return paths;
}

Handle SimPlatform::OpenHid(std::u16string_view path, bool) {
    // The system would stop at a NUL and open some other path.
    if (path.empty() || path.find(u'\0') != std::u16string_view::npos) return kInvalidHandle;
    std::shared_lock lock(state_->stackMutex);
    if (state_->stack == nullptr) return kInvalidHandle;
    const ::kav::sim::HidHandle opened = state_->stack->Open(path);
    if (opened == 0) return kInvalidHandle;

    std::lock_guard tableLock(state_->tableMutex);
    // Only a narrow pointer could wrap; skip whatever is still open.
    auto advance = [this] { state_->nextSerial = state_->nextSerial == kSerialMask ? 1 : state_->nextSerial + 1; };
    while (state_->hid.contains(state_->nextSerial)) advance();
    const std::uintptr_t serial = state_->nextSerial;
    advance();
    state_->hid.emplace(serial, opened);
    return ToHandle(serial);
}

bool SimPlatform::Close(Handle handle) {
    if (IsSimHidHandle(handle)) {
        std::shared_lock lock(state_->stackMutex);
        ::kav::sim::HidHandle closing = 0;
        {
            std::lock_guard tableLock(state_->tableMutex);
            const auto it = state_->hid.find(SerialOf(handle));
            if (it == state_->hid.end()) return false;
            closing = it->second;
            state_->hid.erase(it);
        }
        return state_->stack != nullptr && state_->stack->Close(closing);
    }
#ifndef _WIN32
    {
        std::lock_guard tableLock(state_->tableMutex);
        if (state_->serial.erase(handle) == 0) return false;
    }
    return posix::PosixPlatformInstance().Close(handle);
#else
    return false;
#endif
}

std::optional<HidAttributes> SimPlatform::GetAttributes(Handle handle) {
    std::shared_lock lock(state_->stackMutex);
    const ::kav::sim::HidHandle hid = state_->Lookup(handle);
    if (hid == 0 || state_->stack == nullptr) return std::nullopt;
    const std::optional<::kav::sim::HidDeviceAttributes> attributes = state_->stack->Attributes(hid);
    if (!attributes) return std::nullopt;
    return HidAttributes{attributes->vendorId, attributes->productId, attributes->versionNumber};
}

bool SimPlatform::GetFeature(Handle handle, std::span<uint8_t> report) {
    if (report.empty()) return false;
    std::shared_lock lock(state_->stackMutex);
    const ::kav::sim::HidHandle hid = state_->Lookup(handle);
    return hid != 0 && state_->stack != nullptr && state_->stack->GetFeature(hid, report);
}

bool SimPlatform::SetFeature(Handle handle, std::span<const uint8_t> report) {
    if (report.empty()) return false;
    std::shared_lock lock(state_->stackMutex);
    const ::kav::sim::HidHandle hid = state_->Lookup(handle);
    return hid != 0 && state_->stack != nullptr && state_->stack->SetFeature(hid, report);
}

std::optional<std::u16string> SimPlatform::GetHidString(Handle handle, HidString which) {
    // The HID class's string IDs.
    const std::uint16_t id = which == HidString::Manufacturer ? 14 : which == HidString::Product ? 15 : 16;
    std::shared_lock lock(state_->stackMutex);
    const ::kav::sim::HidHandle hid = state_->Lookup(handle);
    if (hid == 0 || state_->stack == nullptr) return std::nullopt;
    return state_->stack->String(hid, id);
}

std::unique_ptr<InputReader> SimPlatform::CreateInputReader(Handle handle, std::size_t reportLength) {
    if (reportLength == 0 || state_->Lookup(handle) == 0) return nullptr;
    return std::make_unique<SimInputReader>(state_, handle, reportLength);
}

std::unique_ptr<Registration> SimPlatform::RegisterRawInput(std::span<const RawInputUsage> usages,
                                                            RawInputCallback callback) {
    if (usages.empty() || !callback) return nullptr;
    auto gate = std::make_shared<Gate<RawInputCallback>>();
    gate->callback = std::move(callback);
    std::shared_lock lock(state_->stackMutex);
    if (state_->stack == nullptr) return nullptr;
    std::vector<std::uint32_t> ids;
    for (const RawInputUsage& usage : usages) {
        ids.push_back(
            state_->stack->RegisterRawInput(usage.usagePage, usage.usage, [gate](const ::kav::sim::RawInputEvent& e) {
                std::lock_guard hold(gate->mutex);
                if (gate->open) gate->callback(ToPlatformEvent(e, *gate));
            }));
    }
    return std::make_unique<SimRegistration>(state_, state_->generation, std::move(ids),
                                             &::kav::sim::HidStack::UnregisterRawInput, [gate] {
                                                 std::lock_guard hold(gate->mutex);
                                                 gate->open = false;
                                             });
}

std::unique_ptr<Registration> SimPlatform::RegisterDeviceChange(DeviceChangeCallback callback) {
    if (!callback) return nullptr;
    auto gate = std::make_shared<Gate<DeviceChangeCallback>>();
    gate->callback = std::move(callback);
    std::shared_lock lock(state_->stackMutex);
    if (state_->stack == nullptr) return nullptr;
    const std::uint32_t id =
        state_->stack->RegisterDeviceChange([gate](::kav::sim::DeviceChange change, const std::u16string& path) {
            std::lock_guard hold(gate->mutex);
            if (gate->open) gate->callback(static_cast<DeviceChange>(change), path);
        });
    return std::make_unique<SimRegistration>(state_, state_->generation, std::vector<std::uint32_t>{id},
                                             &::kav::sim::HidStack::UnregisterDeviceChange, [gate] {
                                                 std::lock_guard hold(gate->mutex);
                                                 gate->open = false;
                                             });
}

std::optional<std::vector<std::optional<RegistryData>>> SimPlatform::QueryRegistryValues(
    RegistryRoot root, std::u16string_view key, std::span<const std::u16string_view> names) {
    std::shared_lock lock(state_->stackMutex);
    const std::u16string path = ::kav::sim::RootedKeyPath(root == RegistryRoot::LocalMachine, key);
    ::kav::sim::RegistryStore* store = state_->registry;
    if (store == nullptr || !::kav::sim::RegistryStore::IsValidKeyPath(path) || !store->KeyExists(path))
        return std::nullopt;
    std::vector<std::optional<RegistryData>> values;
    for (std::u16string_view name : names) {
        std::optional<::kav::sim::RegistryValue> value;
        if (::kav::sim::RegistryStore::IsValidValueName(name)) value = store->GetValue(path, name);
        values.push_back(value ? std::optional<RegistryData>(ToData(*value)) : std::nullopt);
    }
    return values;
}

#ifndef _WIN32

Handle SimPlatform::OpenSerial(std::u16string_view path) {
    const Handle port = posix::PosixPlatformInstance().OpenSerial(path);
    if (!IsValidHandle(port)) return kInvalidHandle;
    std::lock_guard lock(state_->tableMutex);
    state_->serial.insert(port);
    return port;
}

bool SimPlatform::PurgeSerial(Handle port) {
    return state_->IsOurSerial(port) && posix::PosixPlatformInstance().PurgeSerial(port);
}

std::optional<std::size_t> SimPlatform::WriteSerial(Handle port, std::span<const uint8_t> bytes) {
    if (!state_->IsOurSerial(port)) return std::nullopt;
    return posix::PosixPlatformInstance().WriteSerial(port, bytes);
}

std::optional<uint8_t> SimPlatform::ReadSerialByte(Handle port) {
    if (!state_->IsOurSerial(port)) return std::nullopt;
    return posix::PosixPlatformInstance().ReadSerialByte(port);
}

#endif

void SimPlatform::Sleep(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

SimPlatform& SimPlatformInstance() {
    static SimPlatform instance;
    return instance;
}

void InstallSimPlatform(::kav::sim::HidStack* stack, ::kav::sim::RegistryStore* registry) {
    SimPlatformInstance().Attach(stack, registry);
    SetSimPlatformFactory(&Factory);
}

}  // namespace kav::platform::sim
