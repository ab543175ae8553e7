// The HID class's descriptor parser on small hand-made descriptors: what a broken one
// is refused for, and the items that change how the rest is read.
#include <gtest/gtest.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "simulator/data/data_file.h"
#include "simulator/hidstack/report_descriptor.h"

namespace kav::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ReportDescriptorParser, RefusesWhatNoClassCouldRoute) {
    struct Case {
        const char* what;
        Bytes bytes;
        std::size_t offset;
        std::string reason;
    };
    const Case cases[] = {
        {"data cut off", {0x05, 0x01, 0x09}, 2, "item data cut off"},
        {"input outside a collection", {0x85, 0x01, 0x81, 0x02}, 0, "report ID outside any collection"},
        {"report without ID",
         {0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0},
         8,
         "report without a report ID"},
        {"report ID 0", {0x09, 0x01, 0xA1, 0x01, 0x85, 0x00, 0xC0}, 4, "report ID outside 1..255"},
        {"physical top level",
         {0x09, 0x01, 0xA1, 0x00, 0xC0},
         2,
         "top-level collection is not an application collection"},
        {"end without collection", {0xC0}, 0, "end collection without a collection"},
        {"left open", {0x09, 0x01, 0xA1, 0x01}, 4, "collection left open"},
        {"pop without push", {0xB4}, 0, "pop without a push"},
        {"one ID in two collections",
         {0x09, 0x01, 0xA1, 0x01, 0x85, 0x05, 0xC0, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x05, 0xC0},
         14,
         "report ID in two top-level collections"},
        {"an ID carried into the next collection",
         {0x09, 0x01, 0xA1, 0x01, 0x85, 0x05, 0xC0, 0x09, 0x02, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xC0},
         18,
         "report ID in two top-level collections"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto parsed = sim::ParseReportDescriptor(c.bytes);
        const auto* error = std::get_if<sim::ReportDescriptorError>(&parsed);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->offset, c.offset);
        EXPECT_EQ(error->reason, c.reason);
    }
}

TEST(ReportDescriptorParser, PushPopLongItemsAndExtendedUsages) {
    const Bytes bytes = {
        0x0B, 0x04, 0x00, 0x0D, 0x00,  // usage 0x000D0004, its page in the high word
        0xA1, 0x01,                    // application
        0x85, 0x07, 0x75, 0x08, 0x95, 0x02,
        0xA4,                                // push: size 8, count 2
        0x75, 0x01, 0x95, 0x03, 0x81, 0x02,  // 3 bits
        0xB4,                                // pop
        0x81, 0x02,                          // 16 bits
        0xFE, 0x02, 0x99, 0xAA, 0xBB,        // a long item, skipped
        0x05, 0x0D, 0x09, 0x55, 0xB1, 0x02,  // contact count maximum, feature 16 bits
        0xC0,
    };
    const auto parsed = sim::ParseReportDescriptor(bytes);
    const auto* collections = std::get_if<std::vector<sim::TopLevelCollection>>(&parsed);
    ASSERT_NE(collections, nullptr);
    ASSERT_EQ(collections->size(), 1u);
    const sim::TopLevelCollection& c = collections->front();
    EXPECT_EQ(c.usagePage, 0x0D);
    EXPECT_EQ(c.usage, 0x04);
    EXPECT_EQ(c.inputBits.at(7), 19u);
    EXPECT_EQ(sim::ReportLength(c.inputBits.at(7)), 4u);  // 3 bytes of data and the ID
    EXPECT_EQ(c.featureBits.at(7), 16u);
    EXPECT_EQ(c.contactCountMaximumReport, 7);
}

// One application collection with report 1 made of the given items.
Bytes WithReportItems(const Bytes& items) {
    Bytes bytes = {0x09, 0x01, 0xA1, 0x01, 0x85, 0x01};
    bytes.insert(bytes.end(), items.begin(), items.end());
    bytes.push_back(0xC0);
    return bytes;
}

// Lengths the class keeps in 16 bits: a report's size times count must neither wrap the
// bit count nor exceed what a report length can say.
TEST(ReportDescriptorParser, ReportLengthsStayWithinSixteenBits) {
    struct Case {
        const char* what;
        Bytes items;
        std::optional<std::size_t> length;  // of report 1; nullopt: refused
    };
    const Case cases[] = {
        {"the longest report", {0x75, 0x08, 0x96, 0xFE, 0xFF, 0x81, 0x02}, 0xFFFF},
        {"one byte more", {0x75, 0x08, 0x96, 0xFF, 0xFF, 0x81, 0x02}, std::nullopt},
        {"two items adding up past it", {0x75, 0x08, 0x96, 0x00, 0x80, 0x81, 0x02, 0x81, 0x02}, std::nullopt},
        {"size times count wrapping 32 bits", {0x77, 0x00, 0x00, 0x00, 0x80, 0x95, 0x02, 0xB1, 0x02}, std::nullopt},
        {"zero-size fields", {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x95, 0x00, 0x81, 0x02}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto parsed = sim::ParseReportDescriptor(WithReportItems(c.items));
        if (!c.length) {
            const auto* error = std::get_if<sim::ReportDescriptorError>(&parsed);
            ASSERT_NE(error, nullptr);
            EXPECT_EQ(error->reason, "report longer than 65535 bytes");
            continue;
        }
        const auto* collections = std::get_if<std::vector<sim::TopLevelCollection>>(&parsed);
        ASSERT_NE(collections, nullptr);
        const auto& bits = collections->front().inputBits;
        EXPECT_EQ(sim::ReportLength(bits.at(1)), *c.length);
    }
    // The largest bit count a 32-bit field can hold still has a length.
    EXPECT_EQ(sim::ReportLength(0xFFFFFFFFu), std::size_t{0x20000000} + 1);
}

TEST(ReportDescriptorParser, RefusesWhatFuzzingFound) {
    const std::string wraps = DataFile("descriptor-report-length-wraps.bin");
    const auto parsed =
        sim::ParseReportDescriptor(std::span(reinterpret_cast<const std::uint8_t*>(wraps.data()), wraps.size()));
    const auto* error = std::get_if<sim::ReportDescriptorError>(&parsed);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->offset, 11u);  // the feature item whose 2 x 0xFFFFFFFF bits wrapped
    EXPECT_EQ(error->reason, "report longer than 65535 bytes");
}

TEST(ReportDescriptorParser, DescriptorsLongerThanTheClassReadsAreRefused) {
    // Empty collections, padded with items of tag 0 that mean nothing.
    Bytes bytes;
    while (bytes.size() + 5 <= 0xFFFF) bytes.insert(bytes.end(), {0x09, 0x01, 0xA1, 0x01, 0xC0});
    bytes.resize(0xFFFF, 0x00);
    const auto longest = sim::ParseReportDescriptor(bytes);
    const auto* collections = std::get_if<std::vector<sim::TopLevelCollection>>(&longest);
    ASSERT_NE(collections, nullptr);
    EXPECT_EQ(collections->size(), 0xFFFFu / 5);

    bytes.push_back(0x00);
    const auto tooLong = sim::ParseReportDescriptor(bytes);
    const auto* error = std::get_if<sim::ReportDescriptorError>(&tooLong);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->offset, 0xFFFFu);
    EXPECT_EQ(error->reason, "descriptor longer than 65535 bytes");
}

}  // namespace
}  // namespace kav::test
