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

}  // namespace kav
