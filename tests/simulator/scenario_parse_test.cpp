// The scenario format: what it accepts, and faults reported with their line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "simulator/data/data_file.h"
#include "simulator/scenario/scenario.h"

namespace kav::sim {
namespace {

TEST(ScenarioParse, ReadsSettingsAndGestures) {
    const Scenario s = ParseScenario(
        "# a comment\n"
        "device image\n"
        "screen 500 320   # trailing comment\n"
        "cameras -10 -15 12\n"
        "lens A 0.01 1.1 0.02\n"
        "records match\n"
        "fps 120\nseed 9\nnoise 0.3\ndead B 17\nambient 0.2\nworkmode F1\nset smoothness 4\nend 2000\n"
        "\n"
        "0 tap 10 20\n"
        "100 drag 1 2 3 4 ms=250 d=8\n"
        "200 pinch 100 100 20 80 angle=90\n"
        "300 workmode digitizer\n");
    EXPECT_TRUE(s.imageDevice);
    EXPECT_EQ(s.width, 500);
    EXPECT_EQ(s.cameraAX, -10);
    EXPECT_EQ(s.baselineY, -15);
    EXPECT_EQ(s.cameraBX, 12);
    EXPECT_EQ(s.lens[0].coef[2], 0.02);
    EXPECT_EQ(s.lens[1].coef[1], Lens::Nominal(true).coef[1]);
    EXPECT_TRUE(s.recordsMatch);
    EXPECT_EQ(s.fps, 120);
    EXPECT_EQ(s.seed, 9u);
    EXPECT_EQ(s.edgeNoisePx, 0.3);
    EXPECT_FALSE(s.deadPixel[0]);
    EXPECT_EQ(s.deadPixel[1], 17u);
    EXPECT_EQ(s.workMode, 0xF1);
    ASSERT_EQ(s.parameters.size(), 1u);
    EXPECT_EQ(s.parameters[0].first, "Smoothness");  // the driver's spelling
    EXPECT_EQ(s.parameters[0].second, 4u);
    EXPECT_EQ(s.EndMs(), 2000);
    ASSERT_EQ(s.gestures.size(), 4u);
    EXPECT_EQ(s.gestures[0].durationMs, 60);
    EXPECT_EQ(s.gestures[1].durationMs, 250);
    EXPECT_EQ(s.gestures[1].strokes[0].diameter, 8);
    EXPECT_EQ(s.gestures[1].line, 17u);
    const Finger end = s.gestures[1].strokes[0].At(1);
    EXPECT_DOUBLE_EQ(end.x, 3);
    EXPECT_DOUBLE_EQ(end.y, 4);
    // A vertical pinch: the fingers 20 mm apart above and below the centre.
    ASSERT_EQ(s.gestures[2].strokes.size(), 2u);
    EXPECT_NEAR(s.gestures[2].strokes[0].At(0).y, 90, 1e-9);
    EXPECT_NEAR(s.gestures[2].strokes[1].At(1).y, 140, 1e-9);
    EXPECT_EQ(s.gestures[2].strokes[1].delayMs, 30);
    EXPECT_EQ(s.gestures[3].workMode, 0xF2);
}

TEST(ScenarioParse, EndsAfterTheLastGestureUnlessTold) {
    EXPECT_EQ(ParseScenario("0 hold 1 1 ms=900\n100 tap 5 5\n").EndMs(), 1200);
    EXPECT_EQ(ParseScenario("").EndMs(), 300);
}

struct BadLine {
    const char* text;
    std::size_t line;
    const char* reason;
};

class ScenarioParseError : public ::testing::TestWithParam<BadLine> {};

TEST_P(ScenarioParseError, NamesTheLineAndTheFault) {
    const BadLine c = GetParam();
    try {
        ParseScenario(c.text, "test.scn");
        FAIL() << "accepted: " << c.text;
    } catch (const ScenarioError& e) {
        EXPECT_EQ(e.File(), "test.scn");
        EXPECT_EQ(e.Line(), c.line);
        EXPECT_NE(e.Reason().find(c.reason), std::string::npos) << e.Reason();
        EXPECT_EQ(std::string(e.what()).rfind("test.scn:" + std::to_string(c.line) + ": ", 0), 0u) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ScenarioParseError,
    ::testing::Values(
        BadLine{"fps 100\nwobble 3\n", 2, "unknown statement 'wobble'"},
        BadLine{"\n\n0 tap 1\n", 3, "tap takes 2 numbers, got 1"},
        BadLine{"0 tap 1 2 3\n", 1, "tap takes 2 numbers, got 3"}, BadLine{"0 tap 1 x2\n", 1, "not a number: 'x2'"},
        BadLine{"0 tap 1 2 ms=0\n", 1, "ms= must be positive"}, BadLine{"0 tap 1 2 d=-1\n", 1, "d= must lie"},
        BadLine{"0 tap 1 2 speed=3\n", 1, "unknown option 'speed='"},
        BadLine{"0 spin 1 2\n", 1, "unknown gesture 'spin'"}, BadLine{"-5 tap 1 2\n", 1, "must not be negative"},
        BadLine{"0 tap 1 2\nfps 50\n", 2, "settings come before the first timed line"},
        BadLine{"fps 0\n", 1, "fps must lie"}, BadLine{"fps\n", 1, "'fps' takes 1 value, got 0"},
        BadLine{"screen 400\n", 1, "takes 2 values"}, BadLine{"device usb\n", 1, "device must be packet or image"},
        BadLine{"device image\n0 button 2\n", 2, "image device has no button lines"},
        BadLine{"0 button 8\n", 1, "button line must be 0 to 7"}, BadLine{"dead C 3\n", 1, "camera must be A or B"},
        BadLine{"dead A 640\n", 1, "whole number from 0 to 639"},
        BadLine{"set Modus 2\n", 1, "unknown driver parameter 'Modus'"}, BadLine{"set Mode -1\n", 1, "whole number"},
        BadLine{"workmode F7\n", 1, "work mode must be F1..F5"}, BadLine{"0 workmode\n", 1, "workmode takes one mode"},
        BadLine{"lens A 1\n", 1, "2 to 8 coefficients"}, BadLine{"cameras -20 5 20\n", 1, "above the screen"},
        BadLine{"0 pinch 1 2 3 4 ms=20 lag=30\n", 1, "lag= must be shorter"},
        BadLine{"0 arc 1 2 0 0 90\n", 1, "radius must be positive"}, BadLine{"noise inf\n", 1, "not a number"}));

// A day of virtual time is hours of rendering, so no gesture may end later.
TEST(ScenarioParse, GesturesEndWithinADay) {
    EXPECT_EQ(ParseScenario("86399940 tap 1 2\n").EndMs(), 86400000 + 300);
    EXPECT_EQ(ParseScenario("0 hold 1 2 ms=86400000\n").gestures[0].durationMs, 86400000);
    EXPECT_EQ(ParseScenario("86400000 workmode mouse\n").gestures[0].startMs, 86400000);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, ScenarioParseError,
    ::testing::Values(BadLine{"fps 10\n86399941 tap 1 2\n", 2, "tap ends beyond 24 hours (86400000 ms)"},
                      BadLine{"0 drag 1 2 3 4 ms=86400001\n", 1, "drag ends beyond 24 hours"},
                      BadLine{"86400001 workmode mouse\n", 1, "start time beyond 24 hours (86400000 ms)"},
                      BadLine{"1e308 button 1 ms=1e308\n", 1, "start time beyond 24 hours"}));

TEST(ScenarioParse, RefusesWhatFuzzingFound) {
    struct Case {
        const char* file;
        const char* reason;
    };
    const Case cases[] = {
        {"scenario-timeout-huge-start.scn", "start time beyond 24 hours"},
        {"scenario-timeout-huge-duration.scn", "hold ends beyond 24 hours"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        try {
            ParseScenario(kav::test::DataFile(c.file), c.file);
            ADD_FAILURE() << "accepted";
        } catch (const ScenarioError& e) {
            EXPECT_EQ(e.Line(), 2u);
            EXPECT_NE(e.Reason().find(c.reason), std::string::npos) << e.Reason();
        }
    }
}

TEST(ScenarioParse, TextsOverOneMebibyteAreRefusedWhole) {
    std::string text(1 << 20, '\n');
    EXPECT_TRUE(ParseScenario(text).gestures.empty());
    text += "0 tap 1 2\n";
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "kav_scenario_big.scn";
    std::ofstream(file, std::ios::binary) << text;
    for (const bool fromFile : {false, true}) {
        SCOPED_TRACE(fromFile ? "file" : "text");
        try {
            fromFile ? LoadScenario(file.string()) : ParseScenario(text, "big.scn");
            ADD_FAILURE() << "accepted";
        } catch (const ScenarioError& e) {
            EXPECT_EQ(e.Line(), 0u);
            EXPECT_EQ(e.Reason(), "larger than 1 MiB");
        }
    }
    std::filesystem::remove(file);
}

TEST(ScenarioParse, AMissingFileIsAnError) {
    try {
        LoadScenario("/nonexistent/dir/none.scn");
        FAIL();
    } catch (const ScenarioError& e) {
        EXPECT_EQ(e.Line(), 0u);
        EXPECT_NE(e.Reason().find("cannot open"), std::string::npos);
    }
}

}  // namespace
}  // namespace kav::sim
