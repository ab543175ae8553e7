#include "calibration/window_layout.h"

#include <algorithm>
#include <cstdlib>

namespace kav::calib {
namespace {

constexpr PixelSize kStatusTextSize{256, 13};

// WM_SYSCOMMAND: SC_SIZE plus the edge (WMSZ_*), and SC_MOVE plus HTCAPTION.
constexpr std::uint32_t kSizeLeft = 0xF001;
constexpr std::uint32_t kSizeRight = 0xF002;
constexpr std::uint32_t kSizeTop = 0xF003;
constexpr std::uint32_t kSizeBottom = 0xF006;
constexpr std::uint32_t kMoveByCaption = 0xF012;

// Shifts [low, high) by the least amount that puts it inside [0, limit), low first when it
// does not fit.
void ShiftInside(int& low, int& high, int limit) {
    if (high > limit) {
        low -= high - limit;
        high = limit;
    }
    if (low < 0) {
        high -= low;
        low = 0;
    }
}

// Sizing: the near edge stops at 0 and the far one at the limit; the span grows away from
// 0 up to the minimum, taking from the near side only when the limit stops it.
void ClampSpan(int& low, int& high, int minimum, int limit) {
    low = std::max(low, 0);
    if (high - low < minimum) high = low + minimum;
    if (high > limit) {
        high = limit;
        if (high - low < minimum) low = std::max(high - minimum, 0);
    }
}

}  // namespace

PixelRect StatusTextPaintRect(PixelSize client) {
    const int left = client.width / 2 - kStatusTextSize.width / 2;
    const int top = client.height / 3 + 24;
    return {left, top, left + kStatusTextSize.width, top + kStatusTextSize.height};
}

PixelPoint CentredOrigin(PixelPoint centre, PixelSize image) {
    return {centre.x - image.width / 2, centre.y - image.height / 2};
}

PixelPoint TargetPixel(int targetX, int targetY, PixelSize client) {
    return {static_cast<int>(static_cast<double>(targetX) * client.width / kWindowScale),
            static_cast<int>(static_cast<double>(targetY) * client.height / kWindowScale)};
}

std::array<PixelPoint, 4> ResizerImageOrigins(PixelSize client, PixelSize image) {
    const int mx = client.width / 2;
    const int my = client.height / 2;
    return {{{0, my - image.height / 2},
             {mx - image.width / 2, 0},
             {client.width - image.width, my - image.height / 2},
             {mx - image.width / 2, client.height - image.height}}};
}

std::array<PixelPoint, 4> GripOrigins(PixelSize client, PixelSize zone) {
    const int mx = client.width / 2;
    const int my = client.height / 2;
    const int halfW = zone.width / 2;
    const int halfH = zone.height / 2;
    return {{{0, my - halfH},
             {mx - halfW, 0},
             {client.width - 2 * halfW, my - halfH},
             {mx - halfW, client.height - 2 * halfH}}};
}

ButtonLayout LayOutButtons(PixelSize client, const CalibConfig& config) {
    const int bw = config.buttonWidth;
    const int bh = config.buttonHeight;
    const int sp = config.buttonSpace;
    const int row = client.height / 3 - bh;
    const int firstLeft = client.width / 2 - bw / 2 - sp - bw;
    const auto button = [&](int left) { return PixelRect{left, row, left + bw, row + bh}; };
    const int statusSide = 3 * bw + 2 * sp;
    const int statusTop = client.height / 3 + bh / 2 + sp;
    return {button(firstLeft), button(client.width / 2 - bw / 2), button(client.width / 2 + bw / 2 + sp),
            PixelRect{firstLeft, statusTop, firstLeft + statusSide, statusTop + statusSide}};
}

Edge HitEdge(PixelPoint point, PixelSize client, PixelSize zone) {
    const int mx = client.width / 2;
    const int my = client.height / 2;
    const bool nearMiddleRow = std::abs(point.y - my) <= zone.height / 2;
    const bool nearMiddleColumn = std::abs(point.x - mx) <= zone.width / 2;
    Edge edge = Edge::kNone;
    if (point.x >= 0 && point.x <= zone.width && nearMiddleRow) edge = Edge::kLeft;
    if (nearMiddleColumn && point.y >= 0 && point.y <= zone.height) edge = Edge::kTop;
    if (point.x >= client.width - zone.width && point.x <= client.width && nearMiddleRow) edge = Edge::kRight;
    if (nearMiddleColumn && point.y >= client.height - zone.height && point.y <= client.height) edge = Edge::kBottom;
    return edge;
}

std::uint32_t SizeOrMoveCommand(Edge edge) {
    switch (edge) {
        case Edge::kLeft:
            return kSizeLeft;
        case Edge::kTop:
            return kSizeTop;
        case Edge::kRight:
            return kSizeRight;
        case Edge::kBottom:
            return kSizeBottom;
        case Edge::kNone:
            break;
    }
    return kMoveByCaption;
}

PixelRect CorrectRegionRect(PixelRect proposed, RegionChange change, PixelSize minimum, PixelSize screen) {
    PixelRect rect = proposed;
    if (change == RegionChange::kMove) {
        // A move never changes the size, which was already corrected while sizing.
        rect.right = rect.left + std::max(rect.Width(), minimum.width);
        rect.bottom = rect.top + std::max(rect.Height(), minimum.height);
        ShiftInside(rect.left, rect.right, screen.width);
        ShiftInside(rect.top, rect.bottom, screen.height);
    } else {
        ClampSpan(rect.left, rect.right, minimum.width, screen.width);
        ClampSpan(rect.top, rect.bottom, minimum.height, screen.height);
    }
    return rect;
}

}  // namespace kav::calib
