// Touch screens on the virtual HID stack: the real driver started on the simulated
// controller, and clients reaching it only through interfaces, handles and reports.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <thread>

#include "shared/device_packet.h"
#include "shared/driver_request.h"
#include "shared/hid_reports.h"
#include "shared/work_modes.h"
#include "simulator/controller/firmware.h"
#include "simulator/controller/optics.h"
#include "simulator/hidstack/hid_stack.h"

namespace kav::test {
namespace {

using namespace std::chrono_literals;
using sim::ReadStatus;

constexpr LONGLONG kMs = 10000;

std::string Narrow(const std::u16string& s) {
    return std::string(s.begin(), s.end());
}

// Everything buffered on a handle now.
std::vector<std::vector<std::uint8_t>> Drain(sim::HidStack& stack, sim::HidHandle handle) {
    std::vector<std::vector<std::uint8_t>> reports;
    for (sim::ReadResult r = stack.Read(handle, 0ms); r.status == ReadStatus::Report; r = stack.Read(handle, 0ms))
        reports.push_back(std::move(r.report));
    return reports;
}

class HidStackTest : public ::testing::Test {
protected:
    void SetUp() override {
        changes_ = stack_.RegisterDeviceChange(
            [this](sim::DeviceChange change, const std::u16string& path) { notified_.emplace_back(change, path); });
    }

    sim::HidDeviceId Plug(sim::Controller& controller) {
        const sim::HidStack::AttachResult attached = stack_.Attach(controller);
        EXPECT_EQ(attached.status, STATUS_SUCCESS);
        return attached.device;
    }

    // The interface of collection `collection` (1-based, as in the path) of a device.
    std::u16string PathOf(sim::HidDeviceId device, int collection) {
        for (const sim::HidInterfaceInfo& i : stack_.Interfaces())
            if (i.device == device && i.collection + 1 == static_cast<std::size_t>(collection)) return i.path;
        ADD_FAILURE() << "no collection " << collection;
        return {};
    }

    // One camera frame of these fingers on the controller's input pipe, delivered.
    void Frame(sim::Controller& controller, const std::vector<sim::Finger>& fingers) {
        const sim::Geometry geometry = sim::Geometry::From(controller.ScreenProperty());
        controller.QueueTransfer(
            sim::LineTransfer(0, sim::RenderLine(geometry, true, sim::Lens::Nominal(true), fingers)));
        controller.QueueTransfer(
            sim::LineTransfer(1, sim::RenderLine(geometry, false, sim::Lens::Nominal(false), fingers)));
        clock_.AdvanceMs(10);
        stack_.Pump();
    }

    void Tap(sim::Controller& controller, double x, double y) {
        for (int i = 0; i < 30; ++i) Frame(controller, {{x, y, 10}});
        for (int i = 0; i < 30; ++i) Frame(controller, {});
    }

    bool SetWorkMode(sim::HidHandle handle, std::uint8_t mode) {
        std::array<std::uint8_t, 64> report{kDriverRequestFeatureId, kDriverRequestWorkMode, mode};
        return stack_.SetFeature(handle, report);
    }

    // Declared before the stack, which outlives neither its controllers nor its sinks.
    kmdf::VirtualClock clock_{1'000'000};
    sim::Controller controller_;
    sim::Controller second_;
    std::vector<std::pair<sim::DeviceChange, std::u16string>> notified_;
    sim::HidStack stack_{sim::HostEnvironment{&clock_, nullptr}};
    std::uint32_t changes_ = 0;
};

TEST_F(HidStackTest, StartedScreenListsItsSixCollectionsAsTheOperatingSystemSeesThem) {
    const LONGLONG before = clock_.Now();
    const sim::HidDeviceId device = Plug(controller_);
    // The 5 s wait, eleven exchanges of 50 ms, then the class's own requests cost nothing.
    EXPECT_EQ(clock_.Now() - before, 5000 * kMs + 11 * 50 * kMs);
    EXPECT_TRUE(kmdf::ErrorLog().empty());

    const std::vector<sim::HidInterfaceInfo> interfaces = stack_.Interfaces();
    ASSERT_EQ(interfaces.size(), 6u);
    const std::pair<std::uint16_t, std::uint16_t> usages[] = {{0x0D, 0x04},   {0x0D, 0x0E}, {0x01, 0x02},
                                                              {0xFF00, 0x01}, {0x01, 0x06}, {0xFF00, 0x01}};
    for (std::size_t c = 0; c < 6; ++c) {
        SCOPED_TRACE(c);
        const std::string path = Narrow(interfaces[c].path);
        EXPECT_EQ(path.rfind("\\\\?\\hid#vid_4b1d&pid_0a31&col0" + std::to_string(c + 1) + "#", 0), 0u) << path;
        EXPECT_NE(path.find("#{4d1e55b2-f16f-11cf-88cb-001111000030}"), std::string::npos) << path;
        EXPECT_EQ(interfaces[c].usagePage, usages[c].first);
        EXPECT_EQ(interfaces[c].usage, usages[c].second);
    }
    // Reading the contact count maximum, as Windows does, switched the driver to digitizer mode.
    EXPECT_EQ(stack_.ContactCountMaximum(device), 2);
    EXPECT_EQ(stack_.DeviceContextOf(device)->WorkMode, kWorkModeDigitizer);

    ASSERT_EQ(notified_.size(), 6u);
    for (std::size_t c = 0; c < 6; ++c) {
        EXPECT_EQ(notified_[c].first, sim::DeviceChange::Arrival);
        EXPECT_EQ(notified_[c].second, interfaces[c].path);
    }
}

TEST_F(HidStackTest, ClientReadsTheTouchReportsOfATapOnTheTouchCollection) {
    const sim::HidDeviceId device = Plug(controller_);
    const sim::HidHandle touch = stack_.Open(PathOf(device, 1));
    const sim::HidHandle mouse = stack_.Open(PathOf(device, 3));
    ASSERT_NE(touch, 0u);
    Tap(controller_, 100, 75);  // a quarter across, a quarter down

    const auto reports = Drain(stack_, touch);
    ASSERT_GE(reports.size(), 2u);
    for (const auto& r : reports) {
        ASSERT_EQ(r.size(), sizeof(TOUCH_REPORT));
        EXPECT_EQ(r[0], kTouchReportId);
    }
    TOUCH_REPORT first;
    std::memcpy(&first, reports.front().data(), sizeof first);
    EXPECT_EQ(first.Contact[0].Status, 7);
    EXPECT_NEAR(first.Contact[0].X, 32767 / 4, 200);
    EXPECT_NEAR(first.Contact[0].Y, 32767 / 4, 200);
    EXPECT_EQ(first.Contact[1].Status, 0);
    TOUCH_REPORT last;
    std::memcpy(&last, reports.back().data(), sizeof last);
    EXPECT_EQ(last.Contact[0].Status, 6);  // lifted
    // Digitizer mode sends no mouse reports.
    EXPECT_TRUE(Drain(stack_, mouse).empty());
    EXPECT_EQ(stack_.Counters().reportsUnrouted, 0u);
}

TEST_F(HidStackTest, FeatureReportsTravelThroughTheTouchCollectionToDriverAndController) {
    const sim::HidDeviceId device = Plug(controller_);
    const sim::HidHandle touch = stack_.Open(PathOf(device, 1));

    std::array<std::uint8_t, 64> contacts{kContactCountMaxFeatureId};
    ASSERT_TRUE(stack_.GetFeature(touch, contacts));
    EXPECT_EQ(contacts[1], 2);

    // Driver request: the work mode, set and read back.
    ASSERT_TRUE(SetWorkMode(touch, kWorkModeCalibrate));
    std::array<std::uint8_t, 64> mode{kDriverRequestFeatureId, kDriverRequestWorkMode};
    ASSERT_TRUE(stack_.GetFeature(touch, mode));
    EXPECT_EQ(mode[kDriverRequestWorkModeOffset], kWorkModeCalibrate);
    EXPECT_EQ(stack_.DeviceContextOf(device)->WorkMode, kWorkModeCalibrate);

    // Command report: a screen property query relayed to the controller, its reply read back.
    std::array<std::uint8_t, 64> query{};
    BuildFramedPacket(0x02, 0x30, 0, nullptr, 0, query.data());
    ASSERT_TRUE(stack_.SetFeature(touch, query));
    std::array<std::uint8_t, 64> reply{kCommandFeatureId};
    ASSERT_TRUE(stack_.GetFeature(touch, reply));
    DEVICE_PACKET packet;
    ASSERT_TRUE(ParseFramedPacket(reply.data(), reply.size(), &packet));
    EXPECT_EQ(packet.type, 0x12);
    EXPECT_EQ(packet.command, 0x30);
    const SCREEN_PROPERTY screen = controller_.ScreenProperty();
    EXPECT_EQ(std::memcmp(packet.payload, &screen, sizeof screen), 0);

    // What the class refuses before the driver sees it.
    const std::uint8_t none[1] = {0};
    EXPECT_FALSE(stack_.SetFeature(touch, std::span<const std::uint8_t>(none, 0)));
    std::array<std::uint8_t, 64> input{kTouchReportId};  // an input report, not a feature
    EXPECT_FALSE(stack_.GetFeature(touch, input));
    std::array<std::uint8_t, 10> shortCommand{kCommandFeatureId};
    EXPECT_FALSE(stack_.GetFeature(touch, shortCommand));
    EXPECT_FALSE(stack_.GetFeature(0, contacts));
}

TEST_F(HidStackTest, RawPacketCollectionReceivesCameraPacketsInWorkMode0xF5) {
    const sim::HidDeviceId device = Plug(controller_);
    const sim::HidHandle touch = stack_.Open(PathOf(device, 1));
    const sim::HidHandle raw = stack_.Open(PathOf(device, 6));
    ASSERT_TRUE(SetWorkMode(touch, kWorkModeRawPacket));

    Frame(controller_, {{200, 150, 10}});
    const auto packets = Drain(stack_, raw);
    ASSERT_EQ(packets.size(), 2u);
    for (std::size_t i = 0; i < packets.size(); ++i) {
        ASSERT_EQ(packets[i].size(), sizeof(RAW_PACKET_REPORT));
        EXPECT_EQ(packets[i][0], kRawPacketReportId);
        EXPECT_EQ(packets[i][2], 0x01);  // camera line
        EXPECT_EQ(packets[i][4], i);     // sub-codes 0 then 1, as sent
        EXPECT_TRUE(FrameChecksumValid(packets[i].data(), packets[i].size()));
    }
    EXPECT_TRUE(Drain(stack_, touch).empty());
}

TEST_F(HidStackTest, ButtonsReachTheDeviceEventAndKeyboardCollectionsOnly) {
    const sim::HidDeviceId device = Plug(controller_);
    sim::HidHandle handles[6];
    for (int c = 0; c < 6; ++c) handles[c] = stack_.Open(PathOf(device, c + 1));
    std::vector<sim::RawInputEvent> keyboard;
    stack_.RegisterRawInput(0x01, 0x06, [&](const sim::RawInputEvent& e) { keyboard.push_back(e); });

    controller_.PressButton(0);
    stack_.Pump();
    controller_.ReleaseButton(0);
    stack_.Pump();

    const std::size_t expectedLength[6] = {0, 0, 0, sizeof(DEVICE_EVENT_REPORT), sizeof(KEYBOARD_REPORT), 0};
    for (int c = 0; c < 6; ++c) {
        SCOPED_TRACE(c + 1);
        const auto reports = Drain(stack_, handles[c]);
        if (expectedLength[c] == 0) {
            EXPECT_TRUE(reports.empty());
            continue;
        }
        ASSERT_FALSE(reports.empty());
        for (const auto& r : reports) EXPECT_EQ(r.size(), expectedLength[c]);
    }
    ASSERT_FALSE(keyboard.empty());
    EXPECT_EQ(keyboard[0].type, sim::RawInputEvent::Type::Keyboard);
    EXPECT_EQ(keyboard[0].report[0], kKeyboardReportId);
}

TEST_F(HidStackTest, RawInputCarriesTouchAsHidAndTheMouseAsMouseInput) {
    const sim::HidDeviceId device = Plug(controller_);
    std::vector<sim::RawInputEvent> touch, mouse;
    const std::uint32_t touchSink =
        stack_.RegisterRawInput(0x0D, 0x04, [&](const sim::RawInputEvent& e) { touch.push_back(e); });
    stack_.RegisterRawInput(0x01, 0x02, [&](const sim::RawInputEvent& e) { mouse.push_back(e); });

    Tap(controller_, 200, 150);
    ASSERT_FALSE(touch.empty());
    EXPECT_EQ(touch[0].type, sim::RawInputEvent::Type::Hid);
    EXPECT_EQ(touch[0].deviceName, PathOf(device, 1));
    std::string upper = Narrow(touch[0].deviceName);
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_NE(upper.find("HID#VID_4B1D&PID_0A31"), std::string::npos);
    EXPECT_EQ(touch[0].report.size(), sizeof(TOUCH_REPORT));
    EXPECT_TRUE(mouse.empty());

    // In mouse mode the mouse collection reports, cut to its declared six bytes.
    const sim::HidHandle control = stack_.Open(PathOf(device, 1));
    ASSERT_TRUE(SetWorkMode(control, kWorkModeMouse));
    const std::size_t touches = touch.size();
    stack_.UnregisterRawInput(touchSink);
    Tap(controller_, 200, 150);
    EXPECT_EQ(touch.size(), touches);
    ASSERT_FALSE(mouse.empty());
    EXPECT_EQ(mouse[0].type, sim::RawInputEvent::Type::Mouse);
    EXPECT_EQ(mouse[0].report.size(), 6u);
    EXPECT_EQ(mouse[0].report[0], kMouseReportId);
}

TEST_F(HidStackTest, StringsAndAttributesComeFromTheDriver) {
    USB_DEVICE_DESCRIPTOR descriptor = controller_.DeviceDescriptor();
    descriptor.idVendor = 0x1234;
    descriptor.idProduct = 0x5678;
    descriptor.bcdDevice = 0x0100;
    controller_.SetDescriptor(descriptor);
    const sim::HidDeviceId device = Plug(controller_);
    EXPECT_NE(Narrow(PathOf(device, 1)).find("vid_1234&pid_5678&col01"), std::string::npos);
    const sim::HidHandle handle = stack_.Open(PathOf(device, 2));
    EXPECT_EQ(stack_.Attributes(handle), (sim::HidDeviceAttributes{0x1234, 0x5678, 0x0100}));
    EXPECT_EQ(stack_.String(handle, 15), u"Zandric USB TouchScreen");
    EXPECT_EQ(stack_.String(handle, 14), u"");
    EXPECT_EQ(stack_.String(handle, 16), u"0");
    EXPECT_EQ(stack_.String(handle, 17), std::nullopt);
}

TEST_F(HidStackTest, PathsOpenWithoutRegardToCase) {
    const sim::HidDeviceId device = Plug(controller_);
    std::u16string path = PathOf(device, 1);
    for (char16_t& c : path)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    EXPECT_NE(stack_.Open(path), 0u);
    EXPECT_EQ(stack_.Open(u"\\\\?\\hid#vid_4b1d&pid_0a31&col07#none"), 0u);
}

TEST_F(HidStackTest, AFullHandleBufferDropsTheOldestReports) {
    const sim::HidDeviceId device = Plug(controller_);
    const sim::HidHandle events = stack_.Open(PathOf(device, 4));
    for (int i = 0; i < 20; ++i) {  // 40 device event reports
        controller_.PressButton(0);
        stack_.Pump();
        controller_.ReleaseButton(0);
        stack_.Pump();
    }
    const auto reports = Drain(stack_, events);
    EXPECT_EQ(reports.size(), sim::kInputBuffersPerHandle);
    EXPECT_EQ(stack_.Counters().reportsOverwritten, 40u - sim::kInputBuffersPerHandle);
    // The last one kept is the last release: every line up again.
    EXPECT_EQ(reports.back()[2], 0xFF);
}

TEST_F(HidStackTest, ReadWaitsEndOnCancelOrTimeOut) {
    const sim::HidDeviceId device = Plug(controller_);
    const sim::HidHandle touch = stack_.Open(PathOf(device, 1));
    EXPECT_EQ(stack_.Read(touch, 5ms).status, ReadStatus::TimedOut);
    std::atomic<bool> waiting{false};
    std::thread reader([&] {
        waiting = true;
        EXPECT_EQ(stack_.Read(touch, 60s).status, ReadStatus::Cancelled);
    });
    while (!waiting) std::this_thread::yield();
    std::this_thread::sleep_for(10ms);
    stack_.CancelRead(touch);
    reader.join();
    EXPECT_EQ(stack_.Read(touch, 0ms).status, ReadStatus::TimedOut);
}

TEST_F(HidStackTest, RemovalEndsReadsFailsRequestsAndIsAnnouncedPerInterface) {
    const sim::HidDeviceId device = Plug(controller_);
    const std::vector<sim::HidInterfaceInfo> interfaces = stack_.Interfaces();
    const sim::HidHandle touch = stack_.Open(PathOf(device, 1));
    notified_.clear();

    std::thread reader([&] { EXPECT_EQ(stack_.Read(touch, 60s).status, ReadStatus::Gone); });
    std::this_thread::sleep_for(10ms);
    controller_.Unplug();
    stack_.Remove(device);
    reader.join();

    EXPECT_TRUE(stack_.Interfaces().empty());
    std::array<std::uint8_t, 64> contacts{kContactCountMaxFeatureId};
    EXPECT_FALSE(stack_.GetFeature(touch, contacts));
    EXPECT_EQ(stack_.Attributes(touch), std::nullopt);
    EXPECT_EQ(stack_.Open(interfaces[0].path), 0u);
    ASSERT_EQ(notified_.size(), 6u);
    for (std::size_t c = 0; c < 6; ++c) {
        EXPECT_EQ(notified_[c].first, sim::DeviceChange::RemoveComplete);
        EXPECT_EQ(notified_[c].second, interfaces[c].path);
    }
    EXPECT_TRUE(stack_.Close(touch));
    EXPECT_FALSE(stack_.Close(touch));

    // Plugged back in, it comes as a new device with new paths.
    controller_.Replug();
    const sim::HidDeviceId again = Plug(controller_);
    EXPECT_NE(again, device);
    EXPECT_NE(PathOf(again, 1), interfaces[0].path);
}

TEST_F(HidStackTest, ScreenThatFailsToStartListsNothing) {
    controller_.AddReplyFault({sim::ReplyFault::Unanswered, 0x14, 1, sim::kEveryTime});
    const sim::HidStack::AttachResult attached = stack_.Attach(controller_);
    EXPECT_EQ(attached.status, STATUS_UNSUCCESSFUL);
    EXPECT_EQ(attached.device, 0u);
    EXPECT_TRUE(stack_.Interfaces().empty());
    EXPECT_TRUE(notified_.empty());
    const std::vector<kmdf::ErrorLogEntry> log = kmdf::TakeErrorLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(static_cast<std::uint32_t>(log[1].Packet().ErrorCode), 0xC0040004u);
}

TEST_F(HidStackTest, TwoScreensEachServeTheirOwnClients) {
    sim::Controller& second = second_;
    SCREEN_PROPERTY wide = second.ScreenProperty();
    wide.Width = 1000;
    wide.Height = 600;
    second.SetScreenProperty(wide);
    DEVICE_CONFIG regions = second.DeviceConfig();
    regions.Region0 = REGION_BOUNDS{0, 0, 1000, 600};
    second.SetDeviceConfig(regions);
    const sim::HidDeviceId a = Plug(controller_);
    const sim::HidDeviceId b = Plug(second);
    ASSERT_EQ(stack_.Interfaces().size(), 12u);
    EXPECT_NE(PathOf(a, 1), PathOf(b, 1));

    const sim::HidHandle touchA = stack_.Open(PathOf(a, 1));
    const sim::HidHandle touchB = stack_.Open(PathOf(b, 1));
    Tap(second, 500, 300);
    EXPECT_TRUE(Drain(stack_, touchA).empty());
    const auto reports = Drain(stack_, touchB);
    ASSERT_FALSE(reports.empty());
    TOUCH_REPORT first;
    std::memcpy(&first, reports.front().data(), sizeof first);
    EXPECT_NEAR(first.Contact[0].X, 32767 / 2, 200);

    // Both ask for the report descriptor at once, again and again: each gets its own size.
    std::atomic<int> wrong{0};
    auto ask = [&](sim::HidDeviceId device, std::uint16_t width, std::uint16_t height) {
        for (int i = 0; i < 200; ++i) {
            kmdf::RequestSetup setup;
            setup.IoControlCode = IOCTL_HID_GET_REPORT_DESCRIPTOR;
            setup.OutputLength = kReportDescriptor.size();
            kmdf::ScopedRequest request(setup);
            kmdf::SendToDevice(stack_.DeviceObject(device), request);
            const auto out = request.Output();
            if ((out[58] | (out[59] << 8)) != width || (out[138] | (out[139] << 8)) != width ||
                (out[69] | (out[70] << 8)) != height || (out[149] | (out[150] << 8)) != height)
                ++wrong;
        }
    };
    const std::uint16_t widthA = static_cast<std::uint16_t>(controller_.ScreenProperty().Width);
    const std::uint16_t heightA = static_cast<std::uint16_t>(controller_.ScreenProperty().Height);
    std::thread one(ask, a, widthA, heightA);
    std::thread two(ask, b, 1000, 600);
    one.join();
    two.join();
    EXPECT_EQ(wrong, 0);
}

TEST_F(HidStackTest, ClientsOnTheirOwnThreadsWhileFramesStreamAndTheScreenGoes) {
    const sim::HidDeviceId device = Plug(controller_);
    const sim::HidHandle touch = stack_.Open(PathOf(device, 1));
    const sim::HidHandle control = stack_.Open(PathOf(device, 1));
    std::atomic<bool> streaming{true};
    std::atomic<int> reports{0}, features{0}, failedFeatures{0};

    std::thread reader([&] {
        for (;;) {
            const sim::ReadResult r = stack_.Read(touch, 50ms);
            if (r.status == ReadStatus::Gone) return;
            if (r.status == ReadStatus::Report) ++reports;
        }
    });
    std::thread client([&] {
        while (streaming) {
            std::array<std::uint8_t, 64> contacts{kContactCountMaxFeatureId};
            const bool ok = stack_.GetFeature(control, contacts) && SetWorkMode(control, kWorkModeDigitizer);
            ++(ok ? features : failedFeatures);
        }
    });
    // Until both clients have had their turn, however the threads are scheduled.
    for (int i = 0; (i < 200 || features < 20 || reports < 1) && i < 100000; ++i) {
        Frame(controller_, {{150.0 + (i % 200) * 0.2, 100, 10}});
    }
    streaming = false;
    client.join();
    stack_.Remove(device);  // the reader is told, whatever it waits for
    reader.join();

    // A reader that falls behind loses the oldest reports, never the stream.
    EXPECT_GT(reports, 0);
    EXPECT_GT(reports + stack_.Counters().reportsOverwritten, 100u);
    EXPECT_GT(features, 0);
    EXPECT_EQ(failedFeatures, 0);
}

}  // namespace
}  // namespace kav::test
