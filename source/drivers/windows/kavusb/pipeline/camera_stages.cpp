#include "camera_stages.h"

#include <cmath>

#include "camera_model.h"
#include "shadows.h"
#include "tracking.h"
#include "trajectory_filter.h"

namespace kav {
namespace {

constexpr double kFitStepFactor = 0.4;
constexpr double kFitStepAlone = 0.5;

void FindCameraShadows(CAMERA_LINE* camera, const CAMERA_MODEL& model) {
    camera->Count = FindShadows(camera->Line, static_cast<std::int32_t>(model.WindowStart),
                                static_cast<std::int32_t>(model.WindowEnd), camera->Interval);
    camera->CountFound = camera->Count;
}

void ToAngles(const CAMERA_LINE& camera, const CAMERA_MODEL& model, SHADOW_ANGLES* angles) {
    for (std::int32_t i = 0; i < camera.Count && i < 2; ++i)
        angles[i] = ShadowToAngles(camera.Interval[i].start, camera.Interval[i].end, model);
}

double FitStep(const TRACK_POINT& a, const TRACK_POINT& b) {
    if (a.state == kPointInvalid || b.state == kPointInvalid) return kFitStepAlone;
    const double dx = a.x - b.x;
    const double dy = a.y - b.y;
    return kFitStepFactor * std::sqrt(dx * dx + dy * dy);
}

}  // namespace

void RunCameraStages(DEVICE_CONTEXT* context, const std::uint8_t* streamA, int lengthA, const std::uint8_t* streamB,
                     int lengthB) {
    TRIANGULATION& t = context->Triangulation;
    CAMERA_LINE& a = t.Camera[0];
    CAMERA_LINE& b = t.Camera[1];

    DecodeLine(streamA, lengthA, a.Line);
    DecodeLine(streamB, lengthB, b.Line);
    FindCameraShadows(&a, t.Model[0]);
    FindCameraShadows(&b, t.Model[1]);
    a.Count = SplitMerged(a.Interval, a.Count, b.CountFound, &a.Tracker);
    b.Count = SplitMerged(b.Interval, b.Count, a.CountFound, &b.Tracker);

    SHADOW_ANGLES anglesA[2] = {};
    SHADOW_ANGLES anglesB[2] = {};
    ToAngles(a, t.Model[0], anglesA);
    ToAngles(b, t.Model[1], anglesB);
    const TRACK_PAIR pair = TrackContacts(&t, anglesA, a.Count, anglesB, b.Count);

    // From here on the frame works two frames late, on the points the history gives back.
    TRACK_POINT delayed[2] = {pair.Contact[0], pair.Contact[1]};
    PushHistory(&delayed[0], &t.History[0]);
    PushHistory(&delayed[1], &t.History[1]);

    const double fitStep = FitStep(delayed[0], delayed[1]);
    for (int i = 0; i < 2; ++i) {
        TRACK_POINT reference = t.Reference[i];
        FilterTrack(&delayed[i], &reference, fitStep, &t.History[i]);
        t.Reference[i] = reference;
        t.Filtered[i] = delayed[i];
    }
}

}  // namespace kav
