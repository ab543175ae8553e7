#include "scenario.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>
#include <system_error>

#include "kavusb/kmdf/usermode/kmdf_sim.h"
#include "shared/device_packet.h"
#include "shared/driver_parameters.h"
#include "shared/driver_request.h"
#include "shared/hid_reports.h"
#include "shared/work_modes.h"
#include "simulator/controller/firmware.h"
#include "simulator/hidstack/event_viewer.h"
#include "simulator/hidstack/hid_stack.h"
#include "simulator/registry/registry_store.h"

namespace kav::sim {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kDefaultDiameter = 10;
constexpr double kTailMs = 300;
constexpr double kDefaultLagMs = 30;
// Virtual time costs real time frame by frame: a day is already hours of rendering.
constexpr double kMaxScenarioMs = 24.0 * 60 * 60 * 1000;
constexpr std::size_t kMaxScenarioBytes = 1 << 20;

struct VerbShape {
    const char* verb;
    std::size_t arguments;
    double defaultMs;
};
constexpr std::array<VerbShape, 8> kVerbs = {{{"tap", 2, 60},
                                              {"hold", 2, 1500},
                                              {"drag", 4, 500},
                                              {"arc", 5, 800},
                                              {"pinch", 4, 800},
                                              {"rotate", 5, 800},
                                              {"cross", 8, 800},
                                              {"button", 1, 100}}};

// The parameter names are ASCII.
std::string Narrow(std::u16string_view name) {
    return std::string(name.begin(), name.end());
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class LineParser {
public:
    LineParser(const std::string& source, std::size_t line, std::vector<std::string> words)
        : source_(source), line_(line), words_(std::move(words)) {}

    [[noreturn]] void Fail(const std::string& reason) const { throw ScenarioError(source_, line_, reason); }

    const std::vector<std::string>& Words() const { return words_; }

    double Number(std::size_t i, const char* what) const {
        if (i >= words_.size()) Fail(std::string("missing ") + what);
        return ToNumber(words_[i], what);
    }
    double ToNumber(const std::string& text, const char* what) const {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value))
            Fail(std::string(what) + " is not a number: '" + text + "'");
        return value;
    }
    std::uint64_t Unsigned(std::size_t i, const char* what, std::uint64_t max) const {
        const double value = Number(i, what);
        if (value < 0 || value > static_cast<double>(max) || value != std::floor(value))
            Fail(std::string(what) + " must be a whole number from 0 to " + std::to_string(max) + ": '" + words_[i] +
                 "'");
        return static_cast<std::uint64_t>(value);
    }
    int Camera(std::size_t i) const {
        if (i >= words_.size()) Fail("missing camera (A or B)");
        const std::string c = Lower(words_[i]);
        if (c == "a") return 0;
        if (c == "b") return 1;
        Fail("camera must be A or B: '" + words_[i] + "'");
    }
    void Count(std::size_t n) const {
        if (words_.size() != n)
            Fail("'" + words_[0] + "' takes " + std::to_string(n - 1) + " value" + (n == 2 ? "" : "s") + ", got " +
                 std::to_string(words_.size() - 1));
    }
    Lens ReadLens(std::size_t first) const {
        if (words_.size() < first + 2 || words_.size() > first + 8) Fail("a lens takes 2 to 8 coefficients c0 c1 ...");
        Lens lens;
        for (std::size_t i = first; i < words_.size(); ++i) lens.coef[i - first] = Number(i, "coefficient");
        return lens;
    }

private:
    const std::string& source_;
    std::size_t line_;
    std::vector<std::string> words_;
};

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string word;
    while (in >> word) words.push_back(word);
    return words;
}

Stroke PointStroke(double x, double y, double d) {
    Stroke s;
    s.x0 = x;
    s.y0 = y;
    s.diameter = d;
    return s;
}

Stroke LineStroke(double x0, double y0, double x1, double y1, double d) {
    Stroke s = PointStroke(x0, y0, d);
    s.shape = Stroke::Shape::Line;
    s.x1 = x1;
    s.y1 = y1;
    return s;
}

Stroke ArcStroke(double cx, double cy, double r, double a0Deg, double a1Deg, double d) {
    Stroke s;
    s.shape = Stroke::Shape::Arc;
    s.cx = cx;
    s.cy = cy;
    s.r = r;
    s.a0 = a0Deg * kPi / 180;
    s.a1 = a1Deg * kPi / 180;
    s.diameter = d;
    return s;
}

std::uint8_t ParseWorkMode(const LineParser& p, const std::string& word) {
    const std::string m = Lower(word);
    if (m == "mouse") return kWorkModeMouse;
    if (m == "digitizer") return kWorkModeDigitizer;
    char* end = nullptr;
    const unsigned long value = std::strtoul(m.c_str(), &end, 16);
    if (m.empty() || *end != '\0' || value > 0xFF || !IsValidWorkMode(static_cast<std::uint8_t>(value)))
        p.Fail("work mode must be F1..F5, mouse or digitizer: '" + word + "'");
    return static_cast<std::uint8_t>(value);
}

bool TwoFingers(const std::string& verb) {
    return verb == "pinch" || verb == "rotate" || verb == "cross";
}

// A gesture's numbers and key=value options.
struct GestureArguments {
    std::vector<double> numbers;
    double diameter = kDefaultDiameter;
    double angle = 0;  // radians
    double lag = 0;
};

GestureArguments ParseArguments(const LineParser& p, const VerbShape& shape, Gesture& g) {
    const auto& w = p.Words();
    GestureArguments a;
    g.durationMs = shape.defaultMs;
    const bool twoFingers = TwoFingers(g.verb);
    a.lag = twoFingers ? kDefaultLagMs : 0;
    for (std::size_t i = 2; i < w.size(); ++i) {
        const auto eq = w[i].find('=');
        if (eq == std::string::npos) {
            a.numbers.push_back(p.Number(i, "argument"));
            continue;
        }
        const std::string key = Lower(w[i].substr(0, eq));
        const double value = p.ToNumber(w[i].substr(eq + 1), key.c_str());
        if (key == "ms") {
            if (value <= 0) p.Fail("ms= must be positive");
            g.durationMs = value;
        } else if (key == "d") {
            if (value <= 0 || value > 100) p.Fail("d= must lie in (0, 100] mm");
            a.diameter = value;
        } else if (key == "lag" && twoFingers) {
            if (value < 0) p.Fail("lag= must not be negative");
            a.lag = value;
        } else if (key == "angle" && g.verb == "pinch") {
            a.angle = value * kPi / 180;
        } else {
            p.Fail("unknown option '" + key + "=' for " + g.verb);
        }
    }
    if (a.numbers.size() != shape.arguments)
        p.Fail(g.verb + " takes " + std::to_string(shape.arguments) + " numbers, got " +
               std::to_string(a.numbers.size()));
    return a;
}

// The fingers' paths of a gesture, or its button line.
void AddStrokes(const LineParser& p, const Scenario& scenario, const GestureArguments& args, Gesture& g) {
    const std::vector<double>& a = args.numbers;
    const double diameter = args.diameter;
    const std::string& v = g.verb;
    if (v == "tap" || v == "hold") {
        g.strokes.push_back(PointStroke(a[0], a[1], diameter));
    } else if (v == "drag") {
        g.strokes.push_back(LineStroke(a[0], a[1], a[2], a[3], diameter));
    } else if (v == "arc") {
        if (a[2] <= 0) p.Fail("arc radius must be positive");
        g.strokes.push_back(ArcStroke(a[0], a[1], a[2], a[3], a[4], diameter));
    } else if (v == "pinch") {
        if (a[2] < 0 || a[3] < 0) p.Fail("pinch distances must not be negative");
        const double ux = std::cos(args.angle) / 2, uy = std::sin(args.angle) / 2;
        g.strokes.push_back(
            LineStroke(a[0] - a[2] * ux, a[1] - a[2] * uy, a[0] - a[3] * ux, a[1] - a[3] * uy, diameter));
        g.strokes.push_back(
            LineStroke(a[0] + a[2] * ux, a[1] + a[2] * uy, a[0] + a[3] * ux, a[1] + a[3] * uy, diameter));
    } else if (v == "rotate") {
        if (a[2] <= 0) p.Fail("rotate radius must be positive");
        g.strokes.push_back(ArcStroke(a[0], a[1], a[2], a[3], a[4], diameter));
        g.strokes.push_back(ArcStroke(a[0], a[1], a[2], a[3] + 180, a[4] + 180, diameter));
    } else if (v == "cross") {
        g.strokes.push_back(LineStroke(a[0], a[1], a[2], a[3], diameter));
        g.strokes.push_back(LineStroke(a[4], a[5], a[6], a[7], diameter));
    } else {  // button
        if (scenario.imageDevice) p.Fail("the image device has no button lines");
        const double line = a[0];
        if (line < 0 || line > 7 || line != std::floor(line)) p.Fail("button line must be 0 to 7");
        g.buttonLine = static_cast<int>(line);
    }
    if (TwoFingers(v)) {
        if (args.lag >= g.durationMs) p.Fail("lag= must be shorter than the gesture");
        g.strokes[1].delayMs = args.lag;
    }
}

Gesture ParseGesture(const LineParser& p, const Scenario& scenario, std::size_t line) {
    const auto& w = p.Words();
    Gesture g;
    g.line = line;
    g.startMs = p.Number(0, "start time");
    if (g.startMs < 0) p.Fail("start time must not be negative");
    if (g.startMs > kMaxScenarioMs) p.Fail("start time beyond 24 hours (86400000 ms)");
    if (w.size() < 2) p.Fail("missing gesture after the time");
    g.verb = Lower(w[1]);
    if (g.verb == "workmode") {
        if (w.size() != 3) p.Fail("workmode takes one mode (F1..F5, mouse or digitizer)");
        g.workMode = ParseWorkMode(p, w[2]);
        g.durationMs = 0;
        return g;
    }
    const auto shape = std::find_if(kVerbs.begin(), kVerbs.end(), [&](const VerbShape& v) { return g.verb == v.verb; });
    if (shape == kVerbs.end())
        p.Fail("unknown gesture '" + w[1] + "' (tap, hold, drag, arc, pinch, rotate, cross, button, workmode)");
    const GestureArguments args = ParseArguments(p, *shape, g);
    if (g.startMs + g.durationMs > kMaxScenarioMs) p.Fail(g.verb + " ends beyond 24 hours (86400000 ms)");
    AddStrokes(p, scenario, args, g);
    return g;
}

void ParseSetting(const LineParser& p, Scenario& s) {
    const auto& w = p.Words();
    const std::string key = Lower(w[0]);
    if (key == "device") {
        p.Count(2);
        const std::string d = Lower(w[1]);
        if (d != "packet" && d != "image") p.Fail("device must be packet or image: '" + w[1] + "'");
        s.imageDevice = d == "image";
    } else if (key == "screen") {
        p.Count(3);
        s.width = p.Number(1, "width");
        s.height = p.Number(2, "height");
        if (s.width < 50 || s.width > 5000 || s.height < 50 || s.height > 5000)
            p.Fail("screen size must lie in 50..5000 mm");
    } else if (key == "cameras") {
        p.Count(4);
        s.cameraAX = p.Number(1, "X0");
        s.baselineY = p.Number(2, "Y0");
        s.cameraBX = p.Number(3, "X1");
        if (s.baselineY >= 0) p.Fail("the cameras must sit above the screen (Y0 < 0)");
        if (s.width + s.cameraBX - s.cameraAX <= 0) p.Fail("camera B must lie to the right of camera A");
    } else if (key == "lens") {
        const int camera = p.Camera(1);
        s.lens[camera] = p.ReadLens(2);
    } else if (key == "record-lens") {
        const int camera = p.Camera(1);
        s.recordLens[camera] = p.ReadLens(2);
    } else if (key == "records") {
        p.Count(2);
        const std::string r = Lower(w[1]);
        if (r != "none" && r != "match") p.Fail("records must be none or match: '" + w[1] + "'");
        s.recordsMatch = r == "match";
    } else if (key == "fps") {
        p.Count(2);
        s.fps = p.Number(1, "fps");
        if (s.fps < 1 || s.fps > 1000) p.Fail("fps must lie in 1..1000");
    } else if (key == "seed") {
        p.Count(2);
        s.seed = p.Unsigned(1, "seed", 1ull << 53);
    } else if (key == "noise") {
        p.Count(2);
        s.edgeNoisePx = p.Number(1, "noise");
        if (s.edgeNoisePx < 0 || s.edgeNoisePx > 20) p.Fail("noise must lie in 0..20 pixels");
    } else if (key == "dead") {
        p.Count(3);
        const int camera = p.Camera(1);
        s.deadPixel[camera] = static_cast<std::size_t>(p.Unsigned(2, "pixel", kCameraPixels - 1));
    } else if (key == "ambient") {
        p.Count(2);
        s.ambient = p.Number(1, "ambient");
        if (s.ambient < 0 || s.ambient > 1) p.Fail("ambient must lie in 0..1");
    } else if (key == "workmode") {
        p.Count(2);
        s.workMode = ParseWorkMode(p, w[1]);
    } else if (key == "set") {
        p.Count(3);
        // Only the values DriverEntry reads; anything else would be silently ignored.
        const auto row = std::find_if(std::begin(kDriverParameters), std::end(kDriverParameters),
                                      [&](const DriverParameter& r) { return Lower(Narrow(r.name)) == Lower(w[1]); });
        if (row == std::end(kDriverParameters)) p.Fail("unknown driver parameter '" + w[1] + "'");
        s.parameters.emplace_back(Narrow(row->name), static_cast<std::uint32_t>(p.Unsigned(2, "value", 0xFFFFFFFFull)));
    } else if (key == "unanswered") {
        p.Count(3);
        s.unanswered.emplace_back(static_cast<std::uint8_t>(p.Unsigned(1, "command", 0xFF)),
                                  static_cast<std::uint8_t>(p.Unsigned(2, "sub-code", 0xFF)));
    } else if (key == "end") {
        p.Count(2);
        s.endMs = p.Number(1, "end time");
        if (*s.endMs < 0 || *s.endMs > 3600000) p.Fail("end time must lie in 0..3600000 ms");
    } else {
        p.Fail("unknown statement '" + w[0] + "'");
    }
}

}  // namespace

ScenarioError::ScenarioError(std::string file, std::size_t line, std::string reason)
    : std::runtime_error(file + ":" + std::to_string(line) + ": " + reason),
      file_(std::move(file)),
      line_(line),
      reason_(std::move(reason)) {}

Finger Stroke::At(double f) const {
    f = std::clamp(f, 0.0, 1.0);
    switch (shape) {
        case Shape::Point:
            return {x0, y0, diameter};
        case Shape::Line:
            return {x0 + (x1 - x0) * f, y0 + (y1 - y0) * f, diameter};
        case Shape::Arc: {
            const double a = a0 + (a1 - a0) * f;
            return {cx + r * std::cos(a), cy + r * std::sin(a), diameter};
        }
    }
    return {x0, y0, diameter};
}

double Scenario::EndMs() const {
    if (endMs) return *endMs;
    double last = 0;
    for (const Gesture& g : gestures) last = std::max(last, g.startMs + g.durationMs);
    return last + kTailMs;
}

Scenario ParseScenario(const std::string& text, const std::string& sourceName) {
    if (text.size() > kMaxScenarioBytes) throw ScenarioError(sourceName, 0, "larger than 1 MiB");
    Scenario scenario;
    std::istringstream in(text);
    std::string raw;
    std::size_t line = 0;
    while (std::getline(in, raw)) {
        ++line;
        const auto hash = raw.find('#');
        if (hash != std::string::npos) raw.erase(hash);
        std::vector<std::string> words = Split(raw);
        if (words.empty()) continue;
        const LineParser p(sourceName, line, std::move(words));
        const char first = p.Words()[0][0];
        const bool timed = (first >= '0' && first <= '9') || first == '.' || first == '-' || first == '+';
        if (timed) {
            scenario.gestures.push_back(ParseGesture(p, scenario, line));
        } else {
            if (!scenario.gestures.empty()) p.Fail("settings come before the first timed line");
            ParseSetting(p, scenario);
        }
    }
    return scenario;
}

Scenario LoadScenario(const std::string& file) {
    // Refused before it is read into memory.
    std::error_code error;
    if (const std::uintmax_t size = std::filesystem::file_size(file, error); !error && size > kMaxScenarioBytes)
        throw ScenarioError(file, 0, "larger than 1 MiB");
    std::ifstream in(file, std::ios::binary);
    if (!in) throw ScenarioError(file, 0, "cannot open the file");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw ScenarioError(file, 0, "cannot read the file");
    return ParseScenario(text.str(), file);
}

DeviceRecords RecordsOf(const Scenario& s) {
    DeviceRecords records;
    records.screen = ScreenRecord(s.ScreenGeometry());
    for (int c = 0; c < 2; ++c) {
        const bool cameraB = c == 1;
        if (s.recordLens[c])
            records.camera[c] = CameraRecord(*s.recordLens[c], cameraB);
        else if (s.recordsMatch)
            records.camera[c] = CameraRecord(s.lens[c], cameraB);
    }
    records.productId = s.imageDevice ? kImageProductId : kProductPacket;
    return records;
}

void QueueFrame(Controller& controller, const Scenario& s, const std::vector<Finger>& fingers, Noise& noise) {
    Imperfections imperfections[2];
    for (int c = 0; c < 2; ++c) {
        imperfections[c].edgeNoisePx = s.edgeNoisePx;
        imperfections[c].deadPixel = s.deadPixel[c];
        imperfections[c].ambient = s.ambient;
    }
    const Geometry geometry = s.ScreenGeometry();
    if (s.imageDevice) {
        controller.QueueTransfer(ImageTransfer(geometry, s.lens[0], s.lens[1], fingers, imperfections[0],
                                               imperfections[1], ImageLighting{}, noise));
        return;
    }
    const auto a = RenderLine(geometry, false, s.lens[0], fingers, imperfections[0], noise);
    const auto b = RenderLine(geometry, true, s.lens[1], fingers, imperfections[1], noise);
    controller.QueueTransfer(LineTransfer(0, b));
    controller.QueueTransfer(LineTransfer(1, a));
}

void SetUpController(Controller& controller, const Scenario& s, const DeviceRecords& records) {
    controller.SetScreenProperty(records.screen);
    for (std::uint8_t c = 0; c < 2; ++c) {
        controller.SetCameraProperties(c, records.camera[c]);
        controller.SetCalibParams(c, records.calibration[c]);
    }
    controller.SetDeviceConfig(records.deviceConfig);
    controller.SetToolbarParams(records.toolbar);
    for (const auto& [command, subCode] : s.unanswered)
        controller.AddReplyFault({ReplyFault::Unanswered, command, subCode, kEveryTime});
}

namespace {

// The scenario's registry: the caller's store copied, with the "set" lines on top.
void FillRegistry(const Scenario& s, const RegistryStore* registry, RegistryStore& store) {
    if (registry != nullptr) store.FromText(registry->ToText());
    // The service key the framework gives a driver created without a registry path.
    kmdf::ResetFramework();
    const std::u16string key = kmdf::DriverParametersKeyPath() + u"\\DriverParameters";
    for (const auto& [name, value] : s.parameters) store.PutDword(key, std::u16string(name.begin(), name.end()), value);
}

// Button edges in time order: a press clears its line's bit, a release sets it.
struct ButtonEdge {
    double ms;
    int line;
    bool press;
};

std::vector<ButtonEdge> ButtonEdges(const Scenario& s) {
    std::vector<ButtonEdge> edges;
    for (const Gesture& g : s.gestures) {
        if (g.buttonLine < 0) continue;
        edges.push_back({g.startMs, g.buttonLine, true});
        edges.push_back({g.startMs + g.durationMs, g.buttonLine, false});
    }
    std::stable_sort(edges.begin(), edges.end(), [](const ButtonEdge& a, const ButtonEdge& b) { return a.ms < b.ms; });
    return edges;
}

std::vector<const Gesture*> ModeChanges(const Scenario& s) {
    std::vector<const Gesture*> changes;
    for (const Gesture& g : s.gestures)
        if (g.workMode) changes.push_back(&g);
    std::stable_sort(changes.begin(), changes.end(),
                     [](const Gesture* a, const Gesture* b) { return a->startMs < b->startMs; });
    return changes;
}

// Where every finger of the scenario is at time t.
TruthFrame TruthAt(const Scenario& s, double t) {
    TruthFrame truth;
    truth.ms = t;
    for (std::size_t gi = 0; gi < s.gestures.size(); ++gi) {
        const Gesture& g = s.gestures[gi];
        if (g.strokes.empty() || t < g.startMs || t >= g.startMs + g.durationMs) continue;
        for (std::size_t si = 0; si < g.strokes.size(); ++si) {
            if (t < g.startMs + g.strokes[si].delayMs) continue;
            // Two fingers move once both are down.
            const double still = g.strokes.size() > 1 ? g.strokes[1].delayMs : 0;
            truth.fingers.push_back(g.strokes[si].At((t - g.startMs - still) / (g.durationMs - still)));
            truth.stroke.push_back(static_cast<int>(gi * 2 + si));
        }
    }
    return truth;
}

// One run: the controller on the virtual HID stack, fed frame by frame on the virtual clock.
class ScenarioRun {
public:
    // The store must outlive the run.
    ScenarioRun(const Scenario& s, RegistryStore& store)
        : s_(s),
          store_(store),
          records_(RecordsOf(s)),
          controller_(records_.productId),
          stack_(HostEnvironment{&clock_, &store_}),
          noise_(s.seed) {}

    RunResult Run() {
        if (!Start()) {
            TakeEventLog();
            return std::move(result_);
        }
        const std::vector<ButtonEdge> edges = ButtonEdges(s_);
        const std::vector<const Gesture*> modeChanges = ModeChanges(s_);
        std::size_t nextEdge = 0;
        std::size_t nextMode = 0;
        result_.endMs = s_.EndMs();
        const double period = 1000.0 / s_.fps;
        for (std::size_t k = 0;; ++k) {
            const double t = static_cast<double>(k) * period;
            if (t > result_.endMs) break;
            while (nextEdge < edges.size() && edges[nextEdge].ms <= t) PressButton(edges[nextEdge++]);
            AdvanceTo(t);
            while (nextMode < modeChanges.size() && modeChanges[nextMode]->startMs <= t)
                SetWorkMode(*modeChanges[nextMode++]->workMode);
            TruthFrame truth = TruthAt(s_, t);
            QueueFrame(controller_, s_, truth.fingers, noise_);
            Deliver(t);
            result_.truth.push_back(std::move(truth));
            ++result_.frames;
        }
        TakeEventLog();
        return std::move(result_);
    }

private:
    // The controller stores the records; the driver reads them at its start, on the
    // virtual clock, and the scenario's time begins once the screen is up.
    bool Start() {
        SetUpController(controller_, s_, records_);
        stack_.TraceReports(true);
        const HidStack::AttachResult attached = stack_.Attach(controller_);
        result_.startStatus = static_cast<std::uint32_t>(attached.status);
        result_.started = NT_SUCCESS(attached.status);
        if (!result_.started) return false;
        origin_ = clock_.Now();
        for (const HidInterfaceInfo& i : stack_.Interfaces())
            if (i.device == attached.device && i.collection == 0) control_ = stack_.Open(i.path);
        SetWorkMode(s_.workMode);
        return true;
    }

    // As KavLib sets it: the driver request report through the touch collection.
    void SetWorkMode(std::uint8_t mode) {
        std::array<std::uint8_t, kFeatureReportSize> report{kDriverRequestFeatureId, kDriverRequestWorkMode, mode};
        if (!stack_.SetFeature(control_, report)) throw std::runtime_error("the work mode could not be set");
    }

    void PressButton(const ButtonEdge& edge) {
        AdvanceTo(edge.ms);
        pressed_[edge.line] += edge.press ? 1 : -1;
        std::uint8_t down = 0;
        for (int i = 0; i < 8; ++i)
            if (pressed_[i] > 0) down = static_cast<std::uint8_t>(down | (1u << i));
        controller_.SetButtons(down);
        Deliver(edge.ms);
    }

    void AdvanceTo(double ms) {
        const LONGLONG target = origin_ + static_cast<LONGLONG>(std::llround(ms * 10000));
        if (target > clock_.Now()) clock_.Delay(target - clock_.Now());
    }

    void Deliver(double ms) {
        stack_.Pump();
        for (TracedReport& traced : stack_.TakeTrace()) result_.reports.push_back({ms, std::move(traced.report)});
    }

    void TakeEventLog() {
        for (const kmdf::ErrorLogEntry& entry : kmdf::TakeErrorLog())
            result_.eventLog.push_back(EventViewerText(entry));
    }

    const Scenario& s_;
    RegistryStore& store_;
    kmdf::VirtualClock clock_;
    DeviceRecords records_;
    Controller controller_;
    HidStack stack_;
    Noise noise_;
    int pressed_[8] = {};
    LONGLONG origin_ = 0;
    HidHandle control_ = 0;
    RunResult result_;
};

}  // namespace

RunResult RunScenario(const Scenario& s, const RegistryStore* registry) {
    RegistryStore store;
    FillRegistry(s, registry, store);
    return ScenarioRun(s, store).Run();
}

}  // namespace kav::sim
