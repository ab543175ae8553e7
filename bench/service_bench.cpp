// The simulated screen service over loopback, as KavLib's remote platform sees it: a feature
// report round trip through the service and the driver, and the time from a tap sent on the
// control channel to the touch report in a client's read. Run by hand:
// build/native/bench/kav_service_bench
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "loopback_service.h"
#include "shared/driver_request.h"
#include "shared/hid_reports.h"

namespace {

using namespace kav;
using Clock = std::chrono::steady_clock;

using Service = bench::LoopbackService;

// Median and 99th percentile of the samples, in microseconds, as the benchmark's counters.
void ReportPercentiles(benchmark::State& state, const std::vector<double>& samples) {
    if (samples.empty()) return;
    state.counters["median_us"] = bench::Percentile(samples, 0.5);
    state.counters["p99_us"] = bench::Percentile(samples, 0.99);
}

void BM_FeatureRoundTrip(benchmark::State& state) {
    Service service;
    std::vector<double> samples;
    for (auto _ : state) {
        std::array<std::uint8_t, 64> report{kDriverRequestFeatureId, kDriverRequestWorkMode};
        const auto start = Clock::now();
        const bool ok = service.platform->GetFeature(service.handle, report);
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        if (!ok) state.SkipWithError("the feature request failed");
    }
    ReportPercentiles(state, samples);
}
BENCHMARK(BM_FeatureRoundTrip)->Unit(benchmark::kMicrosecond);

void BM_TapToReport(benchmark::State& state) {
    Service service;
    const auto reader = service.platform->CreateInputReader(service.handle, sizeof(TOUCH_REPORT));
    std::array<std::uint8_t, sizeof(TOUCH_REPORT)> report{};
    std::vector<double> samples;
    for (auto _ : state) {
        // The last tap's reports are gone before the next tap.
        while (reader->Read(report, 200).status == platform::ReadStatus::Report) {
        }
        const auto start = Clock::now();
        if (!service.Control("tap 200 150")) state.SkipWithError("the tap was refused");
        for (;;) {
            if (reader->Read(report, 5000).status != platform::ReadStatus::Report) {
                state.SkipWithError("no report");
                break;
            }
            TOUCH_REPORT touch;
            std::memcpy(&touch, report.data(), sizeof touch);
            if (report[0] == kTouchReportId && touch.Contact[0].Status == kContactTouching) break;
        }
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    ReportPercentiles(state, samples);
}
BENCHMARK(BM_TapToReport)->Unit(benchmark::kMillisecond)->Iterations(50);

}  // namespace

BENCHMARK_MAIN();
