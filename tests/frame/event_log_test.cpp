#include "kavusb/eventlog/event_log.h"

#include <gtest/gtest.h>

#include <string>

#include "kavusb/kmdf/usermode/kmdf_sim.h"

namespace kav::test {
namespace {

class EventLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        kmdf::ResetFramework();
        WDF_DRIVER_CONFIG config;
        WDF_DRIVER_CONFIG_INIT(&config, nullptr);
        ASSERT_TRUE(NT_SUCCESS(
            WdfDriverCreate(kmdf::CreateDriverObject(), nullptr, WDF_NO_OBJECT_ATTRIBUTES, &config, &driver_)));
    }
    void TearDown() override { kmdf::ResetFramework(); }
    WDFDRIVER driver_ = nullptr;
};

TEST_F(EventLogTest, EntrySizeFollowsTheStringUpTo255Bytes) {
    const std::u16string startFailure =
        u"NerioUSBEvtDevicePrepareHardware: Zandric USB Touchscreen Driver Init Kavcore failed.";
    ASSERT_EQ(startFailure.size(), 85u);
    struct Case {
        std::u16string text;
        bool hasString;
        size_t expectedSize;  // 0: nothing written
    };
    const Case cases[] = {
        {startFailure, true, 212},
        {u"", false, 48},
        {u"", true, 48},  // the terminator alone still fits the minimum entry
        {u"abc", true, 48},
        {std::u16string(106, u'x'), true, 254},
        {std::u16string(107, u'x'), true, 0},
        {std::u16string(120, u'x'), true, 0},
        {std::u16string(5000, u'x'), true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.text.size() << (c.hasString ? " chars" : " (null)"));
        WriteEventLogEntry(0xC0050001, STATUS_IO_TIMEOUT, c.hasString ? c.text.c_str() : nullptr);
        const std::vector<kmdf::ErrorLogEntry> log = kmdf::TakeErrorLog();
        if (c.expectedSize == 0) {
            EXPECT_TRUE(log.empty());
            continue;
        }
        ASSERT_EQ(log.size(), 1u);
        const kmdf::ErrorLogEntry& entry = log[0];
        EXPECT_EQ(entry.Bytes.size(), c.expectedSize);
        EXPECT_EQ(entry.IoObject, static_cast<PVOID>(WdfDriverWdmGetDriverObject(driver_)));
        const IO_ERROR_LOG_PACKET& packet = entry.Packet();
        EXPECT_EQ(packet.NumberOfStrings, c.hasString ? 1 : 0);
        EXPECT_EQ(packet.StringOffset, 40);
        EXPECT_EQ(static_cast<std::uint32_t>(packet.ErrorCode), 0xC0050001u);
        EXPECT_EQ(packet.FinalStatus, STATUS_UNSUCCESSFUL);
        EXPECT_EQ(packet.DumpDataSize, 0);
        EXPECT_EQ(packet.UniqueErrorValue, 0u);
        EXPECT_EQ(entry.InsertionString(), c.text);
    }
}

TEST_F(EventLogTest, NoFreeEntryDropsSilently) {
    kmdf::FailErrorLogAllocation(true);
    WriteEventLogEntry(0xC0040004, STATUS_SUCCESS, u"STATUS_INVALID_DEVICE_REQUEST");
    kmdf::FailErrorLogAllocation(false);
    EXPECT_TRUE(kmdf::ErrorLog().empty());
    WriteEventLogEntry(0xC0040004, STATUS_SUCCESS, u"STATUS_INVALID_DEVICE_REQUEST");
    EXPECT_EQ(kmdf::ErrorLog().size(), 1u);
}

}  // namespace
}  // namespace kav::test
