// A recording calibration window, a fake touch screen and a window host for the session.
#pragma once

#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "calibration/calibration_session.h"
#include "devicelib/calibration_fit.h"

namespace kav::calib::test {

inline const DeviceHandle kScreen = reinterpret_cast<DeviceHandle>(std::uintptr_t{0x42});

// The primary screen of the fakes: 1280 x 800 pixels, 400 x 250 mm.
constexpr int kScreenWidthPx = 1280;
constexpr int kScreenHeightPx = 800;
constexpr std::uint32_t kScreenWidthMm = 400;
constexpr std::uint32_t kScreenHeightMm = 250;

// Logs the window-thread calls as short strings; the posted messages wait in a queue until
// the test delivers them, as the window's message loop would.
class RecordingView : public SessionView {
public:
    enum class Message { kProgress, kPoint, kClose };
    struct Posted {
        Message message;
        int counter;
    };

    std::vector<std::string> log;
    WindowGeometry geometry{0, 0, kScreenWidthPx, kScreenHeightPx, kScreenWidthPx, kScreenHeightPx};
    bool ended = false;
    bool endedOk = false;
    bool cursorShown = true;
    bool buttonsShown = true;
    bool timerRunning = false;

    void PostProgress(int counter) override { Post({Message::kProgress, counter}); }
    void PostPoint() override { Post({Message::kPoint, 0}); }
    void PostClose() override { Post({Message::kClose, 0}); }

    void PlaceWindow(RegionMode mode, int regionIndex) override {
        log.push_back("Place " + std::to_string(static_cast<int>(mode)) + " " + std::to_string(regionIndex));
        const int halfWidth = kScreenWidthPx / 2;
        const int halfHeight = kScreenHeightPx / 2;
        if (mode == RegionMode::kQuadrants) {
            geometry.left = (regionIndex % 2) * halfWidth;
            geometry.top = (regionIndex / 2) * halfHeight;
            geometry.width = halfWidth;
            geometry.height = halfHeight;
        } else if (mode == RegionMode::kOneRegion) {
            geometry = {465, 250, 350, 300, kScreenWidthPx, kScreenHeightPx};
        }
    }
    void StartTimer() override {
        timerRunning = true;
        log.push_back("StartTimer");
    }
    void StopTimer() override {
        timerRunning = false;
        log.push_back("StopTimer");
    }
    void ShowCursor(bool shown) override {
        cursorShown = shown;
        log.push_back(shown ? "Cursor shown" : "Cursor hidden");
    }
    void ShowButtons(bool shown) override {
        buttonsShown = shown;
        log.push_back(shown ? "Buttons shown" : "Buttons hidden");
    }
    void ShowStatus(StatusText text, int counter) override {
        static const char* const kNames[] = {"Calibrating", "Calibrated", "ReceiveBegin", "Receiving", "ReceiveEnd"};
        status = kNames[static_cast<int>(text)];
        if (text == StatusText::kReceiving) status += " " + std::to_string(counter);
        // Sampling progress is too chatty for the log; the last one is kept in `status`.
        if (text == StatusText::kCalibrating || text == StatusText::kCalibrated) log.push_back("Status " + status);
    }
    void ShowCountdown(int secondsLeft) override { log.push_back("Countdown " + std::to_string(secondsLeft)); }
    WindowGeometry Geometry() override { return geometry; }
    void Repaint() override {}
    void EndWindow(bool ok) override {
        ended = true;
        endedOk = ok;
        log.push_back(ok ? "End OK" : "End Cancel");
    }

    std::string status;

    // Delivers what was posted, in order, as the window procedure would; also what the
    // deliveries post in turn.
    void Pump(WindowSession& session) {
        for (;;) {
            Posted posted;
            {
                std::lock_guard lock(mutex_);
                if (queue_.empty()) return;
                posted = queue_.front();
                queue_.pop_front();
            }
            if (ended) continue;  // the window is gone; its queue with it
            switch (posted.message) {
                case Message::kProgress:
                    session.OnProgress(posted.counter);
                    break;
                case Message::kPoint:
                    session.OnPoint();
                    break;
                case Message::kClose:
                    session.OnCancel();
                    break;
            }
        }
    }

    int PendingPoints() {
        std::lock_guard lock(mutex_);
        int points = 0;
        for (const Posted& posted : queue_) points += posted.message == Message::kPoint;
        return points;
    }

private:
    void Post(Posted posted) {
        std::lock_guard lock(mutex_);
        queue_.push_back(posted);
    }

    std::mutex mutex_;
    std::deque<Posted> queue_;
};

// A touch screen that keeps what is written to it and fits with KavLib's own fit.
class FakeDevice : public CalibrationDevice {
public:
    FakeDevice() {
        for (int k = 0; k < 10; ++k) {
            recordX.Coef[k] = 0.5f + static_cast<float>(k);
            recordY.Coef[k] = -0.25f - static_cast<float>(k);
        }
        std::memset(&deviceConfig, 0, sizeof deviceConfig);
        deviceConfig.Reserved1[0] = 2;  // the touch screen number, which no calibration may touch
        deviceConfig.Reserved1[1] = 1;
        deviceConfig.Region0 = {0, 0, 400, 250};
        deviceConfig.RegionByte = 0x01;
        deviceConfig.Reserved2[5] = 0x5A;
        driverConfig.Mode = 2;
        driverConfig.EnableTouch = 1;
        driverConfig.CalibrateType = 0;
        driverConfig.BeepFrequency = 2000;
        screen.Width = kScreenWidthMm;
        screen.Height = kScreenHeightMm;
    }

    // The device's state.
    _DEVICE_CALIB_PARAS recordX{};
    _DEVICE_CALIB_PARAS recordY{};
    DEVICE_CONFIG deviceConfig{};
    _NERIO_DRIVER_CONFIG driverConfig{};
    std::uint8_t workMode = 0xF2;
    SCREEN_PROPERTY screen{};

    // Calls that fail, by name ("GetScreenProperty", "SetCalibPara", ...).
    std::vector<std::string> failing;
    // Every call but the fit, in order.
    std::vector<std::string> calls;

    std::mutex callbackMutex;
    TouchReportCallback callback;

    bool GetCalibPara(DeviceHandle, _DEVICE_CALIB_PARAS& x, _DEVICE_CALIB_PARAS& y) override {
        if (!Call("GetCalibPara")) return false;
        x = recordX;
        y = recordY;
        return true;
    }
    bool SetCalibPara(DeviceHandle, const _DEVICE_CALIB_PARAS& x, const _DEVICE_CALIB_PARAS& y) override {
        if (!Call("SetCalibPara")) return false;
        recordX = x;
        recordY = y;
        return true;
    }
    bool GetDeviceConfig(DeviceHandle, DEVICE_CONFIG& record) override {
        if (!Call("GetDeviceConfig")) return false;
        record = deviceConfig;
        return true;
    }
    bool SetDeviceConfig(DeviceHandle, const DEVICE_CONFIG& record) override {
        if (!Call("SetDeviceConfig")) return false;
        deviceConfig = record;
        return true;
    }
    bool GetScreenProperty(DeviceHandle, SCREEN_PROPERTY& record) override {
        if (!Call("GetScreenProperty")) return false;
        record = screen;
        return true;
    }
    bool GetDriverConfig(DeviceHandle, _NERIO_DRIVER_CONFIG& config) override {
        if (!Call("GetDriverConfig")) return false;
        config = driverConfig;
        return true;
    }
    bool SetDriverConfig(DeviceHandle, const _NERIO_DRIVER_CONFIG& config) override {
        if (!Call("SetDriverConfig")) return false;
        driverConfig = config;
        return true;
    }
    bool GetWorkMode(DeviceHandle, std::uint8_t& mode) override {
        if (!Call("GetWorkMode")) return false;
        mode = workMode;
        return true;
    }
    bool SetWorkMode(DeviceHandle, std::uint8_t mode) override {
        if (!Call("SetWorkMode")) return false;
        workMode = mode;
        return true;
    }
    bool RegisterTouchDataCallback(DeviceHandle device, TouchReportCallback touched) override {
        if (!Call("Register")) return false;
        std::lock_guard lock(callbackMutex);
        if (callback || !IsUsableDevice(device)) return false;
        callback = std::move(touched);
        return true;
    }
    bool UnRegisterTouchDataCallback() override {
        if (!Call("UnRegister")) return false;
        // Waits for a report in delivery, as KavLib does.
        std::lock_guard lock(callbackMutex);
        const bool registered = static_cast<bool>(callback);
        callback = nullptr;
        return registered;
    }
    void GetCalibrateData(const FitInput& points, bool cubic, _DEVICE_CALIB_PARAS& x, _DEVICE_CALIB_PARAS& y) override {
        fitCount = static_cast<int>(points.rawX.size());
        fitCubic = cubic;
        fitTargetX.assign(points.targetX.begin(), points.targetX.end());
        fitTargetY.assign(points.targetY.begin(), points.targetY.end());
        fitRawX.assign(points.rawX.begin(), points.rawX.end());
        fitRawY.assign(points.rawY.begin(), points.rawY.end());
        const auto records =
            devicelib::ComputeCalibration({points.targetX, points.targetY, points.rawX, points.rawY}, cubic);
        x = records.x;
        y = records.y;
    }

    int fitCount = 0;
    bool fitCubic = false;
    std::vector<int> fitTargetX, fitTargetY, fitRawX, fitRawY;

    bool Listening() {
        std::lock_guard lock(callbackMutex);
        return static_cast<bool>(callback);
    }

    // One touch report through the registered callback, as the listener thread delivers it.
    void Report(int x, int y, std::uint8_t state = kContactTouching) {
        TOUCH_REPORT report{};
        report.ReportId = kTouchReportId;
        report.Contact[0].Status = state;
        report.Contact[0].X = static_cast<std::uint16_t>(x);
        report.Contact[0].Y = static_cast<std::uint16_t>(y);
        report.ContactCount = 1;
        std::uint8_t bytes[sizeof report];
        std::memcpy(bytes, &report, sizeof report);
        std::lock_guard lock(callbackMutex);
        if (callback) callback(TouchReport(bytes, sizeof bytes));
    }

    void Lift() { Report(0, 0, kContactLifted); }

    int Count(const std::string& name) const {
        int count = 0;
        for (const std::string& call : calls) count += call == name;
        return count;
    }

private:
    bool Call(const std::string& name) {
        calls.push_back(name);
        for (const std::string& fail : failing) {
            if (fail == name) return false;
        }
        return true;
    }
};

// The raw position a touch on screen pixel (x, y) reports on this fake screen: the logical
// scale with a skew and an offset, so that the fit has something to correct.
inline int RawX(int pixelX, int pixelY) {
    return pixelX * 32768 / kScreenWidthPx * 9 / 10 + pixelY + 1000;
}
inline int RawY(int pixelX, int pixelY) {
    return pixelY * 32768 / kScreenHeightPx * 8 / 10 - pixelX / 4 + 3000;
}

// Drives one window like a user: touches, buttons, the timer.
class WindowDriver {
public:
    WindowDriver(WindowSession& session, RecordingView& view, FakeDevice& device)
        : session_(session), view_(view), device_(device) {}

    WindowSession& session() { return session_; }
    RecordingView& view() { return view_; }

    void Pump() { view_.Pump(session_); }

    // `reports` steady reports at one raw position, then the messages they posted.
    void Rest(int rawX, int rawY, int reports) {
        for (int k = 0; k < reports; ++k) device_.Report(rawX, rawY);
        Pump();
    }
    void Lift() {
        device_.Lift();
        Pump();
    }

    // Rests a finger on the waiting target long enough for it to be taken, then lifts.
    void TouchCurrentTarget() {
        const auto target = session_.CurrentTarget();
        ASSERT_TRUE(target.has_value());
        const WindowGeometry g = view_.geometry;
        const int pixelX = g.left + target->x * g.width / 32768;
        const int pixelY = g.top + target->y * g.height / 32768;
        Rest(RawX(pixelX, pixelY), RawY(pixelX, pixelY), kSteadyReports + 1);
        Lift();
    }
    void TouchAllTargets() {
        while (!session_.IsDone() && !view_.ended) TouchCurrentTarget();
    }
    void Ticks(int seconds) {
        for (int k = 0; k < seconds && !view_.ended; ++k) {
            session_.OnTimer();
            Pump();
        }
    }

private:
    WindowSession& session_;
    RecordingView& view_;
    FakeDevice& device_;
};

// Runs each window with a script of the test's, on the calling thread.
class ScriptedHost : public WindowHost {
public:
    using Script = std::function<void(WindowDriver&)>;

    ScriptedHost(FakeDevice& device, Script script) : device_(device), script_(std::move(script)) {}

    SessionTimeouts timeouts;
    std::vector<std::vector<std::string>> windowLogs;
    bool creatable = true;

    bool RunWindow(WindowSession& session) override {
        if (!creatable) return false;
        RecordingView view;
        session.OnInit(view, timeouts);
        WindowDriver driver(session, view, device_);
        driver.Pump();
        script_(driver);
        driver.Pump();
        // A script that leaves the window open: the user closes it.
        if (!view.ended) session.OnCancel();
        session.OnDestroy();
        windowLogs.push_back(view.log);
        return true;
    }

private:
    FakeDevice& device_;
    Script script_;
};

}  // namespace kav::calib::test
