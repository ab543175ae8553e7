// The controller's optics: fingers on the glass to the two cameras' lines.
//
// Screen millimetres: x to the right, y down from the top edge. Camera A sits at
// (X0, Y0), camera B at (W + X1, Y0), both looking across the screen; each measures its
// angle from the perpendicular to the baseline, towards the other camera.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "shared/device_records.h"

namespace kav::sim {

constexpr std::size_t kCameraPixels = 640;

struct Finger {
    double x;         // mm
    double y;         // mm
    double diameter;  // mm
};

// A lens: pixel p to angle pi/4 + c0 + u (c1 + u (c2 + ...)) with u = p/320 - 1, the
// form the driver's camera model has. Camera B's coefficients carry their sign.
struct Lens {
    std::array<double, 8> coef{};
    static Lens Nominal(bool cameraB);  // +-1.15 rad over the line
};

struct Geometry {
    double width;      // W, mm
    double height;     // H, mm
    double cameraAX;   // X0
    double cameraBX;   // X1, beyond the right edge
    double baselineY;  // Y0
    static Geometry From(const SCREEN_PROPERTY& screen);
};

// 1 where the pixel's line of sight is blocked by a finger.
std::array<std::uint8_t, kCameraPixels> RenderLine(const Geometry& geometry, bool cameraB, const Lens& lens,
                                                   std::span<const Finger> fingers);

// One camera line as the controller sends it: a framed command 0x01 packet in a
// 1024-byte transfer.
std::vector<std::uint8_t> LineTransfer(std::uint8_t subCode, std::span<const std::uint8_t> line);

}  // namespace kav::sim
