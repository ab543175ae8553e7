// The two-finger gesture step: zoom, turn and pan between two samples of two contacts.
// Keeps no state; the caller owns both samples.
#pragma once

#include "devicelib/include/KavLib.h"

namespace kav::devicelib {

// The step from `previous` to `current`. When the two contacts of either sample coincide,
// no zoom or turn can be measured: the step reports scale 1 and angle 0 and still pans by
// the movement of the pair's midpoint. Never NaN or infinite, for any int coordinates.
GESTURE_RESULT GestureStep(const GESTURE_POINTS& current, const GESTURE_POINTS& previous);

}  // namespace kav::devicelib
