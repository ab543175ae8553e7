#include "devicelib/gesture.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kav::devicelib {

namespace {

constexpr double kPi = 3.141592653589793;

// Differences of int coordinates need 33 bits and their squares 66, so the products are
// formed in 128 bits: exact for every input, and the same numbers as 32-bit arithmetic
// wherever that would not have overflowed.
using Wide = __int128;

struct Vector {
    std::int64_t x;
    std::int64_t y;
};

// Contact 1 minus contact 2.
Vector Span(const GESTURE_POINTS& sample) {
    return {std::int64_t{sample.X1} - sample.X2, std::int64_t{sample.Y1} - sample.Y2};
}

Wide SquaredLength(Vector v) {
    return Wide{v.x} * v.x + Wide{v.y} * v.y;
}

// Half the movement of the pair's midpoint, truncated toward zero as integer division does.
double MidpointPan(std::int64_t currentA, std::int64_t currentB, std::int64_t previousA, std::int64_t previousB) {
    return static_cast<double>((currentA + currentB - previousA - previousB) / 2);
}

GESTURE_RESULT TwoContacts(const GESTURE_POINTS& c, const GESTURE_POINTS& p) {
    GESTURE_RESULT result{1, 0, MidpointPan(c.X1, c.X2, p.X1, p.X2), MidpointPan(c.Y1, c.Y2, p.Y1, p.Y2)};
    const Vector before = Span(p);
    const Vector now = Span(c);
    const Wide beforeSquared = SquaredLength(before);
    const Wide nowSquared = SquaredLength(now);
    if (beforeSquared == 0 || nowSquared == 0) return result;

    const double a = std::sqrt(static_cast<double>(beforeSquared));
    const double b = std::sqrt(static_cast<double>(nowSquared));
    const Wide cross = Wide{before.x} * now.y - Wide{now.x} * before.y;
    const Wide dot = Wide{before.y} * now.y + Wide{before.x} * now.x;
    // A quarter turn can come out a rounding above 1 (vectors (1, 5) and (-5, 1)), where
    // asin has no value.
    const double sine = std::clamp(static_cast<double>(cross) / (b * a), -1.0, 1.0);
    result.Scale = b / a;
    // An exact quarter turn (dot 0) keeps asin's own -pi/2 or pi/2 instead of 3pi/2 for
    // the turn to the right; every other turn is unaffected.
    result.Angle = dot >= 0 ? std::asin(sine) : kPi - std::asin(sine);
    return result;
}

}  // namespace

GESTURE_RESULT GestureStep(const GESTURE_POINTS& current, const GESTURE_POINTS& previous) {
    const bool first = current.Valid1 && previous.Valid1;
    const bool second = current.Valid2 && previous.Valid2;
    if (first && second) return TwoContacts(current, previous);
    if (first)
        return {1, 0, static_cast<double>(std::int64_t{current.X1} - previous.X1),
                static_cast<double>(std::int64_t{current.Y1} - previous.Y1)};
    if (second)
        return {1, 0, static_cast<double>(std::int64_t{current.X2} - previous.X2),
                static_cast<double>(std::int64_t{current.Y2} - previous.Y2)};
    return {1, 0, 0, 0};
}

}  // namespace kav::devicelib
