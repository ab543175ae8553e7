#include "kavusb/pipeline/clicks.h"

#include <array>
#include <functional>
#include <string>
#include <thread>

#include "pipeline_fixture.h"

namespace kav::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Reports = std::vector<Bytes>;

constexpr std::uint8_t kL = kMouseButtonLeft;
constexpr std::uint8_t kR = kMouseButtonRight;
constexpr std::uint8_t kNone = kMouseButtonNone;
constexpr std::uint8_t kCtrl = 0x01;
constexpr std::uint8_t kShift = 0x02;

Bytes Mouse(std::uint8_t buttons, std::uint16_t x, std::uint16_t y) {
    return {0x10,
            buttons,
            static_cast<std::uint8_t>(x),
            static_cast<std::uint8_t>(x >> 8),
            static_cast<std::uint8_t>(y),
            static_cast<std::uint8_t>(y >> 8),
            0,
            0};
}

Bytes Key(std::uint8_t modifiers, std::uint8_t key, std::uint8_t second) {
    return {0x38, modifiers, 0, key, second, 0, 0, 0, 0};
}

// The three reports of one key stroke.
Reports Stroke(std::uint8_t modifiers, std::uint8_t key) {
    return {Key(modifiers, key, 1), Key(modifiers, key, 0), Key(0, 0, 0)};
}

Reports Join(Reports a, const Reports& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Touch report with contact 1 touching at (x, y), size s; contact 2 idle.
Bytes Touch(std::uint16_t x, std::uint16_t y, std::uint16_t s, std::uint8_t count) {
    Bytes r(22, 0);
    r[0] = 0x30;
    r[1] = 7;
    r[2] = 0;
    r[3] = static_cast<std::uint8_t>(x);
    r[4] = static_cast<std::uint8_t>(x >> 8);
    r[5] = static_cast<std::uint8_t>(y);
    r[6] = static_cast<std::uint8_t>(y >> 8);
    r[7] = r[9] = static_cast<std::uint8_t>(s);
    r[8] = r[10] = static_cast<std::uint8_t>(s >> 8);
    r[12] = 1;
    r[21] = count;
    return r;
}

Bytes ButtonPacket(std::uint8_t lines) {
    Bytes packet(kUsbTransferSize, 0);
    packet[0] = 0xAA;
    packet[2] = 0x02;
    packet[6] = lines;
    return packet;
}

// Read requests parked in a device's queue; reports are collected in completion order.
class ReadCollector {
public:
    explicit ReadCollector(WDFDEVICE device) : device_(device) {}

    void Park(size_t count, size_t length = 64) {
        for (size_t i = 0; i < count; ++i) {
            kmdf::RequestSetup setup;
            setup.Type = WdfRequestTypeDeviceControlInternal;
            setup.IoControlCode = IOCTL_HID_READ_REPORT;
            setup.OutputLength = length;
            requests_.push_back(std::make_unique<kmdf::ScopedRequest>(setup));
            kmdf::SendToDevice(device_, requests_.back()->get());
        }
    }

    // Reports completed since the last call.
    Reports Take() {
        Reports out;
        while (next_ < requests_.size() && requests_[next_]->Result().Completed) {
            const kmdf::RequestResult result = requests_[next_]->Result();
            std::span<std::uint8_t> data = requests_[next_]->Output();
            out.emplace_back(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(result.Information));
            ++next_;
        }
        return out;
    }

    // Parks enough requests for one step, runs it and returns its reports.
    Reports Run(const std::function<void()>& step) {
        const size_t pending = requests_.size() - next_;
        if (pending < 16) Park(16 - pending);
        step();
        return Take();
    }

private:
    WDFDEVICE device_;
    std::vector<std::unique_ptr<kmdf::ScopedRequest>> requests_;
    size_t next_ = 0;
};

class ClickTest : public PipelineTest {
protected:
    void SetUp() override {
        PipelineTest::SetUp();
        kmdf::SetClock(&clock_);
        reads_ = std::make_unique<ReadCollector>(DeviceHandle());
        // 512 x 256 mm: one millimetre is 64 logical units in X, 128 in Y.
        Context()->ScreenProperty.Width = 512;
        Context()->ScreenProperty.Height = 256;
    }
    void TearDown() override {
        reads_.reset();
        PipelineTest::TearDown();
    }

    void Configure(std::uint8_t mode, std::uint8_t rightClick = 0, std::uint32_t time = 1000, std::uint32_t area = 4) {
        Driver()->Config.Mode = mode;
        Driver()->Config.EnableRightClick = rightClick;
        Driver()->Config.RightClickTime = time;
        Driver()->Config.RightClickArea = area;
        ApplyDriverConfig();
    }

    Reports Sample(std::int32_t x, std::int32_t y, std::uint8_t tip, std::int32_t size = 300) {
        return reads_->Run([&] {
            SetOutput(0, x, y, size, tip);
            ComposeSample(Context());
        });
    }
    Reports Buttons(std::uint8_t lines) {
        const Bytes packet = ButtonPacket(lines);
        return reads_->Run([&] { DeviceButtons(Context(), packet.data()); });
    }
    Reports Toolbar(std::int32_t x, std::int32_t y) {
        return reads_->Run([&] { ToolbarTouch(Context(), TOUCH_POINT{x, y, 100, 1}); });
    }

    kmdf::VirtualClock clock_{130000000000000000LL};
    std::unique_ptr<ReadCollector> reads_;
};

// ---- ComposeSample by work mode and Mode ----

enum class Expect { ClickPair, FollowNoButton, Digitizer, Raw, LeftDown };

TEST_F(ClickTest, EveryWorkModeAndModeCell) {
    struct Cell {
        std::uint8_t workMode;
        std::uint8_t mode;
        Expect expect;
    };
    const Cell cells[] = {
        {0xF2, 0, Expect::ClickPair},
        {0xF2, 1, Expect::FollowNoButton},
        {0xF2, 2, Expect::Digitizer},
        {0xF2, 9, Expect::Digitizer},
        {0xF3, 0, Expect::ClickPair},
        {0xF3, 1, Expect::FollowNoButton},
        {0xF3, 2, Expect::Digitizer},
        {0xF3, 255, Expect::Digitizer},
        {0xF4, 0, Expect::Raw},
        {0xF4, 1, Expect::Raw},
        {0xF4, 2, Expect::Raw},
        {0xF4, 200, Expect::Raw},
        {0xF1, 0, Expect::ClickPair},
        {0xF1, 1, Expect::FollowNoButton},
        {0xF1, 2, Expect::LeftDown},
        {0xF1, 3, Expect::LeftDown},
        {0xF5, 0, Expect::ClickPair},
        {0xF5, 1, Expect::FollowNoButton},
        {0xF5, 2, Expect::LeftDown},
        {0x00, 0, Expect::ClickPair},
        {0x00, 1, Expect::FollowNoButton},
        {0x00, 2, Expect::LeftDown},
        {0x7E, 5, Expect::LeftDown},
    };
    for (const Cell& cell : cells) {
        SCOPED_TRACE(testing::Message() << "work mode " << std::hex << int(cell.workMode) << " Mode " << std::dec
                                        << int(cell.mode));
        Driver()->Click = CLICK_STATE{};
        Context()->LastMouseReport = MOUSE_REPORT{};
        Context()->LastTouchReport = TOUCH_REPORT{};
        Context()->LastTouchReport.Contact[1].ContactId = 1;
        Context()->PrevOutputPoint[0] = TOUCH_POINT{};
        Context()->WorkMode = cell.workMode;
        Configure(cell.mode);

        const Reports reports = Sample(1000, 2000, 1);
        Reports expected;
        switch (cell.expect) {
            case Expect::ClickPair:
                expected = {Mouse(kL, 1000, 2000), Mouse(kNone, 1000, 2000)};
                break;
            case Expect::FollowNoButton:
                expected = {Mouse(kNone, 1000, 2000)};
                break;
            case Expect::Digitizer:
                expected = {Touch(1000, 2000, 300, 2)};
                break;
            case Expect::Raw:
                expected = {Touch(1000, 2000, 300, 0)};
                break;
            case Expect::LeftDown:
                expected = {Mouse(kL, 1000, 2000)};
                break;
        }
        EXPECT_EQ(reports, expected);
        // Calibration and digitizer output leave the click state alone.
        const bool mouse = cell.expect != Expect::Digitizer && cell.expect != Expect::Raw;
        EXPECT_EQ(Driver()->Click.Touching, mouse && cell.mode <= 1 ? 1u : 0u);
    }
}

// ---- click on touch ----

TEST_F(ClickTest, ClickOnTouchSendsOnePairPerTouch) {
    Configure(0);
    EXPECT_EQ(Sample(1000, 2000, 1), (Reports{Mouse(kL, 1000, 2000), Mouse(kNone, 1000, 2000)}));
    // The pointer does not follow the finger while the touch lasts, nor on lift.
    EXPECT_EQ(Sample(1500, 2500, 1), Reports{});
    EXPECT_EQ(Sample(1600, 2600, 1), Reports{});
    EXPECT_EQ(Sample(1600, 2600, 0), Reports{});
    EXPECT_EQ(Driver()->Click.Touching, 0u);
    EXPECT_EQ(Sample(700, 800, 0), Reports{});
    EXPECT_EQ(Sample(3000, 4000, 1), (Reports{Mouse(kL, 3000, 4000), Mouse(kNone, 3000, 4000)}));
}

TEST_F(ClickTest, ClickOnTouchRecoversFromALostButtonUp) {
    Configure(0);
    // One read pending: the press is delivered, the release finds none and is lost.
    reads_->Park(1);
    SetOutput(0, 1000, 2000, 300, 1);
    ComposeSample(Context());
    EXPECT_EQ(reads_->Take(), (Reports{Mouse(kL, 1000, 2000)}));
    EXPECT_EQ(Context()->LastMouseReport.Buttons, kL);
    EXPECT_EQ(Sample(1000, 2000, 0), Reports{});
    // The next touch still clicks.
    EXPECT_EQ(Sample(3000, 4000, 1), (Reports{Mouse(kL, 3000, 4000), Mouse(kNone, 3000, 4000)}));
}

// ---- click on release ----

TEST_F(ClickTest, ClickOnReleaseFollowsThenClicksWhereTheFingerLeft) {
    Configure(1);
    EXPECT_EQ(Sample(1000, 2000, 1), (Reports{Mouse(kNone, 1000, 2000)}));
    EXPECT_EQ(Sample(1100, 2100, 1), (Reports{Mouse(kNone, 1100, 2100)}));
    EXPECT_EQ(Sample(1200, 2300, 1), (Reports{Mouse(kNone, 1200, 2300)}));
    // The lifted sample carries stale coordinates; the click goes where it last touched.
    EXPECT_EQ(Sample(20000, 30000, 0, 5), (Reports{Mouse(kL, 1200, 2300), Mouse(kNone, 1200, 2300)}));
    EXPECT_EQ(Driver()->Click.Touching, 0u);
    // The caller's sample is given back unchanged.
    const TOUCH_POINT after = Context()->OutputPoint[0];
    EXPECT_EQ(after.X, 20000);
    EXPECT_EQ(after.Y, 30000);
    EXPECT_EQ(after.Size, 5);
    EXPECT_EQ(after.Tip, 0);
    // A second lift without a touch sends nothing.
    EXPECT_EQ(Sample(1200, 2300, 0), Reports{});
}

TEST_F(ClickTest, ClickOnReleaseOutsideEveryRegionRepeatsTheLastPosition) {
    Configure(1);
    EXPECT_EQ(Sample(1000, 2000, 1), (Reports{Mouse(kNone, 1000, 2000)}));
    Context()->Region[0].XMax = 900;  // the release point now maps outside
    EXPECT_EQ(Sample(1000, 2000, 0), (Reports{Mouse(kL, 1000, 2000), Mouse(kNone, 1000, 2000)}));
}

TEST_F(ClickTest, ClickOnReleaseLiftOfAnotherDeviceUsesItsOwnLastTouch) {
    Configure(1);
    WDFDEVICE second = nullptr;
    ASSERT_TRUE(NT_SUCCESS(NerioUSBCreateDevice(kmdf::AllocateDeviceInit(WdfGetDriver()), &second)));
    DEVICE_CONTEXT* other = NerioGetDeviceContext(second);
    for (MAP_REGION& region : other->Region) ResetRegion(&region);
    SnapshotDriverConfig(WdfGetDriver(), &other->DriverConfig);
    ReadCollector otherReads(second);

    EXPECT_EQ(Sample(1000, 2000, 1), (Reports{Mouse(kNone, 1000, 2000)}));
    EXPECT_EQ(otherReads.Run([&] {
        other->OutputPoint[0] = TOUCH_POINT{5000, 6000, 300, 1};
        ComposeSample(other);
    }),
              (Reports{Mouse(kNone, 5000, 6000)}));
    EXPECT_EQ(Sample(0, 0, 0), (Reports{Mouse(kL, 1000, 2000), Mouse(kNone, 1000, 2000)}));
}

// ---- mouse emulation ----

struct HoldStep {
    std::int64_t atMs;  // since touch-down
    std::int32_t x;
    std::int32_t y;
    std::uint8_t tip;
    Reports expected;
};

class ClickMouseEmulationTest : public ClickTest {
protected:
    void RunHold(const std::vector<HoldStep>& steps) {
        const LONGLONG start = clock_.Now();
        for (const HoldStep& step : steps) {
            SCOPED_TRACE(testing::Message() << "at " << step.atMs << " ms");
            clock_.Delay(start + step.atMs * 10000 - clock_.Now());
            EXPECT_EQ(Sample(step.x, step.y, step.tip), step.expected);
        }
    }
};

// (6400, 3200) is (100 mm, 25 mm).
TEST_F(ClickMouseEmulationTest, HoldingStillGivesTheRightButtonAfterRightClickTime) {
    Configure(2, 1, 1000, 4);
    RunHold({
        {0, 6400, 3200, 1, {Mouse(kL, 6400, 3200), Mouse(kL, 6400, 3200)}},
        {500, 6400, 3200, 1, {Mouse(kL, 6400, 3200)}},
        {999, 6400, 3200, 1, {Mouse(kL, 6400, 3200)}},
        {1000, 6400, 3200, 1, {Mouse(kR, 6400, 3200)}},
        {1100, 6400, 3200, 1, {}},
        {1200, 6400, 3200, 1, {}},
        {1250, 0, 0, 0, {Mouse(kNone, 6400, 3200)}},
    });
    EXPECT_EQ(Driver()->Click.HoldState, 0u);
    EXPECT_EQ(Driver()->Click.HoldStartX, 100);
    EXPECT_EQ(Driver()->Click.HoldStartY, 25);
    EXPECT_EQ(Driver()->Click.HoldElapsedMs, 1000u);
}

TEST_F(ClickMouseEmulationTest, ElapsedTimeTruncatesToWholeMilliseconds) {
    Configure(2, 1, 1000, 4);
    const LONGLONG start = clock_.Now();
    EXPECT_EQ(Sample(6400, 3200, 1).size(), 2u);
    clock_.Delay(9999999);  // 999.9999 ms
    EXPECT_EQ(Sample(6400, 3200, 1), (Reports{Mouse(kL, 6400, 3200)}));
    EXPECT_EQ(Driver()->Click.HoldElapsedMs, 999u);
    EXPECT_EQ(Driver()->Click.HoldStartTime, static_cast<std::uint64_t>(start));
    clock_.Delay(1);
    EXPECT_EQ(Sample(6400, 3200, 1), (Reports{Mouse(kR, 6400, 3200)}));
}

TEST_F(ClickMouseEmulationTest, ClockSetBackNeverReachesTheRightClick) {
    Configure(2, 1, 1000, 4);
    EXPECT_EQ(Sample(6400, 3200, 1).size(), 2u);
    clock_.Delay(-50000000);  // 5 s back
    EXPECT_EQ(Sample(6400, 3200, 1), (Reports{Mouse(kL, 6400, 3200)}));
    EXPECT_EQ(static_cast<std::int64_t>(Driver()->Click.HoldElapsedMs), -5000);
    EXPECT_EQ(Driver()->Click.HoldState, 1u);
}

// 100000 mm times 21475 exceeds 32 bits; the hold must still see the 3 mm it moved
// (65533 mm to 65536 mm), not a jump across the wrap.
TEST_F(ClickMouseEmulationTest, WideScreenProductsDoNotWrap) {
    Configure(2, 1, 1000, 4);
    Context()->ScreenProperty.Width = 100000;
    RunHold({
        {0, 21474, 3200, 1, {Mouse(kL, 21474, 3200), Mouse(kL, 21474, 3200)}},
        {500, 21475, 3200, 1, {Mouse(kL, 21475, 3200)}},
        {1000, 21475, 3200, 1, {Mouse(kR, 21475, 3200)}},
    });
    EXPECT_EQ(Driver()->Click.HoldStartX, 65533);
}

TEST_F(ClickMouseEmulationTest, LeavingTheAreaOnEitherAxisCancelsTheRightClick) {
    struct Move {
        const char* name;
        std::int32_t x;
        std::int32_t y;
        bool cancels;
    };
    // 64 units are 1 mm in X, 128 in Y; the area is 4 mm, compared per axis.
    const Move moves[] = {
        {"5 mm right", 6400 + 320, 3200, true},     {"5 mm left", 6400 - 320, 3200, true},
        {"5 mm down", 6400, 3200 + 640, true},      {"5 mm up", 6400, 3200 - 640, true},
        {"4 mm right", 6400 + 256, 3200, false},    {"4 mm on both axes", 6400 + 256, 3200 + 512, false},
        {"4.98 mm right", 6400 + 319, 3200, false},
    };
    for (const Move& move : moves) {
        SCOPED_TRACE(move.name);
        Configure(2, 1, 1000, 4);
        Driver()->Click = CLICK_STATE{};
        const Bytes atMove = Mouse(kL, static_cast<std::uint16_t>(move.x), static_cast<std::uint16_t>(move.y));
        // A cancelling sample sends nothing; the hold then continues as a plain drag.
        const Reports moveReports = move.cancels ? Reports{} : Reports{atMove};
        const Bytes rightAtMove = Mouse(kR, static_cast<std::uint16_t>(move.x), static_cast<std::uint16_t>(move.y));
        const Reports atOneSecond = move.cancels ? Reports{atMove} : Reports{rightAtMove};
        // A drag keeps the left button; after a right click nothing comes until the lift,
        // which releases where the right button went down.
        const Reports afterwards = move.cancels ? Reports{Mouse(kL, 6400, 3200)} : Reports{};
        const Bytes release =
            move.cancels ? Mouse(kNone, 6400, 3200)
                         : Mouse(kNone, static_cast<std::uint16_t>(move.x), static_cast<std::uint16_t>(move.y));
        RunHold({
            {0, 6400, 3200, 1, {Mouse(kL, 6400, 3200), Mouse(kL, 6400, 3200)}},
            {500, move.x, move.y, 1, moveReports},
            {1000, move.x, move.y, 1, atOneSecond},
            {1200, 6400, 3200, 1, afterwards},
            {1300, 6400, 3200, 0, {release}},
        });
    }
}

// Once a hold has become a right click, the rest of the touch sends no left button, and
// the lift releases the right one wherever it comes.
TEST_F(ClickMouseEmulationTest, AfterTheRightClickOnlyTheLiftIsSent) {
    struct Case {
        const char* name;
        std::vector<HoldStep> afterRightClick;
    };
    const Case cases[] = {
        {"lift in the next sample", {{1010, 0, 0, 0, {Mouse(kNone, 6400, 3200)}}}},
        {"still, then lift",
         {{1010, 6400, 3200, 1, {}}, {3000, 6400, 3200, 1, {}}, {3010, 0, 0, 0, {Mouse(kNone, 6400, 3200)}}}},
        // Moving out of the area afterwards is no drag: the pointer stays at the menu, and
        // so does the release.
        {"moving away, then lift",
         {{1010, 6400 + 640, 3200, 1, {}}, {1100, 12000, 9000, 1, {}}, {1110, 0, 0, 0, {Mouse(kNone, 6400, 3200)}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Configure(2, 1, 1000, 4);
        Driver()->Click = CLICK_STATE{};
        std::vector<HoldStep> steps = {
            {0, 6400, 3200, 1, {Mouse(kL, 6400, 3200), Mouse(kL, 6400, 3200)}},
            {1000, 6400, 3200, 1, {Mouse(kR, 6400, 3200)}},
        };
        steps.insert(steps.end(), c.afterRightClick.begin(), c.afterRightClick.end());
        RunHold(steps);
        EXPECT_EQ(Driver()->Click.HoldState, kHoldIdle);
        EXPECT_EQ(Context()->LastMouseReport.Buttons, kNone);
        // The next touch is a new hold with its left button.
        EXPECT_EQ(Sample(1000, 1000, 1), (Reports{Mouse(kL, 1000, 1000), Mouse(kL, 1000, 1000)}));
        EXPECT_EQ(Sample(1000, 1000, 0), (Reports{Mouse(kNone, 1000, 1000)}));
    }
}

TEST_F(ClickMouseEmulationTest, RightClickHoldsEvenWhenRightClickIsSwitchedOffDuringTheTouch) {
    Configure(2, 1, 1000, 4);
    RunHold({
        {0, 6400, 3200, 1, {Mouse(kL, 6400, 3200), Mouse(kL, 6400, 3200)}},
        {1000, 6400, 3200, 1, {Mouse(kR, 6400, 3200)}},
    });
    Configure(2, 0, 1000, 4);
    EXPECT_EQ(Sample(6400, 3200, 1), Reports{});
    EXPECT_EQ(Sample(6400, 3200, 0), (Reports{Mouse(kNone, 6400, 3200)}));
}

TEST_F(ClickMouseEmulationTest, WithoutRightClickEverySampleIsLeftDown) {
    Configure(2, 0, 1000, 4);
    RunHold({
        {0, 6400, 3200, 1, {Mouse(kL, 6400, 3200)}},
        {600, 6500, 3300, 1, {Mouse(kL, 6500, 3300)}},
        {1200, 6500, 3300, 1, {Mouse(kL, 6500, 3300)}},
        {1300, 31000, 100, 0, {Mouse(kNone, 6500, 3300)}},
        {1400, 31000, 100, 0, {}},
    });
    EXPECT_EQ(Driver()->Click.HoldState, 0u);
    EXPECT_EQ(Driver()->Click.HoldStartTime, 0u);
}

TEST_F(ClickMouseEmulationTest, EachTouchStartsANewHold) {
    Configure(2, 1, 1000, 4);
    RunHold({
        {0, 6400, 3200, 1, {Mouse(kL, 6400, 3200), Mouse(kL, 6400, 3200)}},
        {1000, 6400, 3200, 1, {Mouse(kR, 6400, 3200)}},
        {1100, 6400, 3200, 1, {}},
        {1200, 6400, 3200, 0, {Mouse(kNone, 6400, 3200)}},
        // Without the restart the second touch would see 1.3 s and right-click at once.
        {1300, 1000, 1000, 1, {Mouse(kL, 1000, 1000), Mouse(kL, 1000, 1000)}},
        {2299, 1000, 1000, 1, {Mouse(kL, 1000, 1000)}},
        {2300, 1000, 1000, 1, {Mouse(kR, 1000, 1000)}},
    });
}

// ---- device buttons ----

TEST_F(ClickTest, DeviceButtonPressThenRelease) {
    EXPECT_EQ(Buttons(0xFE), Stroke(kCtrl, 0x6F));  // line 0: F20
    EXPECT_EQ(Driver()->Click.LastToolbarKey, 0x6F);
    EXPECT_EQ(Buttons(0xFF), Stroke(kShift, 0x6F));
    EXPECT_EQ(Driver()->Click.LastToolbarKey, 0);
    EXPECT_EQ(Buttons(0xFF), Reports{});
}

TEST_F(ClickTest, DeviceButtonLinesGiveTheirKeys) {
    struct Line {
        std::uint8_t lines;
        std::uint8_t key;
    };
    const Line table[] = {
        {0xFE, 0x6F}, {0xFD, 0x70}, {0xFB, 0x71}, {0xF7, 0x72},
        {0xEF, 0x73}, {0xDF, 0x68}, {0xBF, 0x69}, {0x7F, 0x73},  // line 7 sends what line 4 does
        {0x00, 0x6F}, {0x3F, 0x69}, {0xF3, 0x71},                // several pressed: the lowest line
    };
    for (const Line& line : table) {
        SCOPED_TRACE(testing::Message() << std::hex << int(line.lines));
        Driver()->Click.LastToolbarKey = 0;
        EXPECT_EQ(Buttons(line.lines), Stroke(kCtrl, line.key));
        EXPECT_EQ(Driver()->Click.LastToolbarKey, line.key);
    }
}

TEST_F(ClickTest, HeldButtonIsReleasedAndPressedAgainEachPacket) {
    EXPECT_EQ(Buttons(0xFE), Stroke(kCtrl, 0x6F));
    EXPECT_EQ(Buttons(0xFE), Join(Stroke(kShift, 0x6F), Stroke(kCtrl, 0x6F)));
    EXPECT_EQ(Buttons(0x7F), Join(Stroke(kShift, 0x6F), Stroke(kCtrl, 0x73)));
    EXPECT_EQ(Buttons(0xFF), Stroke(kShift, 0x73));
}

TEST_F(ClickTest, LostButtonReportsStillAdvanceTheKey) {
    const Bytes packet = ButtonPacket(0xFE);
    DeviceButtons(Context(), packet.data());  // no read pending
    EXPECT_EQ(Driver()->Click.LastToolbarKey, 0x6F);
    EXPECT_EQ(Buttons(0xFF), Stroke(kShift, 0x6F));
}

// ---- toolbar ----

TEST_F(ClickTest, ToolbarButtonsGiveTheirKeys) {
    TOOLBAR_PARAMS& toolbar = Context()->ToolbarParams;
    toolbar.Enabled = 1;
    toolbar.AreaMask = 0x01;
    toolbar.Areas[0] = TOOLBAR_AREA{0, 0, 1000, 1000, 1000, 0};
    struct Hit {
        std::int32_t x;
        std::int32_t y;
        Reports expected;
    };
    const Hit hits[] = {
        {2500, 10, Stroke(0, 0x6A)},  // button 2: F15
        {0, 0, Stroke(0, 0x68)},
        {999, 999, Stroke(0, 0x68)},
        {1000, 999, Stroke(0, 0x69)},
        {11999, 500, Stroke(0, 0x73)},      // button 11: F24
        {12000, 500, Stroke(kCtrl, 0x68)},  // button 12: Control+F13
        {18500, 500, Stroke(kCtrl, 0x6E)},  // button 18: Control+F19
        {19500, 500, Stroke(kCtrl, 0x00)},  // button 19: Control alone
        {20000, 500, {}},                   // past the twentieth button
        {2500, 1000, {}},                   // the height is exclusive
        {-1, 10, {}},
    };
    for (const Hit& hit : hits) {
        SCOPED_TRACE(testing::Message() << hit.x << ", " << hit.y);
        EXPECT_EQ(Toolbar(hit.x, hit.y), hit.expected);
    }
}

TEST_F(ClickTest, ToolbarAreasAreEnabledByMaskAndTheFirstHitWins) {
    TOOLBAR_PARAMS& toolbar = Context()->ToolbarParams;
    toolbar.Enabled = 1;
    toolbar.Areas[0] = TOOLBAR_AREA{0, 0, 1000, 1000, 1000, 0};
    toolbar.Areas[2] = TOOLBAR_AREA{2000, -500, 200, 100, 0, 100};  // a column
    toolbar.Areas[3] = TOOLBAR_AREA{2000, 0, 1000, 1000, 0, 0};

    toolbar.AreaMask = 0x0D;
    EXPECT_EQ(Toolbar(2100, 10), Stroke(0, 0x6A));  // area 0 button 2 wins over area 2 button 5
    toolbar.AreaMask = 0x0C;
    EXPECT_EQ(Toolbar(2100, 10), Stroke(0, 0x6D));   // area 2 button 5: (2000, 0) .. (2200, 100)
    EXPECT_EQ(Toolbar(2100, 210), Stroke(0, 0x6F));  // area 2 button 7
    EXPECT_EQ(Toolbar(2500, 10), Stroke(0, 0x68));   // area 3 button 0
    toolbar.AreaMask = 0x08;
    EXPECT_EQ(Toolbar(2100, 210), Stroke(0, 0x68));
    toolbar.AreaMask = 0x00;
    EXPECT_EQ(Toolbar(500, 500), Reports{});

    toolbar.AreaMask = 0x01;
    for (std::uint8_t enabled : {0, 2, 255}) {
        toolbar.Enabled = enabled;
        EXPECT_EQ(Toolbar(500, 500), Reports{}) << int(enabled);
    }
}

TEST_F(ClickTest, ToolbarWithoutAPointTakesContactOneOfTheOutputStage) {
    TOOLBAR_PARAMS& toolbar = Context()->ToolbarParams;
    toolbar.Enabled = 1;
    toolbar.AreaMask = 0x01;
    toolbar.Areas[0] = TOOLBAR_AREA{0, 0, 1000, 1000, 1000, 0};
    Context()->JamHoldPoint = TOUCH_POINT{2500, 10, 100, 1};
    SetOutput(0, 500, 500, 100, 1);
    EXPECT_EQ(reads_->Run([&] { ToolbarTouch(Context()); }), Stroke(0, 0x6A));
}

// ---- the lock ----

TEST_F(ClickTest, InitClickStateCreatesOneLock) {
    EXPECT_EQ(InitClickState(nullptr), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Driver()->Click.Lock, nullptr);
    ASSERT_EQ(InitClickState(WdfGetDriver()), STATUS_SUCCESS);
    WDFSPINLOCK lock = Driver()->Click.Lock;
    EXPECT_NE(lock, nullptr);
    EXPECT_EQ(InitClickState(WdfGetDriver()), STATUS_SUCCESS);
    EXPECT_EQ(Driver()->Click.Lock, lock);
    // Clicks run with it (the framework would stop on a lock taken twice).
    Configure(0);
    EXPECT_EQ(Sample(1000, 2000, 1).size(), 2u);
}

// Two screens processing packets at once, each under its own device lock: every button
// press must find the previous press exactly once, whichever device it came from.
class ClickRaceTest : public ClickTest, public testing::WithParamInterface<bool> {};

TEST_P(ClickRaceTest, TwoDevicesShareTheClickState) {
    if (GetParam()) {
        ASSERT_EQ(InitClickState(WdfGetDriver()), STATUS_SUCCESS);
    }
    Configure(2, 1, 1000, 4);
    WDFDEVICE second = nullptr;
    ASSERT_TRUE(NT_SUCCESS(NerioUSBCreateDevice(kmdf::AllocateDeviceInit(WdfGetDriver()), &second)));
    DEVICE_CONTEXT* contexts[2] = {Context(), NerioGetDeviceContext(second)};
    for (MAP_REGION& region : contexts[1]->Region) ResetRegion(&region);
    SnapshotDriverConfig(WdfGetDriver(), &contexts[1]->DriverConfig);
    contexts[1]->ScreenProperty.Width = 512;
    contexts[1]->ScreenProperty.Height = 256;

    constexpr int kRounds = 300;
    // Per round two strokes (6 reports) and the mouse reports; the shared hold state lets
    // the other device's lift restart this device's hold, so a round can take several
    // more. Enough reads that none is ever dropped for want of one.
    ReadCollector collectors[2] = {ReadCollector(DeviceHandle()), ReadCollector(second)};
    for (ReadCollector& c : collectors) c.Park(kRounds * 24);

    const Bytes press = ButtonPacket(0xFE);
    auto feed = [&](DEVICE_CONTEXT* context, std::int32_t x) {
        for (int round = 0; round < kRounds; ++round) {
            WdfSpinLockAcquire(context->SpinLock);
            DeviceButtons(context, press.data());
            for (std::uint8_t tip : {1, 1, 0}) {
                context->OutputPoint[0] = TOUCH_POINT{x + round, 3000, 100, tip};
                ComposeSample(context);
            }
            WdfSpinLockRelease(context->SpinLock);
        }
    };
    std::thread a(feed, contexts[0], 1000);
    std::thread b(feed, contexts[1], 9000);
    a.join();
    b.join();
    for (DEVICE_CONTEXT* context : contexts) ASSERT_GT(kmdf::PendingRequestCount(context->ReadQueue), 0u);

    int controlStrokes = 0;
    int shiftStrokes = 0;
    for (ReadCollector& c : collectors) {
        for (const Bytes& report : c.Take()) {
            if (report[0] != 0x38 || report[4] != 1) continue;
            EXPECT_EQ(report[3], 0x6F);
            if (report[1] == kCtrl) ++controlStrokes;
            if (report[1] == kShift) ++shiftStrokes;
        }
    }
    EXPECT_EQ(controlStrokes, 2 * kRounds);
    EXPECT_EQ(shiftStrokes, 2 * kRounds - 1);
    EXPECT_EQ(Driver()->Click.LastToolbarKey, 0x6F);
    EXPECT_EQ(Driver()->Click.HoldState, 0u);
}

INSTANTIATE_TEST_SUITE_P(Locks, ClickRaceTest, testing::Bool(), [](const testing::TestParamInfo<bool>& info) {
    return std::string(info.param ? "FrameworkLock" : "FallbackFlag");
});

}  // namespace
}  // namespace kav::test
