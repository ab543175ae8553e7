// KavLib's platform on the virtual HID stack: the real driver on simulated controllers,
// reached only through paths, handles and feature reports.
#include "devicelib/platform/sim/sim_platform.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#endif

#ifndef _WIN32
#include "devicelib/platform/posix/posix_platform.h"
#endif
#include "shared/driver_request.h"
#include "shared/hid_reports.h"
#include "shared/work_modes.h"
#include "simulator/controller/firmware.h"
#include "simulator/hidstack/hid_stack.h"

namespace kav::platform::sim {
namespace {

std::string Narrow(const std::u16string& s) {
    return std::string(s.begin(), s.end());
}

// Leaves the process as it found it: no stack, no override, no simulated default. Windows
// builds pick the simulation only when asked to.
struct Restore {
#ifdef _WIN32
    Restore() {
        if (const char* value = std::getenv("KAVLIB_PLATFORM")) saved = value;
        _putenv_s("KAVLIB_PLATFORM", "sim");
    }
    std::string saved;  // "" removes the variable
#endif
    ~Restore() {
        InstallSimPlatform(nullptr);
        SetPlatform(nullptr);
#ifdef _WIN32
        _putenv_s("KAVLIB_PLATFORM", saved.c_str());
#endif
        SetSimPlatformFactory(nullptr);
    }
};

class SimPlatformTest : public ::testing::Test {
protected:
    void Plug(::kav::sim::Controller& controller) { ASSERT_EQ(stack_.Attach(controller).status, STATUS_SUCCESS); }

    // Work mode through the driver request report, set and then read back.
    static std::optional<std::uint8_t> RoundTripWorkMode(Platform& platform, Handle handle, std::uint8_t mode) {
        const std::array<std::uint8_t, 64> set{kDriverRequestFeatureId, kDriverRequestWorkMode, mode};
        if (!platform.SetFeature(handle, set)) return std::nullopt;
        std::array<std::uint8_t, 64> get{kDriverRequestFeatureId, kDriverRequestWorkMode};
        if (!platform.GetFeature(handle, get)) return std::nullopt;
        return get[kDriverRequestWorkModeOffset];
    }

    Restore restore_;
    // Declared before the stack, which outlives neither its controllers nor its clock.
    kmdf::VirtualClock clock_{1'000'000};
    ::kav::sim::Controller first_;
    ::kav::sim::Controller second_;
    ::kav::sim::HidStack stack_{::kav::sim::HostEnvironment{&clock_, nullptr}};
    SimPlatform platform_{&stack_};
};

TEST_F(SimPlatformTest, ListsSixInterfacesPerScreenAndReachesTheDriverThroughThem) {
    Plug(first_);
    Plug(second_);
    const std::optional<std::vector<std::u16string>> paths = platform_.EnumerateHidInterfaces();
    ASSERT_TRUE(paths.has_value());
    ASSERT_EQ(paths->size(), 12u);
    const std::vector<::kav::sim::HidInterfaceInfo> interfaces = stack_.Interfaces();
    for (std::size_t i = 0; i < paths->size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ((*paths)[i], interfaces[i].path);
        EXPECT_EQ(Narrow((*paths)[i]).rfind("\\\\?\\hid#vid_4b1d&pid_0a31&col0" + std::to_string(i % 6 + 1) + "#", 0),
                  0u);
    }
    EXPECT_NE((*paths)[0], (*paths)[6]);

    // Both screens' touch collections at once, each reaching its own driver instance.
    const Handle touch1 = platform_.OpenHid((*paths)[0], true);
    const Handle touch2 = platform_.OpenHid((*paths)[6], false);
    ASSERT_TRUE(IsValidHandle(touch1));
    ASSERT_TRUE(IsValidHandle(touch2));
    EXPECT_NE(touch1, touch2);
    EXPECT_TRUE(SimPlatform::IsSimHidHandle(touch1));

    const std::optional<HidAttributes> attributes = platform_.GetAttributes(touch1);
    ASSERT_TRUE(attributes.has_value());
    EXPECT_EQ(attributes->VendorId, 0x4B1D);
    EXPECT_EQ(attributes->ProductId, 0x0A31);
    std::array<std::uint8_t, 64> contacts{kContactCountMaxFeatureId};
    ASSERT_TRUE(platform_.GetFeature(touch1, contacts));
    EXPECT_EQ(contacts[0], kContactCountMaxFeatureId);
    EXPECT_EQ(contacts[1], 2);

    EXPECT_EQ(RoundTripWorkMode(platform_, touch1, kWorkModeCalibrate), kWorkModeCalibrate);
    EXPECT_EQ(RoundTripWorkMode(platform_, touch2, kWorkModeMouse), kWorkModeMouse);
    std::array<std::uint8_t, 64> mode{kDriverRequestFeatureId, kDriverRequestWorkMode};
    ASSERT_TRUE(platform_.GetFeature(touch1, mode));
    EXPECT_EQ(mode[kDriverRequestWorkModeOffset], kWorkModeCalibrate);

    // Refused before the stack sees them.
    EXPECT_FALSE(platform_.GetFeature(touch1, std::span<std::uint8_t>()));
    EXPECT_FALSE(platform_.SetFeature(touch1, std::span<const std::uint8_t>()));
    EXPECT_TRUE(platform_.Close(touch1));
    EXPECT_TRUE(platform_.Close(touch2));
}

TEST_F(SimPlatformTest, RefusesPathsAndHandlesItDidNotIssue) {
    Plug(first_);
    const std::u16string touchPath = platform_.EnumerateHidInterfaces()->front();
    const Handle open = platform_.OpenHid(touchPath, false);
    ASSERT_TRUE(IsValidHandle(open));

    const std::u16string missing = u"\\\\?\\hid#vid_4b1d&pid_0a31&col07#none";
    const std::u16string truncated = touchPath + std::u16string(1, u'\0') + u"x";
    for (const std::u16string& path : {std::u16string(), missing, truncated})
        EXPECT_EQ(platform_.OpenHid(path, false), kInvalidHandle) << Narrow(path);

    const Handle closed = platform_.OpenHid(touchPath, false);
    ASSERT_TRUE(platform_.Close(closed));
    // A closed handle, a bare stack id, a tagged value never issued, and the two non-handles.
    const Handle foreign[] = {closed, reinterpret_cast<Handle>(std::uintptr_t{1}),
                              reinterpret_cast<Handle>(reinterpret_cast<std::uintptr_t>(open) + 2), nullptr,
                              kInvalidHandle};
    std::array<std::uint8_t, 64> contacts{kContactCountMaxFeatureId};
    const std::array<std::uint8_t, 64> request{kDriverRequestFeatureId, kDriverRequestWorkMode, kWorkModeMouse};
    for (const Handle handle : foreign) {
        SCOPED_TRACE(reinterpret_cast<std::uintptr_t>(handle));
        EXPECT_FALSE(platform_.GetAttributes(handle).has_value());
        EXPECT_FALSE(platform_.GetFeature(handle, contacts));
        EXPECT_FALSE(platform_.SetFeature(handle, request));
        EXPECT_FALSE(platform_.Close(handle));
    }
    // None of that disturbed the handle still open.
    EXPECT_EQ(RoundTripWorkMode(platform_, open, kWorkModeCalibrate), kWorkModeCalibrate);

    // Handles do not survive a change of stack, even though the stack's ids would.
    platform_.Attach(nullptr);
    EXPECT_FALSE(platform_.GetFeature(open, contacts));
    platform_.Attach(&stack_);
    EXPECT_FALSE(platform_.GetFeature(open, contacts));
    EXPECT_FALSE(platform_.Close(open));
}

TEST_F(SimPlatformTest, InstalledStackIsTheCurrentPlatformAndDetachedItListsNothing) {
    Plug(first_);
    InstallSimPlatform(&stack_);
    Platform& current = CurrentPlatform();
    ASSERT_EQ(&current, &SimPlatformInstance());
    const std::optional<std::vector<std::u16string>> paths = current.EnumerateHidInterfaces();
    ASSERT_TRUE(paths.has_value());
    ASSERT_EQ(paths->size(), 6u);
    {
        UniqueHandle touch(current.OpenHid(paths->front(), true));
        ASSERT_TRUE(touch);
        EXPECT_EQ(RoundTripWorkMode(current, touch.get(), kWorkModeCalibrate), kWorkModeCalibrate);
    }
    // UniqueHandle closed it through the platform, and the stack's handle went with it.
    const Handle reopened = current.OpenHid(paths->front(), false);
    ASSERT_TRUE(IsValidHandle(reopened));

    // Detached: a present, empty list, not a failure to list; opens fail.
    InstallSimPlatform(nullptr);
    ASSERT_EQ(&CurrentPlatform(), &SimPlatformInstance());
    EXPECT_EQ(CurrentPlatform().EnumerateHidInterfaces(), std::vector<std::u16string>{});
    EXPECT_EQ(CurrentPlatform().OpenHid(paths->front(), false), kInvalidHandle);
    EXPECT_FALSE(CurrentPlatform().Close(reopened));

    SimPlatform stackless;
    EXPECT_EQ(stackless.EnumerateHidInterfaces(), std::vector<std::u16string>{});
    EXPECT_EQ(stackless.OpenHid(paths->front(), false), kInvalidHandle);
}

#ifndef _WIN32
// The master side of a new pseudo-terminal and the path of its slave; -1 on failure.
std::pair<int, std::u16string> OpenPty() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) return {-1, {}};
    const char* name = grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
    if (name == nullptr) {
        close(master);
        return {-1, {}};
    }
    const std::string path = name;
    return {master, std::u16string(path.begin(), path.end())};
}

TEST_F(SimPlatformTest, SerialPortsAreTheHostsAndOnlyItsOwnAreClosed) {
    const auto [master, path] = OpenPty();
    const auto [otherMaster, otherPath] = OpenPty();
    ASSERT_GE(master, 0);
    ASSERT_GE(otherMaster, 0);
    const Handle port = platform_.OpenSerial(path);
    ASSERT_TRUE(IsValidHandle(port));
    EXPECT_FALSE(SimPlatform::IsSimHidHandle(port));

    const std::uint8_t out[] = {0xAA, 0x01};
    EXPECT_EQ(platform_.WriteSerial(port, out), 2u);
    std::uint8_t seen[2] = {};
    ASSERT_EQ(read(master, seen, 2), 2);
    EXPECT_EQ(seen[1], 0x01);
    const std::uint8_t in = 0x5C;
    ASSERT_EQ(write(master, &in, 1), 1);
    EXPECT_EQ(platform_.ReadSerialByte(port), 0x5C);
    EXPECT_TRUE(platform_.PurgeSerial(port));

    // A port another platform opened is not this one's to use or close.
    const Handle other = posix::PosixPlatformInstance().OpenSerial(otherPath);
    ASSERT_TRUE(IsValidHandle(other));
    EXPECT_FALSE(platform_.WriteSerial(other, out).has_value());
    EXPECT_FALSE(platform_.Close(other));

    EXPECT_TRUE(platform_.Close(port));
    EXPECT_FALSE(platform_.Close(port));
    EXPECT_FALSE(platform_.ReadSerialByte(port).has_value());
    EXPECT_TRUE(posix::PosixPlatformInstance().Close(other));
    close(master);
    close(otherMaster);
}
#endif

}  // namespace
}  // namespace kav::platform::sim
