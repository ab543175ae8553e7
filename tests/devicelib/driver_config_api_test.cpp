// The driver configuration from the registry, and the single-field getters and setters
// over the driver request report.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "devicelib/include/KavLib.h"
#include "devicelib/platform/sim/sim_platform.h"
#include "fake_controller.h"
#include "shared/driver_parameters.h"
#include "simulator/registry/registry_store.h"

namespace kav::devicelib::testing {
namespace {

const std::u16string kKey = u"\\Registry\\Machine\\" + std::u16string(kDriverParametersKeyPath);

_NERIO_DRIVER_CONFIG Patterned() {
    _NERIO_DRIVER_CONFIG config;
    auto* bytes = reinterpret_cast<std::uint8_t*>(&config);
    for (std::size_t i = 0; i < sizeof config; ++i) bytes[i] = static_cast<std::uint8_t>(0xC0 + i);
    return config;
}

bool Same(const _NERIO_DRIVER_CONFIG& a, const _NERIO_DRIVER_CONFIG& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class DriverConfigRegistry : public ::testing::Test {
protected:
    void SetUp() override { platform::SetPlatform(&platform_); }
    void TearDown() override { platform::SetPlatform(nullptr); }

    sim::RegistryStore store_;
    platform::sim::SimPlatform platform_{nullptr, &store_};
};

TEST_F(DriverConfigRegistry, ValuesComeAsTheDriverLoadsThemAndMissingOnesGetItsDefaults) {
    store_.PutDword(kKey, u"Mode", 258);             // the low byte: 2
    store_.PutDword(kKey, u"BeepFrequency", 70000);  // a 32-bit field takes it whole
    store_.PutString(kKey, u"Smoothness", u"7");     // not a REG_DWORD: the default, 1
    store_.PutDword(kKey, u"CalibrateType", 0);      // zero is a value, not a gap
    store_.PutDword(kKey, u"EnableBeep", 1);         // EnableTouch and the rest are absent
    store_.PutDword(kKey, u"DoubleClickArea", 9);
    store_.PutDword(kKey, u"Antijamming", 1);  // never read from here
    const _NERIO_DRIVER_CONFIG before = Patterned();
    _NERIO_DRIVER_CONFIG config = before;
    ASSERT_EQ(GetDriverConfig_Register(config), 1);

    EXPECT_EQ(config.Mode, 2);
    EXPECT_EQ(config.EnableTouch, 1);
    EXPECT_EQ(config.EnableRightClick, 1);
    EXPECT_EQ(config.CalibrateType, 0);
    EXPECT_EQ(config.EnableDoubleClick, 1);
    EXPECT_EQ(config.HideCursor, 0);
    EXPECT_EQ(config.EnableBeep, 1);
    EXPECT_EQ(config.BeepType, 0);
    EXPECT_EQ(config.BeepMode, 0);
    EXPECT_EQ(config.BeepFrequency, 70000u);
    EXPECT_EQ(config.BeepDuration, 50u);
    EXPECT_EQ(config.Smoothness, 1u);
    EXPECT_EQ(config.RightClickTime, 1000u);
    EXPECT_EQ(config.RightClickArea, 4u);
    EXPECT_EQ(config.DoubleClickTime, 300u);
    EXPECT_EQ(config.DoubleClickArea, 9u);
    // What the key does not back keeps the caller's bytes.
    EXPECT_EQ(config.Antijamming, before.Antijamming);
    EXPECT_EQ(config.EnableAntishake, before.EnableAntishake);
    EXPECT_EQ(std::memcmp(config.Reserved, before.Reserved, sizeof config.Reserved), 0);

    _NERIO_DRIVER_CONFIG alias = before;
    EXPECT_EQ(GetDriverConfig_Default(alias), 1);
    EXPECT_TRUE(Same(alias, config));
}

TEST_F(DriverConfigRegistry, AnAbsentKeyChangesNothing) {
    store_.PutDword(u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Services\\KavUSB\\Parameters", u"Mode", 3);
    const _NERIO_DRIVER_CONFIG before = Patterned();
    _NERIO_DRIVER_CONFIG config = before;
    EXPECT_EQ(GetDriverConfig_Register(config), 0);
    EXPECT_EQ(GetDriverConfig_Default(config), 0);
    EXPECT_TRUE(Same(config, before));

    // An empty key is a key: every value takes the driver's default.
    store_.CreateKey(kKey);
    ASSERT_EQ(GetDriverConfig_Register(config), 1);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&config);
    for (const DriverParameter& p : kDriverParameters) {
        if (p.id == DriverParameterId::Antijamming || p.id == DriverParameterId::EnableAntishake) continue;
        std::uint32_t value = 0;
        if (!GetParameterField(bytes, sizeof config, p, &value)) continue;  // the speed values
        EXPECT_EQ(value, p.defaultValue) << std::string(p.name, p.name + std::char_traits<char16_t>::length(p.name));
    }
}

// Sees how the key is asked.
class RecordingRegistry : public platform::FailingPlatform {
public:
    std::vector<std::vector<std::u16string>> queries;
    std::u16string key;
    std::optional<std::vector<std::optional<platform::RegistryData>>> QueryRegistryValues(
        platform::RegistryRoot root, std::u16string_view path, std::span<const std::u16string_view> names) override {
        EXPECT_EQ(root, platform::RegistryRoot::LocalMachine);
        key = path;
        queries.emplace_back(names.begin(), names.end());
        return std::vector<std::optional<platform::RegistryData>>(names.size());
    }
};

TEST(DriverConfigRegistryOrder, OneOpeningQueriesTheSixteenValuesInTheirOrder) {
    RecordingRegistry registry;
    platform::SetPlatform(&registry);
    _NERIO_DRIVER_CONFIG config{};
    EXPECT_EQ(GetDriverConfig_Register(config), 1);
    platform::SetPlatform(nullptr);
    EXPECT_EQ(registry.key, u"SYSTEM\\CurrentControlSet\\Services\\KavUSB\\Parameters\\DriverParameters");
    const std::vector<std::u16string> order = {
        u"Mode",           u"EnableTouch",       u"EnableRightClick", u"RightClickTime",
        u"RightClickArea", u"EnableDoubleClick", u"DoubleClickTime",  u"DoubleClickArea",
        u"HideCursor",     u"EnableBeep",        u"BeepType",         u"BeepMode",
        u"BeepFrequency",  u"BeepDuration",      u"CalibrateType",    u"Smoothness"};
    ASSERT_EQ(registry.queries.size(), 1u);
    EXPECT_EQ(registry.queries[0], order);
}

// A driver whose configuration read can be made to fail while writes still work.
class ConfigDriver : public FakeController {
public:
    bool failReads = false;
    bool GetFeature(platform::Handle handle, std::span<std::uint8_t> report) override {
        if (failReads) {
            ++featureReads;
            return false;
        }
        return FakeController::GetFeature(handle, report);
    }
};

class SingleFields : public ::testing::Test {
protected:
    void SetUp() override {
        driver_.driverConfig = Patterned();
        platform::SetPlatform(&driver_);
    }
    void TearDown() override { platform::SetPlatform(nullptr); }

    ConfigDriver driver_;
};

struct Field {
    const char* name;
    std::size_t offset;
    unsigned char (*get)(KAVLIB_HANDLE, unsigned char&);
    unsigned char (*set)(KAVLIB_HANDLE, unsigned char);
};

const Field kFields[] = {
    {"touch mode", offsetof(_NERIO_DRIVER_CONFIG, EnableTouch), Nerio_GetTouchMode, Nerio_SetTouchMode},
    {"anti-jamming", offsetof(_NERIO_DRIVER_CONFIG, Antijamming), Nerio_GetAntijammingMode, Nerio_SetAntijammingMode},
    {"anti-shake", offsetof(_NERIO_DRIVER_CONFIG, EnableAntishake), Nerio_GetAntishakeMode, Nerio_SetAntishakeMode},
};

std::uint8_t ByteOf(const _NERIO_DRIVER_CONFIG& config, std::size_t offset) {
    return reinterpret_cast<const std::uint8_t*>(&config)[offset];
}

TEST_F(SingleFields, GettersDeliverTheirByteOfTheDriversRecord) {
    for (const Field& f : kFields) {
        SCOPED_TRACE(f.name);
        unsigned char value = 0;
        EXPECT_EQ(f.get(driver_.device, value), 1);
        EXPECT_EQ(value, ByteOf(driver_.driverConfig, f.offset));

        // A record that cannot be read gives no value: 0, and the caller's byte stays.
        driver_.failReads = true;
        value = 0x5A;
        EXPECT_EQ(f.get(driver_.device, value), 0);
        EXPECT_EQ(value, 0x5A);
        EXPECT_EQ(f.get(platform::kInvalidHandle, value), 0);
        EXPECT_EQ(value, 0x5A);
        driver_.failReads = false;
    }
    EXPECT_TRUE(driver_.driverWrites.empty());
}

TEST_F(SingleFields, SettersReadFirstAndWriteTheWholeRecordOnlyForAChange) {
    for (const Field& f : kFields) {
        SCOPED_TRACE(f.name);
        const _NERIO_DRIVER_CONFIG before = driver_.driverConfig;
        const std::uint8_t current = ByteOf(before, f.offset);

        // The value it already has: nothing written.
        driver_.driverWrites.clear();
        EXPECT_EQ(f.set(driver_.device, current), 1);
        EXPECT_TRUE(driver_.driverWrites.empty());

        // A new value: one 0x13 request with the record read, only this byte changed.
        const auto changed = static_cast<std::uint8_t>(current ^ 0x01);
        EXPECT_EQ(f.set(driver_.device, changed), 1);
        ASSERT_EQ(driver_.driverWrites.size(), 1u);
        EXPECT_EQ(driver_.driverWrites[0][kDriverRequestCodeOffset], kDriverRequestSetConfig);
        _NERIO_DRIVER_CONFIG expected = before;
        reinterpret_cast<std::uint8_t*>(&expected)[f.offset] = changed;
        EXPECT_TRUE(Same(driver_.driverConfig, expected));

        // A record it cannot read is never written.
        driver_.driverWrites.clear();
        driver_.failReads = true;
        EXPECT_EQ(f.set(driver_.device, current), 0);
        EXPECT_TRUE(driver_.driverWrites.empty());
        driver_.failReads = false;

        // The write's own failure is the result.
        driver_.failingWrites = 1;
        EXPECT_EQ(f.set(driver_.device, current), 0);
        EXPECT_TRUE(Same(driver_.driverConfig, expected));
        driver_.driverConfig = before;
    }
    const int calls = driver_.DeviceCalls();
    EXPECT_EQ(Nerio_SetTouchMode(platform::kInvalidHandle, 0), 0);
    EXPECT_EQ(Nerio_SetAntishakeMode(nullptr, 0), 0);
    EXPECT_EQ(driver_.DeviceCalls(), calls);
}

}  // namespace
}  // namespace kav::devicelib::testing
