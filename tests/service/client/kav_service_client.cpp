// A second client of the simulated screen service for the service's tests, built natively
// and for Windows (run under Wine). It reaches the service only through KavLib's platform
// as a program does: KAVLIB_PLATFORM=sim, KAVLIB_SIM=PORT.
//
//   kav_service_client setmode HEX   sets the work mode of the first screen; prints "ok"
//   kav_service_client getmode       prints "mode HEX"
//   kav_service_client watch         prints "ready" once it listens for device changes and
//                                    waits in a read of touch reports, then "report X Y" for
//                                    the first touching contact, "read failed" when the read
//                                    fails, "removal PATH" and "arrival PATH" as they come,
//                                    and "done" once as many interfaces arrived as went
// Exit code 0 on success, 1 on failure (with a line on stderr), 2 for bad usage.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "devicelib/platform/platform.h"
#include "shared/driver_request.h"
#include "shared/hid_reports.h"

namespace {

using namespace kav;
using namespace kav::platform;

constexpr auto kPatience = std::chrono::seconds(60);
constexpr uint32_t kReadSliceMs = 60;  // as KavLib's touch data listener waits

std::mutex g_output;

void Say(const std::string& line) {
    std::lock_guard lock(g_output);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int Fail(const std::string& why) {
    std::fprintf(stderr, "kav_service_client: %s\n", why.c_str());
    return 1;
}

std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

std::optional<std::u16string> TouchInterface(Platform& platform) {
    const auto paths = platform.EnumerateHidInterfaces();
    if (!paths) return std::nullopt;
    for (const std::u16string& path : *paths)
        if (Narrow(path).find("col01") != std::string::npos) return path;
    return std::nullopt;
}

UniqueHandle OpenTouch(Platform& platform) {
    const auto path = TouchInterface(platform);
    return UniqueHandle(path ? platform.OpenHid(*path, true) : kInvalidHandle, platform);
}

int SetMode(Platform& platform, const char* text) {
    const unsigned long mode = std::strtoul(text, nullptr, 16);
    UniqueHandle handle = OpenTouch(platform);
    if (!handle) return Fail("no touch screen");
    const std::array<uint8_t, 64> report{kav::kDriverRequestFeatureId, kav::kDriverRequestWorkMode,
                                         static_cast<uint8_t>(mode)};
    if (!platform.SetFeature(handle.get(), report)) return Fail("the work mode was refused");
    Say("ok");
    return 0;
}

int GetMode(Platform& platform) {
    UniqueHandle handle = OpenTouch(platform);
    if (!handle) return Fail("no touch screen");
    std::array<uint8_t, 64> report{kav::kDriverRequestFeatureId, kav::kDriverRequestWorkMode};
    if (!platform.GetFeature(handle.get(), report)) return Fail("the work mode could not be read");
    char line[32];
    std::snprintf(line, sizeof line, "mode %02X", report[kav::kDriverRequestWorkModeOffset]);
    Say(line);
    return 0;
}

int Watch(Platform& platform) {
    std::mutex mutex;
    std::condition_variable changed;
    int removals = 0, arrivals = 0;
    std::unique_ptr<Registration> registration =
        platform.RegisterDeviceChange([&](DeviceChange change, const std::u16string& path) {
            std::lock_guard lock(mutex);
            const bool arrival = change == DeviceChange::Arrival;
            ++(arrival ? arrivals : removals);
            Say((arrival ? "arrival " : "removal ") + Narrow(path));
            changed.notify_all();
        });
    if (!registration) return Fail("device change registration refused");
    UniqueHandle handle = OpenTouch(platform);
    if (!handle) return Fail("no touch screen");
    std::unique_ptr<InputReader> reader = platform.CreateInputReader(handle.get(), sizeof(TOUCH_REPORT));
    if (!reader) return Fail("no reader");

    Say("ready");
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    bool reported = false;
    for (;;) {
        if (std::chrono::steady_clock::now() > deadline) return Fail("no end of the read");
        std::array<uint8_t, sizeof(TOUCH_REPORT)> buffer{};
        const ReadResult result = reader->Read(buffer, kReadSliceMs);
        if (result.status == ReadStatus::Failed) break;
        if (result.status != ReadStatus::Report || reported || buffer[0] != kTouchReportId) continue;
        TOUCH_REPORT touch;
        std::memcpy(&touch, buffer.data(), sizeof touch);
        const TOUCH_CONTACT contact = touch.Contact[0];
        if (contact.Status != kContactTouching) continue;
        Say("report " + std::to_string(contact.X) + " " + std::to_string(contact.Y));
        reported = true;
    }
    Say("read failed");
    std::unique_lock lock(mutex);
    if (!changed.wait_until(lock, deadline, [&] { return removals > 0 && arrivals >= removals; }))
        return Fail("no arrivals after the removal");
    lock.unlock();
    registration.reset();
    Say("done");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    Platform& platform = CurrentPlatform();
    if (args.size() == 2 && args[0] == "setmode") return SetMode(platform, args[1].c_str());
    if (args.size() == 1 && args[0] == "getmode") return GetMode(platform);
    if (args.size() == 1 && args[0] == "watch") return Watch(platform);
    std::fprintf(stderr, "usage: kav_service_client setmode HEX | getmode | watch\n");
    return 2;
}
