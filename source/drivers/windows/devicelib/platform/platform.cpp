#include "devicelib/platform/platform.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <thread>

#include "devicelib/platform/failing_platform.h"
#include "devicelib/platform/remote/remote_platform.h"
#include "shared/hid_reports.h"

#ifdef _WIN32
#include "devicelib/platform/win32/win32_platform.h"
#endif

namespace kav::platform {

uint16_t MouseButtonTracker::Transitions(const std::u16string& deviceName, std::span<const uint8_t> report) {
    MOUSE_REPORT mouse;
    if (!DecodeMouseReport(report.data(), report.size(), &mouse)) return 0;
    uint8_t& before = buttons_[deviceName];
    const uint16_t flags = MouseButtonTransitions(before, mouse.Buttons);
    before = mouse.Buttons;
    return flags;
}

Handle Platform::OpenSerial(std::u16string_view) {
    return kInvalidHandle;
}
bool Platform::PurgeSerial(Handle) {
    return false;
}
std::optional<std::size_t> Platform::WriteSerial(Handle, std::span<const uint8_t>) {
    return std::nullopt;
}
std::optional<uint8_t> Platform::ReadSerialByte(Handle) {
    return std::nullopt;
}

std::optional<std::u16string> Platform::GetHidString(Handle, HidString) {
    return std::nullopt;
}
std::unique_ptr<InputReader> Platform::CreateInputReader(Handle, std::size_t) {
    return nullptr;
}
std::unique_ptr<Registration> Platform::RegisterRawInput(std::span<const RawInputUsage>, RawInputCallback) {
    return nullptr;
}
std::unique_ptr<Registration> Platform::RegisterDeviceChange(DeviceChangeCallback) {
    return nullptr;
}
std::optional<std::vector<std::optional<RegistryData>>> Platform::QueryRegistryValues(
    RegistryRoot, std::u16string_view, std::span<const std::u16string_view>) {
    return std::nullopt;
}

std::optional<uint32_t> AsDword(const std::optional<RegistryData>& value) {
    if (!value || value->type != kRegDword || value->bytes.size() != 4) return std::nullopt;
    const std::vector<uint8_t>& b = value->bytes;
    return static_cast<uint32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24));
}

void FailingPlatform::Sleep(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

Platform& FallbackPlatform() {
    static FailingPlatform fallback;
    return fallback;
}

namespace {

std::atomic<Platform*> g_override{nullptr};
// The default is chosen once and kept until the sim factory changes.
std::atomic<Platform*> g_default{nullptr};
std::mutex g_default_mutex;
PlatformFactory g_sim_factory = nullptr;  // guarded by g_default_mutex

bool SimRequested() {
    const char* value = std::getenv("KAVLIB_PLATFORM");
    if (value == nullptr) return false;
    std::string_view v(value);
    if (v.size() != 3) return false;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(v[0]) == 's' && lower(v[1]) == 'i' && lower(v[2]) == 'm';
}

// KAVLIB_PLATFORM=sim never reaches the real OS: a test's in-process simulation, else
// the service's client. Without it, Windows has the real OS and other hosts only the
// in-process simulation, when a test registered one.
Platform& ChooseDefault() {
    if (SimRequested()) return g_sim_factory != nullptr ? g_sim_factory() : remote::RemotePlatformInstance();
#ifdef _WIN32
    return win32::Win32PlatformInstance();
#else
    return g_sim_factory != nullptr ? g_sim_factory() : FallbackPlatform();
#endif
}

}  // namespace

Platform& CurrentPlatform() {
    if (Platform* p = g_override.load(std::memory_order_acquire)) return *p;
    if (Platform* p = g_default.load(std::memory_order_acquire)) return *p;
    std::lock_guard lock(g_default_mutex);
    Platform* p = g_default.load(std::memory_order_relaxed);
    if (p == nullptr) {
        p = &ChooseDefault();
        g_default.store(p, std::memory_order_release);
    }
    return *p;
}

void SetPlatform(Platform* platform) {
    g_override.store(platform, std::memory_order_release);
}

void SetSimPlatformFactory(PlatformFactory factory) {
    std::lock_guard lock(g_default_mutex);
    g_sim_factory = factory;
    g_default.store(nullptr, std::memory_order_release);
}

}  // namespace kav::platform
