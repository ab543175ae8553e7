// The simulated screen service over loopback, as KavLib's remote platform sees it: a feature
// report round trip through the service and the driver, and the time from a tap sent on the
// control channel to the touch report in a client's read. Run by hand:
// build/native/bench/kav_service_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "devicelib/platform/remote/connection.h"
#include "devicelib/platform/remote/remote_platform.h"
#include "shared/driver_request.h"
#include "shared/hid_reports.h"
#include "simulator/service/protocol.h"
#include "simulator/service/screen_service.h"
#include "simulator/service/server.h"

namespace {

using namespace kav;
using Clock = std::chrono::steady_clock;

struct Service {
    Service() : screens(service::ServiceOptions{}), server(screens, log) {
        std::string error;
        if (!screens.Start(&error) || !server.Listen(0, &error)) throw std::runtime_error(error);
        platform = platform::remote::MakeRemotePlatform({0x7F000001, server.Port()});
        for (const std::u16string& path : platform->EnumerateHidInterfaces().value_or(std::vector<std::u16string>{}))
            if (std::string(path.begin(), path.end()).find("col01") != std::string::npos)
                handle = platform->OpenHid(path, true);
        control = platform::remote::ServiceConnection::Open(0x7F000001, server.Port(), nullptr);
    }
    ~Service() {
        platform->Close(handle);
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
    std::unique_ptr<platform::Platform> platform;
    platform::Handle handle = platform::kInvalidHandle;
    std::unique_ptr<platform::remote::ServiceConnection> control;
};

// Median and 99th percentile of the samples, in microseconds, as the benchmark's counters.
void ReportPercentiles(benchmark::State& state, std::vector<double> samples) {
    if (samples.empty()) return;
    std::sort(samples.begin(), samples.end());
    auto at = [&](double fraction) {
        return samples[std::min(samples.size() - 1, static_cast<std::size_t>(fraction * samples.size()))];
    };
    state.counters["median_us"] = at(0.5);
    state.counters["p99_us"] = at(0.99);
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
