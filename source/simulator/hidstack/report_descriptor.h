// What the HID class's parser learns from a report descriptor: the top-level
// collections, and for each the reports it declares and their lengths.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace kav::sim {

struct TopLevelCollection {
    std::uint16_t usagePage = 0;
    std::uint16_t usage = 0;
    std::vector<std::uint8_t> reportIds;  // in the order the descriptor names them
    // Bits of data per report ID, the ID byte not counted.
    std::map<std::uint8_t, std::uint32_t> inputBits, outputBits, featureBits;
    // The feature report carrying the digitizer's Contact Count Maximum, when declared.
    std::optional<std::uint8_t> contactCountMaximumReport;
};

// The HID class keeps descriptor and report lengths in 16 bits (the HID descriptor's
// wDescriptorLength, the byte lengths of a collection's capabilities).
constexpr std::size_t kMaxReportDescriptorLength = 0xFFFF;
constexpr std::size_t kMaxReportLength = 0xFFFF;  // the ID byte included

// Bytes of a report on the wire, its ID byte included.
constexpr std::size_t ReportLength(std::uint32_t bits) {
    return (std::size_t{bits} + 7) / 8 + 1;
}

struct ReportDescriptorError {
    std::size_t offset;  // of the item that broke it
    std::string reason;
};

// Main, global and local items as HID defines them (push and pop
// included); long items are skipped. Reports without an ID item are not supported:
// every report this stack routes is identified by its first byte. A descriptor or a
// report longer than the class can describe is refused.
std::variant<std::vector<TopLevelCollection>, ReportDescriptorError> ParseReportDescriptor(
    std::span<const std::uint8_t> descriptor);

}  // namespace kav::sim
