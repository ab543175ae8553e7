// DbgPrintEx: a narrow format, %s narrow and %S wide as in the kernel, messages kept for
// the tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kavusb/kmdf/usermode/kmdf_sim.h"

namespace debug_output_test {

class DebugOutputTest : public ::testing::Test {
protected:
    void SetUp() override { kmdf::ResetFramework(); }
    void TearDown() override { kmdf::ResetFramework(); }
};

TEST_F(DebugOutputTest, FormatsAsTheKernelsNarrowPrintf) {
    struct Case {
        const char* name;
        ULONG (*print)();
        const char* expected;
    };
    const Case cases[] = {
        {"%s is narrow", [] { return DbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_ERROR_LEVEL, "<%s>", "narrow"); },
         "<narrow>"},
        {"%S is wide", [] { return DbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_ERROR_LEVEL, "<%S>", u"wide"); }, "<wide>"},
        {"%ws %hs", [] { return DbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_ERROR_LEVEL, "%ws %hs", u"w", "h"); }, "w h"},
        {"%c %C", [] { return DbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_ERROR_LEVEL, "%c%C", 'O', u'K'); }, "OK"},
        {"status", [] { return DbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_ERROR_LEVEL, "0x%08X", 0xC000009Du); },
         "0xC000009D"},
        {"widths and sizes",
         [] { return DbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_ERROR_LEVEL, "[%-4d|%I64u]", 7, ULONGLONG{5000000000}); },
         "[7   |5000000000]"},
        {"other characters", [] { return DbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_ERROR_LEVEL, "%S", u"读"); }, "?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.print(), STATUS_SUCCESS);
        EXPECT_EQ(kmdf::TakeDebugOutput(), std::vector<std::string>{c.expected});
    }
}

TEST_F(DebugOutputTest, AnUnknownConversionIsRefusedAndNotKept) {
    EXPECT_EQ(DbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_ERROR_LEVEL, "%q"), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(DbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_ERROR_LEVEL, nullptr), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(kmdf::DebugOutput().empty());
}

TEST_F(DebugOutputTest, MessagesAreCutAt512BytesAndTheLatest256Kept) {
    const std::string longText(600, 'x');
    DbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_ERROR_LEVEL, "%s", longText.c_str());
    EXPECT_EQ(kmdf::TakeDebugOutput(), std::vector<std::string>{longText.substr(0, 512)});

    for (int i = 0; i < 300; ++i) DbgPrintEx(DPFLTR_IHVDRIVER_ID, DPFLTR_ERROR_LEVEL, "%d", i);
    const std::vector<std::string> kept = kmdf::DebugOutput();
    ASSERT_EQ(kept.size(), 256u);
    EXPECT_EQ(kept.front(), "44");
    EXPECT_EQ(kept.back(), "299");
    kmdf::ResetFramework();
    EXPECT_TRUE(kmdf::DebugOutput().empty());
}

}  // namespace debug_output_test
