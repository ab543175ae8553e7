// A platform on which every operation fails as the OS would report failure. Fakes derive
// from it and override only what they exercise, so that new operations added to Platform
// do not break them.
#pragma once

#include "devicelib/platform/platform.h"

namespace kav::platform {

class FailingPlatform : public Platform {
public:
    // No OS to ask: the list cannot be obtained, which is not the same as an empty one.
    std::optional<std::vector<std::u16string>> EnumerateHidInterfaces() override { return std::nullopt; }
    Handle OpenHid(std::u16string_view, bool) override { return kInvalidHandle; }
    bool Close(Handle) override { return false; }
    std::optional<HidAttributes> GetAttributes(Handle) override { return std::nullopt; }
    bool GetFeature(Handle, std::span<uint8_t>) override { return false; }
    bool SetFeature(Handle, std::span<const uint8_t>) override { return false; }

    // Still sleeps: callers poll with Sleep between retries and would otherwise spin.
    void Sleep(uint32_t milliseconds) override;
};

}  // namespace kav::platform
