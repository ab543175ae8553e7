#include "optics.h"

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

std::array<std::uint8_t, kCameraPixels> RenderLine(const Geometry& g, bool cameraB, const Lens& lens,
                                                   std::span<const Finger> fingers) {
    // Each finger blocks the angles theta +- asin(r / d) as seen from the camera.
    struct Blocked {
        double low, high;
    };
    std::vector<Blocked> blocked;
    const double cameraX = cameraB ? g.width + g.cameraBX : g.cameraAX;
    for (const Finger& f : fingers) {
        const double dx = cameraB ? cameraX - f.x : f.x - cameraX;
        const double dy = f.y - g.baselineY;
        const double d = std::hypot(dx, dy);
        const double r = f.diameter / 2;
        if (d <= r) continue;
        const double theta = std::atan2(dx, dy);
        const double half = std::asin(r / d);
        blocked.push_back({theta - half, theta + half});
    }

    std::array<std::uint8_t, kCameraPixels> line{};
    for (std::size_t p = 0; p < kCameraPixels; ++p) {
        const double u = static_cast<double>(p) / 320.0 - 1.0;
        double poly = lens.coef[7];
        for (int i = 6; i >= 1; --i) poly = lens.coef[i] + u * poly;
        const double angle = kQuarterPi + lens.coef[0] + u * poly;
        for (const Blocked& b : blocked)
            if (angle >= b.low && angle <= b.high) line[p] = 1;
    }
    return line;
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
