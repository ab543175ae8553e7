// Fakes for KavSvc's presenters: each logs what it was asked as short strings.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "beepservice/nerio_svc_app.h"
#include "beepservice/nerio_svc_dlg.h"

namespace kav::beep::test {

inline std::string Narrow(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

class RecordingView : public NerioSvcView {
public:
    std::vector<std::string> calls;
    std::map<std::uint32_t, std::u16string> strings;
    OsVersion version{6, 1};

    std::u16string LoadString(std::uint32_t id) override {
        auto it = strings.find(id);
        return it == strings.end() ? std::u16string() : it->second;
    }
    void AppendSystemMenuSeparator() override { calls.push_back("menu separator"); }
    void AppendSystemMenuItem(std::uint32_t command, std::u16string_view text) override {
        calls.push_back("menu " + std::to_string(command) + " " + Narrow(text));
    }
    void SetIcons() override { calls.push_back("icons"); }
    OsVersion GetOsVersion() override { return version; }
    void MakeInvisible() override { calls.push_back("invisible"); }
    void Show() override { calls.push_back("show"); }
    void ShowAbout() override { calls.push_back("about"); }
};

// Records keyed by their handle, as the system keeps them until they are read.
class FakeRawInput : public RawInputSource {
public:
    bool registerResult = true;
    std::vector<std::string> registrations;
    std::map<RawInputHandle, RawInputRecord> records;
    int reads = 0;

    bool Register(const std::array<RawInputDevice, 2>& devices) override {
        for (const RawInputDevice& device : devices) {
            registrations.push_back(std::to_string(device.usagePage) + "/" + std::to_string(device.usage));
        }
        return registerResult;
    }
    std::optional<RawInputRecord> Read(RawInputHandle handle) override {
        ++reads;
        auto it = records.find(handle);
        if (it == records.end()) return std::nullopt;
        return it->second;
    }
};

// The registry as GetDriverConfig_Register sees it: absent, or holding these values.
class FakeConfigSource : public DriverConfigSource {
public:
    std::optional<_NERIO_DRIVER_CONFIG> registry;
    int reads = 0;

    bool Read(_NERIO_DRIVER_CONFIG& config) override {
        ++reads;
        if (!registry) return false;
        config = *registry;
        return true;
    }
};

class RecordingSound : public SoundOutput {
public:
    std::vector<std::string> played;
    void Play(const Sound& sound) override { played.push_back(DescribeSound(sound)); }
};

}  // namespace kav::beep::test
