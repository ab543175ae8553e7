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

}  // namespace kav
