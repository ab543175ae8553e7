// The platform on the virtual HID stack: KavLib's HID calls reach the real driver running
// on the user-mode framework. Serial ports go to the POSIX ports where there are any.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <shared_mutex>

#include "devicelib/platform/platform.h"
#include "simulator/hidstack/hid_stack.h"

namespace kav::platform::sim {

class SimPlatform final : public Platform {
public:
    // Without a stack there are no devices: an empty list, and every open fails.
    explicit SimPlatform(::kav::sim::HidStack* stack = nullptr) : stack_(stack) {}

    // Waits for calls in flight on the old stack, then forgets its handles: they are
    // refused from now on. Detach (nullptr) before the stack is destroyed.
    void Attach(::kav::sim::HidStack* stack);

    std::optional<std::vector<std::u16string>> EnumerateHidInterfaces() override;
    Handle OpenHid(std::u16string_view path, bool overlapped) override;
    bool Close(Handle handle) override;
    std::optional<HidAttributes> GetAttributes(Handle handle) override;
    bool GetFeature(Handle handle, std::span<uint8_t> report) override;
    bool SetFeature(Handle handle, std::span<const uint8_t> report) override;

#ifndef _WIN32
    // The host's ports, so that a pseudo-terminal link works; on Windows the failing defaults.
    Handle OpenSerial(std::u16string_view path) override;
    bool PurgeSerial(Handle port) override;
    std::optional<std::size_t> WriteSerial(Handle port, std::span<const uint8_t> bytes) override;
    std::optional<uint8_t> ReadSerialByte(Handle port) override;
#endif

    // Real time, not the framework's clock: callers poll devices that another thread drives.
    void Sleep(uint32_t milliseconds) override;

    // Whether the value carries this platform's tag; says nothing about it being open.
    static bool IsSimHidHandle(Handle handle) noexcept;

private:
    // The stack's handle behind one of ours; 0 when it is not ours or not open.
    ::kav::sim::HidHandle Lookup(Handle handle) const;
#ifndef _WIN32
    bool IsOurSerial(Handle port) const;
#endif

    // Held shared by every call into the stack, exclusively to swap it.
    std::shared_mutex stackMutex_;
    ::kav::sim::HidStack* stack_;

    mutable std::mutex tableMutex_;
    std::map<std::uintptr_t, ::kav::sim::HidHandle> hid_;  // by serial number
    std::uintptr_t nextSerial_ = 1;
#ifndef _WIN32
    std::set<Handle> serial_;  // ports opened through this platform, which alone it closes
#endif
};

SimPlatform& SimPlatformInstance();

// Points the process-wide SimPlatform at this stack (nullptr detaches it) and registers it
// as the simulated platform, so that CurrentPlatform() returns it where the simulation is
// the default. Detached, it stays registered and lists no devices.
void InstallSimPlatform(::kav::sim::HidStack* stack);

}  // namespace kav::platform::sim
