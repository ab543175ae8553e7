// What a calibration buys, end to end: a 400 x 300 mm screen whose true lenses differ from
// what its camera records say (kLensErrors), calibrated as KavCalib does it and then
// touched on a grid through the driver. Everything runs in this process on the virtual
// HID stack and KavLib's simulated platform; the figures are counters in millimetres.
//
// Calibration: a finger rests on each target of the 4- or 25-point grid (1/16 to 15/16
// of the screen, rows from the top) while the driver is in its raw work mode (0xF4); the
// point is the raw position once 100 reports in a row stayed within 3 units of where the
// finger came down. GetCalibrateData fits them (cubic for 25 points; for 4 the affine
// triple goes to c7..c9), SetCalibPara writes the records, and the device configuration
// gets region byte 0x01 over the whole screen. The display is taken to cover the glass
// exactly, so a target's screen coordinate is its position on the glass.
//
// Test: kTestColumns x kTestRows stationary touches in digitizer mode (0xF2), each
// reported position compared with the finger. Errors are split into the interior (more
// than 3.5 mm from every edge) and the edge band. With placement noise the finger misses
// each calibration target by a Gaussian offset of 0.5 mm in each direction.
//
//   kav_calibration_accuracy_bench [--svg FILE] [--lens-error F] [benchmark flags]
//
// --svg draws the error field of the runs without placement noise, one panel per case.
// span_p95 is the 95th percentile over the touches within the targets' span.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "devicelib/include/KavLib.h"
#include "devicelib/platform/sim/sim_platform.h"
#include "shared/device_records.h"
#include "shared/hid_reports.h"
#include "shared/work_modes.h"
#include "simulator/controller/firmware.h"
#include "simulator/controller/optics.h"
#include "simulator/hidstack/hid_stack.h"

namespace {

using namespace std::chrono_literals;
using kav::sim::Finger;
using kav::sim::Lens;

constexpr double kWidthMm = 400;
constexpr double kHeightMm = 300;
constexpr double kFingerMm = 10;
constexpr double kFrameMs = 10;  // 100 frames a second
constexpr double kEdgeBandMm = 3.5;
constexpr double kPlacementNoiseMm = 0.5;
constexpr double kLogicalRange = 32768;

// How far each camera's true lens is from its record (the nominal lens): the angle of
// every pixel is off by offsetRad (0.17 and 0.11 degrees), and the angles' spread about
// 45 degrees by scale. --lens-error F multiplies both departures by F.
struct LensError {
    double offsetRad;
    double scale;
};
constexpr LensError kLensErrors[2] = {{+0.003, 1.0075}, {-0.002, 0.995}};  // camera A, camera B
double lensErrorFactor = 1;

// KavCalib takes a point after this many reports within this many units of the first.
constexpr int kSteadyReports = 100;
constexpr int kSteadyUnits = 3;
constexpr int kMaxHoldFrames = 600;

// A test touch rests this long; the first frames are left to the trajectory filter.
constexpr int kTestFrames = 25;
constexpr int kSettleFrames = 10;
// Longer than the tap stabilizer's window (300 ms), so that no touch is drawn to the last.
constexpr int kLiftFrames = 35;

struct Point {
    double x, y;  // mm
};

Lens TrueLens(bool cameraB) {
    const LensError& error = kLensErrors[cameraB ? 1 : 0];
    Lens lens = Lens::Nominal(cameraB);
    for (double& c : lens.coef) c *= 1 + (error.scale - 1) * lensErrorFactor;
    lens.coef[0] += error.offsetRad * lensErrorFactor;
    return lens;
}

std::vector<double> TestPositions(double length) {
    std::vector<double> positions = {1.0, 2.5};
    constexpr int kInterior = 31;
    for (int i = 0; i < kInterior; ++i) positions.push_back(10 + (length - 20) * i / (kInterior - 1));
    positions.push_back(length - 2.5);
    positions.push_back(length - 1.0);
    return positions;
}

bool InEdgeBand(Point p) {
    return p.x <= kEdgeBandMm || p.y <= kEdgeBandMm || p.x >= kWidthMm - kEdgeBandMm || p.y >= kHeightMm - kEdgeBandMm;
}

// Within the calibration targets' span, 1/16 to 15/16 of the screen, where the fit
// interpolates rather than extrapolates.
bool InTargetSpan(Point p) {
    return p.x >= kWidthMm / 16 && p.x <= kWidthMm * 15 / 16 && p.y >= kHeightMm / 16 && p.y <= kHeightMm * 15 / 16;
}

// One screen on the virtual HID stack, reached by KavLib through the simulated platform.
class Screen {
public:
    Screen() : geometry_{kWidthMm, kHeightMm, -20, 20, -20} {
        controller_.SetScreenProperty(kav::sim::ScreenRecord(geometry_));
        // The records describe the nominal lenses; the glass has the true ones.
        controller_.SetCameraProperties(0, kav::sim::CameraRecord(Lens::Nominal(false), false));
        controller_.SetCameraProperties(1, kav::sim::CameraRecord(Lens::Nominal(true), true));
        lens_[0] = TrueLens(false);
        lens_[1] = TrueLens(true);
        const kav::sim::HidStack::AttachResult attached = stack_.Attach(controller_);
        if (!NT_SUCCESS(attached.status)) throw std::runtime_error("the simulated screen did not start");
        const std::u16string touchPath = stack_.Interfaces().front().path;
        reader_ = stack_.Open(touchPath);
        kav::platform::SetPlatform(&platform_);
        device_ = platform_.OpenHid(touchPath, true);
        if (!kav::platform::IsValidHandle(device_)) throw std::runtime_error("KavLib cannot open the screen");
    }
    ~Screen() {
        platform_.Close(device_);
        kav::platform::SetPlatform(nullptr);
        platform_.Attach(nullptr);
    }
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    KAVLIB_HANDLE Device() const { return device_; }

    // One camera frame with these fingers; the touch reports it produced.
    std::vector<kav::TOUCH_REPORT> Frame(const std::vector<Finger>& fingers) {
        const auto a = kav::sim::RenderLine(geometry_, false, lens_[0], fingers);
        const auto b = kav::sim::RenderLine(geometry_, true, lens_[1], fingers);
        controller_.QueueTransfer(kav::sim::LineTransfer(0, b));
        controller_.QueueTransfer(kav::sim::LineTransfer(1, a));
        clock_.AdvanceMs(static_cast<LONGLONG>(kFrameMs));
        stack_.Pump();
        std::vector<kav::TOUCH_REPORT> reports;
        for (kav::sim::ReadResult r = stack_.Read(reader_, 0ms); r.status == kav::sim::ReadStatus::Report;
             r = stack_.Read(reader_, 0ms)) {
            if (r.report.size() != sizeof(kav::TOUCH_REPORT) || r.report[0] != kav::kTouchReportId) continue;
            kav::TOUCH_REPORT report;
            std::memcpy(&report, r.report.data(), sizeof report);
            reports.push_back(report);
        }
        return reports;
    }

    void Lift() {
        for (int i = 0; i < kLiftFrames; ++i) Frame({});
    }

private:
    // Declared before the stack, which outlives neither its controller nor its clock.
    kmdf::VirtualClock clock_{1'000'000};
    kav::sim::Controller controller_;
    kav::sim::HidStack stack_{kav::sim::HostEnvironment{&clock_, nullptr}};
    kav::platform::sim::SimPlatform platform_{&stack_};
    kav::sim::Geometry geometry_;
    Lens lens_[2];
    kav::sim::HidHandle reader_ = 0;
    kav::platform::Handle device_ = kav::platform::kInvalidHandle;
};

// ---- calibration, as KavCalib does it ----

// Target k of an s x s grid on the 0..32768 scale, row-major from the top left.
std::vector<std::array<int, 2>> Targets(int count) {
    const int side = static_cast<int>(std::sqrt(count - 1)) + 1;
    const int step = 28672 / (side - 1);
    std::vector<std::array<int, 2>> targets;
    for (int r = 0; r < side; ++r)
        for (int c = 0; c < side; ++c) targets.push_back({2048 + c * step, 2048 + r * step});
    return targets;
}

// The raw position KavCalib would take for a finger resting here; nullopt when it never
// steadies.
std::optional<std::array<int, 2>> SteadyRawPoint(Screen& screen, Point finger) {
    int counter = 0;
    int anchorX = 0, anchorY = 0;
    std::optional<std::array<int, 2>> taken;
    for (int frame = 0; frame < kMaxHoldFrames && !taken; ++frame) {
        for (const kav::TOUCH_REPORT& report : screen.Frame({{finger.x, finger.y, kFingerMm}})) {
            const kav::TOUCH_CONTACT& contact = report.Contact[0];
            if (contact.Status != kav::kContactTouching) continue;
            const int x = static_cast<std::int16_t>(contact.X);
            const int y = static_cast<std::int16_t>(contact.Y);
            if (counter == 0) {
                anchorX = x;
                anchorY = y;
            }
            counter = std::abs(x - anchorX) > kSteadyUnits || std::abs(y - anchorY) > kSteadyUnits ? 0 : counter + 1;
            if (counter == kSteadyReports) {
                taken = std::array<int, 2>{x, y};
                break;
            }
        }
    }
    screen.Lift();
    return taken;
}

bool Calibrate(Screen& screen, int points, std::optional<kav::sim::Noise> placement) {
    if (!Nerio_SetWorkMode(screen.Device(), kav::kWorkModeCalibrate)) return false;
    std::vector<int> targetX, targetY, rawX, rawY;
    for (const auto& target : Targets(points)) {
        Point finger{target[0] / kLogicalRange * kWidthMm, target[1] / kLogicalRange * kHeightMm};
        if (placement) {
            finger.x += placement->Gaussian() * kPlacementNoiseMm;
            finger.y += placement->Gaussian() * kPlacementNoiseMm;
        }
        const auto raw = SteadyRawPoint(screen, finger);
        if (!raw) return false;
        targetX.push_back(target[0]);
        targetY.push_back(target[1]);
        rawX.push_back((*raw)[0]);
        rawY.push_back((*raw)[1]);
    }
    const bool cubic = points == 25;
    _DEVICE_CALIB_PARAS fitX{}, fitY{};
    GetCalibrateData(targetX.data(), targetY.data(), rawX.data(), rawY.data(), points, fitX, fitY, cubic ? 1 : 0);
    _DEVICE_CALIB_PARAS recordX{}, recordY{};
    if (cubic) {
        recordX = fitX;
        recordY = fitY;
    } else {
        // The cubic form's c7, c8, c9 are the affine triple's y, x and constant terms.
        std::copy(fitX.Coef, fitX.Coef + 3, recordX.Coef + 7);
        std::copy(fitY.Coef, fitY.Coef + 3, recordY.Coef + 7);
    }
    if (!SetCalibPara(screen.Device(), recordX, recordY)) return false;

    kav::DEVICE_CONFIG config{};
    if (!GetDeviceConfig(screen.Device(), reinterpret_cast<unsigned char*>(&config))) return false;
    config.RegionByte = 0x01;  // the cubic form over region 0
    config.Region0 = {0, 0, static_cast<std::uint16_t>(kWidthMm), static_cast<std::uint16_t>(kHeightMm)};
    KAVLIB_RECORD block;
    std::memcpy(block.Data, &config, sizeof block.Data);
    return SetDeviceConfig(screen.Device(), block) == 1;
}

// ---- test touches ----

struct TouchError {
    Point truth;
    std::optional<Point> reported;  // the mean of its settled reports
    double Millimetres() const { return reported ? std::hypot(reported->x - truth.x, reported->y - truth.y) : 0; }
};

std::vector<TouchError> TouchGrid(Screen& screen) {
    Nerio_SetWorkMode(screen.Device(), kav::kWorkModeDigitizer);
    std::vector<TouchError> errors;
    for (const double y : TestPositions(kHeightMm)) {
        for (const double x : TestPositions(kWidthMm)) {
            double sumX = 0, sumY = 0;
            int count = 0;
            for (int frame = 0; frame < kTestFrames; ++frame) {
                for (const kav::TOUCH_REPORT& report : screen.Frame({{x, y, kFingerMm}})) {
                    if (frame < kSettleFrames || report.Contact[0].Status != kav::kContactTouching) continue;
                    sumX += report.Contact[0].X * kWidthMm / kLogicalRange;
                    sumY += report.Contact[0].Y * kHeightMm / kLogicalRange;
                    ++count;
                }
            }
            screen.Lift();
            TouchError e{{x, y}, std::nullopt};
            if (count > 0) e.reported = Point{sumX / count, sumY / count};
            errors.push_back(e);
        }
    }
    return errors;
}

struct Figures {
    double mean = 0, p95 = 0, max = 0;
};

Figures Summarise(std::vector<double> errors) {
    Figures f;
    if (errors.empty()) return f;
    std::sort(errors.begin(), errors.end());
    for (const double e : errors) f.mean += e / static_cast<double>(errors.size());
    // Nearest rank.
    const auto rank = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(errors.size())));
    f.p95 = errors[std::max<std::size_t>(rank, 1) - 1];
    f.max = errors.back();
    return f;
}

// The runs without placement noise, kept for the picture.
std::map<int, std::vector<TouchError>>& Pictured() {
    static std::map<int, std::vector<TouchError>> runs;
    return runs;
}

void BM_CalibratedAccuracy(benchmark::State& state) {
    const int points = static_cast<int>(state.range(0));
    const bool noisy = state.range(1) != 0;
    std::vector<TouchError> errors;
    bool calibrated = true;
    for (auto _ : state) {
        Screen screen;
        if (points > 0) {
            calibrated = Calibrate(screen, points, noisy ? std::optional(kav::sim::Noise(7)) : std::nullopt);
        }
        errors = TouchGrid(screen);
    }
    if (!calibrated) {
        state.SkipWithError("the calibration did not complete");
        return;
    }
    std::vector<double> interior, edge, span;
    std::size_t unreported = 0;
    for (const TouchError& e : errors) {
        if (!e.reported) {
            ++unreported;
            continue;
        }
        (InEdgeBand(e.truth) ? edge : interior).push_back(e.Millimetres());
        if (InTargetSpan(e.truth)) span.push_back(e.Millimetres());
    }
    const Figures in = Summarise(interior), out = Summarise(edge);
    state.counters["span_p95"] = Summarise(span).p95;
    state.counters["in_mean"] = in.mean;
    state.counters["in_p95"] = in.p95;
    state.counters["in_max"] = in.max;
    state.counters["edge_mean"] = out.mean;
    state.counters["edge_p95"] = out.p95;
    state.counters["edge_max"] = out.max;
    state.counters["touches"] = static_cast<double>(errors.size());
    state.counters["unreported"] = static_cast<double>(unreported);
    if (!noisy) Pictured()[points] = errors;
}
BENCHMARK(BM_CalibratedAccuracy)
    ->ArgsProduct({{0, 4, 25}, {0, 1}})
    ->ArgNames({"points", "noise"})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// ---- the picture ----

std::string Format(const char* format, double a, double b, double c, double d) {
    char text[320];
    std::snprintf(text, sizeof text, format, a, b, c, d);
    return text;
}

// Colour classes of an error: under 1 mm, under 2 mm, beyond.
constexpr const char* kColours[] = {"#2e8b57", "#e69500", "#d62728"};

int ColourOf(double mm) {
    return mm < 1 ? 0 : mm < 2 ? 1 : 2;
}

// One panel per case: the screen, its edge band, and each touch's error drawn ten times
// its length from the finger to where it was reported. One path per colour keeps the
// file small.
std::string RenderSvg() {
    constexpr double kMagnify = 10;
    constexpr double kMargin = 20;
    constexpr double kTitle = 24;
    const auto& runs = Pictured();
    const double width = kMargin + static_cast<double>(runs.size()) * (kWidthMm + kMargin);
    const double height = kTitle + kHeightMm + 3 * kMargin;
    std::string svg = Format(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
        "font-family=\"sans-serif\" font-size=\"11\">\n<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n",
        width * 2, height * 2, width, height);
    double left = kMargin;
    for (const auto& [points, errors] : runs) {
        const double top = kTitle + kMargin;
        const std::string title = points == 0 ? "no calibration" : std::to_string(points) + " points";
        svg += Format("<text x=\"%.1f\" y=\"%.1f\">", left, kTitle, 0, 0) + title + "</text>\n";
        svg += Format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" stroke=\"black\"/>\n",
                      left, top, kWidthMm, kHeightMm);
        svg += Format(
            "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" stroke=\"#999\" "
            "stroke-dasharray=\"2 2\"/>\n",
            left + kEdgeBandMm, top + kEdgeBandMm, kWidthMm - 2 * kEdgeBandMm, kHeightMm - 2 * kEdgeBandMm);
        std::string arrows[3], dots[3], missing;
        for (const TouchError& e : errors) {
            const double x = left + e.truth.x, y = top + e.truth.y;
            if (!e.reported) {
                missing += Format("M%.1f %.1fh0", x, y, 0, 0);
                continue;
            }
            const int colour = ColourOf(e.Millimetres());
            arrows[colour] += Format("M%.1f %.1fl%.1f %.1f", x, y, (e.reported->x - e.truth.x) * kMagnify,
                                     (e.reported->y - e.truth.y) * kMagnify);
            dots[colour] += Format("M%.1f %.1fh0", x, y, 0, 0);
        }
        for (int c = 0; c < 3; ++c) {
            if (arrows[c].empty()) continue;
            svg += std::string("<path fill=\"none\" stroke-width=\"0.5\" stroke=\"") + kColours[c] + "\" d=\"" +
                   arrows[c] + "\"/>\n";
            svg += std::string("<path stroke-width=\"1.6\" stroke-linecap=\"round\" stroke=\"") + kColours[c] +
                   "\" d=\"" + dots[c] + "\"/>\n";
        }
        if (!missing.empty())
            svg += "<path stroke-width=\"2.4\" stroke-linecap=\"round\" stroke=\"black\" d=\"" + missing + "\"/>\n";
        left += kWidthMm + kMargin;
    }
    svg += Format("<text x=\"%.1f\" y=\"%.1f\">", kMargin, height - kMargin / 2, 0, 0) +
           "Each touch's error drawn ten times its length from the finger: green under 1 mm, orange under 2 mm, red "
           "beyond; a black dot was not reported. Dashed: the 3.5 mm edge band.</text>\n";
    return svg + "</svg>\n";
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> svgFile;
    std::vector<char*> passed;
    for (int i = 0; i < argc; ++i) {
        if (std::string(argv[i]) == "--svg" && i + 1 < argc) {
            svgFile = argv[++i];
            continue;
        }
        if (std::string(argv[i]) == "--lens-error" && i + 1 < argc) {
            char* end = nullptr;
            lensErrorFactor = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != 0 || !(lensErrorFactor >= 0)) {
                std::fprintf(stderr, "kav_calibration_accuracy_bench: --lens-error wants a number >= 0, not %s\n",
                             argv[i]);
                return 2;
            }
            continue;
        }
        passed.push_back(argv[i]);
    }
    int count = static_cast<int>(passed.size());
    benchmark::Initialize(&count, passed.data());
    if (benchmark::ReportUnrecognizedArguments(count, passed.data())) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (svgFile) {
        std::ofstream out(*svgFile, std::ios::binary | std::ios::trunc);
        out << RenderSvg();
        if (!out) {
            std::fprintf(stderr, "kav_calibration_accuracy_bench: cannot write %s\n", svgFile->c_str());
            return 1;
        }
    }
    return 0;
}
