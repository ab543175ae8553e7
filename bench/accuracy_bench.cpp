// Accuracy of the whole pipeline on the simulated screen, reported as counters (mm):
// a grid of stationary touches over the nominal 400 x 300 mm screen with records that
// describe the lenses. The times are of no interest; each case runs the grid once.
//   error:  distance of each reported position from the finger, no noise
//   jitter: spread of a still finger's positions (RMS about their mean) with 0.3-pixel
//           edge noise, with EnableAntishake 0 and 1
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "shared/hid_reports.h"
#include "simulator/scenario/scenario.h"

namespace {

using kav::sim::Scenario;

constexpr double kMarginMm = 15;
constexpr int kColumns = 9;
constexpr int kRows = 7;
constexpr double kHoldMs = 800;
constexpr double kSettleMs = 150;  // the first reports of a touch are left out of the jitter

struct Point {
    double x, y;
};

std::vector<Point> Grid(const Scenario& s) {
    std::vector<Point> grid;
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kColumns; ++c)
            grid.push_back({kMarginMm + (s.width - 2 * kMarginMm) * c / (kColumns - 1),
                            kMarginMm + (s.height - 2 * kMarginMm) * r / (kRows - 1)});
    return grid;
}

// Contact 1's touching positions of one run, in mm, after settleMs.
std::vector<Point> Reported(const Scenario& s, const kav::sim::RunResult& run, double settleMs) {
    std::vector<Point> points;
    double first = -1;
    for (const auto& r : run.reports) {
        if (r.bytes.size() != sizeof(kav::TOUCH_REPORT) || r.bytes[0] != kav::kTouchReportId) continue;
        kav::TOUCH_REPORT t;
        std::memcpy(&t, r.bytes.data(), sizeof t);
        const kav::TOUCH_CONTACT c = t.Contact[0];
        if (c.Status != kav::kContactTouching) continue;
        if (first < 0) first = r.ms;
        if (r.ms - first < settleMs) continue;
        points.push_back({c.X * s.width / 32768.0, c.Y * s.height / 32768.0});
    }
    return points;
}

Scenario Base(double noisePx, int antishake) {
    Scenario s = kav::sim::ParseScenario("records match\nset EnableAntishake " + std::to_string(antishake) + "\n");
    s.edgeNoisePx = noisePx;
    return s;
}

Scenario Hold(Scenario s, Point p, std::uint64_t seed) {
    s.seed = seed;
    kav::sim::Gesture g;
    g.verb = "hold";
    g.startMs = 20;
    g.durationMs = kHoldMs;
    kav::sim::Stroke stroke;
    stroke.x0 = p.x;
    stroke.y0 = p.y;
    g.strokes.push_back(stroke);
    s.gestures.push_back(g);
    return s;
}

void BM_PositionError(benchmark::State& state) {
    double sum = 0, worst = 0;
    std::size_t n = 0, missing = 0;
    for (auto _ : state) {
        const Scenario base = Base(0, 1);
        for (const Point p : Grid(base)) {
            const Scenario s = Hold(base, p, 1);
            const auto points = Reported(s, kav::sim::RunScenario(s), 0);
            if (points.empty()) ++missing;
            for (const Point q : points) {
                const double d = std::hypot(q.x - p.x, q.y - p.y);
                sum += d;
                worst = std::max(worst, d);
                ++n;
            }
        }
    }
    state.counters["mean_mm"] = n > 0 ? sum / static_cast<double>(n) : 0;
    state.counters["max_mm"] = worst;
    state.counters["positions"] = static_cast<double>(n);
    state.counters["points_unreported"] = static_cast<double>(missing);
}
BENCHMARK(BM_PositionError)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_StationaryJitter(benchmark::State& state) {
    const int antishake = static_cast<int>(state.range(0));
    double sum = 0, worst = 0, worstOffset = 0;
    std::size_t n = 0;
    for (auto _ : state) {
        const Scenario base = Base(0.3, antishake);
        std::uint64_t seed = 1;
        for (const Point p : Grid(base)) {
            const Scenario s = Hold(base, p, seed++);
            const auto points = Reported(s, kav::sim::RunScenario(s), kSettleMs);
            if (points.size() < 2) continue;
            Point mean{0, 0};
            for (const Point q : points) {
                mean.x += q.x / static_cast<double>(points.size());
                mean.y += q.y / static_cast<double>(points.size());
            }
            double squares = 0;
            for (const Point q : points) squares += std::pow(q.x - mean.x, 2) + std::pow(q.y - mean.y, 2);
            const double rms = std::sqrt(squares / static_cast<double>(points.size()));
            sum += rms;
            worst = std::max(worst, rms);
            worstOffset = std::max(worstOffset, std::hypot(mean.x - p.x, mean.y - p.y));
            ++n;
        }
    }
    state.counters["jitter_mean_mm"] = n > 0 ? sum / static_cast<double>(n) : 0;
    state.counters["jitter_max_mm"] = worst;
    state.counters["offset_max_mm"] = worstOffset;
}
BENCHMARK(BM_StationaryJitter)->Arg(0)->Arg(1)->ArgName("antishake")->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
