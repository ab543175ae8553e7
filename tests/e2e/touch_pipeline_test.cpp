// Fingers on a simulated screen, rendered into camera lines, through the whole driver
// pipeline to the touch reports that complete the HID class's read requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "shared/hid_reports.h"
#include "shared/work_modes.h"
#include "simulator/controller/optics.h"
#include "simulator/hidstack/direct_host.h"

namespace kav::test {
namespace {

using sim::Finger;

struct Contact {
    std::uint8_t status;
    double x, y;  // mm
};

class TouchPipelineTest : public ::testing::Test {
protected:
    TouchPipelineTest() : records_(sim::NominalRecords()), host_(records_) {
        host_.Context()->WorkMode = kWorkModeDigitizer;  // as after the system read feature 0x03
        geometry_ = sim::Geometry::From(host_.Context()->ScreenProperty);
    }

    // One frame: camera B's line as sub-code 0, then camera A's as sub-code 1.
    void Frame(std::vector<Finger> fingers) {
        const auto a = sim::RenderLine(geometry_, false, sim::Lens::Nominal(false), fingers);
        const auto b = sim::RenderLine(geometry_, true, sim::Lens::Nominal(true), fingers);
        host_.Feed(sim::LineTransfer(0, b));
        host_.Feed(sim::LineTransfer(1, a));
        for (const auto& report : host_.TakeReports()) {
            if (report.size() != sizeof(TOUCH_REPORT) || report[0] != kTouchReportId) continue;
            TOUCH_REPORT r;
            std::memcpy(&r, report.data(), sizeof(r));
            std::vector<Contact> contacts;
            for (const TOUCH_CONTACT& c : r.Contact)
                contacts.push_back({c.Status, c.X * geometry_.width / 32768.0, c.Y * geometry_.height / 32768.0});
            reports_.push_back(contacts);
        }
    }

    sim::DeviceRecords records_;
    sim::DirectHost host_;
    sim::Geometry geometry_{};
    std::vector<std::vector<Contact>> reports_;
};

constexpr double kToleranceMm = 3.0;

TEST_F(TouchPipelineTest, AFingerHeldStillIsReportedWhereItIsThenLiftedOnce) {
    for (int i = 0; i < 40; ++i) Frame({{200, 150, 10}});
    const size_t touching = reports_.size();
    ASSERT_GT(touching, 20u);
    for (const auto& report : reports_) {
        EXPECT_EQ(report[0].status, kContactTouching);
        EXPECT_NEAR(report[0].x, 200, kToleranceMm);
        EXPECT_NEAR(report[0].y, 150, kToleranceMm);
        EXPECT_EQ(report[1].status, kContactNone);
    }
    // The pipeline runs a few frames behind the fingers: the last touching frames come
    // out after the lift, then exactly one lifted report, then nothing.
    for (int i = 0; i < 10; ++i) Frame({});
    ASSERT_GT(reports_.size(), touching);
    for (size_t i = touching; i + 1 < reports_.size(); ++i) EXPECT_EQ(reports_[i][0].status, kContactTouching);
    EXPECT_EQ(reports_.back()[0].status, kContactLifted);
    EXPECT_NEAR(reports_.back()[0].x, 200, kToleranceMm);
    EXPECT_EQ(reports_.back()[1].status, kContactNone);
    const size_t afterLift = reports_.size();
    for (int i = 0; i < 10; ++i) Frame({});
    EXPECT_EQ(reports_.size(), afterLift);
}

TEST_F(TouchPipelineTest, ADragFollowsTheFinger) {
    const int frames = 60;
    for (int i = 0; i <= frames; ++i) {
        const double t = static_cast<double>(i) / frames;
        Frame({{100 + 200 * t, 80 + 140 * t, 10}});
    }
    ASSERT_GT(reports_.size(), 40u);
    // Every reported point lies on the path; the last ones near its end.
    for (const auto& report : reports_) {
        ASSERT_EQ(report[0].status, kContactTouching);
        const double t = ((report[0].x - 100) * 200 + (report[0].y - 80) * 140) / (200.0 * 200 + 140 * 140);
        const double along = std::clamp(t, 0.0, 1.0);
        EXPECT_NEAR(report[0].x, 100 + 200 * along, kToleranceMm);
        EXPECT_NEAR(report[0].y, 80 + 140 * along, kToleranceMm);
    }
    EXPECT_NEAR(reports_.back()[0].x, 300, 15);
    EXPECT_NEAR(reports_.back()[0].y, 220, 15);
}

TEST_F(TouchPipelineTest, TwoFingersAreTwoContacts) {
    // Apart as both cameras see them, so that no shadow merges.
    const Finger first{100, 200, 10};
    const Finger second{300, 100, 10};
    for (int i = 0; i < 30; ++i) Frame({first});
    reports_.clear();
    for (int i = 0; i < 30; ++i) Frame({first, second});
    ASSERT_FALSE(reports_.empty());
    const auto& last = reports_.back();
    ASSERT_EQ(last[0].status, kContactTouching);
    ASSERT_EQ(last[1].status, kContactTouching);
    // The first finger keeps contact 1; the new one is contact 2.
    EXPECT_NEAR(last[0].x, first.x, kToleranceMm);
    EXPECT_NEAR(last[0].y, first.y, kToleranceMm);
    EXPECT_NEAR(last[1].x, second.x, kToleranceMm);
    EXPECT_NEAR(last[1].y, second.y, kToleranceMm);
}

}  // namespace
}  // namespace kav::test
