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

    // Not yet written for Win32, so Platform's failing defaults answer: GetHidString
    // (HidD_Get*String), CreateInputReader (ReadFile with OVERLAPPED, CancelIoEx),
    // RegisterRawInput (RegisterRawInputDevices on a sink window's thread),
    // RegisterDeviceChange (RegisterDeviceNotificationW) and QueryRegistryValues
    // (RegOpenKeyExW, RegQueryValueExW).
};

Win32Platform& Win32PlatformInstance();

}  // namespace kav::platform::win32
