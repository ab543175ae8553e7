#include "calibration/calibration_session.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "calibration/window_layout.h"
#include "shared/work_modes.h"

namespace kav::calib {

namespace {

// Targets sit from 1/16 to 15/16 of the window scale.
constexpr int kGridMargin = 2048;
constexpr int kGridSpan = 28672;

// The driver configuration's Mode while a window collects.
constexpr std::uint8_t kCalibrationDriverMode = 1;

// Record bytes 0-11 hold one affine triple; the cubic form keeps it in c7, c8, c9 (bytes
// 28-39), the region form has triple r at bytes 12r, the last reaching past the ten
// coefficients into the record's tail.
constexpr std::size_t kTripleBytes = 12;
constexpr std::size_t kCubicAffineOffset = 28;

// The triple at bytes 0-11 of `from` placed at byte `offset` of `to`.
void PlaceTriple(const _DEVICE_CALIB_PARAS& from, std::size_t offset, _DEVICE_CALIB_PARAS& to) {
    static_assert(sizeof(_DEVICE_CALIB_PARAS) >= 4 * kTripleBytes);
    std::memcpy(reinterpret_cast<unsigned char*>(&to) + offset, &from, kTripleBytes);
}

int ReadInt16(TouchReport report, std::size_t offset) {
    return static_cast<std::int16_t>(report[offset] | (report[offset + 1] << 8));
}

// Millimetres of a pixel coordinate: the screen's length in mm times the pixel over the
// screen's pixels, truncated; kept inside what the record's u16 can carry.
std::uint16_t PixelToMillimetres(int pixel, std::uint32_t lengthMm, int screenPixels) {
    const std::int64_t mm = static_cast<std::int64_t>(lengthMm) * pixel / screenPixels;
    return static_cast<std::uint16_t>(std::clamp<std::int64_t>(mm, 0, 0xFFFF));
}

}  // namespace

std::vector<TargetPoint> TargetGrid(int count) {
    if (count < 1 || count > kMaxPoints) return {};
    const int side = static_cast<int>(std::sqrt(static_cast<double>(count - 1))) + 1;
    const int step = side > 1 ? kGridSpan / (side - 1) : 0;
    std::vector<TargetPoint> targets;
    for (int k = 0; k < count; ++k) {
        targets.push_back({kGridMargin + (k % side) * step, kGridMargin + (k / side) * step});
    }
    return targets;
}

int PointCount(RegionMode mode, const _NERIO_DRIVER_CONFIG& driverConfig) {
    if (mode != RegionMode::kFullScreen) return kAffinePoints;
    return driverConfig.CalibrateType != 0 ? kFullScreenPoints : kAffinePoints;
}

std::uint8_t RegionByte(int regionCount) {
    if (regionCount < 1 || regionCount > 64) return 0;
    const auto value = static_cast<std::uint8_t>(2 * (regionCount - 1));
    // Bit 7 makes the parity odd; the driver reads an even-parity byte as no regions at all.
    return std::popcount(value) % 2 == 0 ? static_cast<std::uint8_t>(value | 0x80) : value;
}

// ---- WindowSession ------------------------------------------------------------------

namespace {

WindowSession::Parameters Sanitised(WindowSession::Parameters parameters) {
    parameters.pointCount = std::clamp(parameters.pointCount, 1, kMaxPoints);
    parameters.regionIndex = std::clamp(parameters.regionIndex, 0, kMaxRegions - 1);
    return parameters;
}

}  // namespace

WindowSession::WindowSession(CalibrationDevice& device, Parameters parameters)
    : device_(device), parameters_(Sanitised(std::move(parameters))), targets_(TargetGrid(parameters_.pointCount)) {}

WindowSession::~WindowSession() {
    OnDestroy();
}

void WindowSession::OnInit(SessionView& view, const SessionTimeouts& timeouts) {
    bool closeRequested = false;
    {
        std::lock_guard lock(mutex_);
        view_ = &view;
        closeRequested = closeRequested_;
    }
    timeouts_ = timeouts;
    BeginCollecting();
    view.StartTimer();
    if (parameters_.mode == RegionMode::kFullScreen) view.ShowCursor(false);
    view.PlaceWindow(parameters_.mode, parameters_.regionIndex);
    if (closeRequested) view.PostClose();
}

void WindowSession::BeginCollecting() {
    {
        std::lock_guard lock(mutex_);
        targetIndex_ = 0;
        // A fresh count: the first touch on the first target is taken even when the lift
        // that ended the last collection came while nobody was listening.
        steadyCount_ = 0;
    }
    noResponseSeconds_ = 0;
    confirmSeconds_ = 0;
    collecting_ = true;
    done_ = false;
    resizable_ = true;
    view_->ShowButtons(false);
    view_->ShowStatus(StatusText::kCalibrating, 0);
    if (!IsUsableDevice(parameters_.device)) return;

    SaveState();
    const DeviceHandle device = parameters_.device;
    // What could not be read cannot be put back, so it is not changed either.
    if (saved_->driverConfig) {
        _NERIO_DRIVER_CONFIG working = *saved_->driverConfig;
        working.Mode = kCalibrationDriverMode;
        device_.SetDriverConfig(device, working);
    }
    if (saved_->workMode) device_.SetWorkMode(device, kWorkModeCalibrate);
    listening_ = device_.RegisterTouchDataCallback(device, [this](TouchReport report) { OnTouchReport(report); });
}

void WindowSession::SaveState() {
    const DeviceHandle device = parameters_.device;
    SavedState saved;
    if (CalibrationPair records; device_.GetCalibPara(device, records.x, records.y)) saved.records = records;
    if (DEVICE_CONFIG config{}; device_.GetDeviceConfig(device, config)) saved.deviceConfig = config;
    if (_NERIO_DRIVER_CONFIG config{}; device_.GetDriverConfig(device, config)) saved.driverConfig = config;
    if (std::uint8_t mode = 0; device_.GetWorkMode(device, mode)) saved.workMode = mode;
    saved_ = saved;
}

void WindowSession::RestoreState() {
    if (!saved_) return;
    const DeviceHandle device = parameters_.device;
    if (saved_->records) device_.SetCalibPara(device, saved_->records->x, saved_->records->y);
    if (saved_->deviceConfig) device_.SetDeviceConfig(device, *saved_->deviceConfig);
    if (saved_->driverConfig) device_.SetDriverConfig(device, *saved_->driverConfig);
    if (saved_->workMode) device_.SetWorkMode(device, *saved_->workMode);
    saved_.reset();
}

void WindowSession::StopListening() {
    // Only our own registration: a listener someone else registered is not ours to end.
    if (!listening_) return;
    device_.UnRegisterTouchDataCallback();
    listening_ = false;
}

int WindowSession::TargetIndex() const {
    std::lock_guard lock(mutex_);
    return targetIndex_;
}

bool WindowSession::IsResizable() const {
    return parameters_.mode != RegionMode::kFullScreen && resizable_ && !done_;
}

std::optional<TargetPoint> WindowSession::CurrentTarget() const {
    if (done_) return std::nullopt;
    const int index = TargetIndex();
    if (index < 0 || index >= static_cast<int>(targets_.size())) return std::nullopt;
    return targets_[index];
}

void WindowSession::OnTouchReport(TouchReport report) {
    constexpr std::size_t kFirstContact = offsetof(TOUCH_REPORT, Contact);
    const std::uint8_t state = report[kFirstContact + offsetof(TOUCH_CONTACT, Status)];
    const int x = ReadInt16(report, kFirstContact + offsetof(TOUCH_CONTACT, X));
    const int y = ReadInt16(report, kFirstContact + offsetof(TOUCH_CONTACT, Y));

    PointCandidate candidate;
    {
        std::lock_guard lock(mutex_);
        if (view_ == nullptr) return;
        if (state == kContactLifted) {
            steadyCount_ = 0;
            view_->PostProgress(steadyCount_);
            return;
        }
        if (steadyCount_ > kSteadyReports) return;
        if (steadyCount_ == kSteadyReports) {
            steadyCount_ = kSteadyReports + 1;
            view_->PostProgress(steadyCount_);
            return;
        }
        if (steadyCount_ == 0) {
            anchorX_ = x;
            anchorY_ = y;
        }
        const bool steady = std::abs(x - anchorX_) <= kSteadyTolerance && std::abs(y - anchorY_) <= kSteadyTolerance;
        steadyCount_ = steady ? steadyCount_ + 1 : 0;
        view_->PostProgress(steadyCount_);
        // Every target has its point: the window completes, and the table takes no more.
        if (steadyCount_ != kSteadyReports || targetIndex_ >= parameters_.pointCount) return;
        candidate = {parameters_.mode,
                     parameters_.regionIndex,
                     parameters_.pointCount,
                     targetIndex_,
                     targets_[targetIndex_],
                     x,
                     y};
    }
    // Outside the lock: the validator is the caller's code.
    if (parameters_.validator && !parameters_.validator(candidate)) return;

    std::lock_guard lock(mutex_);
    // An undo on the window thread meanwhile has moved the target; this point was not for it.
    if (view_ == nullptr || targetIndex_ != candidate.targetIndex) return;
    rawX_[targetIndex_] = x;
    rawY_[targetIndex_] = y;
    ++targetIndex_;
    view_->PostPoint();
}

void WindowSession::OnProgress(int counter) {
    // Reports queued before the listener stopped must not overwrite the result's text.
    if (!collecting_ || closing_) return;
    if (counter == 0) {
        view_->ShowStatus(StatusText::kReceiveBegin, counter);
    } else if (counter > 0 && counter < kSteadyReports) {
        view_->ShowStatus(StatusText::kReceiving, counter);
    } else if (counter == kSteadyReports + 1) {
        view_->ShowStatus(StatusText::kReceiveEnd, counter);
    }
}

void WindowSession::OnPoint() {
    if (!collecting_ || closing_) return;
    noResponseSeconds_ = 0;
    const int index = TargetIndex();
    if (index == 0) {
        resizable_ = true;
        view_->ShowCursor(parameters_.mode != RegionMode::kFullScreen);
    } else {
        resizable_ = false;
    }
    if (index == 1) view_->ShowCursor(false);
    if (index == parameters_.pointCount) {
        view_->ShowCursor(true);
        Complete();
    } else if (index > parameters_.pointCount) {
        StopListening();
        RestoreState();
        BeginCollecting();
    }
    view_->Repaint();
}

void WindowSession::OnRightButtonDown() {
    if (!collecting_ || closing_) return;
    {
        std::lock_guard lock(mutex_);
        if (targetIndex_ <= 0) return;
        --targetIndex_;
        rawX_[targetIndex_] = 0;
        rawY_[targetIndex_] = 0;
    }
    view_->PostPoint();
}

void WindowSession::Complete() {
    collecting_ = false;
    done_ = true;
    // The listener goes first, so that nothing writes the point table while it is read.
    StopListening();
    if (!ComputeResult(view_->Geometry())) {
        Close(false);
        return;
    }
    TryOutResult();
    view_->ShowButtons(true);
    view_->ShowStatus(StatusText::kCalibrated, 0);
    view_->Repaint();
}

bool WindowSession::ComputeResult(const WindowGeometry& geometry) {
    // Without the screen's size in millimetres the rectangle the fit applies to is unknown,
    // and a made-up one would leave part of the screen dead; the window is cancelled instead.
    SCREEN_PROPERTY screen{};
    if (!IsUsableDevice(parameters_.device) || !device_.GetScreenProperty(parameters_.device, screen) ||
        screen.Width == 0 || screen.Height == 0) {
        return false;
    }
    if (geometry.width <= 0 || geometry.height <= 0 || geometry.screenWidth <= 0 || geometry.screenHeight <= 0) {
        return false;
    }

    const int count = parameters_.pointCount;
    std::vector<int> targetX(count), targetY(count), rawX(count), rawY(count);
    for (int k = 0; k < count; ++k) {
        const std::int64_t pixelX = std::int64_t{targets_[k].x} * geometry.width / kWindowScale + geometry.left;
        const std::int64_t pixelY = std::int64_t{targets_[k].y} * geometry.height / kWindowScale + geometry.top;
        targetX[k] = static_cast<int>(static_cast<double>(pixelX) / geometry.screenWidth * 32768.0);
        targetY[k] = static_cast<int>(static_cast<double>(pixelY) / geometry.screenHeight * 32768.0);
    }
    {
        std::lock_guard lock(mutex_);
        std::copy_n(rawX_.begin(), count, rawX.begin());
        std::copy_n(rawY_.begin(), count, rawY.begin());
    }
    result_ = {};
    device_.GetCalibrateData({targetX, targetY, rawX, rawY}, count == kFullScreenPoints, result_.recordX,
                             result_.recordY);

    const int right = geometry.left + geometry.width;
    const int bottom = geometry.top + geometry.height;
    result_.rectangle = {PixelToMillimetres(geometry.left, screen.Width, geometry.screenWidth),
                         PixelToMillimetres(geometry.top, screen.Height, geometry.screenHeight),
                         PixelToMillimetres(right, screen.Width, geometry.screenWidth),
                         PixelToMillimetres(bottom, screen.Height, geometry.screenHeight)};
    return true;
}

void WindowSession::TryOutResult() {
    if (!saved_) return;
    const DeviceHandle device = parameters_.device;
    const bool cubic = parameters_.mode == RegionMode::kFullScreen && parameters_.pointCount == kFullScreenPoints;
    // Records the device could not give us are not overwritten: Cancel could not put them back.
    if (saved_->records) {
        if (parameters_.mode == RegionMode::kFullScreen && !cubic) {
            CalibrationPair trial;
            PlaceTriple(result_.recordX, kCubicAffineOffset, trial.x);
            PlaceTriple(result_.recordY, kCubicAffineOffset, trial.y);
            device_.SetCalibPara(device, trial.x, trial.y);
        } else {
            device_.SetCalibPara(device, result_.recordX, result_.recordY);
        }
    }
    if (saved_->deviceConfig) {
        // The trial holds one fit in region 0 (its triple at bytes 0-11), so region 0 takes
        // this window's rectangle: a region window tries out its own area, whichever it is.
        DEVICE_CONFIG working = *saved_->deviceConfig;
        working.RegionByte = parameters_.mode == RegionMode::kFullScreen ? kCubicRegionByte : RegionByte(1);
        working.Region0 = result_.rectangle;
        device_.SetDeviceConfig(device, working);
    }
    if (saved_->workMode) device_.SetWorkMode(device, *saved_->workMode);
}

void WindowSession::Close(bool ok) {
    if (closing_) return;
    closing_ = true;
    if (!ok) view_->ShowCursor(true);
    StopListening();
    RestoreState();
    view_->StopTimer();
    endedOk_ = ok;
    view_->EndWindow(ok);
}

void WindowSession::OnOk() {
    // Only a shown result can be accepted; before that there is nothing to store.
    if (!done_ || closing_) return;
    Close(true);
}

void WindowSession::OnCancel() {
    if (view_ == nullptr) return;
    Close(false);
}

void WindowSession::OnReCalibrate() {
    if (!done_ || closing_) return;
    StopListening();
    RestoreState();
    BeginCollecting();
    view_->Repaint();
}

void WindowSession::OnTimer() {
    if (closing_) return;
    if (!done_) {
        if (++noResponseSeconds_ >= timeouts_.noResponseSeconds) Close(false);
        return;
    }
    ++confirmSeconds_;
    view_->ShowCountdown(std::max(0, timeouts_.confirmSeconds - confirmSeconds_));
    if (confirmSeconds_ >= timeouts_.confirmSeconds) Close(false);
}

void WindowSession::OnDestroy() {
    // A window that goes without OK or Cancel still leaves the device, and the caller's
    // cursor, as it found them.
    if (!closing_ && view_ != nullptr) view_->ShowCursor(true);
    closing_ = true;
    StopListening();
    RestoreState();
    std::lock_guard lock(mutex_);
    view_ = nullptr;
}

void WindowSession::RequestClose() {
    std::lock_guard lock(mutex_);
    closeRequested_ = true;
    if (view_ != nullptr) view_->PostClose();
}

// ---- Calibrater ---------------------------------------------------------------------

bool Calibrater::Start(DeviceHandle device, int regionMode, PointValidator validator) {
    bool idle = false;
    if (!running_.compare_exchange_strong(idle, true)) return false;
    struct ClearMark {
        std::atomic<bool>& running;
        ~ClearMark() { running = false; }
    } clearMark{running_};

    if (regionMode != 0 && regionMode != 1 && regionMode != 4) return false;
    const auto mode = static_cast<RegionMode>(regionMode);
    _NERIO_DRIVER_CONFIG driverConfig{};
    if (IsUsableDevice(device)) device_.GetDriverConfig(device, driverConfig);
    const int pointCount = PointCount(mode, driverConfig);
    const int regionCount = mode == RegionMode::kFullScreen ? 1 : regionMode;

    std::array<RegionResult, kMaxRegions> results{};
    for (int region = 0; region < regionCount; ++region) {
        if (mode != RegionMode::kFullScreen && (!IsUsableDevice(device) || !running_)) return false;
        if (!RunWindow(device, mode, region, pointCount, validator, results[region])) return false;
    }
    return WriteFinalResult(device, mode, pointCount, std::span(results).first(regionCount));
}

void Calibrater::Stop() {
    running_ = false;
    std::lock_guard lock(currentMutex_);
    if (current_ != nullptr) current_->RequestClose();
}

bool Calibrater::RunWindow(DeviceHandle device, RegionMode mode, int regionIndex, int pointCount,
                           const PointValidator& validator, RegionResult& result) {
    WindowSession session(device_, {device, mode, regionIndex, pointCount, validator});
    {
        std::lock_guard lock(currentMutex_);
        current_ = &session;
        // A stop that came before this window existed cancels it at once.
        if (!running_) session.RequestClose();
    }
    const bool created = host_.RunWindow(session);
    {
        std::lock_guard lock(currentMutex_);
        current_ = nullptr;
    }
    if (!created || !session.EndedWithOk()) return false;
    result = session.Result();
    return true;
}

bool Calibrater::WriteFinalResult(DeviceHandle device, RegionMode mode, int pointCount,
                                  std::span<const RegionResult> results) {
    // Read first: a configuration we cannot read is not overwritten, and records without
    // the region byte that selects their form would be evaluated in the wrong form.
    DEVICE_CONFIG config{};
    if (!device_.GetDeviceConfig(device, config)) return false;

    _DEVICE_CALIB_PARAS recordX{};
    _DEVICE_CALIB_PARAS recordY{};
    if (mode == RegionMode::kFullScreen && pointCount == kFullScreenPoints) {
        recordX = results[0].recordX;
        recordY = results[0].recordY;
    } else if (mode == RegionMode::kFullScreen) {
        PlaceTriple(results[0].recordX, kCubicAffineOffset, recordX);
        PlaceTriple(results[0].recordY, kCubicAffineOffset, recordY);
    } else {
        for (std::size_t region = 0; region < results.size(); ++region) {
            PlaceTriple(results[region].recordX, region * kTripleBytes, recordX);
            PlaceTriple(results[region].recordY, region * kTripleBytes, recordY);
        }
    }
    const bool recordsWritten = device_.SetCalibPara(device, recordX, recordY);

    config.Region0 = results[0].rectangle;
    for (std::size_t region = 1; region < results.size(); ++region)
        config.Regions[region - 1] = results[region].rectangle;
    config.RegionByte =
        mode == RegionMode::kFullScreen ? kCubicRegionByte : RegionByte(static_cast<int>(results.size()));
    const bool configWritten = device_.SetDeviceConfig(device, config);
    return recordsWritten && configWritten;
}

}  // namespace kav::calib
