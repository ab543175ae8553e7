// The Win32 platform: SetupAPI, the HID client library and kernel32. Built for Windows only.
#pragma once

#include "devicelib/platform/platform.h"

namespace kav::platform::win32 {

class Win32Platform final : public Platform {
public:
    std::optional<std::vector<std::u16string>> EnumerateHidInterfaces() override;
    Handle OpenHid(std::u16string_view path, bool overlapped) override;
    bool Close(Handle handle) override;
    std::optional<HidAttributes> GetAttributes(Handle handle) override;
    bool GetFeature(Handle handle, std::span<uint8_t> report) override;
    bool SetFeature(Handle handle, std::span<const uint8_t> report) override;
    Handle OpenSerial(std::u16string_view path) override;
    bool PurgeSerial(Handle port) override;
    std::optional<std::size_t> WriteSerial(Handle port, std::span<const uint8_t> bytes) override;
    std::optional<uint8_t> ReadSerialByte(Handle port) override;
    void Sleep(uint32_t milliseconds) override;

    std::optional<std::u16string> GetHidString(Handle handle, HidString which) override;
    std::unique_ptr<InputReader> CreateInputReader(Handle handle, std::size_t reportLength) override;
    // Raw input is registered per process and per usage: a second live registration for the
    // same usage takes its input away from the first, as RegisterRawInputDevices does.
    std::unique_ptr<Registration> RegisterRawInput(std::span<const RawInputUsage> usages,
                                                   RawInputCallback callback) override;
    std::unique_ptr<Registration> RegisterDeviceChange(DeviceChangeCallback callback) override;
    std::optional<std::vector<std::optional<RegistryData>>> QueryRegistryValues(
        RegistryRoot root, std::u16string_view key, std::span<const std::u16string_view> names) override;
};

// The window classes of the hidden windows whose threads carry raw input and device
// change; tests find the windows by them.
inline constexpr wchar_t kRawInputSinkClass[] = L"RawInputWnd";
inline constexpr wchar_t kDeviceChangeSinkClass[] = L"KavDeviceChangeSink";

Win32Platform& Win32PlatformInstance();

}  // namespace kav::platform::win32
