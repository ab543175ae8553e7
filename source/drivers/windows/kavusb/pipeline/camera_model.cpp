#include "camera_model.h"

#include <cmath>
#include <cstring>

#include "numeric.h"
#include "tracking.h"
#include "trajectory_filter.h"

namespace kav {
namespace {

constexpr double kQuarterPi = 0.7853981633974483;
constexpr float kDefaultCameraSpan = 1.15f;  // radians either side of the diagonal

std::int64_t BaselineMm(const SCREEN_PROPERTY& s) {
    return static_cast<std::int64_t>(s.CameraBX) - s.CameraAX + static_cast<std::int64_t>(s.Width);
}

// A baseline that is not positive would divide by zero or mirror the screen.
bool ScreenPropertyValid(const SCREEN_PROPERTY& s) {
    const std::int64_t b = BaselineMm(s);
    return b > 0 && b <= INT32_MAX && s.Width != 0 && s.Height != 0 && s.NewContactDivisor != 0 &&
           s.NewContactNumerator != 0 && s.VelocityRefCount != 0 && s.VelocityWeight >= 0.0f && s.VelocityWeight < 1.0f;
}

bool CameraRecordValid(const CAMERA_PROPERTIES& c) {
    const float p1 = std::fabs(c.P[1]);
    // Windows index the 640-pixel line; one outside it cannot be the camera's.
    return p1 >= 0.8f && p1 <= 1.5f && c.WindowStart < c.WindowEnd && c.WindowEnd <= kLinePixels;
}

void BuildScreenScale(SCREEN_SCALE* scale, const SCREEN_PROPERTY& s) {
    const std::int32_t b = static_cast<std::int32_t>(BaselineMm(s));
    const float fb = static_cast<float>(b);
    const float w = static_cast<float>(s.Width);
    const float h = static_cast<float>(s.Height);
    scale->ScaleX = fb * 32768.0f / w;
    scale->OffsetX = static_cast<float>(s.CameraAX) * 32768.0f / w;
    scale->ScaleY = fb * 32768.0f / h;
    scale->OffsetY = static_cast<float>(s.BaselineY) * 32768.0f / h;
    scale->ScaleSize = scale->ScaleX;
    scale->NewContactDistance =
        static_cast<float>(s.NewContactNumerator) / static_cast<float>(s.NewContactDivisor) / fb;
    scale->BaselineMm = fb;
}

void DefaultScreenScale(SCREEN_SCALE* scale) {
    scale->ScaleX = 32768.0f;
    scale->ScaleSize = 32768.0f;
    scale->OffsetX = 0.0f;
    scale->OffsetY = 0.0f;
    scale->ScaleY = 43690.668f;
    scale->NewContactDistance = 0.25f;
}

void BuildCameraModel(CAMERA_MODEL* model, const CAMERA_PROPERTIES& record, bool negate, bool valid) {
    const float sign = negate ? -1.0f : 1.0f;
    if (!valid) {
        model->WindowStart = 0;
        model->WindowEnd = static_cast<std::uint32_t>(kLinePixels);
        std::memset(model->Coef, 0, sizeof(model->Coef));
        model->Coef[1] = sign * kDefaultCameraSpan;
        return;
    }
    model->WindowStart = record.WindowStart;
    model->WindowEnd = record.WindowEnd;
    const float k = record.Scale;
    model->Coef[0] = sign * (k * record.P[0] + record.Offset);
    for (int i = 1; i < 8; ++i) model->Coef[i] = sign * (k * record.P[i]);
}

void ResetTrackingState(TRIANGULATION* t) {
    t->Camera[0].Tracker.state = kMergeIdle;
    t->Camera[1].Tracker.state = kMergeIdle;
    ResetHistory(&t->History[0]);
    ResetHistory(&t->History[1]);
    ResetTracking(t);
}

}  // namespace

bool RebuildCameraModel(TRIANGULATION* triangulation, const SCREEN_PROPERTY& screen, const CAMERA_PROPERTIES& a,
                        const CAMERA_PROPERTIES& b) {
    const bool screenValid = ScreenPropertyValid(screen);
    if (screenValid)
        BuildScreenScale(&triangulation->Scale, screen);
    else
        DefaultScreenScale(&triangulation->Scale);
    const bool aValid = CameraRecordValid(a);
    const bool bValid = CameraRecordValid(b);
    BuildCameraModel(&triangulation->Model[0], a, false, aValid);
    BuildCameraModel(&triangulation->Model[1], b, true, bValid);
    ResetTrackingState(triangulation);
    return screenValid && aValid && bValid;
}

double PixelToAngle(float pixel, const CAMERA_MODEL& model) {
    const double u = static_cast<double>(pixel / 320.0f - 1.0f);
    // Indexed through the record: a plain float pointer into a packed record may be
    // misaligned.
    double poly = static_cast<double>(model.Coef[7]);
    for (int i = 6; i >= 1; --i) poly = static_cast<double>(model.Coef[i]) + u * poly;
    return kQuarterPi + static_cast<double>(model.Coef[0]) + u * poly;
}

SHADOW_ANGLES ShadowToAngles(std::int32_t start, std::int32_t end, const CAMERA_MODEL& model) {
    const double as = PixelToAngle(static_cast<float>(start), model);
    const double ae = PixelToAngle(static_cast<float>(end), model);
    const double centre = (static_cast<double>(start) + static_cast<double>(end)) * 0.5;
    const double am = PixelToAngle(static_cast<float>(centre), model);
    SHADOW_ANGLES angles;
    angles.low = as < ae ? as : ae;
    angles.high = as < ae ? ae : as;
    angles.centre = am;
    angles.width = angles.high - angles.low;
    return angles;
}

TOUCH_POINT ToLogical(const TRACK_POINT& point, const SCREEN_SCALE& scale) {
    TOUCH_POINT out{};
    out.X = TruncToInt32(static_cast<double>(scale.ScaleX) * point.x + static_cast<double>(scale.OffsetX));
    out.Y = TruncToInt32(static_cast<double>(scale.ScaleY) * point.y + static_cast<double>(scale.OffsetY));
    const std::int32_t size = TruncToInt32(static_cast<double>(scale.ScaleSize) * point.size);
    out.Size = size < 0 ? 0 : size;
    out.Tip = 0;
    return out;
}

}  // namespace kav
