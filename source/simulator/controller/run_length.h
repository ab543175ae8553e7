// The controller's line coding: each byte is one run, bit 0 the pixel value and bits
// 1-7 the run length minus one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kav::sim {

constexpr std::size_t kMaxRun = 128;

inline std::vector<std::uint8_t> RunLengthEncode(std::span<const std::uint8_t> pixels) {
    std::vector<std::uint8_t> stream;
    std::size_t i = 0;
    while (i < pixels.size()) {
        const std::uint8_t value = pixels[i] != 0 ? 1 : 0;
        std::size_t run = 1;
        while (i + run < pixels.size() && run < kMaxRun && (pixels[i + run] != 0 ? 1 : 0) == value) ++run;
        stream.push_back(static_cast<std::uint8_t>(((run - 1) << 1) | value));
        i += run;
    }
    return stream;
}

// A line lit everywhere but the given [start, end) shadows.
inline std::vector<std::uint8_t> LineWithShadows(std::size_t length,
                                                 std::initializer_list<std::pair<std::size_t, std::size_t>> shadows) {
    std::vector<std::uint8_t> line(length, 0);
    for (auto [start, end] : shadows)
        for (std::size_t p = start; p < end && p < length; ++p) line[p] = 1;
    return line;
}

}  // namespace kav::sim
