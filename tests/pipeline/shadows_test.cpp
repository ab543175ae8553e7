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
