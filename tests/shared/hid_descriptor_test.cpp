// The report descriptor read item by item, as a HID parser would, against the report
// layouts the driver fills.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "shared/hid_reports.h"
#include "simulator/hidstack/report_descriptor.h"

namespace kav::test {
namespace {

// The class's own parser reads it, as the HID class would.
std::vector<sim::TopLevelCollection> Parse(std::span<const std::uint8_t> bytes) {
    auto parsed = sim::ParseReportDescriptor(bytes);
    if (const auto* error = std::get_if<sim::ReportDescriptorError>(&parsed))
        ADD_FAILURE() << "byte " << error->offset << ": " << error->reason;
    auto* collections = std::get_if<std::vector<sim::TopLevelCollection>>(&parsed);
    return collections == nullptr ? std::vector<sim::TopLevelCollection>{} : *collections;
}

using Bits = std::map<std::uint8_t, std::uint32_t>;

// One kind of report over all collections.
Bits AllOf(const std::vector<sim::TopLevelCollection>& collections, Bits sim::TopLevelCollection::*kind) {
    Bits all;
    for (const sim::TopLevelCollection& c : collections) all.insert((c.*kind).begin(), (c.*kind).end());
    return all;
}

TEST(HidDescriptor, DescribesOneReportDescriptorOf417Bytes) {
    EXPECT_EQ(kHidDescriptor, (std::array<std::uint8_t, 9>{0x09, 0x21, 0x01, 0x00, 0x00, 0x01, 0x22, 0xA1, 0x01}));
    EXPECT_EQ(kHidDescriptor[7] | (kHidDescriptor[8] << 8), static_cast<int>(kReportDescriptor.size()));
}

TEST(HidDescriptor, CollectionsComeInTheOrderUserModeOpensThem) {
    const std::vector<sim::TopLevelCollection> collections = Parse(kReportDescriptor);
    struct Expected {
        std::uint32_t usagePage, usage;
        std::vector<std::uint8_t> reportIds;
    };
    const Expected expected[] = {
        {0x0D, 0x04, {0x30, 0x03}}, {0x0D, 0x0E, {0x02, 0xAA, 0x55}}, {0x01, 0x02, {0x10}}, {0xFF00, 0x01, {0x32}},
        {0x01, 0x06, {0x38}},       {0xFF00, 0x01, {0x36}},
    };
    ASSERT_EQ(collections.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(collections[i].usagePage, expected[i].usagePage);
        EXPECT_EQ(collections[i].usage, expected[i].usage);
        EXPECT_EQ(collections[i].reportIds, expected[i].reportIds);
        // Only the touch screen declares a contact count maximum: feature 0x03.
        EXPECT_EQ(collections[i].contactCountMaximumReport,
                  i == 0 ? std::optional<std::uint8_t>(kContactCountMaxFeatureId) : std::nullopt);
    }
}

TEST(HidDescriptor, ReportSizesMatchTheLayoutsTheDriverFills) {
    const std::vector<sim::TopLevelCollection> collections = Parse(kReportDescriptor);
    const Bits input = AllOf(collections, &sim::TopLevelCollection::inputBits);
    const Bits output = AllOf(collections, &sim::TopLevelCollection::outputBits);
    const Bits feature = AllOf(collections, &sim::TopLevelCollection::featureBits);
    struct Case {
        const Bits& bits;
        std::uint8_t id;
        std::uint32_t bytes;
    };
    const Case cases[] = {
        {input, kTouchReportId, sizeof(TOUCH_REPORT)},
        {input, kMouseReportId, 6},  // completed as 8, two bytes carried over
        {input, kDeviceEventReportId, sizeof(DEVICE_EVENT_REPORT)},
        {input, kKeyboardReportId, sizeof(KEYBOARD_REPORT)},
        {output, kKeyboardReportId, sizeof(KEYBOARD_LED_REPORT)},
        {input, kRawPacketReportId, sizeof(RAW_PACKET_REPORT)},
        {feature, kContactCountMaxFeatureId, sizeof(CONTACT_COUNT_MAX_FEATURE)},
        {feature, kDeviceModeFeatureId, sizeof(DEVICE_MODE_FEATURE)},
        {feature, kCommandFeatureId, sizeof(VENDOR_FEATURE)},
        {feature, kDriverRequestFeatureId, sizeof(VENDOR_FEATURE)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.id));
        ASSERT_TRUE(c.bits.count(c.id));
        EXPECT_EQ(sim::ReportLength(c.bits.at(c.id)), c.bytes);
    }
    EXPECT_EQ(sizeof(MOUSE_REPORT), 8u);
    EXPECT_EQ(input.size(), 5u);
    EXPECT_EQ(feature.size(), 4u);
}

TEST(HidDescriptor, PhysicalMaximaSitWhereThePatchWritesThem) {
    // Each patched word is the data of a Physical Maximum item (0x46) following an X (0x30)
    // or Y (0x31) usage.
    for (size_t offset : kPhysicalMaxXOffsets) {
        EXPECT_EQ(kReportDescriptor[offset - 1], 0x46) << offset;
        EXPECT_EQ(kReportDescriptor[offset] | (kReportDescriptor[offset + 1] << 8), 0x0251);
    }
    for (size_t offset : kPhysicalMaxYOffsets) {
        EXPECT_EQ(kReportDescriptor[offset - 1], 0x46) << offset;
        EXPECT_EQ(kReportDescriptor[offset - 3], 0x09);
        EXPECT_EQ(kReportDescriptor[offset - 2], 0x31);
        EXPECT_EQ(kReportDescriptor[offset] | (kReportDescriptor[offset + 1] << 8), 0x0173);
    }

    std::array<std::uint8_t, 417> patched = kReportDescriptor;
    PatchReportDescriptorSize(patched.data(), 1000, 600);
    size_t changed = 0;
    for (size_t i = 0; i < patched.size(); ++i) changed += patched[i] != kReportDescriptor[i];
    EXPECT_EQ(changed, 8u);
    for (size_t offset : kPhysicalMaxXOffsets) EXPECT_EQ(patched[offset] | (patched[offset + 1] << 8), 1000);
    for (size_t offset : kPhysicalMaxYOffsets) EXPECT_EQ(patched[offset] | (patched[offset + 1] << 8), 600);
    EXPECT_EQ(Parse(patched).size(), 6u);
}

TEST(HidDescriptor, TableRowsSpotCheck) {
    // Rows of the descriptor as the controller's documentation lists them.
    const std::pair<size_t, std::vector<std::uint8_t>> rows[] = {
        {0, {0x05, 0x0D, 0x09, 0x04, 0xA1, 0x01, 0x85, 0x30, 0x09, 0x22, 0xA1, 0x02, 0x09, 0x42, 0x15, 0x00}},
        {208, {0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x02, 0xB1, 0x02, 0x85, 0xAA, 0x06, 0x00, 0xFF, 0x09}},
        {400, {0x01, 0x85, 0x36, 0x26, 0xFF, 0x00, 0x15, 0x00, 0x95, 0x3F, 0x75, 0x08, 0x09, 0x01, 0x81, 0x02}},
        {416, {0xC0}},
    };
    for (const auto& [offset, bytes] : rows) {
        for (size_t k = 0; k < bytes.size(); ++k) EXPECT_EQ(kReportDescriptor[offset + k], bytes[k]) << offset + k;
    }
}

}  // namespace
}  // namespace kav::test
