// Points in the triangulation plane: camera A at (0, 0), camera B at (1, 0), unit the
// camera baseline, y growing into the screen.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav {

constexpr std::uint8_t kPointInvalid = 0;
constexpr std::uint8_t kPointHeld = 1;      // held or predicted
constexpr std::uint8_t kPointMeasured = 2;  // measured this frame

#pragma pack(push, 1)

struct TRACK_POINT {
    double x;
    double y;
    double size;      // baseline units
    double mismatch;  // |ln| of the two cameras' apparent size ratio
    std::uint8_t state;
};
static_assert(sizeof(TRACK_POINT) == 33);
static_assert(offsetof(TRACK_POINT, mismatch) == 24);
static_assert(offsetof(TRACK_POINT, state) == 32);

// A shadow seen from one camera, in radians.
struct SHADOW_ANGLES {
    double low;
    double high;
    double centre;
    double width;
};
static_assert(sizeof(SHADOW_ANGLES) == 32);

#pragma pack(pop)

}  // namespace kav
