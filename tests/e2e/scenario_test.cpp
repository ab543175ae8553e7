// Scenarios through the whole driver: what the operating system receives for taps,
// drags, two fingers, holds and frame buttons, against where the fingers truly were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "shared/hid_reports.h"
#include "simulator/scenario/scenario.h"

namespace kav::test {
namespace {

struct Touch {
    double ms;
    int slot;  // 0 or 1 in the report
    std::uint8_t status;
    std::uint8_t id;
    double x, y;  // mm
};

std::vector<Touch> Touches(const sim::Scenario& s, const sim::RunResult& run) {
    std::vector<Touch> touches;
    for (const sim::TimedReport& r : run.reports) {
        if (r.bytes.size() != sizeof(TOUCH_REPORT) || r.bytes[0] != kTouchReportId) continue;
        TOUCH_REPORT t;
        std::memcpy(&t, r.bytes.data(), sizeof t);
        for (int i = 0; i < 2; ++i) {
            const TOUCH_CONTACT c = t.Contact[i];
            if (c.Status == kContactNone) continue;
            touches.push_back({r.ms, i, c.Status, c.ContactId, c.X * s.width / 32768.0, c.Y * s.height / 32768.0});
        }
    }
    return touches;
}

struct Mouse {
    double ms;
    std::uint8_t buttons;
    std::uint16_t x = 0, y = 0;
};

std::vector<Mouse> MouseReports(const sim::RunResult& run) {
    std::vector<Mouse> out;
    for (const sim::TimedReport& r : run.reports) {
        MOUSE_REPORT m;
        if (!DecodeMouseReport(r.bytes.data(), r.bytes.size(), &m)) continue;
        out.push_back({r.ms, m.Buttons, m.X, m.Y});
    }
    return out;
}

// The buttons of a run of mouse reports with repeats folded: "left right up".
std::string ButtonSequence(const std::vector<Mouse>& mouse) {
    std::string sequence;
    for (std::size_t i = 0; i < mouse.size(); ++i) {
        if (i > 0 && mouse[i].buttons == mouse[i - 1].buttons) continue;
        if (!sequence.empty()) sequence += ' ';
        switch (mouse[i].buttons) {
            case kMouseButtonNone:
                sequence += "up";
                break;
            case kMouseButtonLeft:
                sequence += "left";
                break;
            case kMouseButtonRight:
                sequence += "right";
                break;
            default:
                sequence += std::to_string(mouse[i].buttons);
        }
    }
    return sequence;
}

// Distance from a reported point to where one finger (by stroke) was in the 50 ms
// before the report: the pipeline reports a few frames late.
double DistanceToStroke(const sim::RunResult& run, int stroke, const Touch& t) {
    double best = 1e9;
    for (const sim::TruthFrame& f : run.truth) {
        if (f.ms > t.ms || f.ms < t.ms - 50) continue;
        for (std::size_t i = 0; i < f.fingers.size(); ++i)
            if (f.stroke[i] == stroke) best = std::min(best, std::hypot(f.fingers[i].x - t.x, f.fingers[i].y - t.y));
    }
    return best;
}

sim::RunResult RunText(const std::string& text, sim::Scenario* parsed = nullptr) {
    const sim::Scenario s = sim::ParseScenario(text);
    if (parsed != nullptr) *parsed = s;
    return sim::RunScenario(s);
}

struct TapCase {
    double x, y;
};

class TapAccuracy : public ::testing::TestWithParam<TapCase> {};

TEST_P(TapAccuracy, IsReportedWithinOneMillimetreWithMatchingRecords) {
    const TapCase c = GetParam();
    sim::Scenario s;
    const auto run =
        RunText("records match\n0 tap " + std::to_string(c.x) + " " + std::to_string(c.y) + " ms=300\n", &s);
    const auto touches = Touches(s, run);
    std::size_t touching = 0;
    for (const Touch& t : touches) {
        EXPECT_EQ(t.id, 0);
        if (t.status != kContactTouching) continue;
        ++touching;
        EXPECT_LT(std::hypot(t.x - c.x, t.y - c.y), 1.0) << "at " << t.ms << " ms: " << t.x << ", " << t.y;
    }
    EXPECT_GT(touching, 5u);
    ASSERT_FALSE(touches.empty());
    EXPECT_EQ(touches.back().status, kContactLifted);
}

INSTANTIATE_TEST_SUITE_P(Screen, TapAccuracy,
                         ::testing::Values(TapCase{200, 150}, TapCase{60, 50}, TapCase{340, 60}, TapCase{50, 270},
                                           TapCase{350, 260}, TapCase{200, 20}));

// The records are what the driver's camera model is built from: a lens that turns
// 10 mrad further than the nominal one is placed right only when its record says so.
TEST(ScenarioLens, RecordsThatMatchTheLensCorrectItAndNominalOnesDoNot) {
    const std::string tap = "0 tap 250 200 ms=300\n";
    const std::string lens = "lens A 0.01 1.15\nlens B -0.01 -1.15\n";
    auto largestError = [&](const std::string& header) {
        sim::Scenario s;
        const auto run = RunText(header + tap, &s);
        double worst = 0;
        for (const Touch& t : Touches(s, run))
            if (t.status == kContactTouching) worst = std::max(worst, std::hypot(t.x - 250, t.y - 200));
        return worst;
    };
    EXPECT_LT(largestError(lens + "records match\n"), 1.0);
    EXPECT_GT(largestError(lens + "records none\n"), 3.0);
    // A record of a lens other than the camera's misplaces the finger as much.
    EXPECT_GT(largestError("record-lens A 0.01 1.15\nrecord-lens B -0.01 -1.15\n"), 3.0);
}

TEST(ScenarioDrag, CoordinatesAdvanceSteadilyAndMonotonically) {
    sim::Scenario s;
    const auto run = RunText("records match\n0 drag 80 100 320 200 ms=1000\n", &s);
    std::vector<Touch> path;
    for (const Touch& t : Touches(s, run))
        if (t.status == kContactTouching) path.push_back(t);
    ASSERT_GT(path.size(), 80u);
    // 240 mm in x and 100 mm in y over 100 frames.
    for (std::size_t i = 1; i < path.size(); ++i) {
        const double dx = path[i].x - path[i - 1].x;
        const double dy = path[i].y - path[i - 1].y;
        EXPECT_GE(dx, 0) << "x went back at " << path[i].ms << " ms";
        EXPECT_GE(dy, 0) << "y went back at " << path[i].ms << " ms";
        EXPECT_LT(std::hypot(dx, dy), 2 * 2.6) << "jump at " << path[i].ms << " ms";
        if (i > 5 && i + 5 < path.size() && path[i].ms > path[i - 1].ms) {
            EXPECT_NEAR(std::hypot(dx, dy), 2.6, 0.8) << "uneven at " << path[i].ms << " ms";
        }
        EXPECT_LT(DistanceToStroke(run, 0, path[i]), 1.5);
    }
}

struct TwoFingerCase {
    const char* gesture;
};

class TwoFingers : public ::testing::TestWithParam<TwoFingerCase> {};

// Two cameras see two fingers as four crossings; the driver must keep the real pair,
// each under its own identifier, all along.
TEST_P(TwoFingers, KeepTheirIdentifiersAndAreNotTakenForTheirGhosts) {
    sim::Scenario s;
    const auto run = RunText(std::string("records match\n") + GetParam().gesture + "\n", &s);
    const auto touches = Touches(s, run);
    std::size_t both = 0;
    int lifts[2] = {};
    for (const Touch& t : touches) {
        ASSERT_LT(t.id, 2);
        if (t.status == kContactLifted) {
            ++lifts[t.id];
            continue;
        }
        EXPECT_LT(DistanceToStroke(run, t.id, t), 3.0) << "contact " << int{t.id} << " at " << t.ms << " ms";
        if (t.slot == 1) ++both;
    }
    EXPECT_GT(both, 50u);
    EXPECT_EQ(lifts[0], 1);
    EXPECT_EQ(lifts[1], 1);
}

INSTANTIATE_TEST_SUITE_P(Gestures, TwoFingers,
                         ::testing::Values(TwoFingerCase{"0 rotate 200 150 60 0 90 ms=1000"},
                                           TwoFingerCase{"0 pinch 200 150 60 200 ms=800"},
                                           TwoFingerCase{"0 pinch 200 150 60 200 ms=800 angle=60"},
                                           TwoFingerCase{"0 pinch 200 150 220 50 ms=800 angle=-30"},
                                           TwoFingerCase{"0 cross 80 80 320 120 80 240 320 200 ms=1000"}));

struct HoldCase {
    const char* settings;
    double holdMs;
    double rightClickMs;  // after the left button went down; 0 for none
};

class HoldToRightClick : public ::testing::TestWithParam<HoldCase> {};

TEST_P(HoldToRightClick, InMouseEmulation) {
    const HoldCase c = GetParam();
    const auto run = RunText(std::string("records match\nworkmode F1\nset Mode 2\n") + c.settings +
                             "100 hold 200 150 ms=" + std::to_string(c.holdMs) + "\n");
    const auto mouse = MouseReports(run);
    ASSERT_FALSE(mouse.empty());
    EXPECT_EQ(mouse.front().buttons, kMouseButtonLeft);
    EXPECT_EQ(mouse.back().buttons, kMouseButtonNone);
    const auto isRight = [](const Mouse& m) { return m.buttons == kMouseButtonRight; };
    const auto right = std::find_if(mouse.begin(), mouse.end(), isRight);
    if (c.rightClickMs == 0) {
        EXPECT_EQ(right, mouse.end());
        return;
    }
    ASSERT_NE(right, mouse.end());
    EXPECT_GE(right->ms - mouse.front().ms, c.rightClickMs);
    EXPECT_LT(right->ms - mouse.front().ms, c.rightClickMs + 50);
    EXPECT_EQ(std::count_if(mouse.begin(), mouse.end(), isRight), 1);
}

INSTANTIATE_TEST_SUITE_P(Holds, HoldToRightClick,
                         ::testing::Values(HoldCase{"", 1500, 1000}, HoldCase{"", 700, 0},
                                           HoldCase{"set EnableRightClick 0\n", 1500, 0},
                                           HoldCase{"set RightClickTime 400\n", 700, 400}));

// What a desktop sees of one touch in mouse emulation (right click after 1 s within 4 mm).
struct MouseTouchCase {
    const char* name;
    const char* gestures;
    const char* buttons;  // ButtonSequence of the whole run
};

class MouseEmulationTouch : public ::testing::TestWithParam<MouseTouchCase> {};

TEST_P(MouseEmulationTouch, SendsItsButtonsAndNothingAfterARightClickButTheRelease) {
    const MouseTouchCase c = GetParam();
    const auto run = RunText(std::string("records match\nworkmode F1\nset Mode 2\n") + c.gestures);
    const auto mouse = MouseReports(run);
    ASSERT_FALSE(mouse.empty());
    EXPECT_EQ(ButtonSequence(mouse), c.buttons);
    const auto right =
        std::find_if(mouse.begin(), mouse.end(), [](const Mouse& m) { return m.buttons == kMouseButtonRight; });
    if (right == mouse.end()) return;
    // One right click, then only the release: exactly one more report, where the right
    // button went down however the finger moved.
    ASSERT_EQ(mouse.end() - right, 2) << "reports after the right click";
    EXPECT_EQ(mouse.back().buttons, kMouseButtonNone);
    EXPECT_EQ(mouse.back().x, right->x);
    EXPECT_EQ(mouse.back().y, right->y);
}

INSTANTIATE_TEST_SUITE_P(
    Touches, MouseEmulationTouch,
    ::testing::Values(MouseTouchCase{"hold", "100 hold 200 150 ms=1500\n", "left right up"},
                      MouseTouchCase{"drag", "100 drag 100 150 300 150 ms=1500\n", "left up"},
                      // Slow enough to leave the 4 mm only after half a second.
                      MouseTouchCase{"slow drag", "100 drag 200 150 215 150 ms=1500\n", "left up"},
                      MouseTouchCase{"hold then move", "100 hold 200 150 ms=1500\n1600 drag 200 150 260 200 ms=500\n",
                                     "left right up"}),
    [](const ::testing::TestParamInfo<MouseTouchCase>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

// The lift in the very frame after the right click still releases the right button.
TEST(MouseEmulationTouch, LiftedRightAfterTheRightClickReleasesIt) {
    // The first left button comes 190 ms after touch-down (the tap stabilizer's wait),
    // the right one 1 s later; this hold ends so that the next frame is the lift.
    const auto run = RunText("records match\nworkmode F1\nset Mode 2\n100 hold 200 150 ms=1170\n");
    const auto mouse = MouseReports(run);
    EXPECT_EQ(ButtonSequence(mouse), "left right up");
    ASSERT_GE(mouse.size(), 2u);
    const Mouse& right = mouse[mouse.size() - 2];
    ASSERT_EQ(right.buttons, kMouseButtonRight);
    EXPECT_EQ(mouse.back().ms - right.ms, 10) << "the hold no longer ends in the frame after the right click";
}

struct ButtonCase {
    int line;
    std::uint8_t key;
};

class FrameButtons : public ::testing::TestWithParam<ButtonCase> {};

TEST_P(FrameButtons, BecomeFunctionKeys) {
    const ButtonCase c = GetParam();
    const auto run = RunText("100 button " + std::to_string(c.line) + " ms=200\n");
    struct Key {
        double ms;
        std::uint8_t modifiers, key;
    };
    std::vector<Key> keys;
    for (const sim::TimedReport& r : run.reports) {
        if (r.bytes.size() < sizeof(KEYBOARD_REPORT) || r.bytes[0] != kKeyboardReportId) continue;
        KEYBOARD_REPORT k;
        std::memcpy(&k, r.bytes.data(), sizeof k);
        if (k.Keys[0] != 0) keys.push_back({r.ms, k.Modifiers, k.Keys[0]});
    }
    // Control and the key when pressed; Shift and the key when released.
    ASSERT_GE(keys.size(), 2u);
    EXPECT_EQ(keys.front().ms, 100);
    EXPECT_EQ(keys.front().modifiers, 0x01);
    EXPECT_EQ(keys.front().key, c.key);
    EXPECT_EQ(keys.back().ms, 300);
    EXPECT_EQ(keys.back().modifiers, 0x02);
    EXPECT_EQ(keys.back().key, c.key);
}

// F20..F24 then F13, F14; line 7 is wired as line 4.
INSTANTIATE_TEST_SUITE_P(Lines, FrameButtons,
                         ::testing::Values(ButtonCase{0, 0x6F}, ButtonCase{1, 0x70}, ButtonCase{2, 0x71},
                                           ButtonCase{3, 0x72}, ButtonCase{4, 0x73}, ButtonCase{5, 0x68},
                                           ButtonCase{6, 0x69}, ButtonCase{7, 0x73}));

TEST(ImageDevice, ReportsTouchesOnceItHasSeenTheLitBackground) {
    sim::Scenario s;
    const auto run = RunText("device image\nrecords match\n50 tap 150 120 ms=400\n", &s);
    const auto touches = Touches(s, run);
    ASSERT_FALSE(touches.empty());
    std::size_t touching = 0;
    for (const Touch& t : touches) {
        EXPECT_GE(t.ms, 50);
        EXPECT_EQ(t.id, 0);
        if (t.status != kContactTouching) continue;
        ++touching;
        EXPECT_LT(std::hypot(t.x - 150, t.y - 120), 1.5) << t.x << ", " << t.y;
    }
    EXPECT_GT(touching, 10u);
    EXPECT_EQ(touches.back().status, kContactLifted);
}

TEST(ImageDevice, AFingerThereFromTheFirstFrameIsLearnedAsBackground) {
    sim::Scenario s;
    const auto run = RunText("device image\nrecords match\n0 tap 150 120 ms=400\n", &s);
    EXPECT_TRUE(Touches(s, run).empty());
}

TEST(ScenarioRun, IsTheSameForTheSameSeedAndDiffersForAnother) {
    const std::string body = "noise 0.5\n0 drag 80 100 320 200 ms=600\n300 tap 100 250\n";
    const auto a = RunText("seed 5\n" + body);
    const auto b = RunText("seed 5\n" + body);
    const auto c = RunText("seed 6\n" + body);
    ASSERT_EQ(a.reports.size(), b.reports.size());
    for (std::size_t i = 0; i < a.reports.size(); ++i) {
        EXPECT_EQ(a.reports[i].ms, b.reports[i].ms);
        EXPECT_EQ(a.reports[i].bytes, b.reports[i].bytes);
    }
    bool differs = a.reports.size() != c.reports.size();
    for (std::size_t i = 0; !differs && i < a.reports.size(); ++i) differs = a.reports[i].bytes != c.reports[i].bytes;
    EXPECT_TRUE(differs);
}

TEST(ScenarioRun, FramesFollowTheFrameRateAndTheEnd) {
    const auto run = RunText("fps 50\nend 1000\n0 tap 200 150\n");
    EXPECT_EQ(run.frames, 51u);  // 0, 20, ... 1000 ms
    ASSERT_EQ(run.truth.size(), 51u);
    EXPECT_EQ(run.truth[1].ms, 20);
    EXPECT_EQ(run.truth[2].fingers.size(), 1u);  // the tap lasts from 0 to 60 ms
    EXPECT_TRUE(run.truth[3].fingers.empty());
}

}  // namespace
}  // namespace kav::test
