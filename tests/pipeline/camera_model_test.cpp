#include "kavusb/pipeline/camera_model.h"

#include "kavusb/frame/config_cache.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>

namespace kav::test {
namespace {

SCREEN_PROPERTY Screen800x600() {
    SCREEN_PROPERTY s{};
    s.Width = 800;
    s.Height = 600;
    s.NewContactDivisor = 100;
    s.NewContactNumerator = 15000;
    s.BaselineY = -30;
    s.CameraAX = -50;
    s.CameraBX = 50;
    s.VelocityRefCount = 5;
    s.VelocityWeight = 0.2f;
    return s;
}

CAMERA_PROPERTIES Camera(float p1, std::uint32_t start = 0, std::uint32_t end = 640) {
    CAMERA_PROPERTIES c{};
    c.WindowStart = start;
    c.WindowEnd = end;
    c.P[0] = 0.2f;
    c.P[1] = p1;
    c.P[2] = 0.25f;
    c.Offset = 0.1f;
    c.Scale = 0.5f;
    return c;
}

TEST(CameraModel, ScreenScaleFromAValidScreenProperty) {
    TRIANGULATION t{};
    EXPECT_TRUE(RebuildCameraModel(&t, Screen800x600(), Camera(1.0f), Camera(1.0f)));
    // Baseline 50 + 50 + 800 = 900 mm.
    EXPECT_EQ(+t.Scale.ScaleX, 36864.0f);
    EXPECT_EQ(+t.Scale.OffsetX, -2048.0f);
    EXPECT_EQ(+t.Scale.ScaleY, 49152.0f);
    EXPECT_EQ(+t.Scale.OffsetY, -1638.4f);
    EXPECT_EQ(+t.Scale.ScaleSize, 36864.0f);
    EXPECT_EQ(+t.Scale.NewContactDistance, 150.0f / 900.0f);
    EXPECT_EQ(+t.Scale.BaselineMm, 900.0f);
}

TEST(CameraModel, InvalidScreenPropertiesFallBackToTheNominalGeometry) {
    struct Case {
        const char* name;
        void (*spoil)(SCREEN_PROPERTY&);
    };
    const Case cases[] = {
        {"zero width", [](SCREEN_PROPERTY& s) { s.Width = 0; }},
        {"zero height", [](SCREEN_PROPERTY& s) { s.Height = 0; }},
        {"zero divisor", [](SCREEN_PROPERTY& s) { s.NewContactDivisor = 0; }},
        {"zero numerator", [](SCREEN_PROPERTY& s) { s.NewContactNumerator = 0; }},
        {"zero reference count", [](SCREEN_PROPERTY& s) { s.VelocityRefCount = 0; }},
        {"weight 1", [](SCREEN_PROPERTY& s) { s.VelocityWeight = 1.0f; }},
        {"negative weight", [](SCREEN_PROPERTY& s) { s.VelocityWeight = -0.01f; }},
        {"cameras closer than nothing", [](SCREEN_PROPERTY& s) { s.CameraAX = 900; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TRIANGULATION t{};
        RebuildCameraModel(&t, Screen800x600(), Camera(1.0f), Camera(1.0f));
        SCREEN_PROPERTY s = Screen800x600();
        c.spoil(s);
        EXPECT_FALSE(RebuildCameraModel(&t, s, Camera(1.0f), Camera(1.0f)));
        EXPECT_EQ(+t.Scale.ScaleX, 32768.0f);
        EXPECT_EQ(+t.Scale.ScaleSize, 32768.0f);
        EXPECT_EQ(+t.Scale.OffsetX, 0.0f);
        EXPECT_EQ(+t.Scale.OffsetY, 0.0f);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(+t.Scale.ScaleY), 0x472AAAABu);
        EXPECT_EQ(+t.Scale.NewContactDistance, 0.25f);
        EXPECT_EQ(+t.Scale.BaselineMm, 900.0f);  // kept from the last valid record
    }
}

TEST(CameraModel, CameraRecordsAreValidOnTheSizeOfTheirFirstTerm) {
    struct Case {
        float p1;
        std::uint32_t start, end;
        bool valid;
    };
    const Case cases[] = {
        {1.0f, 0, 640, true},    {-1.2f, 0, 640, true},   {0.8f, 10, 630, true},
        {1.5f, 0, 640, true},    {0.79f, 0, 640, false},  {1.51f, 0, 640, false},
        {-0.5f, 0, 640, false},  {1.0f, 600, 700, false},  // window outside the line
        {1.0f, 300, 300, false},                           // empty window
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.p1 << " " << c.start << ".." << c.end);
        TRIANGULATION t{};
        EXPECT_EQ(RebuildCameraModel(&t, Screen800x600(), Camera(c.p1, c.start, c.end), Camera(1.0f)), c.valid);
        const CAMERA_MODEL& a = t.Model[0];
        const CAMERA_MODEL& b = t.Model[1];
        if (c.valid) {
            EXPECT_EQ(+a.WindowStart, c.start);
            EXPECT_EQ(+a.WindowEnd, c.end);
            EXPECT_EQ(+a.Coef[0], 0.2f);  // 0.5 * 0.2 + 0.1
            EXPECT_EQ(+a.Coef[1], 0.5f * c.p1);
            EXPECT_EQ(+a.Coef[2], 0.125f);
        } else {
            EXPECT_EQ(+a.WindowStart, 0u);
            EXPECT_EQ(+a.WindowEnd, 640u);
            EXPECT_EQ(+a.Coef[0], 0.0f);
            EXPECT_EQ(std::bit_cast<std::uint32_t>(+a.Coef[1]), 0x3F933333u);
            EXPECT_EQ(+a.Coef[2], 0.0f);
        }
        // Camera B is the valid record, negated.
        EXPECT_EQ(+b.Coef[0], -0.2f);
        EXPECT_EQ(+b.Coef[1], -0.5f);
    }
    TRIANGULATION t{};
    RebuildCameraModel(&t, Screen800x600(), Camera(1.0f), Camera(0.1f));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(+t.Model[1].Coef[1]), 0xBF933333u);
}

TEST(CameraModel, RebuildResetsTheTrackingState) {
    TRIANGULATION t{};
    t.Raw[0].state = 2;
    t.Reference[1].state = 1;
    t.Filtered[0].state = 2;
    t.HoldCounter = 3;
    t.TwoAgainstOne = 1;
    t.Camera[0].Tracker.state = kMergeApart;
    t.Camera[1].Tracker.state = kMergeSplitSwapped;
    t.History[0].Newest = 7;
    t.History[1].Entry[20].state = 2;
    RebuildCameraModel(&t, Screen800x600(), Camera(1.0f), Camera(1.0f));
    EXPECT_EQ(+t.Raw[0].state, 0);
    EXPECT_EQ(+t.Reference[1].state, 0);
    EXPECT_EQ(+t.Filtered[0].state, 0);
    EXPECT_EQ(+t.HoldCounter, 0);
    EXPECT_EQ(+t.TwoAgainstOne, 0);
    EXPECT_EQ(+t.Camera[0].Tracker.state, 0);
    EXPECT_EQ(+t.Camera[1].Tracker.state, 0);
    EXPECT_EQ(+t.History[0].Newest, -1);
    EXPECT_EQ(+t.History[1].Newest, -1);
    EXPECT_EQ(+t.History[1].Entry[20].state, 0);
}

TEST(CameraModel, CameraATakesTheRecordOfTheLineThatFeedsIt) {
    DEVICE_CONTEXT* context = new DEVICE_CONTEXT{};
    context->ScreenProperty = Screen800x600();
    context->CameraProperties[0] = Camera(1.0f);
    context->CameraProperties[1] = Camera(1.4f);
    LoadCameraModel(context);
    EXPECT_EQ(+context->Triangulation.Model[0].Coef[1], 0.7f);
    EXPECT_EQ(+context->Triangulation.Model[1].Coef[1], -0.5f);
    context->SwapCameras = 1;
    LoadCameraModel(context);
    EXPECT_EQ(+context->Triangulation.Model[0].Coef[1], 0.5f);
    EXPECT_EQ(+context->Triangulation.Model[1].Coef[1], -0.7f);
    delete context;
}

TEST(CameraModel, PixelsToAngles) {
    TRIANGULATION t{};
    RebuildCameraModel(&t, SCREEN_PROPERTY{}, Camera(0.0f), Camera(0.0f));  // default models
    const double quarterPi = 0.7853981633974483;
    const double span = 1.149999976158142;  // 1.15f widened
    EXPECT_EQ(PixelToAngle(320.0f, t.Model[0]), quarterPi);
    EXPECT_EQ(PixelToAngle(0.0f, t.Model[0]), quarterPi - span);
    EXPECT_EQ(PixelToAngle(0.0f, t.Model[1]), quarterPi + span);

    // Shadow 100..120 on camera A: u = -0.6875 and -0.625, centre 110 at u = -0.65625.
    const SHADOW_ANGLES a = ShadowToAngles(100, 120, t.Model[0]);
    EXPECT_EQ(+a.low, quarterPi + span * -0.6875);
    EXPECT_EQ(+a.high, quarterPi + span * -0.625);
    EXPECT_EQ(+a.centre, quarterPi + span * -0.65625);
    EXPECT_EQ(+a.width, a.high - a.low);
    // Camera B's polynomial falls with the pixel: the low edge comes from the end pixel.
    const SHADOW_ANGLES b = ShadowToAngles(100, 120, t.Model[1]);
    EXPECT_EQ(+b.low, quarterPi - span * -0.625);
    EXPECT_EQ(+b.high, quarterPi - span * -0.6875);

    // The full polynomial by Horner's rule: c0 + u (c1 + u c2) with u = 0.5 at pixel 480.
    RebuildCameraModel(&t, SCREEN_PROPERTY{}, Camera(1.0f), Camera(1.0f));
    EXPECT_EQ(PixelToAngle(480.0f, t.Model[0]), quarterPi + 0.2f + 0.5 * (0.5 + 0.5 * 0.125));
}

TEST(CameraModel, PlanePointsToLogicalCoordinates) {
    TRIANGULATION t{};
    RebuildCameraModel(&t, Screen800x600(), Camera(1.0f), Camera(1.0f));
    struct Case {
        TRACK_POINT point;
        std::int32_t x, y, size;
    };
    const Case cases[] = {
        {{0.5, 0.25, 0.01, 0, 2}, 16384, 10649, 368},    // 12288 - 1638.4 truncated; 368.64
        {{0.0, 0.0, -0.01, 0, 2}, -2048, -1638, 0},      // negative size becomes 0
        {{1.0, 1e12, 0.0, 0, 2}, 34816, 2147483647, 0},  // saturates instead of overflowing
        {{std::nan(""), 0.0, 0.0, 0, 2}, -2147483647 - 1, -1638, 0},
    };
    for (const Case& c : cases) {
        const TOUCH_POINT p = ToLogical(c.point, t.Scale);
        EXPECT_EQ(+p.X, c.x);
        EXPECT_EQ(+p.Y, c.y);
        EXPECT_EQ(+p.Size, c.size);
        EXPECT_EQ(+p.Tip, 0);
    }
}

}  // namespace
}  // namespace kav::test
