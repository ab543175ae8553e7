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
    void Sleep(uint32_t milliseconds) override;
};

Win32Platform& Win32PlatformInstance();

}  // namespace kav::platform::win32
