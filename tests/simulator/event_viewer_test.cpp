#include "simulator/hidstack/event_viewer.h"

#include <gtest/gtest.h>

namespace kav::test {
namespace {

TEST(EventViewer, EntriesReadWithTheDriversMessageTexts) {
    struct Case {
        std::uint32_t code;
        std::u16string insertion;
        std::u16string shown;
    };
    const Case cases[] = {
        {0xC0050001, u"读取屏幕参数失败.", u"Send command failed读取屏幕参数失败..\r\n"},
        {0x40050002, u"v1", u"KavUSB TouchScreen Driver Loaded Successful v1.\r\n"},
        {0x40050003, u"", u"Send data success .\r\n"},
        {0x40050008, u"x", u"Send data start x.\r\n"},
        {0xC0050004, u"x", u"Read device config failed x.\r\n"},
        {0xC0050005, u"x", u"Read calibrate parameters failed x.\r\n"},
        {0xC0050006, u"x", u"Read calibrate parameters failed x.\r\n"},
        {0xC0050007, u"x", u"Read Keyboardconfig failed x.\r\n"},
        // No text in the table: the insertion string alone.
        {0xC0040004, u"STATUS_INVALID_DEVICE_REQUEST", u"STATUS_INVALID_DEVICE_REQUEST"},
        {0x80050006, u"读取Y校准参数失败.", u"读取Y校准参数失败."},
    };
    for (const Case& c : cases) EXPECT_EQ(sim::EventViewerText(c.code, c.insertion), c.shown) << std::hex << c.code;
}

}  // namespace
}  // namespace kav::test
