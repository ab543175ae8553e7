// kavsim in-process: its report lines, its summary, its picture and its errors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "kavsim_app.h"

namespace kav::tools {
namespace {

namespace fs = std::filesystem;

class KavsimTest : public ::testing::Test {
protected:
    KavsimTest() {
        dir_ = fs::temp_directory_path() /
               ("kavsim_test_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(dir_);
    }
    ~KavsimTest() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string Write(const std::string& name, const std::string& text) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    int Run(std::vector<std::string> args) {
        out_.str("");
        err_.str("");
        return RunKavsim(args, out_, err_);
    }

    fs::path dir_;
    std::ostringstream out_, err_;
};

TEST_F(KavsimTest, PrintsEachReportDecodedThenTheSummary) {
    const std::string scenario = Write("tap.scn", "records match\n0 tap 200 150 ms=100\n");
    ASSERT_EQ(Run({scenario}), 0) << err_.str();
    const std::string out = out_.str();
    EXPECT_EQ(err_.str(), "");
    EXPECT_EQ(out.rfind(" time ms  report    status    id      x     y    x mm   y mm\n", 0), 0u) << out;
    // A touching line: time, contact 0 at the middle of the screen in logical units and mm.
    std::istringstream lines(out);
    std::string line;
    std::getline(lines, line);
    std::size_t touching = 0, lifted = 0;
    while (std::getline(lines, line) && !line.empty()) {
        std::istringstream f(line);
        double ms, x, y, xmm, ymm;
        std::string kind, status;
        int id;
        ASSERT_TRUE(f >> ms >> kind >> status >> id >> x >> y >> xmm >> ymm) << line;
        EXPECT_EQ(kind, "touch");
        EXPECT_EQ(id, 0);
        EXPECT_NEAR(x, 16384, 100);
        EXPECT_NEAR(y, 16384, 100);
        EXPECT_NEAR(xmm, x * 400 / 32768, 0.06);
        EXPECT_NEAR(ymm, y * 300 / 32768, 0.06);
        EXPECT_NEAR(xmm, 200, 1);
        EXPECT_NEAR(ymm, 150, 1);
        touching += status == "touching";
        lifted += status == "lifted";
    }
    EXPECT_GT(touching, 0u);
    EXPECT_EQ(lifted, 1u);
    EXPECT_NE(out.find("summary: 41 frames in 0.40 s at 100 fps; "), std::string::npos) << out;
    EXPECT_NE(out.find("per second"), std::string::npos);
    EXPECT_NE(out.find("error against the true fingers: mean 0."), std::string::npos) << out;
    EXPECT_EQ(out.find("no finger on the glass"), std::string::npos) << out;
}

TEST_F(KavsimTest, DrawsThePathsAndThePoints) {
    const std::string scenario = Write("drag.scn", "0 drag 50 50 300 200\n");
    const std::string svg = (dir_ / "out.svg").string();
    ASSERT_EQ(Run({"--svg", svg, scenario}), 0) << err_.str();
    std::ifstream in(svg);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str().rfind("<svg ", 0), 0u);
    EXPECT_NE(text.str().find("<polyline points=\"50.00,50.00 "), std::string::npos);
    EXPECT_NE(text.str().find("<circle"), std::string::npos);
    EXPECT_NE(text.str().find("</svg>"), std::string::npos);
    EXPECT_NE(out_.str().find("picture: " + svg), std::string::npos);
}

// The picture must open in common SVG renderers, not only in browsers: librsvg and
// ImageMagick refuse every polyline whose points end with a blank.
TEST_F(KavsimTest, TheDemoPictureRendersInLibrsvg) {
    const std::string svg = (dir_ / "demo.svg").string();
    ASSERT_EQ(Run({"--svg", svg, KAV_DEMO_SCENARIO}), 0) << err_.str();
    std::ifstream in(svg);
    std::stringstream text;
    text << in.rdbuf();
    const std::string picture = text.str();
    std::size_t polylines = 0;
    for (std::size_t at = picture.find("points=\""); at != std::string::npos; at = picture.find("points=\"", at + 1)) {
        const std::size_t end = picture.find('"', at + 8);
        ASSERT_NE(end, std::string::npos);
        EXPECT_NE(picture[end - 1], ' ') << picture.substr(at, end - at + 1);
        EXPECT_NE(picture[at + 8], ' ');
        ++polylines;
    }
    EXPECT_GT(polylines, 0u);

#ifdef _WIN32
    GTEST_SKIP() << "rsvg-convert runs on the development host";
#else
    if (std::system("rsvg-convert --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "rsvg-convert is not installed";
    const fs::path png = dir_ / "demo.png";
    const std::string command = "rsvg-convert -o '" + png.string() + "' '" + svg + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    ASSERT_TRUE(fs::exists(png));
    EXPECT_GT(fs::file_size(png), 1000u);
#endif
}

TEST_F(KavsimTest, AppliesARegistryFileBeneathTheScenario) {
    // Mode 2 from the file; the scenario asks for mouse emulation: mouse reports only.
    const std::string registry = Write("kav.reg",
                                       "[\\Registry\\Machine\\System\\CurrentControlSet\\Services\\KavUSB\\Parameters\\"
                                       "DriverParameters]\nMode=dword:2\nRightClickTime=dword:000000c8\n");
    const std::string scenario = Write("hold.scn", "workmode mouse\n0 hold 200 150 ms=600\n");
    ASSERT_EQ(Run({"--registry", registry, scenario}), 0) << err_.str();
    EXPECT_NE(out_.str().find("mouse     right"), std::string::npos) << out_.str();
    EXPECT_EQ(out_.str().find("touch "), std::string::npos);
}

TEST_F(KavsimTest, AScreenThatDoesNotStartShowsTheEventLog) {
    const std::string scenario = Write("silent.scn", "unanswered 0x14 1\n0 tap 200 150\n");
    EXPECT_EQ(Run({scenario}), 1);
    EXPECT_EQ(err_.str(), "kavsim: the touch screen did not start (status 0xC0000001)\n");
    EXPECT_NE(out_.str().find("event log:\n  读取Y校准参数失败."), std::string::npos) << out_.str();
    EXPECT_NE(out_.str().find("Init Kavcore failed."), std::string::npos) << out_.str();
    EXPECT_EQ(out_.str().find("touch "), std::string::npos);
}

TEST_F(KavsimTest, ABadScenarioLineNamesFileAndLine) {
    const std::string scenario = Write("bad.scn", "fps 100\n0 tap 1\n");
    EXPECT_EQ(Run({scenario}), 1);
    EXPECT_EQ(err_.str(), "kavsim: " + scenario + ":2: tap takes 2 numbers, got 1\n");
    EXPECT_EQ(out_.str(), "");
}

struct UsageCase {
    std::vector<std::string> args;
    int code;
    const char* message;
};

class KavsimUsage : public KavsimTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(KavsimUsage, Refuses) {
    const UsageCase& c = GetParam();
    EXPECT_EQ(Run(c.args), c.code);
    const std::string& text = c.code == 0 ? out_.str() : err_.str();
    EXPECT_NE(text.find(c.message), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, KavsimUsage,
    ::testing::Values(UsageCase{{"--help"}, 0, "usage: kavsim"}, UsageCase{{}, 2, "no scenario file given"},
                      UsageCase{{"--fast", "a.scn"}, 2, "unknown option '--fast'"},
                      UsageCase{{"a.scn", "b.scn"}, 2, "one scenario at a time"},
                      UsageCase{{"a.scn", "--svg"}, 2, "--svg needs a file name"},
                      UsageCase{{"/nonexistent/a.scn"}, 1, "cannot open the file"},
                      UsageCase{{"--registry", "/nonexistent/r.reg", "/nonexistent/a.scn"}, 1, "kavsim: "}));

TEST_F(KavsimTest, AnUnreadableRegistryFileFails) {
    const std::string scenario = Write("tap.scn", "0 tap 200 150\n");
    const std::string registry = Write("bad.reg", "not a registry line\n");
    EXPECT_EQ(Run({"--registry", registry, scenario}), 1);
    EXPECT_NE(err_.str().find("bad.reg"), std::string::npos) << err_.str();
    EXPECT_EQ(out_.str(), "");
}

}  // namespace
}  // namespace kav::tools
