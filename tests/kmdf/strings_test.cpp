// Counted strings: RtlInitUnicodeString and RtlUnicodeStringPrintf.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "kavusb/kmdf/usermode/kmdf_sim.h"

namespace strings_test {

std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

using Printer = std::function<NTSTATUS(PUNICODE_STRING)>;

TEST(Strings, InitTakesTheSourceAsItIs) {
    const WCHAR text[] = u"KavUSB";
    UNICODE_STRING s;
    RtlInitUnicodeString(&s, text);
    EXPECT_EQ(s.Buffer, text);
    EXPECT_EQ(s.Length, 12);
    EXPECT_EQ(s.MaximumLength, 14);
    RtlInitUnicodeString(&s, nullptr);
    EXPECT_EQ(s.Buffer, nullptr);
    EXPECT_EQ(s.Length, 0);
    EXPECT_EQ(s.MaximumLength, 0);
}

TEST(Strings, PrintfFormatsAsTheKernelsWidePrintf) {
    struct Case {
        const char* format;
        Printer print;
        std::u16string expected;
    };
    const Case cases[] = {
        {"%d", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"%d", -42); }, u"-42"},
        {"%i", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"%i", 2147483647); }, u"2147483647"},
        {"%u", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"%u", 4000000000u); }, u"4000000000"},
        {"%x %X", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"%x %X", 0xbeefu, 0xbeefu); },
         u"beef BEEF"},
        {"%08X", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"%08X", 0x1A2Bu); }, u"00001A2B"},
        {"%08X, all digits", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"%08X", 0xC0040004u); },
         u"C0040004"},
        {"%5d", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"[%5d]", 42); }, u"[   42]"},
        {"%-5d", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"[%-5d]", 42); }, u"[42   ]"},
        {"%05d negative", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"%05d", -42); }, u"-0042"},
        {"%s is wide", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"<%s>", u"wide"); }, u"<wide>"},
        {"%S is narrow", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"<%S>", "narrow"); }, u"<narrow>"},
        {"%ws %hs", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"%ws %hs", u"w", "h"); }, u"w h"},
        {"%s null", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"%s", static_cast<PCWSTR>(nullptr)); },
         u"(null)"},
        {"%.3s", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"%.3s", u"abcdef"); }, u"abc"},
        {"%6s", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"%6s|", u"ab"); }, u"    ab|"},
        {"%%", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"100%%"); }, u"100%"},
        {"%c", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"%c%c", u'O', u'K'); }, u"OK"},
        {"%lu is 32 bits", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"%lu", ULONG{4294967295u}); },
         u"4294967295"},
        {"%ld after a 64-bit %I64d",
         [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"%I64d %ld", LONGLONG{-5000000000}, LONG{-7}); },
         u"-5000000000 -7"},
        {"%llx", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"%llx", 0x123456789ABCull); },
         u"123456789abc"},
        {"%#x", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"%#x", 255u); }, u"0xff"},
        {"%*d", [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"%*d", 4, 7); }, u"   7"},
        {"as the driver names its device",
         [](PUNICODE_STRING s) { return RtlUnicodeStringPrintf(s, u"\\Device\\KavUSB%u-%s", 3u, u"Cam"); },
         u"\\Device\\KavUSB3-Cam"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        WCHAR buffer[64];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        UNICODE_STRING s{0, sizeof buffer, buffer};
        ASSERT_EQ(c.print(&s), STATUS_SUCCESS);
        const std::u16string got(s.Buffer, s.Length / sizeof(WCHAR));
        EXPECT_EQ(Narrow(got), Narrow(c.expected));
        EXPECT_EQ(s.Length, c.expected.size() * sizeof(WCHAR));
        EXPECT_EQ(buffer[c.expected.size()], 0) << "not terminated";
        EXPECT_EQ(s.MaximumLength, sizeof buffer) << "MaximumLength is the caller's";
    }
}

TEST(Strings, PrintfThatDoesNotFitFailsAndStaysWithinTheBuffer) {
    struct Case {
        USHORT maximumLength;  // bytes
        NTSTATUS status;
        std::u16string kept;
    };
    // "hello" needs 12 bytes with its terminator.
    const Case cases[] = {
        {64, STATUS_SUCCESS, u"hello"},        {12, STATUS_SUCCESS, u"hello"},
        {13, STATUS_SUCCESS, u"hello"},  // an odd byte is not a character
        {10, STATUS_BUFFER_OVERFLOW, u"hell"}, {2, STATUS_BUFFER_OVERFLOW, u""},
        {0, STATUS_BUFFER_OVERFLOW, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "MaximumLength " << c.maximumLength);
        WCHAR buffer[40];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        UNICODE_STRING s{0, c.maximumLength, buffer};
        EXPECT_EQ(RtlUnicodeStringPrintf(&s, u"he%s", u"llo"), c.status);
        EXPECT_FALSE(NT_SUCCESS(STATUS_BUFFER_OVERFLOW));
        EXPECT_EQ(Narrow(std::u16string(buffer, s.Length / sizeof(WCHAR))), Narrow(c.kept));
        const size_t capacity = c.maximumLength / sizeof(WCHAR);
        if (capacity > 0) {
            EXPECT_EQ(buffer[c.kept.size()], 0) << "not terminated";
        }
        for (size_t i = capacity; i < std::size(buffer); ++i)
            ASSERT_EQ(buffer[i], u'#') << "wrote past the end at " << i;
    }

    // Widths far beyond any UNICODE_STRING only overflow.
    WCHAR small[8];
    UNICODE_STRING s{0, sizeof small, small};
    EXPECT_EQ(RtlUnicodeStringPrintf(&s, u"%2000000000d", 1), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(s.Length, 7 * sizeof(WCHAR));
}

TEST(Strings, PrintfRejectsWhatItCannotFormat) {
    WCHAR buffer[16];
    UNICODE_STRING s{0, sizeof buffer, buffer};
    EXPECT_EQ(RtlUnicodeStringPrintf(&s, u"%q", 1), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(s.Length, 0);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(RtlUnicodeStringPrintf(&s, u"ends in %"), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(RtlUnicodeStringPrintf(nullptr, u"x"), STATUS_INVALID_PARAMETER);
    UNICODE_STRING noBuffer{0, 16, nullptr};
    EXPECT_EQ(RtlUnicodeStringPrintf(&noBuffer, u"x"), STATUS_INVALID_PARAMETER);
}

}  // namespace strings_test
