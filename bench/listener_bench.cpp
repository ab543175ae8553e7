// How late KavLib's touch data callback hears a tap, through the simulated screen service
// as a program under Wine hears it (the remote platform over loopback). Two spans per tap:
// from the tap line sent on the control channel, and from the driver's completion of the
// first touching report (the moment the HID stack routes it) to the callback. Run by hand:
// build/native/bench/kav_listener_bench
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "devicelib/include/KavLib.h"
#include "loopback_service.h"
#include "shared/hid_reports.h"

namespace {

using namespace kav;
using Clock = std::chrono::steady_clock;

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

// The service, with a sink that sees the driver's reports as they are routed and KavLib on
// its remote platform.
struct Service : bench::LoopbackService {
    Service() {
        sink = screens.Stack().RegisterRawInput(kDigitizerPage, kTouchScreenUsage, [](const sim::RawInputEvent& e) {
            std::int64_t none = 0;
            if (e.report.size() >= 2 && Touching(e.report.data())) g_completedAt.compare_exchange_strong(none, Now());
        });
        platform::SetPlatform(platform.get());
    }
    ~Service() {
        screens.Stack().UnregisterRawInput(sink);
        platform::SetPlatform(nullptr);
    }

    std::uint32_t sink = 0;
};

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
    state.counters["tap_median_us"] = bench::Percentile(fromTap, 0.5);
    state.counters["tap_p99_us"] = bench::Percentile(fromTap, 0.99);
    state.counters["completion_median_us"] = bench::Percentile(fromCompletion, 0.5);
    state.counters["completion_p99_us"] = bench::Percentile(fromCompletion, 0.99);
}
BENCHMARK(BM_TapToTouchDataCallback)->Unit(benchmark::kMillisecond)->Iterations(100);

}  // namespace

BENCHMARK_MAIN();
