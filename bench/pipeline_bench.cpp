// ProcessTransfer per touch frame (two transfers through the read completion), with the
// heap allocations made while the driver runs counted by a replaced global allocator.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "kavusb/pipeline/output_stage.h"
#include "shared/work_modes.h"
#include "simulator/controller/optics.h"
#include "simulator/hidstack/direct_host.h"

namespace {

std::atomic<bool> g_counting{false};
std::atomic<std::uint64_t> g_allocations{0};

void* Allocate(std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
    if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
    const std::size_t a = static_cast<std::size_t>(alignment);
    if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, std::align_val_t a) {
    return AllocateAligned(size, a);
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return AllocateAligned(size, a);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}

namespace {

using kav::sim::Finger;

enum Scenario { kNoTouch, kOneMoving, kTwoMoving, kOneMovingSmoothest };

// The settings dialog's top smoothness level on a 1920-pixel-wide screen: 5 x 1920 / 300.
constexpr std::uint32_t kLargestSmoothness = 32;
constexpr int kPathFrames = 240;
constexpr std::size_t kPendingReads = 4096;

std::vector<Finger> FingersAt(Scenario scenario, int frame) {
    const double t = 2.0 * 3.14159265358979 * frame / kPathFrames;
    switch (scenario) {
        case kNoTouch:
            return {};
        case kOneMoving:
        case kOneMovingSmoothest:
            return {{200 + 120 * std::cos(t), 150 + 90 * std::sin(t), 10}};
        case kTwoMoving:
            return {{110 + 60 * std::cos(t), 200 + 40 * std::sin(t), 10},
                    {300 + 60 * std::sin(t), 90 + 40 * std::cos(t), 10}};
    }
    return {};
}

void ProcessTransferPerFrame(benchmark::State& state) {
    const auto scenario = static_cast<Scenario>(state.range(0));
    kav::sim::DirectHost host(kav::sim::NominalRecords(), kPendingReads);
    host.Context()->WorkMode = kav::kWorkModeDigitizer;
    if (scenario == kOneMovingSmoothest) {
        host.Driver()->Config.Smoothness = kLargestSmoothness;
        kav::SetSmoothnessScale(host.Context(), kLargestSmoothness);
        host.ApplyDriverConfig();
    }

    // A closed path, rendered once: the loop completes prepared transfers only.
    const kav::sim::Geometry geometry = kav::sim::Geometry::From(host.Context()->ScreenProperty);
    std::vector<std::pair<WDFMEMORY, WDFMEMORY>> frames;
    for (int i = 0; i < kPathFrames; ++i) {
        const std::vector<Finger> fingers = FingersAt(scenario, i);
        const auto a = kav::sim::RenderLine(geometry, false, kav::sim::Lens::Nominal(false), fingers);
        const auto b = kav::sim::RenderLine(geometry, true, kav::sim::Lens::Nominal(true), fingers);
        frames.emplace_back(host.CreateTransfer(kav::sim::LineTransfer(0, b)),
                            host.CreateTransfer(kav::sim::LineTransfer(1, a)));
    }

    std::uint64_t frameCount = 0;
    std::uint64_t reports = 0;
    g_allocations = 0;
    for (auto _ : state) {
        const auto& frame = frames[frameCount % frames.size()];
        g_counting = true;
        host.Complete(frame.first);
        host.Complete(frame.second);
        g_counting = false;
        ++frameCount;
        if (host.PendingReads() < kPendingReads / 2) {
            state.PauseTiming();
            reports += host.TakeReports().size();
            state.ResumeTiming();
        }
    }
    reports += host.TakeReports().size();
    state.counters["reports_per_frame"] =
        benchmark::Counter(static_cast<double>(reports) / static_cast<double>(frameCount));
    state.counters["allocs_per_frame"] =
        benchmark::Counter(static_cast<double>(g_allocations.load()) / static_cast<double>(frameCount));
    state.SetLabel(scenario == kNoTouch     ? "no touch"
                   : scenario == kOneMoving ? "one moving touch"
                   : scenario == kTwoMoving ? "two moving touches"
                                            : "one moving touch, smoothness 32");
}

}  // namespace

BENCHMARK(ProcessTransferPerFrame)->Arg(kNoTouch)->Arg(kOneMoving)->Arg(kTwoMoving)->Arg(kOneMovingSmoothest);
BENCHMARK_MAIN();
