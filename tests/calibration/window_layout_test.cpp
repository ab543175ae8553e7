#include "calibration/window_layout.h"

#include <gtest/gtest.h>

#include <sstream>

namespace kav::calib {
namespace {

std::string Show(const PixelRect& r) {
    std::ostringstream out;
    out << "(" << r.left << "," << r.top << ")-(" << r.right << "," << r.bottom << ")";
    return out.str();
}

TEST(WindowLayout, ButtonsInARowAboveTheMiddleAndTheStatusBelow) {
    CalibConfig config;  // 72 x 48, 20 apart
    const ButtonLayout layout = LayOutButtons({1280, 800}, config);
    // Row top: 800/3 - 48 = 218; the OK button centred on 640.
    EXPECT_EQ(layout.ok, (PixelRect{604, 218, 676, 266}));
    EXPECT_EQ(layout.reCalibrate, (PixelRect{512, 218, 584, 266}));
    EXPECT_EQ(layout.cancel, (PixelRect{696, 218, 768, 266}));
    // (3 * 72 + 2 * 20) square, from the first button's left, 24 + 20 below the third.
    EXPECT_EQ(layout.status, (PixelRect{512, 310, 768, 566}));

    config.buttonWidth = 0;  // a negative width read as 0 still lays out without overlap
    const ButtonLayout narrow = LayOutButtons({1280, 800}, config);
    EXPECT_LE(narrow.reCalibrate.right, narrow.ok.left);
    EXPECT_LE(narrow.ok.right, narrow.cancel.left);
}

TEST(WindowLayout, PicturesTargetsAndStatusText) {
    EXPECT_EQ(StatusTextPaintRect({1280, 800}), (PixelRect{512, 290, 768, 303}));
    // 1/16 and 15/16 of the client area; truncated, not rounded.
    EXPECT_EQ(TargetPixel(2048, 2048, {1280, 800}), (PixelPoint{80, 50}));
    EXPECT_EQ(TargetPixel(30720, 30720, {1280, 800}), (PixelPoint{1200, 750}));
    EXPECT_EQ(TargetPixel(9216, 9216, {350, 300}), (PixelPoint{98, 84}));  // 98.4, 84.375
    EXPECT_EQ(CentredOrigin({80, 50}, {48, 48}), (PixelPoint{56, 26}));
    EXPECT_EQ(CentredOrigin({640, 400}, {1281, 801}), (PixelPoint{0, 0}));

    EXPECT_EQ(ResizerImageOrigins({350, 300}, {24, 32}),
              (std::array<PixelPoint, 4>{{{0, 134}, {163, 0}, {326, 134}, {163, 268}}}));
    // Grips stand on the zone, rounded down to even sizes at the right and bottom.
    EXPECT_EQ(GripOrigins({350, 300}, {29, 27}),
              (std::array<PixelPoint, 4>{{{0, 137}, {161, 0}, {322, 137}, {161, 274}}}));
}

TEST(WindowLayout, HotZonesAtTheMiddlesOfTheEdges) {
    const PixelSize client{350, 300};  // mx 175, my 150
    const struct {
        PixelPoint point;
        Edge edge;
    } kCases[] = {
        {{0, 150}, Edge::kLeft},     {{28, 164}, Edge::kLeft},    {{29, 150}, Edge::kNone},
        {{10, 165}, Edge::kNone},    {{175, 0}, Edge::kTop},      {{161, 28}, Edge::kTop},
        {{160, 10}, Edge::kNone},    {{322, 136}, Edge::kRight},  {{350, 150}, Edge::kRight},
        {{175, 272}, Edge::kBottom}, {{189, 300}, Edge::kBottom}, {{175, 150}, Edge::kNone},
        {{100, 100}, Edge::kNone},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.point.x << "," << c.point.y);
        EXPECT_EQ(HitEdge(c.point, client, kDefaultHandleZone), c.edge);
    }
    // A window as small as its zones: the later edge in left, top, right, bottom wins.
    EXPECT_EQ(HitEdge({10, 10}, {20, 20}, kDefaultHandleZone), Edge::kBottom);
    EXPECT_EQ(HitEdge({20, 20}, {40, 40}, kDefaultHandleZone), Edge::kBottom);
    EXPECT_EQ(HitEdge({20, 10}, {40, 40}, kDefaultHandleZone), Edge::kRight) << "left, top and right: right";
}

TEST(WindowLayout, EdgesStartTheSystemsSizingAndElsewhereItsMove) {
    EXPECT_EQ(SizeOrMoveCommand(Edge::kLeft), 0xF001u);
    EXPECT_EQ(SizeOrMoveCommand(Edge::kTop), 0xF003u);
    EXPECT_EQ(SizeOrMoveCommand(Edge::kRight), 0xF002u);
    EXPECT_EQ(SizeOrMoveCommand(Edge::kBottom), 0xF006u);
    EXPECT_EQ(SizeOrMoveCommand(Edge::kNone), 0xF012u);
}

TEST(WindowLayout, RegionRectangleCorrections) {
    const PixelSize minimum{350, 300};
    const PixelSize screen{1280, 800};
    const struct {
        const char* what;
        RegionChange change;
        PixelRect proposed;
        PixelRect corrected;
    } kCases[] = {
        {"inside stays", RegionChange::kSize, {100, 100, 600, 500}, {100, 100, 600, 500}},
        {"left edge past 0", RegionChange::kSize, {-30, 100, 600, 500}, {0, 100, 600, 500}},
        {"too narrow grows right", RegionChange::kSize, {100, 100, 200, 500}, {100, 100, 450, 500}},
        {"too low grows down", RegionChange::kSize, {100, 100, 600, 150}, {100, 100, 600, 400}},
        {"right edge stops at screen", RegionChange::kSize, {100, 100, 1400, 500}, {100, 100, 1280, 500}},
        {"bottom edge stops at screen", RegionChange::kSize, {100, 100, 600, 900}, {100, 100, 600, 800}},
        {"narrow at the right shifts left", RegionChange::kSize, {1100, 100, 1200, 500}, {930, 100, 1280, 500}},
        {"low at the bottom shifts up", RegionChange::kSize, {100, 700, 600, 750}, {100, 500, 600, 800}},
        {"move keeps the size at the right", RegionChange::kMove, {1000, 100, 1500, 500}, {780, 100, 1280, 500}},
        {"move keeps the size at the bottom", RegionChange::kMove, {100, 600, 600, 1000}, {100, 400, 600, 800}},
        {"move keeps the size at top left", RegionChange::kMove, {-50, -20, 400, 330}, {0, 0, 450, 350}},
        {"move of a small one grows it", RegionChange::kMove, {1200, 10, 1300, 50}, {930, 10, 1280, 310}},
        {"screen below minimum: fills it", RegionChange::kSize, {0, 0, 200, 200}, {0, 0, 300, 250}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        const PixelSize thisScreen =
            std::string_view(c.what).starts_with("screen below") ? PixelSize{300, 250} : screen;
        const PixelRect corrected = CorrectRegionRect(c.proposed, c.change, minimum, thisScreen);
        EXPECT_EQ(corrected, c.corrected) << Show(corrected);
    }
}

}  // namespace
}  // namespace kav::calib
