// Camera lines: run-length streams to bi-level lines, and the learned background that
// turns an image device's grey samples into such a stream.
#pragma once

#include <cstdint>

#include "device_context.h"

namespace kav {

// Each stream byte b is (b >> 1) + 1 pixels of value b & 1. A short line is padded with
// lit pixels, a long one cut at 640; length <= 0 gives an all-lit line.
void DecodeLine(const std::uint8_t* stream, int length, std::uint8_t* line);

// Image devices: compares 512 samples with the learned background and writes the mask
// as a 640-byte stream (64 lit pixels at each end). The first frame only learns.
void BackgroundStep(const std::uint8_t* samples, BACKGROUND_STATE* state, std::uint8_t* stream);

// Finds at most two shadows in [lo, hi): lit gaps narrower than 3 pixels are filled and
// of the remaining interior gaps only the widest survives. Modifies the line. Returns the
// shadow count and writes the intervals in position order. The window is clamped to
// the line.
std::int32_t FindShadows(std::uint8_t* line, std::int32_t lo, std::int32_t hi, SHADOW_INTERVAL* intervals);

// Splits a single shadow that covers two shadows seen apart before, while the other
// camera (otherCountFound) still sees two. Returns the new count; updates the tracker.
std::int32_t SplitMerged(SHADOW_INTERVAL* intervals, std::int32_t count, std::int32_t otherCountFound,
                         MERGE_TRACKER* tracker);

}  // namespace kav
