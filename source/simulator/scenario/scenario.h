// Scenarios: fingers and buttons over time on a simulated screen, run through the real
// driver on a virtual clock.
//
// Text format, one statement a line; '#' starts a comment; blank lines are ignored.
// Lengths in millimetres (x to the right, y down from the top edge), times in
// milliseconds, angles in degrees.
//
// Settings, before the first timed line:
//   device packet | image       camera lines (product 0x0A31) or grey samples (0x0A41)
//   screen W H                  screen size (default 400 300)
//   cameras X0 Y0 X1            camera A at (X0, Y0), camera B at (W + X1, Y0) (default -20 -20 20)
//   lens A|B c0 c1 ... c7       the camera's true lens (default the nominal one)
//   records none | match        camera records: invalid (the driver assumes the nominal lens)
//                               or describing the true lenses (default none)
//   record-lens A|B c0 ... c7   a camera record that differs from the true lens
//   fps N                       frame rate (default 100)
//   seed N                      noise seed (default 1)
//   noise SIGMA                 edge noise, pixels (default 0)
//   dead A|B PIXEL              a pixel that always reads dark
//   ambient FRACTION            ambient light, fraction of the lit background (default 0)
//   workmode F1..F5 | mouse | digitizer   (default F2, as once the system has read feature 0x03)
//   set NAME VALUE              a driver parameter (registry DWORD under DriverParameters)
//   unanswered COMMAND SUBCODE  a query the controller never answers (0x14 1: the Y calibration)
//   end T                       stop time (default 300 ms after the last gesture ends)
//
// Timed lines: "T verb arguments [key=value ...]", T the start time. Keys: ms= duration,
// d= finger diameter (default 10); for two fingers lag= (default 30), how long after the
// first the second lands, both moving only from then on: two cameras cannot tell two fingers landing in the same frame
// from their ghosts, and people never quite do that.
//   T tap X Y                      ms=60
//   T hold X Y                     ms=1500
//   T drag X1 Y1 X2 Y2             ms=500
//   T arc CX CY R A0 A1            ms=800   along a circle from angle A0 to A1 (0 = +x, 90 = +y)
//   T pinch CX CY D0 D1            ms=800   two fingers D0 apart to D1 apart; angle= (default 0)
//   T rotate CX CY R A0 A1         ms=800   two fingers opposite on a circle, turning
//   T cross X1 Y1 X2 Y2 X3 Y3 X4 Y4  ms=800 one finger X1 Y1 to X2 Y2, another X3 Y3 to X4 Y4
//   T button LINE                  ms=100   hardware button line 0..7 (packet device only)
//   T workmode MODE                         the work mode from then on, as the workmode setting
//
// Every gesture ends within 24 hours (86400000 ms) of virtual time; a text larger than
// 1 MiB is refused as a whole.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "simulator/controller/optics.h"

namespace kav::sim {

class ScenarioError : public std::runtime_error {
public:
    ScenarioError(std::string file, std::size_t line, std::string reason);
    const std::string& File() const { return file_; }
    std::size_t Line() const { return line_; }
    const std::string& Reason() const { return reason_; }

private:
    std::string file_;
    std::size_t line_;
    std::string reason_;
};

// One finger's path over a gesture: the position at a fraction 0..1 of its duration.
struct Stroke {
    enum class Shape { Point, Line, Arc } shape = Shape::Point;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;         // Point: (x0, y0); Line: from, to
    double cx = 0, cy = 0, r = 0, a0 = 0, a1 = 0;  // Arc, radians
    double diameter = 10;
    double delayMs = 0;  // lands this long after the gesture starts
    Finger At(double fraction) const;
};

struct Gesture {
    std::string verb;
    double startMs = 0;
    double durationMs = 0;
    std::vector<Stroke> strokes;  // none for a button
    int buttonLine = -1;
    std::optional<std::uint8_t> workMode;  // a work mode change
    std::size_t line = 0;                  // where it was written
};

struct Scenario {
    bool imageDevice = false;
    double width = 400, height = 300;
    double cameraAX = -20, baselineY = -20, cameraBX = 20;
    Lens lens[2] = {Lens::Nominal(false), Lens::Nominal(true)};
    bool recordsMatch = false;
    std::optional<Lens> recordLens[2];
    double fps = 100;
    std::uint64_t seed = 1;
    double edgeNoisePx = 0;
    std::optional<std::size_t> deadPixel[2];
    double ambient = 0;
    std::uint8_t workMode = 0xF2;
    std::vector<std::pair<std::string, std::uint32_t>> parameters;  // in the order given
    std::vector<std::pair<std::uint8_t, std::uint8_t>> unanswered;  // (command, sub-code)
    std::optional<double> endMs;
    std::vector<Gesture> gestures;

    double EndMs() const;
    Geometry ScreenGeometry() const { return {width, height, cameraAX, cameraBX, baselineY}; }
};

// Raises ScenarioError naming the source, the line and the fault.
Scenario ParseScenario(const std::string& text, const std::string& sourceName = "<scenario>");
Scenario LoadScenario(const std::string& file);

struct TimedReport {
    double ms;
    std::vector<std::uint8_t> bytes;
};

// Where the fingers truly were at one frame.
struct TruthFrame {
    double ms;
    std::vector<Finger> fingers;
    std::vector<int> stroke;  // for each finger: gesture index * 2 + stroke index
};

struct RunResult {
    // A screen that did not start runs no frame.
    bool started = false;
    std::uint32_t startStatus = 0;  // NTSTATUS of the device start
    // The driver's event log entries as the event viewer shows them, oldest first.
    std::vector<std::u16string> eventLog;
    std::vector<TimedReport> reports;
    std::vector<TruthFrame> truth;
    std::size_t frames = 0;
    double endMs = 0;
};

class RegistryStore;
class Controller;
struct DeviceRecords;

// The records the scenario's screen stores: its geometry, and the camera records that
// "records" and "record-lens" ask for.
DeviceRecords RecordsOf(const Scenario& scenario);
// Stores the records in a controller made for their product and leaves the scenario's
// unanswered queries unanswered, as every simulated screen of the scenario starts.
void SetUpController(Controller& controller, const Scenario& scenario, const DeviceRecords& records);
// Queues the frame the scenario's cameras see with `fingers` on the screen: camera B's line
// and then camera A's, or the image device's grey samples.
void QueueFrame(Controller& controller, const Scenario& scenario, const std::vector<Finger>& fingers, Noise& noise);

// Runs the scenario through a fresh driver. The registry store, when given, supplies the
// driver parameters beneath the scenario's "set" lines (it is copied, not changed).
RunResult RunScenario(const Scenario& scenario, const RegistryStore* registry = nullptr);

}  // namespace kav::sim
