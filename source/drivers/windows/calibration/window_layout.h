// The calibration window's geometry: where its pictures, buttons and status text go, the
// hot zones that size a region window, and the corrections of a region window's rectangle.
// Pixels; client coordinates unless a name says screen.
#pragma once

#include <array>
#include <cstdint>

#include "calibration/calib_config.h"

namespace kav::calib {

struct PixelPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

struct PixelSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The window scale of the targets: this spans the client area.
inline constexpr int kWindowScale = 32768;

// The size-handle hot zones until a target picture has been drawn; then its size.
inline constexpr PixelSize kDefaultHandleZone{28, 28};

// Where the status text sits while the targets are shown: 256 x 13 below the middle.
PixelRect StatusTextPaintRect(PixelSize client);

// Top left of a picture of `image` size centred on `centre`.
PixelPoint CentredOrigin(PixelPoint centre, PixelSize image);

// The pixel of a target given on the window scale (kWindowScale spans the client area).
PixelPoint TargetPixel(int targetX, int targetY, PixelSize client);

// The four size handles at the middles of the left, top, right and bottom edges, as the
// top left corners of pictures of `image` size.
std::array<PixelPoint, 4> ResizerImageOrigins(PixelSize client, PixelSize image);

// The same for the drawn grips, placed by the hot zone's size.
std::array<PixelPoint, 4> GripOrigins(PixelSize client, PixelSize zone);

// The drawn grip: 4 x 4 outlined squares of 4 pixels at a pitch of 8.
inline constexpr int kGripSquares = 4;
inline constexpr int kGripSquareSize = 4;
inline constexpr int kGripPitch = 8;

// The confirmation layout: three buttons in a row above the middle, the status text below.
struct ButtonLayout {
    PixelRect reCalibrate;
    PixelRect ok;
    PixelRect cancel;
    PixelRect status;
};
ButtonLayout LayOutButtons(PixelSize client, const CalibConfig& config);

// The edge whose hot zone holds a point of the client area; when zones overlap the later of
// left, top, right, bottom wins.
enum class Edge { kNone, kLeft, kTop, kRight, kBottom };
Edge HitEdge(PixelPoint point, PixelSize client, PixelSize zone);

// The system command that starts sizing of an edge, or the move for kNone.
std::uint32_t SizeOrMoveCommand(Edge edge);

// A region window's proposed screen rectangle (WM_MOVING, WM_SIZING) brought back inside
// the primary screen and up to the minimum size. A move keeps the window's size; sizing
// stops an edge at the screen's border.
enum class RegionChange { kMove, kSize };
PixelRect CorrectRegionRect(PixelRect proposed, RegionChange change, PixelSize minimum, PixelSize screen);

}  // namespace kav::calib
