// The pipeline's points: TRACK_POINT in the triangulation plane (camera A at (0, 0),
// camera B at (1, 0), unit the camera baseline, y growing into the screen), from
// triangulation to the trajectory filter; TOUCH_POINT in logical coordinates, from the
// output stage to the reports.
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

// The unit of the output stages. X and Y are logical coordinates (0..32767 on the
// screen) before region mapping.
struct TOUCH_POINT {
    std::int32_t X;
    std::int32_t Y;
    std::int32_t Size;
    std::uint8_t Tip;  // 1 touching, 0 not
};
static_assert(sizeof(TOUCH_POINT) == 13);
static_assert(offsetof(TOUCH_POINT, Size) == 8);
static_assert(offsetof(TOUCH_POINT, Tip) == 12);

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
