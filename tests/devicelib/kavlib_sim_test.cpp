// KavLib's exports on the whole simulated stack: the real driver relays every command of
// the catalogue to the simulated controller, behind the virtual HID stack's interfaces.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>

#include "devicelib/accessors.h"
#include "devicelib/include/KavLib.h"
#include "devicelib/platform/sim/sim_platform.h"
#include "shared/device_commands.h"
#include "simulator/controller/firmware.h"
#include "simulator/hidstack/hid_stack.h"

namespace kav::devicelib {
namespace {

namespace protocol = kav::protocol;

class KavLibOnTheSimulatedStack : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef _WIN32
        _putenv_s("KAVLIB_PLATFORM", "sim");
#endif
        ASSERT_EQ(stack_.Attach(controller_).status, STATUS_SUCCESS);
        platform::sim::InstallSimPlatform(&stack_);
    }
    void TearDown() override {
        platform::sim::InstallSimPlatform(nullptr);
        platform::SetSimPlatformFactory(nullptr);
#ifdef _WIN32
        _putenv_s("KAVLIB_PLATFORM", "");
#endif
    }

    kmdf::VirtualClock clock_{1'000'000};
    sim::Controller controller_;
    sim::HidStack stack_{sim::HostEnvironment{&clock_, nullptr}};
};

TEST_F(KavLibOnTheSimulatedStack, FindsTheScreenAndReadsAndWritesItsRecords) {
    ASSERT_EQ(Nerio_GetTouchScreenCount(), 1);
    std::array<KAVLIB_HANDLE, KAVLIB_MAX_DEVICES> handles{};
    unsigned char count = 0;
    ASSERT_EQ(Nerio_GetTouchScreenInformation(handles.data(), count), 1);
    ASSERT_EQ(count, 1);
    const KAVLIB_HANDLE screen = handles[0];

    // The vendor collection is listed by its own selector.
    std::array<std::array<KAVLIB_WCHAR, KAVLIB_MAX_PATH>, KAVLIB_MAX_DEVICES> buffers{};
    std::array<KAVLIB_WCHAR*, KAVLIB_MAX_DEVICES> paths{};
    for (std::size_t i = 0; i < paths.size(); ++i) paths[i] = buffers[i].data();
    int listed = 0;
    ASSERT_EQ(EnumDevice_HID(paths.data(), listed, 0x36), 1);
    ASSERT_EQ(listed, 1);
    EXPECT_NE(std::u16string(reinterpret_cast<const char16_t*>(paths[0])).find(u"col06"), std::u16string::npos);

    // Every get of the catalogue, through the driver, answered with its row's size.
    for (const protocol::Command& row : protocol::kCatalogue) {
        if (!row.IsGet()) continue;
        SCOPED_TRACE(::testing::Message() << "command 0x" << std::hex << int{row.code});
        std::array<std::uint8_t, protocol::kRecordSize> bytes{};
        std::array<std::uint8_t, 2> request{};
        std::uint8_t length = 0;
        EXPECT_TRUE(ReadItem(row, 1, screen, 0, std::span(request.data(), row.requestSize), bytes, &length));
        EXPECT_EQ(length, row.replySize);
    }

    // The device configuration written and read back.
    KAVLIB_RECORD config{};
    ASSERT_EQ(GetDeviceConfig(screen, config.Data), 1);
    KAVLIB_RECORD changed = config;
    changed.Data[57] ^= 0x5A;
    ASSERT_EQ(SetDeviceConfig(screen, changed), 1);
    KAVLIB_RECORD back{};
    ASSERT_EQ(GetDeviceConfig(screen, back.Data), 1);
    EXPECT_EQ(std::memcmp(back.Data, changed.Data, sizeof back.Data), 0);
    EXPECT_EQ(controller_.Block(protocol::kGetDeviceConfig.code, protocol::kSubDeviceConfig)[57], changed.Data[57]);

    std::array<char, 64> text{};
    unsigned char length = 0;
    ASSERT_EQ(GetFirewareVersion(screen, 0, text.data(), length), 1);
    EXPECT_EQ(std::string(text.data()), "5.01.1007");
    int serialLength = 0;
    ASSERT_EQ(Nerio_GetProductSN(screen, text.data(), serialLength), 0);
    EXPECT_EQ(std::string(text.data()), "TARNEVO-K26A31T-S1C-12-1107-0000001");
    // The bracket leaves both sub-units switched off.
    EXPECT_EQ(controller_.Mode(0), protocol::kAccessOff);
    EXPECT_EQ(controller_.Mode(1), protocol::kAccessOff);
    EXPECT_EQ(Nerio_CloseTouchScreen(screen), 1);
}

}  // namespace
}  // namespace kav::devicelib
