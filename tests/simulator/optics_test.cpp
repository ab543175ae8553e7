// The controller's optics: lines and grey samples from fingers, and records that match.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "shared/device_packet.h"
#include "simulator/controller/optics.h"

namespace kav::sim {
namespace {

const Geometry kScreen{400, 300, -20, 20, -20};
const std::vector<Finger> kFinger{{200, 150, 10}};

std::size_t Dark(const std::array<std::uint8_t, kCameraPixels>& line) {
    return static_cast<std::size_t>(std::count(line.begin(), line.end(), 1));
}

TEST(Optics, WithoutImperfectionsTheLineIsTheIdealOne) {
    Noise noise(1);
    for (const bool b : {false, true}) {
        const Lens lens = Lens::Nominal(b);
        const auto ideal = RenderLine(kScreen, b, lens, kFinger);
        EXPECT_EQ(RenderLine(kScreen, b, lens, kFinger, Imperfections{}, noise), ideal);
        EXPECT_GT(Dark(ideal), 5u);
        EXPECT_LT(Dark(ideal), 30u);
    }
}

TEST(Optics, TheShadowEdgesAreWhereTheLensLooksPastTheFinger) {
    const auto shadows = ShadowsOnLine(kScreen, false, Lens::Nominal(false), kFinger);
    ASSERT_EQ(shadows.size(), 1u);
    const auto line = RenderLine(kScreen, false, Lens::Nominal(false), kFinger);
    for (std::size_t p = 0; p < kCameraPixels; ++p) {
        const double at = static_cast<double>(p) + 0.5;  // the pixel's centre
        EXPECT_EQ(line[p] == 1, at >= shadows[0].start && at <= shadows[0].end) << p;
    }
}

TEST(Optics, ImperfectionsChangeTheLineAsTheySay) {
    Noise noise(3);
    const Lens lens = Lens::Nominal(false);
    const auto ideal = RenderLine(kScreen, false, lens, kFinger);
    Imperfections dead;
    dead.deadPixel = 10;
    auto line = RenderLine(kScreen, false, lens, {}, dead, noise);
    EXPECT_EQ(Dark(line), 1u);
    EXPECT_EQ(line[10], 1);

    Imperfections ambient;
    ambient.ambient = 0.3;
    EXPECT_LT(Dark(RenderLine(kScreen, false, lens, kFinger, ambient, noise)), Dark(ideal));
    ambient.ambient = 0.6;
    EXPECT_EQ(Dark(RenderLine(kScreen, false, lens, kFinger, ambient, noise)), 0u);

    Imperfections noisy;
    noisy.edgeNoisePx = 1.0;
    bool changed = false;
    for (int i = 0; i < 20 && !changed; ++i) changed = RenderLine(kScreen, false, lens, kFinger, noisy, noise) != ideal;
    EXPECT_TRUE(changed);
}

TEST(Optics, NoiseIsTheSameSequenceForTheSameSeed) {
    Noise a(42), b(42), c(43);
    double sum = 0, squares = 0;
    for (int i = 0; i < 4000; ++i) {
        const double x = a.Gaussian();
        EXPECT_EQ(x, b.Gaussian());
        sum += x;
        squares += x * x;
    }
    EXPECT_NEAR(sum / 4000, 0, 0.05);
    EXPECT_NEAR(squares / 4000, 1, 0.1);
    EXPECT_NE(Noise(42).Uniform(), c.Uniform());
}

TEST(Optics, RecordsDescribeTheLensAndTheScreen) {
    Lens lens = Lens::Nominal(true);
    lens.coef[0] = -0.01;
    lens.coef[3] = 0.002;
    const CAMERA_PROPERTIES b = CameraRecord(lens, true, 12, 600);
    EXPECT_EQ(b.WindowStart, 12u);
    EXPECT_EQ(b.WindowEnd, 600u);
    // The driver negates camera B's terms itself.
    EXPECT_FLOAT_EQ(b.P[0], 0.01f);
    EXPECT_FLOAT_EQ(b.P[1], 1.15f);
    EXPECT_FLOAT_EQ(b.P[3], -0.002f);
    EXPECT_EQ(b.Scale, 1.0f);
    EXPECT_EQ(b.Offset, 0.0f);
    const SCREEN_PROPERTY s = ScreenRecord(kScreen);
    EXPECT_EQ(s.Width, 400u);
    EXPECT_EQ(s.Height, 300u);
    EXPECT_EQ(s.CameraAX, -20);
    EXPECT_EQ(s.CameraBX, 20);
    EXPECT_EQ(s.BaselineY, -20);
}

TEST(Optics, ImageSamplesAreLitBackgroundWithDarkShadows) {
    Noise noise(1);
    const auto empty = ImageTransfer(kScreen, Lens::Nominal(false), Lens::Nominal(true), {}, {}, {}, {}, noise);
    ASSERT_EQ(empty.size(), kUsbTransferSize);
    for (std::size_t i = 0; i < 2 * kImageSamplesPerCamera; ++i) EXPECT_GT(empty[i], 100) << i;
    const auto touched = ImageTransfer(kScreen, Lens::Nominal(false), Lens::Nominal(true), kFinger, {}, {}, {}, noise);
    for (int camera = 0; camera < 2; ++camera) {
        const auto line = RenderLine(kScreen, camera == 1, Lens::Nominal(camera == 1), kFinger);
        for (std::size_t i = 0; i < kImageSamplesPerCamera; ++i) {
            const std::size_t at = static_cast<std::size_t>(camera) * kImageSamplesPerCamera + i;
            // Well inside a shadow: dark against the same sample without the finger.
            const std::size_t p = kImageFirstPixel + i;
            if (line[p] == 1 && line[p - 1] == 1 && line[p + 1] == 1) {
                EXPECT_LT(touched[at], 0.6 * empty[at]) << camera << " " << i;
            }
            if (line[p] == 0 && line[p - 1] == 0 && line[p + 1] == 0) {
                EXPECT_EQ(touched[at], empty[at]);
            }
        }
    }
}

}  // namespace
}  // namespace kav::sim
