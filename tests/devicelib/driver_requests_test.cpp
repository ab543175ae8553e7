#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>

#include "devicelib/driver_requests.h"
#include "devicelib/include/KavLib.h"
#include "fake_controller.h"
#include "shared/work_modes.h"

namespace kav::devicelib::testing {
namespace {

using DriverRequests = ControllerTest;

TEST_F(DriverRequests, RawFeatureAccessRefusesUnusableHandlesWithoutACall) {
    std::array<std::uint8_t, kFeatureReportSize> buffer{};
    buffer[0] = kDriverRequestFeatureId;
    buffer[1] = kDriverRequestWorkMode;
    EXPECT_EQ(GetFeature(platform::kInvalidHandle, buffer.data()), 0);
    EXPECT_EQ(SetFeature(nullptr, buffer.data()), 0);
    EXPECT_EQ(GetFeature(controller.device, nullptr), 0);
    EXPECT_EQ(controller.DeviceCalls(), 0);

    controller.workMode = 0xF4;
    EXPECT_EQ(GetFeature(controller.device, buffer.data()), 1);
    EXPECT_EQ(buffer[2], 0xF4);
    buffer[2] = 0xF2;
    EXPECT_EQ(SetFeature(controller.device, buffer.data()), 1);
    EXPECT_EQ(controller.workMode, 0xF2);
    EXPECT_EQ(GetFeature(FakeHandle(0x99), buffer.data()), 0);  // the platform's failure comes through
}

TEST_F(DriverRequests, WorkModesOutsideTheFiveAreRefusedBeforeSending) {
    struct Case {
        std::uint8_t mode;
        bool sent;
    };
    for (const Case c : {Case{0x00, false}, Case{0xF0, false}, Case{0xF1, true}, Case{0xF3, true}, Case{0xF5, true},
                         Case{0xF6, false}, Case{0xFF, false}}) {
        controller.driverWrites.clear();
        EXPECT_EQ(Set_WorkMode(controller.device, c.mode), c.sent ? 1 : 0) << std::hex << int{c.mode};
        ASSERT_EQ(controller.driverWrites.size(), c.sent ? 1u : 0u);
        if (c.sent) {
            std::array<std::uint8_t, kFeatureReportSize> expected{};
            expected[0] = 0x55;
            expected[1] = 0x01;
            expected[2] = c.mode;
            EXPECT_EQ(controller.driverWrites[0], expected);
        }
    }
    EXPECT_EQ(Nerio_SetWorkMode(nullptr, kWorkModeMouse), 0);
    EXPECT_EQ(Nerio_SetWorkMode(platform::kInvalidHandle, kWorkModeMouse), 0);
    EXPECT_EQ(controller.featureWrites, 3);
}

TEST_F(DriverRequests, WorkModeReadFromByteTwo) {
    controller.workMode = kWorkModeCalibrate;
    unsigned char mode = 0;
    EXPECT_EQ(Nerio_GetWorkMode(controller.device, mode), 1);
    EXPECT_EQ(mode, kWorkModeCalibrate);

    mode = 0x77;
    EXPECT_EQ(Get_WorkMode(platform::kInvalidHandle, mode), 0);
    EXPECT_EQ(Get_WorkMode(FakeHandle(0x99), mode), 0);
    EXPECT_EQ(mode, 0x77);
}

_NERIO_DRIVER_CONFIG Patterned() {
    _NERIO_DRIVER_CONFIG config;
    auto* bytes = reinterpret_cast<std::uint8_t*>(&config);
    for (std::size_t i = 0; i < sizeof(config); ++i) bytes[i] = static_cast<std::uint8_t>(0x80 + i);
    return config;
}

TEST_F(DriverRequests, DriverConfigGoesOutFromByteTwoAndComesBackFromByteZero) {
    const _NERIO_DRIVER_CONFIG written = Patterned();
    EXPECT_EQ(Nerio_SetDriverConfig(controller.device, written), 1);
    ASSERT_EQ(controller.driverWrites.size(), 1u);
    const Report& sent = controller.driverWrites[0];
    EXPECT_EQ(sent[0], 0x55);
    EXPECT_EQ(sent[1], 0x13);
    EXPECT_EQ(std::memcmp(sent.data() + 2, &written, sizeof(written)), 0);
    EXPECT_EQ(sent[61], 0);

    _NERIO_DRIVER_CONFIG read{};
    EXPECT_EQ(Get_DriverConfig(controller.device, read), 1);
    EXPECT_EQ(std::memcmp(&read, &written, sizeof(read)), 0);
    const std::uint32_t frequency = read.BeepFrequency;
    EXPECT_EQ(frequency, 0x8C8B8A89u);
}

TEST_F(DriverRequests, FailedConfigReadReportsFailureAndLeavesTheRecord) {
    _NERIO_DRIVER_CONFIG record = Patterned();
    EXPECT_EQ(Nerio_GetDriverConfig(FakeHandle(0x99), record), 0);
    EXPECT_EQ(Nerio_GetDriverConfig(platform::kInvalidHandle, record), 0);
    const _NERIO_DRIVER_CONFIG expected = Patterned();
    EXPECT_EQ(std::memcmp(&record, &expected, sizeof(record)), 0);
    EXPECT_EQ(Set_DriverConfig(nullptr, record), 0);
    EXPECT_EQ(controller.featureWrites, 0);
}

TEST_F(DriverRequests, SpeedParametersGoOutFromByteTwoAndComeBackFromByteZero) {
    EXPECT_TRUE(WriteSpeedParameters(controller.device, {15000, 5, 20}));
    ASSERT_EQ(controller.driverWrites.size(), 1u);
    const Report& sent = controller.driverWrites[0];
    EXPECT_EQ(sent[1], 0x17);
    EXPECT_EQ(sent[2], 0x98);  // 15000 little-endian
    EXPECT_EQ(sent[3], 0x3A);
    EXPECT_EQ(sent[6], 5);
    EXPECT_EQ(sent[7], 20);
    const std::optional<SpeedParameters> read = ReadSpeedParameters(controller.device);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->maxSpeed, 15000u);
    EXPECT_EQ(read->velocityRefCount, 5);
    EXPECT_EQ(read->velocityWeight, 20);
    EXPECT_FALSE(ReadSpeedParameters(platform::kInvalidHandle));
}

}  // namespace
}  // namespace kav::devicelib::testing
