#include "beepservice/event_trace.h"

#include <gtest/gtest.h>

namespace kav::beep {
namespace {

TEST(EventTrace, Utf8OfDeviceNamesAndTexts) {
    const struct {
        std::u16string text;
        std::string utf8;
    } cases[] = {
        {u"\\\\?\\HID#VID_4B1D", "\\\\?\\HID#VID_4B1D"},
        {u"关于 KavSvc", "\xE5\x85\xB3\xE4\xBA\x8E KavSvc"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {std::u16string(1, char16_t{0xD83D}) + u"x", "\xEF\xBF\xBDx"},  // a high surrogate alone
        {std::u16string(1, char16_t{0xDE00}), "\xEF\xBF\xBD"},          // a low surrogate alone
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(ToUtf8(c.text), c.utf8);
    }
}

TEST(EventTrace, RecordsAsTheWineTestReadsThem) {
    RawInputRecord touch{RawInputRecord::Type::Hid, u"\\\\?\\hid#vid_4b1d&pid_0a31&col01", 0, {0x30, 0x07, 0xAB}};
    RawInputRecord mouse{RawInputRecord::Type::Mouse, u"\\\\?\\HID#VID_845E&PID_0001", 0x0002, {}};
    EXPECT_EQ(DescribeRecord(touch), "hid 30 07 AB \\\\?\\hid#vid_4b1d&pid_0a31&col01");
    EXPECT_EQ(DescribeRecord(mouse), "mouse 0x0002 \\\\?\\HID#VID_845E&PID_0001");
}

}  // namespace
}  // namespace kav::beep
