// The report descriptor read item by item, as a HID parser would, against the report
// layouts the driver fills.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "shared/hid_reports.h"

namespace kav::test {
namespace {

struct ParsedDescriptor {
    struct Collection {
        std::uint32_t usagePage;
        std::uint32_t usage;
        std::vector<std::uint8_t> reportIds;
    };
    std::vector<Collection> topLevel;
    std::map<std::uint8_t, std::uint32_t> inputBits, outputBits, featureBits;
    int depth = 0;
    bool wellFormed = true;
};

ParsedDescriptor Parse(const std::uint8_t* bytes, size_t size) {
    ParsedDescriptor parsed;
    std::uint32_t usagePage = 0, usage = 0, reportSize = 0, reportCount = 0;
    std::uint8_t reportId = 0;
    size_t i = 0;
    while (i < size) {
        const std::uint8_t prefix = bytes[i];
        const size_t dataSize = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (i + 1 + dataSize > size) {
            parsed.wellFormed = false;
            break;
        }
        std::uint32_t data = 0;
        for (size_t k = 0; k < dataSize; ++k) data |= static_cast<std::uint32_t>(bytes[i + 1 + k]) << (8 * k);
        switch (prefix & 0xFC) {
            case 0x04:
                usagePage = data;
                break;
            case 0x08:
                usage = data;
                break;
            case 0x74:
                reportSize = data;
                break;
            case 0x94:
                reportCount = data;
                break;
            case 0x84:
                reportId = static_cast<std::uint8_t>(data);
                if (!parsed.topLevel.empty()) parsed.topLevel.back().reportIds.push_back(reportId);
                break;
            case 0x80:
                parsed.inputBits[reportId] += reportSize * reportCount;
                break;
            case 0x90:
                parsed.outputBits[reportId] += reportSize * reportCount;
                break;
            case 0xB0:
                parsed.featureBits[reportId] += reportSize * reportCount;
                break;
            case 0xA0:
                if (parsed.depth++ == 0) parsed.topLevel.push_back({usagePage, usage, {}});
                break;
            case 0xC0:
                if (--parsed.depth < 0) parsed.wellFormed = false;
                break;
            default:
                break;
        }
        i += 1 + dataSize;
    }
    if (parsed.depth != 0) parsed.wellFormed = false;
    return parsed;
}

// Bytes of a report with its ID.
std::uint32_t ReportBytes(std::uint32_t bits) {
    return (bits + 7) / 8 + 1;
}

TEST(HidDescriptor, DescribesOneReportDescriptorOf417Bytes) {
    EXPECT_EQ(kHidDescriptor, (std::array<std::uint8_t, 9>{0x09, 0x21, 0x01, 0x00, 0x00, 0x01, 0x22, 0xA1, 0x01}));
    EXPECT_EQ(kHidDescriptor[7] | (kHidDescriptor[8] << 8), static_cast<int>(kReportDescriptor.size()));
}

TEST(HidDescriptor, CollectionsComeInTheOrderUserModeOpensThem) {
    const ParsedDescriptor parsed = Parse(kReportDescriptor.data(), kReportDescriptor.size());
    ASSERT_TRUE(parsed.wellFormed);
    struct Expected {
        std::uint32_t usagePage, usage;
        std::vector<std::uint8_t> reportIds;
    };
    const Expected expected[] = {
        {0x0D, 0x04, {0x30, 0x03}}, {0x0D, 0x0E, {0x02, 0xAA, 0x55}}, {0x01, 0x02, {0x10}}, {0xFF00, 0x01, {0x32}},
        {0x01, 0x06, {0x38}},       {0xFF00, 0x01, {0x36}},
    };
    ASSERT_EQ(parsed.topLevel.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(parsed.topLevel[i].usagePage, expected[i].usagePage);
        EXPECT_EQ(parsed.topLevel[i].usage, expected[i].usage);
        EXPECT_EQ(parsed.topLevel[i].reportIds, expected[i].reportIds);
    }
}

TEST(HidDescriptor, ReportSizesMatchTheLayoutsTheDriverFills) {
    const ParsedDescriptor parsed = Parse(kReportDescriptor.data(), kReportDescriptor.size());
    struct Case {
        const std::map<std::uint8_t, std::uint32_t>& bits;
        std::uint8_t id;
        std::uint32_t bytes;
    };
    const Case cases[] = {
        {parsed.inputBits, kTouchReportId, sizeof(TOUCH_REPORT)},
        {parsed.inputBits, kMouseReportId, 6},  // completed as 8, two bytes carried over
        {parsed.inputBits, kDeviceEventReportId, sizeof(DEVICE_EVENT_REPORT)},
        {parsed.inputBits, kKeyboardReportId, sizeof(KEYBOARD_REPORT)},
        {parsed.outputBits, kKeyboardReportId, sizeof(KEYBOARD_LED_REPORT)},
        {parsed.inputBits, kRawPacketReportId, sizeof(RAW_PACKET_REPORT)},
        {parsed.featureBits, kContactCountMaxFeatureId, sizeof(CONTACT_COUNT_MAX_FEATURE)},
        {parsed.featureBits, kDeviceModeFeatureId, sizeof(DEVICE_MODE_FEATURE)},
        {parsed.featureBits, kCommandFeatureId, sizeof(VENDOR_FEATURE)},
        {parsed.featureBits, kDriverRequestFeatureId, sizeof(VENDOR_FEATURE)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.id));
        ASSERT_TRUE(c.bits.count(c.id));
        EXPECT_EQ(ReportBytes(c.bits.at(c.id)), c.bytes);
    }
    EXPECT_EQ(sizeof(MOUSE_REPORT), 8u);
    EXPECT_EQ(parsed.inputBits.size(), 5u);
    EXPECT_EQ(parsed.featureBits.size(), 4u);
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
    EXPECT_TRUE(Parse(patched.data(), patched.size()).wellFormed);
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
