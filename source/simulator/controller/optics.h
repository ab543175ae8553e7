// The controller's optics: fingers on the glass to the two cameras' lines.
//
// Screen millimetres: x to the right, y down from the top edge. Camera A sits at
// (X0, Y0), camera B at (W + X1, Y0), both looking across the screen; each measures its
// angle from the perpendicular to the baseline, towards the other camera.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
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

// 1 where the pixel's line of sight (through its centre, p + 0.5) is blocked by a finger.
std::array<std::uint8_t, kCameraPixels> RenderLine(const Geometry& geometry, bool cameraB, const Lens& lens,
                                                   std::span<const Finger> fingers);

// Deterministic noise: the same seed gives the same sequence on every platform.
class Noise {
public:
    explicit Noise(std::uint64_t seed) : state_(seed) {}
    double Uniform();   // [0, 1)
    double Gaussian();  // mean 0, standard deviation 1

private:
    std::uint64_t state_;
};

// What a real camera adds to the ideal line.
struct Imperfections {
    double edgeNoisePx = 0;                // standard deviation of each shadow edge, pixels
    std::optional<std::size_t> deadPixel;  // line pixel that always reads dark
    // Light from outside the frame, as a fraction of the lit background: it fills the
    // shadows, which the controller's threshold then no longer sees as dark.
    double ambient = 0;
};

// The shadows in line pixels as continuous [start, end) edges, before sampling.
struct ShadowEdges {
    double start, end;
};
std::vector<ShadowEdges> ShadowsOnLine(const Geometry& geometry, bool cameraB, const Lens& lens,
                                       std::span<const Finger> fingers);

// RenderLine with the imperfections; noise is drawn only when edgeNoisePx > 0.
std::array<std::uint8_t, kCameraPixels> RenderLine(const Geometry& geometry, bool cameraB, const Lens& lens,
                                                   std::span<const Finger> fingers, const Imperfections& imperfections,
                                                   Noise& noise);

// Records that describe these optics: the screen property for the geometry (the
// driver's speed values replace bytes 14-17 and 30-37 at device start) and a camera
// record whose polynomial is the lens (k = 1, o = 0; camera B's record holds the
// coefficients without the sign the driver adds).
SCREEN_PROPERTY ScreenRecord(const Geometry& geometry);
CAMERA_PROPERTIES CameraRecord(const Lens& lens, bool cameraB, std::uint32_t windowStart = 0,
                               std::uint32_t windowEnd = kCameraPixels);

// The image device: 512 grey samples per camera, camera A's then camera B's, in one
// 1024-byte transfer. Sample i sees along line pixel kImageFirstPixel + i. The lit
// background varies a little along the line; a shadow darkens it to shadowDepth of it.
constexpr std::uint16_t kImageProductId = 0x0A41;
constexpr std::size_t kImageSamplesPerCamera = 512;
constexpr std::size_t kImageFirstPixel = 64;
struct ImageLighting {
    double background = 200;  // mean lit level, 0..255
    double shadowDepth = 0.15;
};
std::vector<std::uint8_t> ImageTransfer(const Geometry& geometry, const Lens& lensA, const Lens& lensB,
                                        std::span<const Finger> fingers, const Imperfections& imperfectionsA,
                                        const Imperfections& imperfectionsB, const ImageLighting& lighting,
                                        Noise& noise);

// One camera line as the controller sends it: a framed command 0x01 packet in a
// 1024-byte transfer.
std::vector<std::uint8_t> LineTransfer(std::uint8_t subCode, std::span<const std::uint8_t> line);

}  // namespace kav::sim
