#include "shadows.h"

#include <cstring>

namespace kav {
namespace {
constexpr std::size_t kStreamMargin = 64;
constexpr int kMinLitBackground = 50;
}  // namespace

void DecodeLine(const std::uint8_t* stream, int length, std::uint8_t* line) {
    std::size_t written = 0;
    for (int i = 0; i < length && written < kLinePixels; ++i) {
        const std::uint8_t b = stream[i];
        std::size_t run = (b >> 1) + 1u;
        if (run > kLinePixels - written) run = kLinePixels - written;
        std::memset(line + written, b & 1, run);
        written += run;
    }
    std::memset(line + written, 0, kLinePixels - written);
}

void BackgroundStep(const std::uint8_t* samples, BACKGROUND_STATE* state, std::uint8_t* stream) {
    if (state->FirstFrame != 0) {
        std::memcpy(state->Level, samples, kImageSamples);
        state->FirstFrame = 0;
        state->RateCounter = 4;
        return;
    }

    std::uint8_t mask[kImageSamples];
    for (std::size_t i = 0; i < kImageSamples; ++i) {
        const double background = state->Level[i];
        const double current = samples[i];
        const bool dark = current < 0.6 * background || (current < 0.8 * background && state->PrevMask[i] == 1);
        mask[i] = state->Level[i] > kMinLitBackground && dark ? 1 : 0;
    }
    for (std::size_t i = 0; i < kImageSamples; ++i) {
        if (samples[i] < state->Level[i]) {
            // The counter wraps as the 8-bit signed value it has always been.
            state->RateCounter = static_cast<std::int8_t>(static_cast<std::uint8_t>(state->RateCounter) - 1u);
            if (state->RateCounter < 0) --state->Level[i];
        } else if (state->Level[i] < 255) {
            ++state->Level[i];
        }
    }
    std::memcpy(state->PrevMask, mask, kImageSamples);

    std::memset(stream, 0, kStreamMargin);
    std::memcpy(stream + kStreamMargin, mask, kImageSamples);
    std::memset(stream + kStreamMargin + kImageSamples, 0, kLinePixels - kStreamMargin - kImageSamples);
}

namespace {

constexpr std::int32_t kMinLitGap = 3;
constexpr std::size_t kMaxRuns = kLinePixels / 2 + 1;

std::int32_t Length(const SHADOW_INTERVAL& run) {
    return run.end - run.start;
}

void Fill(std::uint8_t* line, const SHADOW_INTERVAL& run) {
    std::memset(line + run.start, 1, static_cast<std::size_t>(Length(run)));
}

}  // namespace

std::int32_t FindShadows(std::uint8_t* line, std::int32_t lo, std::int32_t hi, SHADOW_INTERVAL* intervals) {
    constexpr std::int32_t kPixels = static_cast<std::int32_t>(kLinePixels);
    if (lo < 0) lo = 0;
    if (hi > kPixels) hi = kPixels;
    if (lo >= hi) return 0;

    // Lit runs inside the window, in position order.
    SHADOW_INTERVAL runs[kMaxRuns];
    std::size_t n = 0;
    bool open = false;
    if (line[lo] == 0) {
        runs[n].start = lo;
        open = true;
    }
    for (std::int32_t i = lo + 1; i < hi; ++i) {
        if (line[i - 1] == 1 && line[i] == 0) {
            runs[n].start = i;
            open = true;
        } else if (line[i - 1] == 0 && line[i] == 1 && open) {
            runs[n++].end = i;
            open = false;
        }
    }
    if (open) runs[n++].end = hi;

    // Lit runs touching either end of the window are left alone.
    std::size_t first = n > 0 && runs[0].start == lo ? 1 : 0;
    if (n > 0 && runs[n - 1].end == hi) --n;

    for (std::size_t j = first + 1; j < n; ++j) {
        for (std::size_t i = first; i < j; ++i) {
            if (Length(runs[j]) < Length(runs[i])) {
                const SHADOW_INTERVAL swap = runs[i];
                runs[i] = runs[j];
                runs[j] = swap;
            }
        }
    }
    while (first < n && Length(runs[first]) < kMinLitGap) Fill(line, runs[first++]);
    for (std::size_t i = first; i + 1 < n; ++i) Fill(line, runs[i]);

    std::int32_t count = 0;
    bool inShadow = false;
    auto start = [&](std::int32_t at) {
        if (count < 2) intervals[count] = SHADOW_INTERVAL{at, hi};
        inShadow = true;
    };
    if (line[lo] == 1) start(lo);
    for (std::int32_t i = lo + 1; i < hi; ++i) {
        if (line[i - 1] == 0 && line[i] == 1) {
            start(i);
        } else if (line[i - 1] == 1 && line[i] == 0 && inShadow) {
            if (count < 2) intervals[count].end = i;
            ++count;
            inShadow = false;
        }
    }
    if (inShadow) ++count;
    return count < 2 ? count : 2;
}

std::int32_t SplitMerged(SHADOW_INTERVAL* intervals, std::int32_t count, std::int32_t otherCountFound,
                         MERGE_TRACKER* tracker) {
    MERGE_TRACKER& t = *tracker;
    if (count == 0) {
        t.state = kMergeIdle;
        return count;
    }
    if (count == 2) {
        t.state = kMergeApart;
        t.previous[0] = intervals[0];
        t.previous[1] = intervals[1];
        t.width[0] = Length(intervals[0]);
        t.width[1] = Length(intervals[1]);
        return count;
    }
    if (count != 1) return count;

    if (otherCountFound < 2) t.state = kMergeIdle;
    bool split = false;
    if (t.state == kMergeApart) {
        // The single shadow covers both earlier ones.
        if (t.previous[0].end > intervals[0].start && t.previous[1].start < intervals[0].end) {
            t.state = kMergeSplit;
            split = true;
        } else {
            t.state = kMergeIdle;
        }
    } else if (t.state == kMergeSplit || t.state == kMergeSplitSwapped) {
        if (t.state == kMergeSplit && Length(intervals[0]) > Length(t.previous[0])) {
            t.state = kMergeSplitSwapped;
            const std::int32_t swap = t.width[0];
            t.width[0] = t.width[1];
            t.width[1] = swap;
        }
        const std::int32_t w = Length(intervals[0]);
        if (t.width[0] > w) t.width[0] = w;
        if (t.width[1] > w) t.width[1] = w;
        split = true;
    }
    if (split) {
        intervals[1] = SHADOW_INTERVAL{intervals[0].end - t.width[1], intervals[0].end};
        intervals[0] = SHADOW_INTERVAL{intervals[0].start, intervals[0].start + t.width[0]};
        count = 2;
    }
    t.previous[0] = intervals[0];
    return count;
}

}  // namespace kav
