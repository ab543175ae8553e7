// How late KavLib's touch data callback hears a tap, through the simulated screen service
// as a program under Wine hears it (the remote platform over loopback). Two spans per tap:
// from the tap line sent on the control channel, and from the driver's completion of the
// first touching report (the moment the HID stack routes it) to the callback. Run by hand:
// build/native/bench/kav_listener_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "devicelib/include/KavLib.h"
#include "devicelib/platform/remote/connection.h"
#include "devicelib/platform/remote/remote_platform.h"
#include "shared/hid_reports.h"
#include "simulator/service/protocol.h"
#include "simulator/service/screen_service.h"
#include "simulator/service/server.h"

namespace {

using namespace kav;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr std::uint16_t kDigitizerPage = 0x0D;
constexpr std::uint16_t kTouchScreenUsage = 0x04;

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// The first touching report of the tap being measured, as each end saw it (0: not yet).
std::atomic<std::int64_t> g_completedAt{0};
std::atomic<std::int64_t> g_calledBackAt{0};
std::atomic<std::int64_t> g_lastReportAt{0};

bool Touching(const std::uint8_t* report) {
    return report[0] == kTouchReportId && report[1] == kContactTouching;
}

void OnTouchData(unsigned char* report) {
    const std::int64_t now = Now();
    g_lastReportAt = now;
    std::int64_t none = 0;
    if (Touching(report)) g_calledBackAt.compare_exchange_strong(none, now);
}

struct Service {
    Service() : screens(service::ServiceOptions{}), server(screens, log) {
        std::string error;
        if (!screens.Start(&error) || !server.Listen(0, &error)) throw std::runtime_error(error);
        // Called as the driver's reports are routed, before any client reads them.
        sink = screens.Stack().RegisterRawInput(kDigitizerPage, kTouchScreenUsage, [](const sim::RawInputEvent& e) {
            std::int64_t none = 0;
            if (e.report.size() >= 2 && Touching(e.report.data())) g_completedAt.compare_exchange_strong(none, Now());
        });
        platform = platform::remote::MakeRemotePlatform({kLoopback, server.Port()});
        platform::SetPlatform(platform.get());
        for (const std::u16string& path : platform->EnumerateHidInterfaces().value_or(std::vector<std::u16string>{}))
            if (std::string(path.begin(), path.end()).find("col01") != std::string::npos)
                handle = platform->OpenHid(path, true);
        control = platform::remote::ServiceConnection::Open(kLoopback, server.Port(), nullptr);
    }
    ~Service() {
        screens.Stack().UnregisterRawInput(sink);
        platform->Close(handle);
        platform::SetPlatform(nullptr);
        control.reset();
        platform.reset();
    }

    bool Control(const std::string& line) {
        const std::uint32_t id = control->NewRequestId();
        const auto reply = control->Call(
            service::protocol::Writer({id, service::protocol::MessageType::Control}).Text(line).Finish(), id);
        return reply && reply->header.status == service::protocol::Status::kOk;
    }

    service::ScreenService screens;
    std::ostringstream log;
    service::Server server;
    std::uint32_t sink = 0;
    std::unique_ptr<platform::Platform> platform;
    platform::Handle handle = platform::kInvalidHandle;
    std::unique_ptr<platform::remote::ServiceConnection> control;
};

double Percentile(std::vector<double> samples, double fraction) {
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, static_cast<std::size_t>(fraction * samples.size()))];
}

void BM_TapToTouchDataCallback(benchmark::State& state) {
    Service service;
    if (Nerio_RegisterTouchDataCallback(service.handle, OnTouchData) != 1) {
        state.SkipWithError("the touch data listener did not start");
        return;
    }
    std::vector<double> fromTap, fromCompletion;
    for (auto _ : state) {
        // The last tap's reports are over before the next tap.
        while (Now() - g_lastReportAt < 200'000'000) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        g_completedAt = 0;
        g_calledBackAt = 0;
        const std::int64_t sent = Now();
        if (!service.Control("tap 200 150")) state.SkipWithError("the tap was refused");
        const std::int64_t deadline = sent + 5'000'000'000;
        while (g_calledBackAt == 0 && Now() < deadline) std::this_thread::sleep_for(std::chrono::microseconds(100));
        if (g_calledBackAt == 0 || g_completedAt == 0) {
            state.SkipWithError("no touching report reached the callback");
            break;
        }
        fromTap.push_back((g_calledBackAt - sent) / 1e3);
        fromCompletion.push_back((g_calledBackAt - g_completedAt) / 1e3);
    }
    Nerio_UnRegisterTouchDataCallback();
    if (fromTap.empty()) return;
    state.counters["tap_median_us"] = Percentile(fromTap, 0.5);
    state.counters["tap_p99_us"] = Percentile(fromTap, 0.99);
    state.counters["completion_median_us"] = Percentile(fromCompletion, 0.5);
    state.counters["completion_p99_us"] = Percentile(fromCompletion, 0.99);
}
BENCHMARK(BM_TapToTouchDataCallback)->Unit(benchmark::kMillisecond)->Iterations(100);

}  // namespace

BENCHMARK_MAIN();
