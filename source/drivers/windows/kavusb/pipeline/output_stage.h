// The output stage: from the frame's contact pair to output samples handed to the
// click logic, which composes the reports.
#pragma once

#include <cstdint>

#include "device_context.h"

namespace kav {

// Once per completed touch frame, under SpinLock. Each output sample is placed in
// OutputPoint and handed to ComposeSample; a touch-down of contact 1 then goes to
// ToolbarTouch with the frame's contact 1 as it was before the tap stabilizer.
void RunOutputStage(DEVICE_CONTEXT* context);

// Configuration entries. The caller serialises them with packet processing (SpinLock).

// Device start, before InitTapStabilizer: a 60-sample window, a 400-unit radius, idle.
void ResetTapStabilizer(DEVICE_CONTEXT* context);

// time in milliseconds, area in millimetres, width and height of the screen in
// millimetres. A zero width or height leaves the stabilizer as it is.
void InitTapStabilizer(DEVICE_CONTEXT* context, std::uint32_t timeMs, std::uint32_t areaMm, std::uint32_t widthMm,
                       std::uint32_t heightMm);

// Device start, before SetSmoothnessScale: the Tips and scales of all three histories.
void ResetSampleHistories(DEVICE_CONTEXT* context);

// Smoothness is taken as a signed 32-bit number.
void SetSmoothnessScale(DEVICE_CONTEXT* context, std::uint32_t smoothness);

// The pieces of a frame, for the tests.

// One contact 1 sample into the stabilizer's buffer and state.
void TapStabilizerStep(TAP_STABILIZER* stabilizer, const TOUCH_POINT& p);

// Drops H[0] and stores the point as H[3].
void PushHistory4(const TOUCH_POINT& point, SAMPLE_HISTORY* history);

// A measure of the curve's length from H[1] to H[2]; 0 unless both touch.
float BezierPathLength(const SAMPLE_HISTORY& history);

// `count` samples along the curve from H[1] to H[2], the last one at H[2]. The count is
// clamped to 1..60 and written back; out holds at least 60 points.
void Interpolate(TOUCH_POINT* out, std::int32_t* count, const SAMPLE_HISTORY& history);

}  // namespace kav
