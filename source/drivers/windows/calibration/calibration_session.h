// One calibration of one touch screen: a window per region shows targets, a finger resting
// on each gives a raw point, the fit of those points is tried out on the screen and, once
// every window ended with OK, stored in the controller.
//
// While a window collects, the driver runs in its raw touch mode with the saved driver
// configuration's Mode set to 1; everything the session changed is put back before the
// window ends, whatever the way it ends.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "calibration/calibration_device.h"
#include "calibration/session_view.h"

namespace kav::calib {

// A point is taken after this many reports within kSteadyTolerance logical units of where the
// finger came down; at about 100 reports a second that is a one-second rest.
inline constexpr int kSteadyReports = 100;
inline constexpr int kSteadyTolerance = 3;

inline constexpr int kMaxPoints = 64;  // the fit takes no more
inline constexpr int kMaxRegions = 4;

inline constexpr int kFullScreenPoints = 25;  // when the driver configuration's CalibrateType is set
inline constexpr int kAffinePoints = 4;

// Region byte of the full-screen cubic form; region counts have their own (RegionByte).
inline constexpr std::uint8_t kCubicRegionByte = 0x01;

// A target on the window scale (kWindowScale of window_layout.h spans the client area).
struct TargetPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const TargetPoint&, const TargetPoint&) = default;
};

// The targets of a window: a square grid, row-major from the top left, covering 1/16 to
// 15/16 of the window. Empty for counts outside 1 ... kMaxPoints.
std::vector<TargetPoint> TargetGrid(int count);

// The number of targets per window.
int PointCount(RegionMode mode, const _NERIO_DRIVER_CONFIG& driverConfig);

// The region byte of `regionCount` affine regions: odd parity, bit 7 set as needed
// (1 region gives 0x80, 4 give 0x86); 0 outside 1 ... 64.
std::uint8_t RegionByte(int regionCount);

// What a validator is asked about a steady point.
struct PointCandidate {
    RegionMode mode = RegionMode::kFullScreen;
    int regionIndex = 0;
    int pointCount = 0;
    int targetIndex = 0;
    TargetPoint target;  // window scale
    int rawX = 0;
    int rawY = 0;
};

// Called on the listener thread; false rejects the point, and the finger has to lift and
// come down again. It must not call back into the session.
using PointValidator = std::function<bool(const PointCandidate&)>;

// What an accepted window leaves for the final result.
struct RegionResult {
    _DEVICE_CALIB_PARAS recordX{};
    _DEVICE_CALIB_PARAS recordY{};
    REGION_BOUNDS rectangle{};  // millimetres
};

// The session of one window. Its window calls the On... members on the window's thread;
// OnTouchReport runs on KavLib's listener thread; RequestClose on any thread.
class WindowSession {
public:
    struct Parameters {
        DeviceHandle device = kInvalidDevice;
        RegionMode mode = RegionMode::kFullScreen;
        int regionIndex = 0;
        int pointCount = kAffinePoints;
        PointValidator validator;
    };

    WindowSession(CalibrationDevice& device, Parameters parameters);
    WindowSession(const WindowSession&) = delete;
    WindowSession& operator=(const WindowSession&) = delete;
    ~WindowSession();

    // ---- Window thread ----

    // The window exists and has read its configuration: begin collecting, start the timer,
    // place the window.
    void OnInit(SessionView& view, const SessionTimeouts& timeouts);
    void OnTimer();
    void OnProgress(int counter);
    void OnPoint();
    void OnRightButtonDown();
    void OnOk();
    // Cancel, Escape, the close box, WM_CLOSE.
    void OnCancel();
    void OnReCalibrate();
    // The window is going: puts the device back if nothing else did.
    void OnDestroy();

    // For painting and for the window's moving and sizing.
    RegionMode Mode() const { return parameters_.mode; }
    int RegionIndex() const { return parameters_.regionIndex; }
    bool IsDone() const { return done_; }
    // Only region windows are moved and sized, and only while the first target waits.
    bool IsResizable() const;
    // The target waiting for a touch; nullopt once done.
    std::optional<TargetPoint> CurrentTarget() const;

    // ---- Any thread ----

    // As if the user pressed Cancel: WM_CLOSE to the window, now or as soon as it exists.
    void RequestClose();

    // ---- Listener thread ----
    void OnTouchReport(TouchReport report);

    // ---- After the window ended ----
    bool EndedWithOk() const { return endedOk_; }
    const RegionResult& Result() const { return result_; }

private:
    struct CalibrationPair {
        _DEVICE_CALIB_PARAS x{};
        _DEVICE_CALIB_PARAS y{};
    };
    // What the window found on the device; an item whose read failed stays empty and is
    // neither changed nor restored.
    struct SavedState {
        std::optional<CalibrationPair> records;
        std::optional<DEVICE_CONFIG> deviceConfig;
        std::optional<_NERIO_DRIVER_CONFIG> driverConfig;
        std::optional<std::uint8_t> workMode;
    };

    void BeginCollecting();
    void SaveState();
    void RestoreState();
    void StopListening();
    void Complete();
    bool ComputeResult(const WindowGeometry& geometry);
    void TryOutResult();
    void Close(bool ok);
    int TargetIndex() const;

    CalibrationDevice& device_;
    const Parameters parameters_;
    const std::vector<TargetPoint> targets_;
    SessionTimeouts timeouts_;

    // Window thread.
    bool collecting_ = false;
    bool done_ = false;
    bool resizable_ = false;
    bool closing_ = false;
    bool endedOk_ = false;
    bool listening_ = false;
    std::optional<SavedState> saved_;  // set while the device runs in calibration form
    int noResponseSeconds_ = 0;
    int confirmSeconds_ = 0;
    RegionResult result_;

    // Shared with the listener thread and with RequestClose.
    mutable std::mutex mutex_;
    SessionView* view_ = nullptr;
    bool closeRequested_ = false;
    int steadyCount_ = 0;
    int anchorX_ = 0;
    int anchorY_ = 0;
    int targetIndex_ = 0;
    std::array<int, kMaxPoints> rawX_{};
    std::array<int, kMaxPoints> rawY_{};
};

// NERIO_Calibrater_Start and NERIO_Calibrater_Stop: one session at a time per object.
class Calibrater {
public:
    Calibrater(CalibrationDevice& device, WindowHost& host) : device_(device), host_(host) {}

    // Runs the whole session on the calling thread; true when a calibration was stored. False
    // at once while another session runs, and for region modes other than 0, 1 and 4.
    bool Start(DeviceHandle device, int regionMode, PointValidator validator);

    // Any thread: ends a running session as if its window were cancelled.
    void Stop();

private:
    bool RunWindow(DeviceHandle device, RegionMode mode, int regionIndex, int pointCount,
                   const PointValidator& validator, RegionResult& result);
    bool WriteFinalResult(DeviceHandle device, RegionMode mode, int pointCount, std::span<const RegionResult> results);

    CalibrationDevice& device_;
    WindowHost& host_;
    std::atomic<bool> running_{false};
    std::mutex currentMutex_;
    WindowSession* current_ = nullptr;
};

}  // namespace kav::calib
