#include "output_stage.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "camera_model.h"
#include "clicks.h"
#include "driver_context.h"
#include "numeric.h"

namespace kav {
namespace {

constexpr std::int32_t kMaxSamples = static_cast<std::int32_t>(kMaxSamplesPerFrame);
constexpr std::int32_t kMsPerSample = 16;
constexpr std::int32_t kDefaultWindow = 60;
constexpr std::int32_t kDefaultRadiusSquared = 160000;
// The largest radius whose square still fits the i32 field.
constexpr std::int64_t kMaxRadius = 46340;

std::int32_t Clamp(std::int32_t value, std::int32_t low, std::int32_t high) {
    return value < low ? low : (value > high ? high : value);
}

// Squared length of an integer step; coordinates are only meant to be 0..32767, but a
// wild scale may give anything, and then the step is simply very long.
std::int64_t SquaredLength(std::int64_t dx, std::int64_t dy) {
    constexpr std::int64_t kLimit = std::int64_t{1} << 31;
    if (dx <= -kLimit || dx >= kLimit || dy <= -kLimit || dy >= kLimit) return std::numeric_limits<std::int64_t>::max();
    return dx * dx + dy * dy;
}

// Replaces the touching run that ends at index `last` by its average position.
void AverageRun(TAP_STABILIZER* stabilizer, std::int32_t last) {
    std::int64_t sumX = 0;
    std::int64_t sumY = 0;
    std::int64_t sumSize = 0;
    std::int32_t first = last + 1;
    for (std::int32_t i = last; i >= 0 && stabilizer->Sample[i].Tip == 1; --i) {
        const TOUCH_POINT& s = stabilizer->Sample[i];
        sumX += s.X;
        sumY += s.Y;
        sumSize += s.Size;
        first = i;
    }
    const std::int64_t m = last + 1 - first;
    if (m < 1) return;
    for (std::int32_t i = first; i <= last; ++i) {
        TOUCH_POINT& s = stabilizer->Sample[i];
        s.X = static_cast<std::int32_t>(sumX / m);
        s.Y = static_cast<std::int32_t>(sumY / m);
        s.Size = static_cast<std::int32_t>(sumSize / m);
    }
}

bool LeftRadius(const TAP_STABILIZER& stabilizer, std::int32_t count) {
    std::int64_t minX = 65535;
    std::int64_t minY = 65535;
    std::int64_t maxX = 0;
    std::int64_t maxY = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const TOUCH_POINT& s = stabilizer.Sample[i];
        if (s.X < minX) minX = s.X;
        if (s.X > maxX) maxX = s.X;
        if (s.Y < minY) minY = s.Y;
        if (s.Y > maxY) maxY = s.Y;
    }
    return SquaredLength(maxX - minX, maxY - minY) > stabilizer.RadiusSquared;
}

struct Vec3 {
    double v[3];
};

Vec3 Coordinates(const TOUCH_POINT& p) {
    return {{static_cast<double>(p.X), static_cast<double>(p.Y), static_cast<double>(p.Size)}};
}

double Distance(double dx, double dy) {
    return std::sqrt(dx * dx + dy * dy);
}

}  // namespace

void ResetTapStabilizer(DEVICE_CONTEXT* context) {
    TAP_STABILIZER& stabilizer = context->TapStabilizer;
    stabilizer.Window = kDefaultWindow;
    stabilizer.RadiusSquared = kDefaultRadiusSquared;
    stabilizer.State = kTapIdle;
    for (TOUCH_POINT& s : stabilizer.Sample) s.Tip = 0;
    stabilizer.Count = 0;
    stabilizer.Saved.Tip = 0;
}

void InitTapStabilizer(DEVICE_CONTEXT* context, std::uint32_t timeMs, std::uint32_t areaMm, std::uint32_t widthMm,
                       std::uint32_t heightMm) {
    if (widthMm == 0 || heightMm == 0) return;
    TAP_STABILIZER& stabilizer = context->TapStabilizer;
    // 64-bit so that a large area gives a large radius instead of a wrapped one.
    const std::int64_t radius = static_cast<std::int64_t>(areaMm) * 32768 / static_cast<std::int64_t>(widthMm);
    const std::uint32_t window = timeMs / kMsPerSample;
    if (window >= 1) {
        stabilizer.State = kTapIdle;
        stabilizer.Window =
            window < static_cast<std::uint32_t>(kMaxSamples) ? static_cast<std::int32_t>(window) : kMaxSamples;
    } else {
        stabilizer.Window = 1;
        stabilizer.State = kTapDisabled;
    }
    for (TOUCH_POINT& s : stabilizer.Sample) s.Tip = 0;
    stabilizer.Count = 0;
    stabilizer.RadiusSquared =
        radius > kMaxRadius ? std::numeric_limits<std::int32_t>::max() : static_cast<std::int32_t>(radius * radius);
}

void ResetSampleHistories(DEVICE_CONTEXT* context) {
    SAMPLE_HISTORY* histories[] = {&context->Contact2History, &context->SmoothHistory[0], &context->SmoothHistory[1]};
    for (SAMPLE_HISTORY* history : histories) {
        for (TOUCH_POINT& h : history->H) h.Tip = 0;
        history->Scale = 0.0f;
    }
}

void SetSmoothnessScale(DEVICE_CONTEXT* context, std::uint32_t smoothness) {
    context->SmoothHistory[0].Scale = static_cast<float>(static_cast<std::int32_t>(smoothness)) * (1.0f / 32768.0f);
}

void TapStabilizerStep(TAP_STABILIZER* stabilizer, const TOUCH_POINT& p) {
    // A record that never went through ResetTapStabilizer has a zero window.
    const std::int32_t window = Clamp(stabilizer->Window, 1, kMaxSamples);
    std::int32_t count = Clamp(stabilizer->Count, 0, window);
    if (count < window) {
        stabilizer->Sample[count] = p;
        ++count;
    } else {
        stabilizer->Sample[window - 1] = p;
    }
    stabilizer->Count = count;

    switch (stabilizer->State) {
        case kTapIdle:
            if (p.Tip == 1) {
                stabilizer->State = kTapCollecting;
                stabilizer->Ready = 1;
            }
            break;
        case kTapPass:
            if (p.Tip == 0) stabilizer->State = kTapIdle;
            break;
        case kTapCollecting:
            if (p.Tip == 0) {
                // The release sample itself stays as it is.
                AverageRun(stabilizer, count - 2);
                stabilizer->State = kTapIdle;
            } else if (count == window) {
                AverageRun(stabilizer, count - 1);
                stabilizer->Saved = stabilizer->Sample[count - 1];
                stabilizer->State = kTapResting;
            } else if (LeftRadius(*stabilizer, count)) {
                stabilizer->State = kTapPass;
            }
            break;
        case kTapResting:
            if (p.Tip == 0) {
                stabilizer->State = kTapIdle;
            } else {
                const TOUCH_POINT saved = stabilizer->Saved;
                const std::int64_t dx = static_cast<std::int64_t>(p.X) - saved.X;
                const std::int64_t dy = static_cast<std::int64_t>(p.Y) - saved.Y;
                if (SquaredLength(dx, dy) < stabilizer->RadiusSquared)
                    stabilizer->Sample[count - 1] = saved;
                else
                    stabilizer->State = kTapPass;
            }
            break;
        default:
            break;
    }
}

void PushHistory4(const TOUCH_POINT& point, SAMPLE_HISTORY* history) {
    history->H[0] = history->H[1];
    history->H[1] = history->H[2];
    history->H[2] = history->H[3];
    history->H[3] = point;
}

float BezierPathLength(const SAMPLE_HISTORY& history) {
    const TOUCH_POINT& h0 = history.H[0];
    const TOUCH_POINT& h1 = history.H[1];
    const TOUCH_POINT& h2 = history.H[2];
    const TOUCH_POINT& h3 = history.H[3];
    if (h1.Tip == 0 || h2.Tip == 0) return 0.0f;
    const TOUCH_POINT& a = h0.Tip != 0 ? h0 : h1;
    const TOUCH_POINT& b = h3.Tip != 0 ? h3 : h2;
    const double toH2 = Distance(static_cast<double>(a.X) - h2.X, static_cast<double>(a.Y) - h2.Y);
    const double toH1 = Distance(static_cast<double>(b.X) - h1.X, static_cast<double>(b.Y) - h1.Y);
    // 64-bit: the integer sum stays exact for any coordinates.
    const std::int64_t bendX =
        5 * (static_cast<std::int64_t>(h2.X) - h1.X) + static_cast<std::int64_t>(a.X) - static_cast<std::int64_t>(b.X);
    const std::int64_t bendY =
        5 * (static_cast<std::int64_t>(h2.Y) - h1.Y) + static_cast<std::int64_t>(a.Y) - static_cast<std::int64_t>(b.Y);
    const double bend = Distance(static_cast<double>(bendX), static_cast<double>(bendY));
    return static_cast<float>(toH2 + toH1 + bend);
}

void Interpolate(TOUCH_POINT* out, std::int32_t* count, const SAMPLE_HISTORY& history) {
    const std::int32_t n = Clamp(*count, 1, kMaxSamples);
    *count = n;
    const TOUCH_POINT& h0 = history.H[0];
    const TOUCH_POINT& h1 = history.H[1];
    const TOUCH_POINT& h2 = history.H[2];
    const TOUCH_POINT& h3 = history.H[3];
    if (h2.Tip != 1) {
        for (std::int32_t i = 0; i < n; ++i) out[i].Tip = 0;
        return;
    }

    const Vec3 p2 = Coordinates(h2);
    Vec3 p1 = p2;
    Vec3 c1 = p2;
    Vec3 c2 = p2;
    if (h1.Tip == 1) {
        p1 = Coordinates(h1);
        c1 = p1;
        if (h0.Tip == 1) {
            const Vec3 q0 = Coordinates(h0);
            for (int k = 0; k < 3; ++k) c1.v[k] = p1.v[k] + (p2.v[k] - q0.v[k]) / 8.0;
        }
        if (h3.Tip == 1) {
            const Vec3 q3 = Coordinates(h3);
            for (int k = 0; k < 3; ++k) c2.v[k] = p2.v[k] - (q3.v[k] - p1.v[k]) / 8.0;
        }
    }

    Vec3 a3;
    Vec3 a2;
    Vec3 a1;
    for (int k = 0; k < 3; ++k) {
        a3.v[k] = -p1.v[k] + 3.0 * c1.v[k] - 3.0 * c2.v[k] + p2.v[k];
        a2.v[k] = 3.0 * p1.v[k] - 6.0 * c1.v[k] + 3.0 * c2.v[k];
        a1.v[k] = 3.0 * c1.v[k] - 3.0 * p1.v[k];
    }
    for (std::int32_t i = 1; i <= n; ++i) {
        const double s = static_cast<double>(i) / static_cast<double>(n);
        std::int32_t value[3];
        for (int k = 0; k < 3; ++k)
            value[k] = TruncToInt32(((a3.v[k] * s + a2.v[k]) * s + a1.v[k]) * s + p1.v[k] + 0.5);
        TOUCH_POINT& o = out[i - 1];
        o.X = value[0];
        o.Y = value[1];
        o.Size = value[2] < 0 ? 0 : value[2];
        o.Tip = 1;
    }
}

namespace {

struct ContactPair {
    TOUCH_POINT first;
    TOUCH_POINT second;
};

// The frame's pair in logical coordinates: filtered (two frames late) with anti-shake,
// else as triangulated.
ContactPair FrameContacts(const DEVICE_CONTEXT* context) {
    const TRIANGULATION& triangulation = context->Triangulation;
    const SCREEN_SCALE scale = triangulation.Scale;
    ContactPair pair;
    if (context->DriverConfig.Config.EnableAntishake != 0) {
        pair.first = ToLogical(triangulation.Filtered[0], scale);
        pair.second = ToLogical(triangulation.Filtered[1], scale);
        pair.first.Tip = triangulation.Filtered[0].state == kPointMeasured ? 1 : 0;
        pair.second.Tip = triangulation.Filtered[1].state == kPointMeasured ? 1 : 0;
    } else {
        pair.first = ToLogical(triangulation.Raw[0], scale);
        pair.second = ToLogical(triangulation.Raw[1], scale);
        pair.first.Tip = triangulation.Raw[0].state != kPointInvalid ? 1 : 0;
        pair.second.Tip = triangulation.Raw[1].state != kPointInvalid ? 1 : 0;
    }
    return pair;
}

// Two touches seen as two shadows: hold contact 1 and keep contact 2 silent.
void ApplyAntijamming(DEVICE_CONTEXT* context, ContactPair* pair) {
    if (context->DriverConfig.Config.Antijamming != 0) {
        const bool bothTouching = pair->first.Tip == 1 && pair->second.Tip == 1;
        if (context->Triangulation.SingleShadow[0] == 0 && bothTouching) pair->first = context->JamHoldPoint;
        pair->second.Tip = 0;
    }
    context->JamHoldPoint = pair->first;
}

// Contact 1 through the tap stabilizer into FrameOutput[0], contact 2 interpolated into
// FrameOutput[1]. Returns the number of output samples the frame gives.
std::int32_t FillFrameOutput(DEVICE_CONTEXT* context, const ContactPair& pair) {
    TAP_STABILIZER& stabilizer = context->TapStabilizer;
    TapStabilizerStep(&stabilizer, pair.first);

    // While a tap is being collected, a second contact may continue but not start.
    TOUCH_POINT second = pair.second;
    if (stabilizer.Ready != 0) second.Tip = (second.Tip != 0 && context->PrevContact2.Tip != 0) ? 1 : 0;
    context->PrevContact2 = second;
    PushHistory4(second, &context->Contact2History);

    std::int32_t n = 1;
    if (stabilizer.State == kTapCollecting) {
        context->FrameOutput[0][0].Tip = 0;
    } else {
        n = Clamp(stabilizer.Count, 0, kMaxSamples);
        for (std::int32_t i = 0; i < n; ++i) context->FrameOutput[0][i] = stabilizer.Sample[i];
        stabilizer.Count = 0;
        stabilizer.Ready = 0;
    }
    Interpolate(context->FrameOutput[1], &n, context->Contact2History);
    return n;
}

// Each frame sample goes to the click logic; with Smoothness set, each is first drawn
// out along the curve through its neighbours, more densely the longer that curve is.
void ComposeFrameSamples(DEVICE_CONTEXT* context, std::int32_t n) {
    if (context->DriverConfig.Config.Smoothness == 0) {
        for (std::int32_t i = 0; i < n; ++i) {
            context->OutputPoint[0] = context->FrameOutput[0][i];
            context->OutputPoint[1] = context->FrameOutput[1][i];
            ComposeSample(context);
        }
        return;
    }
    for (std::int32_t i = 0; i < n; ++i) {
        PushHistory4(context->FrameOutput[0][i], &context->SmoothHistory[0]);
        PushHistory4(context->FrameOutput[1][i], &context->SmoothHistory[1]);
        const float length = BezierPathLength(context->SmoothHistory[0]);
        const float density = context->SmoothHistory[0].Scale;
        std::int32_t m = TruncToInt32(static_cast<double>(length * density));
        Interpolate(context->SmoothOutput[0], &m, context->SmoothHistory[0]);
        Interpolate(context->SmoothOutput[1], &m, context->SmoothHistory[1]);
        for (std::int32_t j = 0; j < m; ++j) {
            context->OutputPoint[0] = context->SmoothOutput[0][j];
            context->OutputPoint[1] = context->SmoothOutput[1][j];
            ComposeSample(context);
        }
    }
}

}  // namespace

void RunOutputStage(DEVICE_CONTEXT* context) {
    ContactPair pair = FrameContacts(context);
    ApplyAntijamming(context, &pair);
    const std::int32_t n = FillFrameOutput(context, pair);
    ComposeFrameSamples(context, n);

    // Toolbar areas react to contact 1 touching down, as it was before the stabilizer.
    if (context->ToolbarParams.Enabled == 1) {
        if (context->ToolbarPrevTip == 0 && pair.first.Tip != 0) ToolbarTouch(context, pair.first);
        context->ToolbarPrevTip = pair.first.Tip;
    }
}

}  // namespace kav
