// kavsim: a scenario through the real driver on the virtual HID stack, the reports the operating system would
// receive, decoded, and how far they lie from the true fingers. The tool's main is a
// thin wrapper around RunKavsim so that tests can run it in-process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "simulator/scenario/scenario.h"

namespace kav::tools {

struct Accuracy {
    std::size_t compared = 0;   // reported positions with a true finger nearby in time
    std::size_t unmatched = 0;  // reported positions with no finger on the glass
    double meanMm = 0;
    double maxMm = 0;
};

// A reported position is compared with the nearest position any finger held in the
// previous kMatchWindowMs: the pipeline reports a few frames behind the glass.
constexpr double kMatchWindowMs = 50;
Accuracy MeasureAccuracy(const sim::Scenario& scenario, const sim::RunResult& run);

// Draws the screen, the true paths and the reported points.
std::string RenderSvg(const sim::Scenario& scenario, const sim::RunResult& run);

// args without the program name. Returns the exit code: 0, 1 for a scenario or file
// that fails, 2 for bad usage.
// "serve" and "send" as the first argument run the service and its control client.
int RunKavsim(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// kavsim serve: runs until a quit line, SIGINT or SIGTERM; 0 then, 1 when the screens or
// the listener do not start, 2 for bad usage.
int RunServe(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// kavsim send: one line (the arguments' words) to the service, printing its answer; 0 when
// it was taken, 1 when refused or when no service answers, 2 for bad usage.
int RunSend(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kav::tools
