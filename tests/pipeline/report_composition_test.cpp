#include "kavusb/pipeline/report_composition.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "pipeline_fixture.h"

namespace kav::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Statuses = std::pair<std::uint8_t, std::uint8_t>;

Bytes Contact(std::uint8_t status, std::uint8_t id, std::uint16_t x, std::uint16_t y, std::uint16_t size) {
    return {status,
            id,
            static_cast<std::uint8_t>(x),
            static_cast<std::uint8_t>(x >> 8),
            static_cast<std::uint8_t>(y),
            static_cast<std::uint8_t>(y >> 8),
            static_cast<std::uint8_t>(size),
            static_cast<std::uint8_t>(size >> 8),
            static_cast<std::uint8_t>(size),
            static_cast<std::uint8_t>(size >> 8)};
}

Bytes TouchReport(const Bytes& contact1, const Bytes& contact2, std::uint8_t count) {
    Bytes report(22, 0);
    report[0] = kTouchReportId;
    std::copy(contact1.begin(), contact1.end(), report.begin() + 1);
    std::copy(contact2.begin(), contact2.end(), report.begin() + 11);
    report[21] = count;
    return report;
}

class ReportCompositionTest : public PipelineTest {
protected:
    // Composes one digitizer report into a fresh request and returns its status bytes.
    Statuses TouchStatuses() {
        WDFREQUEST request = ParkRead(22);
        SendTouchReport(Context());
        if (!kmdf::ResultOf(request).Completed) return {0xFF, 0xFF};
        const Bytes report = Report(request);
        return {report[1], report[11]};
    }
};

TEST_F(ReportCompositionTest, TouchReportCarriesMappedContactsAndCountTwo) {
    WDFREQUEST request = ParkRead(22);
    SetOutput(0, 1000, 2000, 300, 1);
    SendTouchReport(Context());

    const kmdf::RequestResult result = kmdf::ResultOf(request);
    ASSERT_TRUE(result.Completed);
    EXPECT_EQ(result.Status, STATUS_SUCCESS);
    EXPECT_EQ(result.Information, 22u);
    EXPECT_EQ(Report(request), TouchReport(Contact(7, 0, 1000, 2000, 300), Contact(0, 1, 0, 0, 0), 2));
    EXPECT_EQ(std::memcmp(&Context()->LastTouchReport, Report(request).data(), 22), 0);
    EXPECT_EQ(Context()->PrevOutputPoint[0].Tip, 1);
}

TEST_F(ReportCompositionTest, IdleContactsConsumeNoRequest) {
    ParkRead(22);
    SetOutput(0, 100, 100, 1, 0);
    SetOutput(1, 100, 100, 1, 0);
    SendTouchReport(Context());
    SendRawTouchReport(Context());
    EXPECT_EQ(Pending(), 1u);
}

TEST_F(ReportCompositionTest, LiftGivesOneLiftedReportThenNone) {
    SetOutput(0, 100, 100, 5, 1);
    SetOutput(1, 900, 900, 5, 1);
    EXPECT_EQ(TouchStatuses(), (Statuses{7, 7}));
    SetOutput(0, 100, 100, 5, 0);
    EXPECT_EQ(TouchStatuses(), (Statuses{6, 7}));
    EXPECT_EQ(TouchStatuses(), (Statuses{0, 7}));
    SetOutput(1, 900, 900, 5, 0);
    EXPECT_EQ(TouchStatuses(), (Statuses{0, 6}));
    // Both idle now: the next request stays pending.
    const size_t before = Pending();
    SendTouchReport(Context());
    ParkRead(22);
    SendTouchReport(Context());
    EXPECT_EQ(Pending(), before + 1);
}

TEST_F(ReportCompositionTest, LiftedContactKeepsItsLastPosition) {
    SetOutput(0, 1234, 4321, 50, 1);
    TouchStatuses();
    SetOutput(0, 0, 0, 0, 0);
    WDFREQUEST request = ParkRead(22);
    SendTouchReport(Context());
    EXPECT_EQ(Report(request), TouchReport(Contact(6, 0, 1234, 4321, 50), Contact(0, 1, 0, 0, 0), 2));
}

TEST_F(ReportCompositionTest, OneReportPerRequestAndNoneWithoutRequest) {
    SetOutput(0, 10, 10, 1, 1);
    SendTouchReport(Context());  // nothing pending: dropped, nothing changes
    EXPECT_EQ(Context()->LastTouchReport.Contact[0].Status, 0);
    EXPECT_EQ(Context()->PrevOutputPoint[0].Tip, 0);

    WDFREQUEST first = ParkRead(22);
    WDFREQUEST second = ParkRead(22);
    SendTouchReport(Context());
    EXPECT_TRUE(kmdf::ResultOf(first).Completed);
    EXPECT_FALSE(kmdf::ResultOf(second).Completed);
    EXPECT_EQ(Pending(), 1u);
}

TEST_F(ReportCompositionTest, PointOutsideEveryRegionFreezesTheContact) {
    SetOutput(0, 500, 600, 7, 1);
    TouchStatuses();
    Context()->Region[0].XMax = 1000;
    SetOutput(0, 2000, 600, 9, 1);
    WDFREQUEST request = ParkRead(22);
    SendTouchReport(Context());
    EXPECT_EQ(Report(request), TouchReport(Contact(7, 0, 500, 600, 7), Contact(0, 1, 0, 0, 0), 2));
}

TEST_F(ReportCompositionTest, RegionSearchTakesTheFirstHitAndClampsTheCount) {
    struct Case {
        std::uint8_t regionCount;
        std::uint16_t x;
        std::uint16_t expectedX;  // 0: contact not updated
    };
    // Region 0 covers x < 1000; regions 1..3 are shifted identities covering the rest.
    const Case cases[] = {
        {0, 500, 500},     {0, 5000, 0},       // count 0: region 0 alone
        {2, 500, 500},     {2, 5000, 5100},    // region 1 hit
        {3, 20000, 20200}, {3, 25000, 0},      // region 2 hit; region 3 not tried
        {4, 25000, 25300}, {9, 25000, 25300},  // region 3; a count above four is clamped
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "count " << int(c.regionCount) << " x " << c.x);
        SetUp();
        Context()->Region[0].XMax = 1000;
        for (int k = 1; k < 4; ++k) {
            Context()->Region[k].XCoef[9] = 100.0f * static_cast<float>(k);
            Context()->Region[k].XMin = static_cast<std::uint16_t>(1000 + (k - 1) * 10000);
            Context()->Region[k].XMax = static_cast<std::uint16_t>(1000 + k * 10000);
        }
        Context()->RegionCount = c.regionCount;
        SetOutput(0, c.x, 100, 1, 1);
        WDFREQUEST request = ParkRead(22);
        SendTouchReport(Context());
        const Bytes report = Report(request);
        ASSERT_EQ(report.size(), 22u);
        EXPECT_EQ(report[1], c.expectedX != 0 ? 7 : 0);
        EXPECT_EQ(report[3] | (report[4] << 8), c.expectedX);
        TearDown();
    }
}

TEST_F(ReportCompositionTest, RawTouchReportIsUnmappedWithCountZero) {
    Context()->Region[0].XCoef[9] = 500.0f;  // mapping must not apply
    SetOutput(0, 32767, 0, 70000, 1);        // size keeps its low 16 bits
    SetOutput(1, 300, 400, 8, 1);
    WDFREQUEST request = ParkRead(22);
    SendRawTouchReport(Context());
    EXPECT_EQ(Report(request),
              TouchReport(Contact(7, 0, 32767, 0, static_cast<std::uint16_t>(70000)), Contact(7, 1, 300, 400, 8), 0));
    EXPECT_EQ(Context()->PrevOutputPoint[0].Tip, 0);

    // Out of range repeats the last entry; lifting gives 6 then 0; identifiers rewritten.
    Context()->LastTouchReport.Contact[0].ContactId = 9;
    SetOutput(0, 32768, 5, 1, 1);
    SetOutput(1, 300, 400, 8, 0);
    request = ParkRead(22);
    SendRawTouchReport(Context());
    EXPECT_EQ(Report(request),
              TouchReport(Contact(7, 0, 32767, 0, static_cast<std::uint16_t>(70000)), Contact(6, 1, 300, 400, 8), 0));
    SetOutput(0, -1, 5, 1, 1);
    request = ParkRead(22);
    SendRawTouchReport(Context());
    EXPECT_EQ(Report(request)[1], 7);
    EXPECT_EQ(Report(request)[11], 0);
}

TEST_F(ReportCompositionTest, MouseReportFollowsContactOne) {
    SetOutput(0, 1000, 2000, 1, 1);
    Context()->LastMouseReport.Trailer[0] = 0x5A;  // carried over unchanged
    WDFREQUEST request = ParkRead(8);
    SendMouseReport(Context(), kMouseButtonLeft);
    EXPECT_EQ(Report(request), (Bytes{0x10, 1, 0xE8, 0x03, 0xD0, 0x07, 0x5A, 0}));

    // Outside every region: touching repeats the report, not touching releases in place.
    Context()->Region[0].XMax = 500;
    request = ParkRead(8);
    SendMouseReport(Context(), kMouseButtonRight);
    EXPECT_EQ(Report(request), (Bytes{0x10, 1, 0xE8, 0x03, 0xD0, 0x07, 0x5A, 0}));
    SetOutput(0, 1000, 2000, 1, 0);
    request = ParkRead(8);
    SendMouseReport(Context(), kMouseButtonLeft);
    EXPECT_EQ(Report(request), (Bytes{0x10, 0, 0xE8, 0x03, 0xD0, 0x07, 0x5A, 0}));
}

TEST_F(ReportCompositionTest, MouseReportWithoutAKnownPositionIsNotSent) {
    Context()->Region[0].XMax = 500;
    SetOutput(0, 1000, 2000, 1, 0);
    WDFREQUEST request = ParkRead(8);
    SendMouseReport(Context(), kMouseButtonNone);
    SetOutput(0, 1000, 2000, 1, 1);
    SendMouseReport(Context(), kMouseButtonLeft);
    EXPECT_FALSE(kmdf::ResultOf(request).Completed);
    EXPECT_EQ(Pending(), 1u);
    EXPECT_EQ(Context()->LastMouseReport.ReportId, 0);
}

TEST_F(ReportCompositionTest, KeyboardAndDeviceEventReports) {
    WDFREQUEST request = ParkRead(9);
    SendKeyboardReport(Context(), 0x01, 0x68, 0x01);
    EXPECT_EQ(Report(request), (Bytes{0x38, 0x01, 0, 0x68, 0x01, 0, 0, 0, 0}));

    std::uint8_t packet[kUsbTransferSize] = {0xAA, 0x10, 0x02, 0x03, 0x00, 0x42, 0xFE, 0x77};
    request = ParkRead(8);
    SendDeviceEventReport(Context(), packet);
    EXPECT_EQ(Report(request), (Bytes{0x32, 0x42, 0xFE, 0, 0, 0, 0, 0}));
}

TEST_F(ReportCompositionTest, RawPacketReportCopiesAsMuchAsTheBufferHolds) {
    std::uint8_t packet[kUsbTransferSize];
    for (size_t i = 0; i < sizeof(packet); ++i) packet[i] = static_cast<std::uint8_t>(i * 7 + 1);
    packet[0] = 0xAA;

    struct Case {
        size_t bufferLength;
        size_t expectedLength;
    };
    for (const Case c : {Case{64, 64}, Case{1024, 1024}, Case{1500, 1024}, Case{1, 1}}) {
        SCOPED_TRACE(c.bufferLength);
        WDFREQUEST request = ParkRead(c.bufferLength);
        SendRawPacketReport(Context(), packet);
        const kmdf::RequestResult result = kmdf::ResultOf(request);
        ASSERT_EQ(result.Status, STATUS_SUCCESS);
        ASSERT_EQ(result.Information, c.expectedLength);
        const std::span<std::uint8_t> out = kmdf::OutputOf(request);
        EXPECT_EQ(out[0], 0x36);
        EXPECT_EQ(std::memcmp(out.data() + 1, packet + 1, c.expectedLength - 1), 0);
        for (size_t i = c.expectedLength; i < out.size(); ++i) ASSERT_EQ(out[i], 0) << i;
    }
    WDFREQUEST none = ParkRead(0);
    SendRawPacketReport(Context(), packet);
    EXPECT_EQ(kmdf::ResultOf(none).Status, STATUS_INVALID_DEVICE_REQUEST);
}

TEST_F(ReportCompositionTest, TooSmallBuffersAreRefusedAndOnlyTheDigitizerFormLogs) {
    std::uint8_t packet[kUsbTransferSize] = {0xAA, 0x10, 0x02, 0x03, 0x00, 0x01, 0xFF};
    struct Case {
        const char* name;
        size_t minimum;
        std::function<void(DEVICE_CONTEXT*)> send;
        bool logs;
    };
    const Case cases[] = {
        {"touch", 22, [](DEVICE_CONTEXT* c) { SendTouchReport(c); }, true},
        {"raw touch", 22, [](DEVICE_CONTEXT* c) { SendRawTouchReport(c); }, false},
        {"mouse", 8, [](DEVICE_CONTEXT* c) { SendMouseReport(c, kMouseButtonLeft); }, false},
        {"keyboard", 9, [](DEVICE_CONTEXT* c) { SendKeyboardReport(c, 0, 0x68, 1); }, false},
        {"device event", 8, [&packet](DEVICE_CONTEXT* c) { SendDeviceEventReport(c, packet); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        SetOutput(0, 100, 100, 1, 1);
        const TOUCH_REPORT lastTouch = Context()->LastTouchReport;
        WDFREQUEST small = ParkRead(c.minimum - 1);
        c.send(Context());
        const kmdf::RequestResult result = kmdf::ResultOf(small);
        EXPECT_TRUE(result.Completed);
        EXPECT_EQ(result.Status, STATUS_INVALID_DEVICE_REQUEST);
        EXPECT_EQ(result.Information, 0u);
        for (std::uint8_t byte : kmdf::OutputOf(small)) EXPECT_EQ(byte, 0);
        EXPECT_EQ(std::memcmp(&lastTouch, &Context()->LastTouchReport, sizeof(lastTouch)), 0);
        EXPECT_EQ(Context()->PrevOutputPoint[0].Tip, 0);

        const std::vector<kmdf::ErrorLogEntry> log = kmdf::TakeErrorLog();
        ASSERT_EQ(log.size(), c.logs ? 1u : 0u);
        if (c.logs) {
            EXPECT_EQ(static_cast<std::uint32_t>(log[0].Packet().ErrorCode), 0xC0040004u);
            EXPECT_EQ(log[0].InsertionString(), u"STATUS_INVALID_DEVICE_REQUEST");
        }

        WDFREQUEST exact = ParkRead(c.minimum);
        c.send(Context());
        EXPECT_EQ(kmdf::ResultOf(exact).Status, STATUS_SUCCESS);
        EXPECT_EQ(kmdf::ResultOf(exact).Information, c.minimum);
        TearDown();
    }
}

}  // namespace
}  // namespace kav::test
