// The platform on the virtual HID stack: KavLib's HID calls reach the real driver running
// on the user-mode framework. Serial ports go to the POSIX ports where there are any.
// The stack stays behind a pointer to an implementation, so that what includes this header
// sees neither the stack nor the framework beneath it.
#pragma once

#include <memory>

#include "devicelib/platform/platform.h"

namespace kav::sim {
class HidStack;
class RegistryStore;
}  // namespace kav::sim

namespace kav::platform::sim {

class SimPlatform final : public Platform {
public:
    // Without a stack there are no devices: an empty list, and every open fails. Without a
    // registry store no key opens.
    explicit SimPlatform(::kav::sim::HidStack* stack = nullptr, ::kav::sim::RegistryStore* registry = nullptr);
    ~SimPlatform() override;

    // Waits for calls in flight on the old stack, then forgets its handles, readers and
    // registrations: they are refused or silent from now on. Detach (nullptr) before the
    // stack is destroyed. The registry store is kept unless one is given.
    void Attach(::kav::sim::HidStack* stack, ::kav::sim::RegistryStore* registry = nullptr);

    std::optional<std::vector<std::u16string>> EnumerateHidInterfaces() override;
    Handle OpenHid(std::u16string_view path, bool overlapped) override;
    bool Close(Handle handle) override;
    std::optional<HidAttributes> GetAttributes(Handle handle) override;
    bool GetFeature(Handle handle, std::span<uint8_t> report) override;
    bool SetFeature(Handle handle, std::span<const uint8_t> report) override;
    std::optional<std::u16string> GetHidString(Handle handle, HidString which) override;

    // Reports come as the stack routes them, when whoever drives the stack pumps it.
    std::unique_ptr<InputReader> CreateInputReader(Handle handle, std::size_t reportLength) override;
    // Callbacks run on the thread that pumps the stack (raw input) or that plugs and
    // unplugs devices (device change).
    std::unique_ptr<Registration> RegisterRawInput(std::span<const RawInputUsage> usages,
                                                   RawInputCallback callback) override;
    std::unique_ptr<Registration> RegisterDeviceChange(DeviceChangeCallback callback) override;
    // HKLM\X is the store's "\Registry\Machine\X", HKCU\X its "\Registry\User\Current\X".
    std::optional<std::vector<std::optional<RegistryData>>> QueryRegistryValues(
        RegistryRoot root, std::u16string_view key, std::span<const std::u16string_view> names) override;

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

    struct State;

private:
    std::shared_ptr<State> state_;
};

SimPlatform& SimPlatformInstance();

// Points the process-wide SimPlatform at this stack (nullptr detaches it) and registers it
// as the simulated platform, so that CurrentPlatform() returns it where the simulation is
// the default. Detached, it stays registered and lists no devices.
void InstallSimPlatform(::kav::sim::HidStack* stack, ::kav::sim::RegistryStore* registry = nullptr);

}  // namespace kav::platform::sim
