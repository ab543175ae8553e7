#include "kavsim_app.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <variant>

#include "report_text.h"
#include "shared/hid_reports.h"
#include "simulator/registry/registry_store.h"
#include "simulator/text/utf8.h"

namespace kav::tools {
namespace {

constexpr double kLogicalRange = 32768.0;
constexpr double kBriefIntervalMs = 100;

std::string Format(const char* format, auto... args) {
    char buffer[256];
    std::snprintf(buffer, sizeof(buffer), format, args...);
    return buffer;
}

// One position the operating system was told about.
struct Reported {
    double ms;
    double x, y;  // mm
    int contact;  // 0, 1 for touch contacts; 2 left, 3 right mouse button
};

std::vector<Reported> ReportedPositions(const sim::Scenario& s, const sim::RunResult& run) {
    std::vector<Reported> points;
    for (const sim::TimedReport& r : run.reports) {
        if (r.bytes.size() >= sizeof(TOUCH_REPORT) && r.bytes[0] == kTouchReportId) {
            TOUCH_REPORT t;
            std::memcpy(&t, r.bytes.data(), sizeof t);
            for (int i = 0; i < 2; ++i) {
                const TOUCH_CONTACT c = t.Contact[i];
                if (c.Status != kContactTouching) continue;
                points.push_back({r.ms, c.X * s.width / kLogicalRange, c.Y * s.height / kLogicalRange, i});
            }
        } else if (MOUSE_REPORT m; DecodeMouseReport(r.bytes.data(), r.bytes.size(), &m)) {
            if (m.Buttons == kMouseButtonNone) continue;
            points.push_back({r.ms, m.X * s.width / kLogicalRange, m.Y * s.height / kLogicalRange,
                              m.Buttons == kMouseButtonRight ? 3 : 2});
        }
    }
    return points;
}

const char* StatusName(std::uint8_t status) {
    return status == kContactTouching ? "touching" : status == kContactLifted ? "lifted" : "none";
}

// The columns of one report line after the time; empty optional for contacts not in use.
std::vector<std::string> DescribeLines(const sim::Scenario& s, const std::vector<std::uint8_t>& bytes) {
    std::vector<std::string> lines;
    auto position = [&](unsigned x, unsigned y) {
        return Format("%5u %5u  %6.1f %6.1f", x, y, x * s.width / kLogicalRange, y * s.height / kLogicalRange);
    };
    if (bytes.size() >= sizeof(TOUCH_REPORT) && bytes[0] == kTouchReportId) {
        TOUCH_REPORT t;
        std::memcpy(&t, bytes.data(), sizeof t);
        for (const TOUCH_CONTACT& contact : t.Contact) {
            const TOUCH_CONTACT c = contact;
            if (c.Status == kContactNone) continue;
            lines.push_back(Format("touch     %-9s %2u  ", StatusName(c.Status), c.ContactId) + position(c.X, c.Y));
        }
        if (lines.empty()) lines.push_back("touch     no contacts");
        return lines;
    }
    if (MOUSE_REPORT m; DecodeMouseReport(bytes.data(), bytes.size(), &m)) {
        const char* b = m.Buttons == 0 ? "up" : m.Buttons == 1 ? "left" : m.Buttons == 2 ? "right" : "both";
        lines.push_back(Format("mouse     %-9s  -  ", b) + position(m.X, m.Y));
        return lines;
    }
    lines.push_back(DescribeReport(bytes));
    return lines;
}

void PrintReports(const sim::Scenario& s, const sim::RunResult& run, bool brief, std::ostream& out) {
    out << " time ms  report    status    id      x     y    x mm   y mm\n";
    std::string lastKey;
    double lastMs = -std::numeric_limits<double>::infinity();
    std::size_t skipped = 0;
    for (const sim::TimedReport& r : run.reports) {
        const std::vector<std::string> lines = DescribeLines(s, r.bytes);
        if (brief) {
            // What the report says without its coordinates: a change of it is always shown.
            std::string key;
            for (const std::string& l : lines) key += l.substr(0, 22) + "|";
            const bool positional = !r.bytes.empty() && (r.bytes[0] == kTouchReportId || r.bytes[0] == kMouseReportId);
            if (positional && key == lastKey && r.ms - lastMs < kBriefIntervalMs) {
                ++skipped;
                continue;
            }
            lastKey = key;
            lastMs = r.ms;
        }
        for (const std::string& l : lines) out << Format("%8.1f  ", r.ms) << l << "\n";
    }
    if (brief && skipped > 0) out << "(" << skipped << " reports like their neighbours not shown)\n";
}

std::string Colour(int contact) {
    static const char* colours[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728"};
    return colours[contact];
}

void Usage(std::ostream& out) {
    out << "usage: kavsim [--svg FILE] [--registry FILE] [--brief] SCENARIO\n"
           "       kavsim serve [--port N] [--fps N] [--screens N] [--registry FILE] [SCENARIO]\n"
           "       kavsim send [--address HOST:PORT] LINE\n"
           "Runs a scenario on a simulated touch screen: KavUSB starts on the simulated\n"
           "controller under the virtual HID stack, on a virtual clock, and the reports the\n"
           "operating system receives are printed decoded, then the report rate and the\n"
           "error of the reported positions against the true fingers.\n"
           "  --svg FILE       draw the true paths and the reported points\n"
           "  --registry FILE  driver parameters from a registry text file (the scenario's\n"
           "                   'set' lines apply on top)\n"
           "  --brief          leave out reports that only move a contact, within 100 ms\n"
           "  --help           this text\n"
           "The scenario format is described in source/simulator/scenario/scenario.h.\n"
           "serve runs simulated screens as a service on 127.0.0.1 for KavLib's clients\n"
           "(KAVLIB_PLATFORM=sim); send touches them with lines of the same language\n"
           "('kavsim serve --help', 'kavsim send --help').\n";
}

}  // namespace

Accuracy MeasureAccuracy(const sim::Scenario& s, const sim::RunResult& run) {
    Accuracy a;
    double sum = 0;
    for (const Reported& p : ReportedPositions(s, run)) {
        std::optional<double> best;
        for (const sim::TruthFrame& f : run.truth) {
            if (f.ms > p.ms || f.ms < p.ms - kMatchWindowMs) continue;
            for (const sim::Finger& finger : f.fingers) {
                const double d = std::hypot(finger.x - p.x, finger.y - p.y);
                if (!best || d < *best) best = d;
            }
        }
        if (!best) {
            ++a.unmatched;
            continue;
        }
        ++a.compared;
        sum += *best;
        a.maxMm = std::max(a.maxMm, *best);
    }
    if (a.compared > 0) a.meanMm = sum / static_cast<double>(a.compared);
    return a;
}

std::string RenderSvg(const sim::Scenario& s, const sim::RunResult& run) {
    constexpr double kMargin = 30;
    const double w = s.width + 2 * kMargin;
    const double h = s.height + 2 * kMargin + 20;
    std::string svg = Format(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"%.1f %.1f %.1f %.1f\">\n",
        w * 2, h * 2, -kMargin, -kMargin, w, h);
    svg += Format(
        "<rect x=\"0\" y=\"0\" width=\"%.1f\" height=\"%.1f\" fill=\"#f8f8f8\" stroke=\"#333\" "
        "stroke-width=\"0.6\"/>\n",
        s.width, s.height);
    svg += Format(
        "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" fill=\"#333\"/><circle cx=\"%.1f\" cy=\"%.1f\" r=\"3\" "
        "fill=\"#333\"/>\n",
        s.cameraAX, s.baselineY, s.width + s.cameraBX, s.baselineY);
    for (const sim::Gesture& g : s.gestures) {
        for (const sim::Stroke& stroke : g.strokes) {
            // Blank-separated with none at the end: librsvg and ImageMagick refuse a trailing one.
            std::string points;
            for (int i = 0; i <= 64; ++i) {
                const sim::Finger f = stroke.At(i / 64.0);
                points += Format(i == 0 ? "%.2f,%.2f" : " %.2f,%.2f", f.x, f.y);
            }
            svg += "<polyline points=\"" + points +
                   Format("\" fill=\"none\" stroke=\"#bbb\" stroke-width=\"%.1f\" stroke-linecap=\"round\"/>\n",
                          stroke.diameter);
        }
    }
    for (const Reported& p : ReportedPositions(s, run))
        svg += Format("<circle cx=\"%.2f\" cy=\"%.2f\" r=\"%.1f\" fill=\"", p.x, p.y, p.contact == 3 ? 3.0 : 1.0) +
               Colour(p.contact) + "\"/>\n";
    svg += Format(
        "<text x=\"0\" y=\"%.1f\" font-size=\"8\" font-family=\"sans-serif\">grey: fingers; "
        "<tspan fill=\"%s\">contact 1</tspan>, <tspan fill=\"%s\">contact 2</tspan>, "
        "<tspan fill=\"%s\">mouse left</tspan>, <tspan fill=\"%s\">mouse right</tspan></text>\n",
        s.height + 14, Colour(0).c_str(), Colour(1).c_str(), Colour(2).c_str(), Colour(3).c_str());
    return svg + "</svg>\n";
}

namespace {

struct KavsimOptions {
    std::optional<std::string> svgFile, registryFile, scenarioFile;
    bool brief = false;
};

// The options, or the exit code when there is nothing to run (help, or bad usage).
std::variant<KavsimOptions, int> ParseOptions(const std::vector<std::string>& args, std::ostream& out,
                                              std::ostream& err) {
    KavsimOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            Usage(out);
            return 0;
        }
        if (a == "--brief") {
            o.brief = true;
        } else if (a == "--svg" || a == "--registry") {
            if (i + 1 >= args.size()) {
                err << "kavsim: " << a << " needs a file name\n";
                return 2;
            }
            (a == "--svg" ? o.svgFile : o.registryFile) = args[++i];
        } else if (a.size() > 1 && a[0] == '-') {
            err << "kavsim: unknown option '" << a << "'\n";
            Usage(err);
            return 2;
        } else if (o.scenarioFile) {
            err << "kavsim: one scenario at a time ('" << *o.scenarioFile << "' and '" << a << "')\n";
            return 2;
        } else {
            o.scenarioFile = a;
        }
    }
    if (!o.scenarioFile) {
        err << "kavsim: no scenario file given\n";
        Usage(err);
        return 2;
    }
    return o;
}

void PrintEventLog(const sim::RunResult& run, std::ostream& out) {
    if (run.eventLog.empty()) return;
    out << "\nevent log:\n";
    for (const std::u16string& entry : run.eventLog) out << "  " << sim::ToUtf8(entry) << "\n";
}

void PrintSummary(const sim::Scenario& scenario, const sim::RunResult& run, std::ostream& out) {
    const Accuracy a = MeasureAccuracy(scenario, run);
    const double seconds = run.endMs / 1000.0;
    out << Format("\nsummary: %zu frames in %.2f s at %.0f fps; %zu reports, %.1f per second\n", run.frames, seconds,
                  scenario.fps, run.reports.size(),
                  seconds > 0 ? static_cast<double>(run.reports.size()) / seconds : 0.0);
    if (a.compared > 0)
        out << Format("error against the true fingers: mean %.2f mm, largest %.2f mm over %zu positions\n", a.meanMm,
                      a.maxMm, a.compared);
    else
        out << "error against the true fingers: no positions reported\n";
    if (a.unmatched > 0) out << Format("positions reported with no finger on the glass: %zu\n", a.unmatched);
}

bool WriteSvg(const std::string& file, const sim::Scenario& scenario, const sim::RunResult& run, std::ostream& out,
              std::ostream& err) {
    std::ofstream svg(file, std::ios::binary | std::ios::trunc);
    svg << RenderSvg(scenario, run);
    svg.close();
    if (!svg) {
        err << "kavsim: cannot write '" << file << "'\n";
        return false;
    }
    out << "picture: " << file << "\n";
    return true;
}

}  // namespace

int RunKavsim(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (!args.empty() && (args[0] == "serve" || args[0] == "send")) {
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        return args[0] == "serve" ? RunServe(rest, out, err) : RunSend(rest, out, err);
    }
    const auto parsed = ParseOptions(args, out, err);
    if (const int* exitCode = std::get_if<int>(&parsed)) return *exitCode;
    const KavsimOptions& options = std::get<KavsimOptions>(parsed);

    // The scenario and the registry file, both before anything runs.
    sim::Scenario scenario;
    sim::RegistryStore registry;
    try {
        scenario = sim::LoadScenario(*options.scenarioFile);
        if (options.registryFile) registry.LoadFile(*options.registryFile);
    } catch (const std::exception& e) {
        err << "kavsim: " << e.what() << "\n";
        return 1;
    }

    const sim::RunResult run = sim::RunScenario(scenario, options.registryFile ? &registry : nullptr);
    if (!run.started) {
        err << Format("kavsim: the touch screen did not start (status 0x%08X)\n", run.startStatus);
        PrintEventLog(run, out);
        return 1;
    }
    PrintReports(scenario, run, options.brief, out);
    PrintEventLog(run, out);
    PrintSummary(scenario, run, out);
    if (options.svgFile && !WriteSvg(*options.svgFile, scenario, run, out, err)) return 1;
    return 0;
}

}  // namespace kav::tools
