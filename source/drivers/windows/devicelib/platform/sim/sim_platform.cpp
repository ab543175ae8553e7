#include "devicelib/platform/sim/sim_platform.h"

#include <chrono>
#include <limits>
#include <thread>

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

Handle ToHandle(std::uintptr_t serial) {
    return reinterpret_cast<Handle>(kTag | serial);
}

std::uintptr_t SerialOf(Handle handle) {
    return reinterpret_cast<std::uintptr_t>(handle) & kSerialMask;
}

Platform& Factory() {
    return SimPlatformInstance();
}

}  // namespace

bool SimPlatform::IsSimHidHandle(Handle handle) noexcept {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    return (value & ~kSerialMask) == kTag && (value & kSerialMask) != 0;
}

void SimPlatform::Attach(::kav::sim::HidStack* stack) {
    std::unique_lock stackLock(stackMutex_);
    std::lock_guard tableLock(tableMutex_);
    stack_ = stack;
    // The old stack may already be going away, so its handles are dropped, not closed.
    hid_.clear();
}

::kav::sim::HidHandle SimPlatform::Lookup(Handle handle) const {
    if (!IsSimHidHandle(handle)) return 0;
    std::lock_guard lock(tableMutex_);
    const auto it = hid_.find(SerialOf(handle));
    return it == hid_.end() ? 0 : it->second;
}

std::optional<std::vector<std::u16string>> SimPlatform::EnumerateHidInterfaces() {
    std::shared_lock lock(stackMutex_);
    std::vector<std::u16string> paths;
    if (stack_ == nullptr) return paths;
    for (::kav::sim::HidInterfaceInfo& info : stack_->Interfaces()) paths.push_back(std::move(info.path));
    return paths;
}

Handle SimPlatform::OpenHid(std::u16string_view path, bool) {
    // The system would stop at a NUL and open some other path.
    if (path.empty() || path.find(u'\0') != std::u16string_view::npos) return kInvalidHandle;
    std::shared_lock lock(stackMutex_);
    if (stack_ == nullptr) return kInvalidHandle;
    const ::kav::sim::HidHandle opened = stack_->Open(path);
    if (opened == 0) return kInvalidHandle;

    std::lock_guard tableLock(tableMutex_);
    // Only a narrow pointer could wrap; skip whatever is still open.
    auto advance = [this] { nextSerial_ = nextSerial_ == kSerialMask ? 1 : nextSerial_ + 1; };
    while (hid_.contains(nextSerial_)) advance();
    const std::uintptr_t serial = nextSerial_;
    advance();
    hid_.emplace(serial, opened);
    return ToHandle(serial);
}

bool SimPlatform::Close(Handle handle) {
    if (IsSimHidHandle(handle)) {
        std::shared_lock lock(stackMutex_);
        ::kav::sim::HidHandle closing = 0;
        {
            std::lock_guard tableLock(tableMutex_);
            const auto it = hid_.find(SerialOf(handle));
            if (it == hid_.end()) return false;
            closing = it->second;
            hid_.erase(it);
        }
        return stack_ != nullptr && stack_->Close(closing);
    }
#ifndef _WIN32
    {
        std::lock_guard tableLock(tableMutex_);
        if (serial_.erase(handle) == 0) return false;
    }
    return posix::PosixPlatformInstance().Close(handle);
#else
    return false;
#endif
}

std::optional<HidAttributes> SimPlatform::GetAttributes(Handle handle) {
    std::shared_lock lock(stackMutex_);
    const ::kav::sim::HidHandle hid = Lookup(handle);
    if (hid == 0 || stack_ == nullptr) return std::nullopt;
    const std::optional<::kav::sim::HidDeviceAttributes> attributes = stack_->Attributes(hid);
    if (!attributes) return std::nullopt;
    return HidAttributes{attributes->vendorId, attributes->productId, attributes->versionNumber};
}

bool SimPlatform::GetFeature(Handle handle, std::span<uint8_t> report) {
    if (report.empty()) return false;
    std::shared_lock lock(stackMutex_);
    const ::kav::sim::HidHandle hid = Lookup(handle);
    return hid != 0 && stack_ != nullptr && stack_->GetFeature(hid, report);
}

bool SimPlatform::SetFeature(Handle handle, std::span<const uint8_t> report) {
    if (report.empty()) return false;
    std::shared_lock lock(stackMutex_);
    const ::kav::sim::HidHandle hid = Lookup(handle);
    return hid != 0 && stack_ != nullptr && stack_->SetFeature(hid, report);
}

#ifndef _WIN32

bool SimPlatform::IsOurSerial(Handle port) const {
    std::lock_guard lock(tableMutex_);
    return serial_.contains(port);
}

Handle SimPlatform::OpenSerial(std::u16string_view path) {
    const Handle port = posix::PosixPlatformInstance().OpenSerial(path);
    if (!IsValidHandle(port)) return kInvalidHandle;
    std::lock_guard lock(tableMutex_);
    serial_.insert(port);
    return port;
}

bool SimPlatform::PurgeSerial(Handle port) {
    return IsOurSerial(port) && posix::PosixPlatformInstance().PurgeSerial(port);
}

std::optional<std::size_t> SimPlatform::WriteSerial(Handle port, std::span<const uint8_t> bytes) {
    if (!IsOurSerial(port)) return std::nullopt;
    return posix::PosixPlatformInstance().WriteSerial(port, bytes);
}

std::optional<uint8_t> SimPlatform::ReadSerialByte(Handle port) {
    if (!IsOurSerial(port)) return std::nullopt;
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

void InstallSimPlatform(::kav::sim::HidStack* stack) {
    SimPlatformInstance().Attach(stack);
    SetSimPlatformFactory(&Factory);
}

}  // namespace kav::platform::sim
