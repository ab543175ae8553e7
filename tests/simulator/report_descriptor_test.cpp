// The HID class's descriptor parser on small hand-made descriptors: what a broken one
// is refused for, and the items that change how the rest is read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace
}  // namespace kav::test
