// Configuration changes from user mode while frames stream through the read completion:
// each side takes its locks, and no packet sees a record half replaced.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <thread>

#include "shared/driver_config.h"
#include "shared/work_modes.h"
#include "simulator/controller/optics.h"
#include "simulator/hidstack/direct_host.h"

namespace kav::test {
namespace {

NTSTATUS SetFeature(WDFDEVICE device, std::array<std::uint8_t, 64>& report) {
    HID_XFER_PACKET packet{report.data(), 64, report[0]};
    kmdf::RequestSetup setup;
    setup.IoControlCode = IOCTL_HID_SET_FEATURE;
    setup.Input.assign(sizeof(HID_XFER_PACKET), 0);
    setup.UserBuffer = &packet;
    kmdf::ScopedRequest request(setup);
    kmdf::SendToDevice(device, request);
    return request.Result().Status;
}

TEST(FeatureRequestsWhileStreaming, ConfigurationSetsAndFramesDoNotRace) {
    sim::DirectHost host(sim::NominalRecords());
    host.Context()->WorkMode = kWorkModeDigitizer;
    const sim::Geometry geometry = sim::Geometry::From(host.Context()->ScreenProperty);
    const std::vector<sim::Finger> finger = {{200, 150, 10}};
    const auto a = sim::LineTransfer(1, sim::RenderLine(geometry, false, sim::Lens::Nominal(false), finger));
    const auto b = sim::LineTransfer(0, sim::RenderLine(geometry, true, sim::Lens::Nominal(true), finger));

    constexpr int kSets = 300;
    std::atomic<bool> stop{false};
    size_t reports = 0;
    int frameCount = 0;
    std::thread frames([&] {
        while (!stop || frameCount < 100) {
            host.Feed(b);
            host.Feed(a);
            reports += host.TakeReports().size();
            ++frameCount;
        }
    });

    int sets = 0;
    while (sets < kSets) {
        std::array<std::uint8_t, 64> config{0x55, 0x13};
        config[2 + offsetof(_NERIO_DRIVER_CONFIG, Mode)] = 2;
        config[2 + offsetof(_NERIO_DRIVER_CONFIG, EnableTouch)] = 1;
        config[2 + offsetof(_NERIO_DRIVER_CONFIG, EnableAntishake)] = static_cast<std::uint8_t>(sets & 1);
        config[2 + offsetof(_NERIO_DRIVER_CONFIG, Smoothness)] = static_cast<std::uint8_t>(sets % 3);
        config[2 + offsetof(_NERIO_DRIVER_CONFIG, DoubleClickTime)] = 100;
        EXPECT_EQ(SetFeature(host.Device(), config), STATUS_SUCCESS);

        std::array<std::uint8_t, 64> screen{0xAA, 0x02, 0x31, 59, 0};
        SCREEN_PROPERTY property = host.Context()->ScreenProperty;
        std::memcpy(screen.data() + 5, &property, sizeof(property));
        EXPECT_EQ(SetFeature(host.Device(), screen), STATUS_SUCCESS);

        std::array<std::uint8_t, 64> speed{0x55, 0x17, 0x98, 0x3A, 0, 0, 5, static_cast<std::uint8_t>(20 + sets % 2)};
        EXPECT_EQ(SetFeature(host.Device(), speed), STATUS_SUCCESS);
        ++sets;
    }
    stop = true;
    frames.join();
    EXPECT_GE(frameCount, 100);
    EXPECT_GT(reports, 0u);
}

}  // namespace
}  // namespace kav::test
