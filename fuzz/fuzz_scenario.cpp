// The scenario format. A text either parses or is refused with ScenarioError; one that
// parses and is short enough to run quickly also runs through the driver on the virtual
// HID stack, where it must deliver every frame it asked for.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "simulator/scenario/scenario.h"

using namespace kav;

namespace {

// Long scenarios are the parser's business; running them only costs time.
constexpr double kMaxFramesRun = 120;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    sim::Scenario scenario;
    try {
        scenario = sim::ParseScenario(text, "fuzz.scn");
    } catch (const sim::ScenarioError& error) {
        fuzz::Require(error.Line() >= 1, "a refused scenario names no line");
        return 0;
    }
    const double endMs = scenario.EndMs();
    fuzz::Require(std::isfinite(endMs) && endMs >= 0, "a scenario ends at no time");
    const double frames = std::floor(endMs * scenario.fps / 1000) + 1;
    if (frames > kMaxFramesRun) return 0;

    const sim::RunResult result = sim::RunScenario(scenario);
    if (!result.started) return 0;
    // Frame k is at k * 1000 / fps, up to and including the end.
    fuzz::Require(result.frames + 1 >= frames && result.frames <= frames + 1, "frames lost or invented");
    fuzz::Require(result.truth.size() == result.frames, "a frame without its truth");
    double last = 0;
    for (const sim::TimedReport& report : result.reports) {
        fuzz::Require(!report.bytes.empty(), "an empty report");
        fuzz::Require(report.ms >= last, "reports out of time order");
        last = report.ms;
    }
    return 0;
}
