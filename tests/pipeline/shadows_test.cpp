#include "kavusb/pipeline/shadows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kav::test {
namespace {

std::string Pixels(const std::uint8_t* line, size_t count) {
    std::string s;
    for (size_t i = 0; i < count; ++i) s += static_cast<char>('0' + line[i]);
    return s;
}

TEST(DecodeLine, RunLengthStreams) {
    struct Case {
        std::vector<std::uint8_t> stream;
        int length;
        std::string prefix;  // the rest of the line must be lit
    };
    const Case cases[] = {
        {{0x05, 0x02}, 2, "11100"},
        {{0x05, 0x02}, 1, "111"},
        {{0x05, 0x02}, 0, ""},
        {{0x05, 0x02}, -1, ""},
        {{0xFF, 0xFE, 0xFF, 0xFE, 0xFF},
         5,
         std::string(128, '1') + std::string(128, '0') + std::string(128, '1') + std::string(128, '0') +
             std::string(128, '1')},
    };
    for (const Case& c : cases) {
        std::uint8_t line[kLinePixels];
        std::fill(std::begin(line), std::end(line), 9);
        DecodeLine(c.stream.data(), c.length, line);
        EXPECT_EQ(Pixels(line, c.prefix.size()), c.prefix);
        EXPECT_TRUE(std::all_of(line + c.prefix.size(), std::end(line), [](std::uint8_t p) { return p == 0; }));
    }
}

TEST(DecodeLine, LongStreamsAreCutAt640Pixels) {
    std::vector<std::uint8_t> stream(20, 0xFF);  // 20 runs of 128 shadow pixels
    std::uint8_t guard[kLinePixels + 16];
    std::fill(std::begin(guard), std::end(guard), 7);
    DecodeLine(stream.data(), static_cast<int>(stream.size()), guard);
    EXPECT_TRUE(std::all_of(guard, guard + kLinePixels, [](std::uint8_t p) { return p == 1; }));
    EXPECT_TRUE(std::all_of(guard + kLinePixels, std::end(guard), [](std::uint8_t p) { return p == 7; }));
}

TEST(BackgroundStep, LearnsFirstThenMasksDarkSamples) {
    BACKGROUND_STATE state{};
    state.FirstFrame = 1;
    std::uint8_t samples[kImageSamples];
    std::fill(std::begin(samples), std::end(samples), 100);
    samples[0] = 40;
    std::uint8_t stream[kLinePixels];
    std::fill(std::begin(stream), std::end(stream), 9);
    BackgroundStep(samples, &state, stream);
    EXPECT_EQ(state.FirstFrame, 0);
    EXPECT_EQ(state.RateCounter, 4);
    EXPECT_EQ(state.Level[0], 40);
    EXPECT_EQ(state.Level[1], 100);
    EXPECT_EQ(stream[0], 9);  // the first frame writes no stream

    // Background 100: 55 is dark; 70 only when it was dark the frame before. Background
    // 40 is too dim ever to cast a shadow.
    std::fill(std::begin(samples), std::end(samples), 100);
    samples[0] = 0;
    samples[1] = 55;
    samples[2] = 70;
    samples[3] = 55;
    BackgroundStep(samples, &state, stream);
    EXPECT_EQ(Pixels(stream + 64, 5), "01010");
    EXPECT_TRUE(std::all_of(stream, stream + 64, [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::all_of(stream + 576, std::end(stream), [](std::uint8_t b) { return b == 0; }));

    for (std::uint8_t& level : state.Level) level = 100;
    samples[3] = 70;
    BackgroundStep(samples, &state, stream);
    EXPECT_EQ(Pixels(stream + 64, 5), "11010");  // 70 stays dark where 55 was
}

TEST(BackgroundStep, BackgroundFollowsTheLightSlowlyDownAndQuicklyUp) {
    BACKGROUND_STATE state{};
    for (std::uint8_t& level : state.Level) level = 200;
    state.Level[511] = 255;
    state.RateCounter = 2;
    std::uint8_t samples[kImageSamples];
    std::fill(std::begin(samples), std::end(samples), 100);
    samples[511] = 255;  // saturates
    std::uint8_t stream[kLinePixels];
    BackgroundStep(samples, &state, stream);
    // The shared counter goes 2 -> 1 -> 0 -> -1 ...: the first two darker samples keep
    // their level, the rest are lowered by one.
    EXPECT_EQ(state.Level[0], 200);
    EXPECT_EQ(state.Level[1], 200);
    EXPECT_EQ(state.Level[2], 199);
    EXPECT_EQ(state.Level[511], 255);
    // 2 - 511 wraps as an 8-bit signed counter.
    EXPECT_EQ(state.RateCounter, static_cast<std::int8_t>(static_cast<std::uint8_t>(2 - 511)));
}

}  // namespace
}  // namespace kav::test

namespace kav::test {
namespace {

std::vector<std::uint8_t> LineOf(const std::string& pixels) {
    std::vector<std::uint8_t> line(kLinePixels, 0);
    for (size_t i = 0; i < pixels.size(); ++i) line[i] = pixels[i] == '1' ? 1 : 0;
    return line;
}

std::vector<std::uint8_t> LineWithShadows(std::initializer_list<SHADOW_INTERVAL> shadows) {
    std::vector<std::uint8_t> line(kLinePixels, 0);
    for (const SHADOW_INTERVAL& s : shadows) std::fill(line.begin() + s.start, line.begin() + s.end, 1);
    return line;
}

struct Found {
    std::int32_t count;
    std::vector<std::pair<int, int>> intervals;
    bool operator==(const Found&) const = default;
};

Found Find(std::vector<std::uint8_t> line, std::int32_t lo, std::int32_t hi) {
    SHADOW_INTERVAL intervals[2] = {{-7, -7}, {-7, -7}};
    Found found{FindShadows(line.data(), lo, hi, intervals), {}};
    for (std::int32_t i = 0; i < found.count; ++i) found.intervals.emplace_back(intervals[i].start, intervals[i].end);
    return found;
}

void PrintTo(const Found& f, std::ostream* os) {
    *os << f.count << ":";
    for (auto [s, e] : f.intervals) *os << " [" << s << "," << e << ")";
}

TEST(FindShadows, NarrowGapsJoinAndOnlyTheWidestInteriorGapSurvives) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> line;
        std::int32_t lo, hi;
        Found expected;
    };
    const Case cases[] = {
        {"window 0..16", LineOf("0011000110001100"), 0, 16, {2, {{2, 9}, {12, 14}}}},
        {"one shadow", LineWithShadows({{100, 110}}), 0, 640, {1, {{100, 110}}}},
        {"two-pixel gap, the only gap", LineWithShadows({{100, 110}, {112, 120}}), 0, 640, {1, {{100, 120}}}},
        {"three-pixel gap survives", LineWithShadows({{100, 110}, {113, 120}}), 0, 640, {2, {{100, 110}, {113, 120}}}},
        {"three shadows: the wider gap stays",
         LineWithShadows({{100, 110}, {115, 120}, {130, 140}}),
         0,
         640,
         {2, {{100, 120}, {130, 140}}}},
        {"no shadow", LineWithShadows({}), 0, 640, {0, {}}},
        {"shadow at the window start", LineWithShadows({{0, 20}, {300, 310}}), 0, 640, {2, {{0, 20}, {300, 310}}}},
        {"shadow running to the window end", LineWithShadows({{600, 640}}), 0, 640, {1, {{600, 640}}}},
        {"lit edges are never filled", LineWithShadows({{1, 300}, {302, 639}}), 0, 640, {1, {{1, 639}}}},
        {"window narrows the search", LineWithShadows({{100, 110}, {400, 410}}), 200, 640, {1, {{400, 410}}}},
        {"window outside the line is clamped", LineWithShadows({{100, 110}}), -50, 900, {1, {{100, 110}}}},
        {"empty window", LineWithShadows({{100, 110}}), 300, 300, {0, {}}},
    };
    for (const Case& c : cases) EXPECT_EQ(Find(c.line, c.lo, c.hi), c.expected) << c.name;
}

TEST(FindShadows, AlternatingPixelsStayBounded) {
    std::vector<std::uint8_t> line(kLinePixels);
    for (size_t i = 0; i < line.size(); ++i) line[i] = static_cast<std::uint8_t>(i % 2);
    EXPECT_EQ(Find(line, 0, 640), (Found{1, {{1, 640}}}));
}

TEST(SplitMerged, SplitsAMergedShadowWhileTheOtherCameraSeesTwo) {
    MERGE_TRACKER tracker{};
    SHADOW_INTERVAL iv[2] = {{100, 110}, {130, 140}};
    std::int32_t count = 2;
    count = SplitMerged(iv, count, 2, &tracker);
    EXPECT_EQ(tracker.state, kMergeApart);

    // One shadow covering both: split into the remembered widths at its two ends.
    iv[0] = {105, 135};
    count = 1;
    count = SplitMerged(iv, count, 2, &tracker);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(tracker.state, kMergeSplit);
    EXPECT_EQ(iv[0].start, 105);
    EXPECT_EQ(iv[0].end, 115);
    EXPECT_EQ(iv[1].start, 125);
    EXPECT_EQ(iv[1].end, 135);

    // Wider than the last split: widths swap and are capped by the shadow's length.
    iv[0] = {100, 108};
    count = 1;
    tracker.width[0] = 4;
    tracker.width[1] = 20;
    count = SplitMerged(iv, count, 2, &tracker);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(tracker.state, kMergeSplit);  // 8 pixels is not wider than the last 10
    EXPECT_EQ(iv[0].end - iv[0].start, 4);
    EXPECT_EQ(iv[1].start, 100);  // width 20 capped at 8
    EXPECT_EQ(iv[1].end, 108);

    iv[0] = {100, 130};
    count = 1;
    count = SplitMerged(iv, count, 2, &tracker);
    EXPECT_EQ(tracker.state, kMergeSplitSwapped);
    EXPECT_EQ(iv[0].end - iv[0].start, 8);  // swapped: 8 then 4
    EXPECT_EQ(iv[1].end - iv[1].start, 4);

    // The other camera sees one shadow: the tracker drops to idle, no split.
    iv[0] = {100, 130};
    count = 1;
    count = SplitMerged(iv, count, 1, &tracker);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(tracker.state, kMergeIdle);
    count = 0;
    tracker.state = kMergeApart;
    count = SplitMerged(iv, count, 2, &tracker);
    EXPECT_EQ(tracker.state, kMergeIdle);
}

TEST(SplitMerged, ASingleShadowBesideTheEarlierPairIsNotSplit) {
    MERGE_TRACKER tracker{};
    SHADOW_INTERVAL iv[2] = {{100, 110}, {130, 140}};
    std::int32_t count = 2;
    count = SplitMerged(iv, count, 2, &tracker);
    iv[0] = {200, 220};
    count = 1;
    count = SplitMerged(iv, count, 2, &tracker);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(tracker.state, kMergeIdle);
    EXPECT_EQ(tracker.previous[0].start, 200);
}

}  // namespace
}  // namespace kav::test
