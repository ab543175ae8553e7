// A touch frame through the camera stages: lines, shadows, angles, tracking and the
// filter, as ProcessPacket runs them.
#include <cmath>

#include "kavusb/frame/config_cache.h"
#include "kavusb/pipeline/camera_model.h"
#include "kavusb/pipeline/packet_entry.h"
#include "pipeline_fixture.h"
#include "shared/device_packet.h"
#include "simulator/controller/run_length.h"

namespace kav::test {
namespace {

// From data/frame_expected.py: shadows 300..319 on camera A and 330..349 on camera B
// through the default camera models.
constexpr double kX = 0.5180697978699431;
constexpr double kY = 0.5567113824200911;
constexpr double kSize = 0.026882977622203406;

std::vector<std::uint8_t> LinePacket(std::uint8_t subCode, std::size_t start, std::size_t end) {
    const std::vector<std::uint8_t> stream = sim::RunLengthEncode(sim::LineWithShadows(kLinePixels, {{start, end}}));
    std::vector<std::uint8_t> transfer(kUsbTransferSize, 0);
    BuildFramedPacket(0x10, 0x01, subCode, stream.data(), stream.size(), transfer.data());
    return transfer;
}

void ExpectNear(double actual, double expected) {
    EXPECT_NEAR(actual, expected, 1e-12 * std::fabs(expected));
}

class CameraStagesTest : public PipelineTest {
protected:
    void SetUp() override {
        PipelineTest::SetUp();
        LoadCameraModel(Context());  // no records read: the default geometry
    }
    // Camera A is fed by the sub-code 1 line (swap flag clear).
    NTSTATUS Frame() {
        const std::vector<std::uint8_t> b = LinePacket(0, 330, 350);
        const std::vector<std::uint8_t> a = LinePacket(1, 300, 320);
        EXPECT_EQ(ProcessPacket(b.data(), Context()), STATUS_UNSUCCESSFUL);
        return ProcessPacket(a.data(), Context());
    }
};

TEST_F(CameraStagesTest, AFrameLeavesTheRawReferenceAndFilteredPairs) {
    ASSERT_EQ(Frame(), STATUS_SUCCESS);
    const TRIANGULATION& t = Context()->Triangulation;
    EXPECT_EQ(+t.Camera[0].Count, 1);
    EXPECT_EQ(+t.Camera[0].Interval[0].start, 300);
    EXPECT_EQ(+t.Camera[0].Interval[0].end, 320);
    EXPECT_EQ(+t.Camera[1].Count, 1);

    const TRACK_POINT raw = t.Raw[0];
    EXPECT_EQ(raw.state, kPointMeasured);
    ExpectNear(raw.x, kX);
    ExpectNear(raw.y, kY);
    ExpectNear(raw.size, kSize);
    EXPECT_EQ(+t.Raw[1].state, kPointInvalid);
    // The reference is the raw point, held for the next frame's comparison.
    const TRACK_POINT reference = t.Reference[0];
    EXPECT_EQ(reference.state, kPointHeld);
    EXPECT_EQ(reference.x, raw.x);
    // The filter runs two frames late: nothing to report on the first frame.
    EXPECT_EQ(+t.Filtered[0].state, kPointInvalid);
    EXPECT_EQ(+t.History[0].Newest, 0);
}

TEST_F(CameraStagesTest, TheFilteredPointFollowsTwoFramesLate) {
    ASSERT_EQ(Frame(), STATUS_SUCCESS);
    ASSERT_EQ(Frame(), STATUS_SUCCESS);
    EXPECT_EQ(+Context()->Triangulation.Filtered[0].state, kPointInvalid);
    ASSERT_EQ(Frame(), STATUS_SUCCESS);
    const TRACK_POINT filtered = Context()->Triangulation.Filtered[0];
    EXPECT_EQ(filtered.state, kPointMeasured);
    ExpectNear(filtered.x, kX);
    ExpectNear(filtered.y, kY);
    EXPECT_EQ(+Context()->Triangulation.HoldCounter, 0);

    // The point in logical units on the nominal 4:3 geometry.
    const TOUCH_POINT logical = ToLogical(Context()->Triangulation.Filtered[0], Context()->Triangulation.Scale);
    EXPECT_EQ(logical.X, static_cast<std::int32_t>(32768.0 * kX));
    EXPECT_EQ(logical.Y, static_cast<std::int32_t>(static_cast<double>(43690.668f) * kY));
}

}  // namespace
}  // namespace kav::test
