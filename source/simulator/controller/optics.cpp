#include "optics.h"

#include <algorithm>
#include <cmath>

#include "run_length.h"
#include "shared/device_packet.h"

namespace kav::sim {
namespace {
constexpr double kQuarterPi = 0.7853981633974483;
constexpr float kNominalSpan = 1.15f;
}  // namespace

Lens Lens::Nominal(bool cameraB) {
    Lens lens;
    lens.coef[1] = cameraB ? -static_cast<double>(kNominalSpan) : static_cast<double>(kNominalSpan);
    return lens;
}

Geometry Geometry::From(const SCREEN_PROPERTY& screen) {
    return Geometry{static_cast<double>(screen.Width), static_cast<double>(screen.Height),
                    static_cast<double>(screen.CameraAX), static_cast<double>(screen.CameraBX),
                    static_cast<double>(screen.BaselineY)};
}

namespace {

// Pixel p spans [p, p + 1) of the lens's pixel axis: the driver takes a shadow of pixels
// [start, end) to be centred on (start + end) / 2.
double PixelCentre(std::size_t p) {
    return static_cast<double>(p) + 0.5;
}

double LensAngle(const Lens& lens, double pixel) {
    const double u = pixel / 320.0 - 1.0;
    double poly = lens.coef[7];
    for (int i = 6; i >= 1; --i) poly = lens.coef[i] + u * poly;
    return kQuarterPi + lens.coef[0] + u * poly;
}

// The pixel position at which the lens looks along angle, assuming the lens is monotonic
// over a margin around the line; angles beyond it land at the margin.
double PixelAt(const Lens& lens, double angle) {
    double lo = -320.0;
    double hi = 960.0;
    const bool rising = LensAngle(lens, hi) > LensAngle(lens, lo);
    for (int i = 0; i < 60; ++i) {
        const double mid = (lo + hi) / 2;
        if ((LensAngle(lens, mid) < angle) == rising)
            lo = mid;
        else
            hi = mid;
    }
    return (lo + hi) / 2;
}

// How deep into a shadow a pixel lies: 0 one pixel outside an edge, 1 one pixel inside.
double Coverage(double pixel, const std::vector<ShadowEdges>& shadows) {
    double best = 0;
    for (const ShadowEdges& s : shadows) {
        const double inside = std::min(pixel - s.start, s.end - pixel);
        best = std::max(best, std::clamp(inside / 2 + 0.5, 0.0, 1.0));
    }
    return best;
}

// Coverage above which the controller sees a pixel dark: one half in the dark, rising
// with ambient light until 0.6 of the background leaves no shadow at all.
double DarkThreshold(double ambient) {
    return 0.5 + std::max(ambient, 0.0) * (0.5 / 0.6);
}

std::vector<ShadowEdges> NoisyShadows(const Geometry& g, bool cameraB, const Lens& lens,
                                      std::span<const Finger> fingers, const Imperfections& imp, Noise& noise) {
    std::vector<ShadowEdges> shadows = ShadowsOnLine(g, cameraB, lens, fingers);
    if (imp.edgeNoisePx > 0) {
        for (ShadowEdges& s : shadows) {
            s.start += imp.edgeNoisePx * noise.Gaussian();
            s.end += imp.edgeNoisePx * noise.Gaussian();
            if (s.end < s.start) std::swap(s.start, s.end);
        }
    }
    return shadows;
}

}  // namespace

double Noise::Uniform() {
    // splitmix64: fixed arithmetic, unlike the standard distributions.
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * 0x1.0p-53;
}

double Noise::Gaussian() {
    const double u1 = 1.0 - Uniform();  // (0, 1]
    const double u2 = Uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * 3.141592653589793 * u2);
}

std::vector<ShadowEdges> ShadowsOnLine(const Geometry& g, bool cameraB, const Lens& lens,
                                       std::span<const Finger> fingers) {
    // Each finger blocks the angles theta +- asin(r / d) as seen from the camera.
    std::vector<ShadowEdges> shadows;
    const double cameraX = cameraB ? g.width + g.cameraBX : g.cameraAX;
    for (const Finger& f : fingers) {
        const double dx = cameraB ? cameraX - f.x : f.x - cameraX;
        const double dy = f.y - g.baselineY;
        const double d = std::hypot(dx, dy);
        const double r = f.diameter / 2;
        if (d <= r) continue;
        const double theta = std::atan2(dx, dy);
        const double half = std::asin(r / d);
        double a = PixelAt(lens, theta - half);
        double b = PixelAt(lens, theta + half);
        if (b < a) std::swap(a, b);
        shadows.push_back({a, b});
    }
    return shadows;
}

std::array<std::uint8_t, kCameraPixels> RenderLine(const Geometry& g, bool cameraB, const Lens& lens,
                                                   std::span<const Finger> fingers) {
    std::array<std::uint8_t, kCameraPixels> line{};
    for (const ShadowEdges& s : ShadowsOnLine(g, cameraB, lens, fingers)) {
        for (std::size_t p = 0; p < kCameraPixels; ++p) {
            const double at = PixelCentre(p);
            if (at >= s.start && at <= s.end) line[p] = 1;
        }
    }
    return line;
}

std::array<std::uint8_t, kCameraPixels> RenderLine(const Geometry& g, bool cameraB, const Lens& lens,
                                                   std::span<const Finger> fingers, const Imperfections& imp,
                                                   Noise& noise) {
    const std::vector<ShadowEdges> shadows = NoisyShadows(g, cameraB, lens, fingers, imp, noise);
    std::array<std::uint8_t, kCameraPixels> line{};
    if (imp.ambient <= 0) {
        for (const ShadowEdges& s : shadows)
            for (std::size_t p = 0; p < kCameraPixels; ++p) {
                const double at = PixelCentre(p);
                if (at >= s.start && at <= s.end) line[p] = 1;
            }
    } else {
        const double threshold = DarkThreshold(imp.ambient);
        for (std::size_t p = 0; p < kCameraPixels; ++p)
            if (Coverage(PixelCentre(p), shadows) > threshold) line[p] = 1;
    }
    if (imp.deadPixel && *imp.deadPixel < kCameraPixels) line[*imp.deadPixel] = 1;
    return line;
}

SCREEN_PROPERTY ScreenRecord(const Geometry& g) {
    SCREEN_PROPERTY s{};
    s.Width = static_cast<std::uint32_t>(std::lround(g.width));
    s.Height = static_cast<std::uint32_t>(std::lround(g.height));
    s.NewContactDivisor = 100;
    s.NewContactNumerator = 15000;
    s.BaselineY = static_cast<std::int32_t>(std::lround(g.baselineY));
    s.CameraAX = static_cast<std::int32_t>(std::lround(g.cameraAX));
    s.CameraBX = static_cast<std::int32_t>(std::lround(g.cameraBX));
    s.VelocityRefCount = 5;
    s.VelocityWeight = 0.2f;
    return s;
}

CAMERA_PROPERTIES CameraRecord(const Lens& lens, bool cameraB, std::uint32_t windowStart, std::uint32_t windowEnd) {
    CAMERA_PROPERTIES c{};
    c.WindowStart = windowStart;
    c.WindowEnd = windowEnd;
    const double sign = cameraB ? -1.0 : 1.0;
    for (std::size_t i = 0; i < 8; ++i) c.P[i] = static_cast<float>(sign * lens.coef[i]);
    c.Offset = 0.0f;
    c.Scale = 1.0f;
    return c;
}

std::vector<std::uint8_t> ImageTransfer(const Geometry& g, const Lens& lensA, const Lens& lensB,
                                        std::span<const Finger> fingers, const Imperfections& impA,
                                        const Imperfections& impB, const ImageLighting& lighting, Noise& noise) {
    std::vector<std::uint8_t> transfer(kUsbTransferSize, 0);
    for (int camera = 0; camera < 2; ++camera) {
        const bool cameraB = camera == 1;
        const Imperfections& imp = cameraB ? impB : impA;
        const std::vector<ShadowEdges> shadows = NoisyShadows(g, cameraB, cameraB ? lensB : lensA, fingers, imp, noise);
        for (std::size_t i = 0; i < kImageSamplesPerCamera; ++i) {
            const std::size_t pixel = kImageFirstPixel + i;
            // The emitters light the middle of the line best.
            const double u = static_cast<double>(i) / kImageSamplesPerCamera - 0.5;
            const double lit = lighting.background * (1.0 - 0.3 * u * u);
            const double c = Coverage(PixelCentre(pixel), shadows);
            double level = lit * (1.0 - (1.0 - lighting.shadowDepth) * c) + imp.ambient * lighting.background;
            if (imp.deadPixel && *imp.deadPixel == pixel) level = 0;
            transfer[static_cast<std::size_t>(camera) * kImageSamplesPerCamera + i] =
                static_cast<std::uint8_t>(std::clamp(std::lround(level), 0L, 255L));
        }
    }
    return transfer;
}

std::vector<std::uint8_t> LineTransfer(std::uint8_t subCode, std::span<const std::uint8_t> line) {
    const std::vector<std::uint8_t> stream = RunLengthEncode(line);
    std::vector<std::uint8_t> transfer(kUsbTransferSize, 0);
    // A busy line needs more runs than a frame holds; the controller sends what fits.
    const std::size_t n = stream.size() < kMaxPacketPayload ? stream.size() : kMaxPacketPayload;
    BuildFramedPacket(0x10, 0x01, subCode, stream.data(), n, transfer.data());
    return transfer;
}

}  // namespace kav::sim
