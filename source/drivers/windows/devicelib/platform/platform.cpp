#include "devicelib/platform/platform.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <thread>

#include "devicelib/platform/failing_platform.h"

#ifdef _WIN32
#include "devicelib/platform/win32/win32_platform.h"
#endif

namespace kav::platform {

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

[[maybe_unused]] bool SimRequested() {
    const char* value = std::getenv("KAVLIB_PLATFORM");
    if (value == nullptr) return false;
    std::string_view v(value);
    if (v.size() != 3) return false;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(v[0]) == 's' && lower(v[1]) == 'i' && lower(v[2]) == 'm';
}

Platform& SimOrFallback() {
    return g_sim_factory != nullptr ? g_sim_factory() : FallbackPlatform();
}

// Windows: the real OS unless KAVLIB_PLATFORM=sim asks for the simulation (never the
// real OS then, even if the simulation is not linked in). Elsewhere there is no real OS
// platform, so the simulation when present.
Platform& ChooseDefault() {
#ifdef _WIN32
    return SimRequested() ? SimOrFallback() : win32::Win32PlatformInstance();
#else
    return SimOrFallback();
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
