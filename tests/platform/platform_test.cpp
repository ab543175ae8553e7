#include "devicelib/platform/platform.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "devicelib/platform/failing_platform.h"
#include "devicelib/platform/remote/remote_platform.h"
#ifdef _WIN32
#include "devicelib/platform/win32/win32_platform.h"
#endif
#include "shared/hid_reports.h"

namespace kav::platform {
namespace {

Handle FakeHandle(std::uintptr_t value) {
    return reinterpret_cast<Handle>(value);
}

class RecordingPlatform : public FailingPlatform {
public:
    Handle OpenHid(std::u16string_view path, bool) override {
        opened.emplace_back(path);
        return FakeHandle(0x40);
    }
    bool Close(Handle handle) override {
        closed.push_back(handle);
        return true;
    }
    std::vector<std::u16string> opened;
    std::vector<Handle> closed;
};

constexpr const char* kPlatformVariable = "KAVLIB_PLATFORM";

void SetPlatformVariable(const char* value) {
#ifdef _WIN32
    _putenv_s(kPlatformVariable, value != nullptr ? value : "");  // "" removes it
#else
    if (value != nullptr) {
        setenv(kPlatformVariable, value, 1);
    } else {
        unsetenv(kPlatformVariable);
    }
#endif
}

// Every test starts and ends on the default platform with the environment it found.
class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* value = std::getenv(kPlatformVariable)) saved_ = value;
        SetPlatformVariable(nullptr);
        SetPlatform(nullptr);
        SetSimPlatformFactory(nullptr);
    }
    void TearDown() override {
        SetPlatform(nullptr);
        SetPlatformVariable(saved_ ? saved_->c_str() : nullptr);
        SetSimPlatformFactory(nullptr);
    }

private:
    std::optional<std::string> saved_;
};

RecordingPlatform& Sim() {
    static RecordingPlatform sim;
    return sim;
}
Platform& SimFactory() {
    return Sim();
}

Platform& OsDefault() {
#ifdef _WIN32
    return win32::Win32PlatformInstance();
#else
    return FallbackPlatform();
#endif
}

using PlatformRegistry = PlatformTest;

TEST_F(PlatformRegistry, SetPlatformRoutesCallsAndNullRestoresDefault) {
    RecordingPlatform first, second;
    EXPECT_EQ(&CurrentPlatform(), &OsDefault());

    SetPlatform(&first);
    EXPECT_EQ(&CurrentPlatform(), &first);
    EXPECT_EQ(CurrentPlatform().OpenHid(u"a", false), FakeHandle(0x40));

    SetPlatform(&second);
    CurrentPlatform().OpenHid(u"b", true);
    EXPECT_EQ(first.opened, std::vector<std::u16string>{u"a"});
    EXPECT_EQ(second.opened, std::vector<std::u16string>{u"b"});

    // An explicit platform wins over a registered simulation.
    SetSimPlatformFactory(&SimFactory);
    EXPECT_EQ(&CurrentPlatform(), &second);

    SetSimPlatformFactory(nullptr);
    SetPlatform(nullptr);
    EXPECT_EQ(&CurrentPlatform(), &OsDefault());
}

TEST_F(PlatformRegistry, DefaultFollowsEnvironmentAndSimulation) {
    enum class Expect { kOs, kSim, kRemote, kFallback };
    struct Case {
        const char* variable;
        bool sim_registered;
        Expect on_windows;
        Expect elsewhere;
    };
    const Case cases[] = {
        {nullptr, false, Expect::kOs, Expect::kFallback},
        {nullptr, true, Expect::kOs, Expect::kSim},
        // Asked for without an in-process one, the simulation is the service's.
        {"sim", false, Expect::kRemote, Expect::kRemote},
        {"sim", true, Expect::kSim, Expect::kSim},
        {"SIM", true, Expect::kSim, Expect::kSim},
        {"simulator", true, Expect::kOs, Expect::kSim},
        {"real", false, Expect::kOs, Expect::kFallback},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.variable ? c.variable : "(unset)") + (c.sim_registered ? ", sim" : ", no sim"));
        SetPlatformVariable(c.variable);
        SetSimPlatformFactory(c.sim_registered ? &SimFactory : nullptr);
#ifdef _WIN32
        const Expect expect = c.on_windows;
#else
        const Expect expect = c.elsewhere;
#endif
        Platform* expected = expect == Expect::kOs       ? &OsDefault()
                             : expect == Expect::kSim    ? static_cast<Platform*>(&Sim())
                             : expect == Expect::kRemote ? &remote::RemotePlatformInstance()
                                                         : &FallbackPlatform();
        EXPECT_EQ(&CurrentPlatform(), expected);
    }
}

using PlatformUniqueHandle = PlatformTest;

TEST_F(PlatformUniqueHandle, ClosesExactlyOnceAndNeverWhenEmpty) {
    RecordingPlatform owner;
    {
        UniqueHandle held(FakeHandle(0x10), owner);
        EXPECT_TRUE(held);
        EXPECT_EQ(held.get(), FakeHandle(0x10));
        EXPECT_TRUE(owner.closed.empty());
    }
    EXPECT_EQ(owner.closed, std::vector<Handle>{FakeHandle(0x10)});

    owner.closed.clear();
    {
        UniqueHandle held(FakeHandle(0x11), owner);
        held.reset();
        held.reset();
        EXPECT_FALSE(held);
    }
    EXPECT_EQ(owner.closed, std::vector<Handle>{FakeHandle(0x11)});

    owner.closed.clear();
    {
        UniqueHandle empty;
        UniqueHandle invalid(kInvalidHandle, owner);
        UniqueHandle null(nullptr, owner);
        EXPECT_FALSE(empty);
        EXPECT_FALSE(invalid);
        EXPECT_FALSE(null);
        UniqueHandle released(FakeHandle(0x12), owner);
        EXPECT_EQ(released.release(), FakeHandle(0x12));
        EXPECT_FALSE(released);
    }
    EXPECT_TRUE(owner.closed.empty());
}

TEST_F(PlatformUniqueHandle, MoveTransfersOwnership) {
    RecordingPlatform owner;
    {
        UniqueHandle target;
        {
            UniqueHandle source(FakeHandle(0x10), owner);
            target = std::move(source);
            EXPECT_FALSE(source);
        }
        EXPECT_TRUE(owner.closed.empty());
        UniqueHandle constructed(std::move(target));
        EXPECT_FALSE(target);
        EXPECT_EQ(constructed.get(), FakeHandle(0x10));

        // Assigning over a held handle closes the old one first.
        UniqueHandle other(FakeHandle(0x20), owner);
        constructed = std::move(other);
        EXPECT_EQ(owner.closed, std::vector<Handle>{FakeHandle(0x10)});

        UniqueHandle& same = constructed;
        constructed = std::move(same);
        EXPECT_EQ(constructed.get(), FakeHandle(0x20));
        EXPECT_EQ(owner.closed.size(), 1u);
    }
    EXPECT_EQ(owner.closed, (std::vector<Handle>{FakeHandle(0x10), FakeHandle(0x20)}));
}

TEST_F(PlatformUniqueHandle, ClosesThroughThePlatformThatWasCurrentWhenMade) {
    RecordingPlatform opener, later;
    SetPlatform(&opener);
    {
        UniqueHandle held(CurrentPlatform().OpenHid(u"x", false));
        SetPlatform(&later);
    }
    EXPECT_EQ(opener.closed, std::vector<Handle>{FakeHandle(0x40)});
    EXPECT_TRUE(later.closed.empty());
}

TEST(RawMouse, ButtonChangesBecomeTransitionFlags) {
    struct Case {
        uint8_t before, after;
        uint16_t flags;
    };
    const Case cases[] = {
        {0, 0, 0},
        {0, 1, kMouseLeftDown},
        {1, 0, kMouseLeftUp},
        {1, 1, 0},
        {0, 2, kMouseRightDown},
        {2, 0, kMouseRightUp},
        {1, 2, kMouseLeftUp | kMouseRightDown},  // a hold turned into a right click
        {0, 4, kMouseMiddleDown},
        {7, 0, kMouseLeftUp | kMouseRightUp | kMouseMiddleUp},
        {0, 0xF8, 0},  // buttons beyond the third are not the system's mouse buttons
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.before) + " -> " + std::to_string(c.after));
        EXPECT_EQ(MouseButtonTransitions(c.before, c.after), c.flags);
    }
}

// Each mouse keeps its own last buttons, and a report that is no mouse report changes none.
TEST(MouseButtonTracker, EachMouseKeepsItsOwnButtons) {
    const std::vector<uint8_t> leftDown{kMouseReportId, kMouseButtonLeft, 0, 0, 0, 0};
    const std::vector<uint8_t> released{kMouseReportId, kMouseButtonNone, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> notMouse{kTouchReportId, kMouseButtonNone, 0, 0, 0, 0};
    const std::vector<uint8_t> tooShort{kMouseReportId, kMouseButtonNone};
    MouseButtonTracker tracker;
    EXPECT_EQ(tracker.Transitions(u"first", leftDown), kMouseLeftDown);
    EXPECT_EQ(tracker.Transitions(u"first", leftDown), 0);
    EXPECT_EQ(tracker.Transitions(u"second", leftDown), kMouseLeftDown);
    EXPECT_EQ(tracker.Transitions(u"first", notMouse), 0);
    EXPECT_EQ(tracker.Transitions(u"first", tooShort), 0);
    EXPECT_EQ(tracker.Transitions(u"first", released), kMouseLeftUp);
    EXPECT_EQ(tracker.Transitions(u"second", released), kMouseLeftUp);
}

TEST(RegistryData, OnlyAFourByteDwordReadsAsOne) {
    EXPECT_EQ(AsDword(RegistryData{kRegDword, {0x78, 0x56, 0x34, 0x12}}), 0x12345678u);
    EXPECT_FALSE(AsDword(RegistryData{kRegDword, {1, 2, 3}}));
    EXPECT_FALSE(AsDword(RegistryData{kRegSz, {'1', 0, 0, 0}}));
    EXPECT_FALSE(AsDword(std::nullopt));
}

TEST(FallbackPlatform, EveryOperationFailsCleanly) {
    Platform& fallback = FallbackPlatform();
    EXPECT_FALSE(fallback.EnumerateHidInterfaces().has_value());
    for (const char16_t* path : {u"", u"\\\\?\\hid#vid_1234&pid_5678#1#{4d1e55b2-f16f-11cf-88cb-001111000030}"}) {
        EXPECT_EQ(fallback.OpenHid(path, false), kInvalidHandle);
        EXPECT_EQ(fallback.OpenHid(path, true), kInvalidHandle);
    }
    for (Handle handle : {kInvalidHandle, static_cast<Handle>(nullptr), FakeHandle(0x10)}) {
        SCOPED_TRACE(reinterpret_cast<std::uintptr_t>(handle));
        EXPECT_FALSE(fallback.Close(handle));
        EXPECT_FALSE(fallback.GetAttributes(handle).has_value());
        std::array<uint8_t, 64> report;
        report.fill(0xA5);
        const std::array<uint8_t, 64> untouched = report;
        EXPECT_FALSE(fallback.GetFeature(handle, report));
        EXPECT_EQ(report, untouched);
        EXPECT_FALSE(fallback.SetFeature(handle, report));
        EXPECT_FALSE(fallback.GetFeature(handle, {}));
        EXPECT_FALSE(fallback.SetFeature(handle, {}));
    }
    EXPECT_FALSE(fallback.GetHidString(FakeHandle(0x10), HidString::Product));
    EXPECT_EQ(fallback.CreateInputReader(FakeHandle(0x10), 22), nullptr);
    const std::array<RawInputUsage, 1> touch{{{0x0D, 0x04}}};
    EXPECT_EQ(fallback.RegisterRawInput(touch, [](const RawInputEvent&) {}), nullptr);
    EXPECT_EQ(fallback.RegisterDeviceChange([](DeviceChange, const std::u16string&) {}), nullptr);
    const std::array<std::u16string_view, 1> names{u"Mode"};
    EXPECT_FALSE(fallback.QueryRegistryValues(RegistryRoot::LocalMachine, kDriverParametersKey, names));
    fallback.Sleep(0);
    fallback.Sleep(1);
}

}  // namespace
}  // namespace kav::platform
