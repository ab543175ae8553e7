#include "kavusb/frame/parameters.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "kavusb/kmdf/usermode/kmdf_sim.h"
#include "simulator/registry/kmdf_registry.h"

namespace kav::test {
namespace {

using sim::RegistryStore;
using sim::RegistryValue;

std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

// Every value with its place in DRIVER_CONTEXT and its default.
struct Field {
    const char16_t* name;
    std::size_t offset;
    std::size_t width;
    ULONG defaultValue;
};
constexpr Field kFields[] = {
    {u"Mode", 0, 1, 2},
    {u"EnableTouch", 1, 1, 1},
    {u"EnableRightClick", 2, 1, 1},
    {u"CalibrateType", 3, 1, 1},
    {u"EnableDoubleClick", 4, 1, 1},
    {u"HideCursor", 5, 1, 0},
    {u"EnableBeep", 6, 1, 0},
    {u"BeepType", 7, 1, 0},
    {u"BeepMode", 8, 1, 0},
    {u"BeepFrequency", 9, 4, 2000},
    {u"BeepDuration", 13, 4, 50},
    {u"Smoothness", 17, 4, 1},
    {u"RightClickTime", 21, 4, 1000},
    {u"RightClickArea", 25, 4, 4},
    {u"DoubleClickTime", 29, 4, 300},
    {u"DoubleClickArea", 33, 4, 4},
    {u"Antijamming", 37, 1, 0},
    {u"EnableAntishake", 38, 1, 1},
    {u"MaxSpeed", 59, 4, 15000},
    {u"VelocityRefCount", 63, 1, 5},
    {u"VelocityWeight", 64, 1, 20},
};

// Little-endian, as the record travels.
ULONG FieldOf(const DRIVER_CONTEXT& context, const Field& field) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&context);
    ULONG value = 0;
    for (std::size_t i = field.width; i-- > 0;) value = value << 8 | bytes[field.offset + i];
    return value;
}

class Parameters : public ::testing::Test {
protected:
    void SetUp() override {
        kmdf::ResetFramework();
        kmdf::SetRegistryStore(&store_);
        driver_ = CreateDriver();
        ASSERT_NE(driver_, nullptr);
        context_ = NerioGetDriverContext(driver_);
        ASSERT_NE(context_, nullptr);
        key_ = kmdf::DriverParametersKeyPath() + u"\\DriverParameters";
    }
    void TearDown() override { kmdf::ResetFramework(); }

    static WDFDRIVER CreateDriver() {
        WDF_DRIVER_CONFIG config;
        WDF_DRIVER_CONFIG_INIT(&config, nullptr);
        WDF_OBJECT_ATTRIBUTES attributes;
        WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
        WDF_OBJECT_ATTRIBUTES_SET_CONTEXT_TYPE(&attributes, DRIVER_CONTEXT);
        WDFDRIVER driver = nullptr;
        EXPECT_EQ(WdfDriverCreate(kmdf::CreateDriverObject(), nullptr, &attributes, &config, &driver), STATUS_SUCCESS);
        return driver;
    }

    // Bytes the registry does not back, filled so that a stray write shows.
    void MarkUnbackedBytes() {
        std::memset(context_->Config.Reserved, 0x5A, sizeof context_->Config.Reserved);
        context_->Click.Touching = 0xA5A5A5A5;
    }
    void ExpectUnbackedBytesKept() {
        for (std::uint8_t byte : context_->Config.Reserved) ASSERT_EQ(byte, 0x5A);
        EXPECT_EQ(context_->Click.Touching, 0xA5A5A5A5u);
    }
    void ExpectDefaults() {
        for (const Field& field : kFields)
            EXPECT_EQ(FieldOf(*context_, field), field.defaultValue) << Narrow(field.name);
    }

    RegistryStore store_;
    WDFDRIVER driver_ = nullptr;
    DRIVER_CONTEXT* context_ = nullptr;
    std::u16string key_;
};

TEST_F(Parameters, EmptyOrMissingKeyGivesEveryDefault) {
    for (bool subkeyExists : {true, false}) {
        SCOPED_TRACE(subkeyExists ? "empty DriverParameters key" : "no DriverParameters key");
        store_.Clear();
        if (subkeyExists) store_.CreateKey(key_);
        std::memset(context_, 0xCC, offsetof(DRIVER_CONTEXT, Click));
        MarkUnbackedBytes();
        ReadDriverParameters(context_, driver_);
        ExpectDefaults();
        ExpectUnbackedBytesKept();
        // The first read created the subkey, and left it empty.
        EXPECT_TRUE(store_.KeyExists(key_));
        EXPECT_TRUE(store_.ValueNames(key_).empty());
        EXPECT_EQ(kmdf::OpenRegistryKeyCount(), 0u);
    }
}

TEST_F(Parameters, EveryValueLandsInItsField) {
    // Distinct values, wide enough to show a field written at the wrong width.
    std::vector<ULONG> stored;
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
        const ULONG value = kFields[i].width == 1 ? 0x10 + i : 0x01020300 + i * 0x01010101;
        stored.push_back(value);
        store_.PutDword(key_, kFields[i].name, value);
    }
    MarkUnbackedBytes();
    ReadDriverParameters(context_, driver_);
    for (std::size_t i = 0; i < std::size(kFields); ++i)
        EXPECT_EQ(FieldOf(*context_, kFields[i]), stored[i]) << Narrow(kFields[i].name);
    ExpectUnbackedBytesKept();
    EXPECT_EQ(context_->Config.BeepFrequency, stored[9]);  // the named field, read by value
}

TEST_F(Parameters, StoredValuesAreTakenAsTheyAreExceptForTheByteFields) {
    struct Case {
        const char16_t* name;
        ULONG stored;
        ULONG loaded;
    };
    const Case cases[] = {
        {u"Mode", 258, 2},
        {u"Mode", 0x1FF, 0xFF},
        {u"EnableAntishake", 0xFFFFFF00, 0},
        {u"VelocityWeight", 0x1FF, 0xFF},
        {u"VelocityRefCount", 0x100, 0},  // 0 loads as 0: no clamp
        {u"BeepFrequency", 70000, 70000},
        {u"MaxSpeed", 0xFFFFFFFF, 0xFFFFFFFF},
        {u"Smoothness", 0x80000000, 0x80000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.name) + " " + std::to_string(c.stored));
        store_.Clear();
        store_.PutDword(key_, c.name, c.stored);
        ReadDriverParameters(context_, driver_);
        for (const Field& field : kFields) {
            const bool isIt = std::u16string_view(field.name) == c.name;
            EXPECT_EQ(FieldOf(*context_, field), isIt ? c.loaded : field.defaultValue) << Narrow(field.name);
        }
    }
}

TEST_F(Parameters, AValueThatIsNotADwordGivesTheDefault) {
    store_.PutString(key_, u"Smoothness", u"3");
    store_.SetValue(key_, u"Mode", RegistryValue::FromExpandString(u"%MODE%"));
    store_.PutDword(key_, u"RightClickTime", 500);
    ReadDriverParameters(context_, driver_);
    EXPECT_EQ(context_->Config.Smoothness, 1u);
    EXPECT_EQ(context_->Config.Mode, 2u);
    EXPECT_EQ(context_->Config.RightClickTime, 500u);

    // The single query says why it fell back, and still hands out the default.
    struct Case {
        const char16_t* name;
        NTSTATUS status;
        ULONG value;
    };
    const Case cases[] = {
        {u"Smoothness", STATUS_OBJECT_TYPE_MISMATCH, 77},
        {u"Absent", STATUS_OBJECT_NAME_NOT_FOUND, 77},
        {u"rightclicktime", STATUS_SUCCESS, 500},
    };
    for (const Case& c : cases) {
        ULONG value = 0;
        EXPECT_EQ(QueryDriverParameter(driver_, c.name, &value, 77), c.status) << Narrow(c.name);
        EXPECT_EQ(value, c.value) << Narrow(c.name);
    }
    EXPECT_EQ(kmdf::OpenRegistryKeyCount(), 0u);
}

TEST_F(Parameters, KeysThatCannotBeOpenedLeaveEveryDefault) {
    store_.PutDword(key_, u"Mode", 0);  // would be read if the key opened
    kmdf::FailRegistryOpen(true);

    ULONG value = 0xDEADBEEF;
    EXPECT_EQ(QueryDriverParameter(driver_, u"Mode", &value, 2), STATUS_ACCESS_DENIED);
    EXPECT_EQ(value, 0xDEADBEEFu);  // not written
    EXPECT_EQ(AssignDriverParameter(driver_, u"Mode", 1), STATUS_ACCESS_DENIED);

    // The record then holds every default, not what the zero-filled context had.
    std::memset(context_, 0xCC, offsetof(DRIVER_CONTEXT, Click));
    MarkUnbackedBytes();
    ReadDriverParameters(context_, driver_);
    ExpectDefaults();
    ExpectUnbackedBytesKept();
    EXPECT_EQ(store_.GetDword(key_, u"Mode"), 0u);
    EXPECT_EQ(kmdf::OpenRegistryKeyCount(), 0u);
}

_NERIO_DRIVER_CONFIG DistinctConfig() {
    _NERIO_DRIVER_CONFIG config{};
    config.Mode = 0;
    config.EnableTouch = 0;
    config.EnableRightClick = 0;
    config.CalibrateType = 2;
    config.EnableDoubleClick = 0;
    config.HideCursor = 1;
    config.EnableBeep = 1;
    config.BeepType = 2;
    config.BeepMode = 3;
    config.BeepFrequency = 70000;
    config.BeepDuration = 120;
    config.Smoothness = 0;
    config.RightClickTime = 1500;
    config.RightClickArea = 9;
    config.DoubleClickTime = 450;
    config.DoubleClickArea = 6;
    config.Antijamming = 0xFF;
    config.EnableAntishake = 0;
    std::memset(config.Reserved, 0x77, sizeof config.Reserved);
    return config;
}

TEST_F(Parameters, WriteBackSetsAllEighteenValuesInOrderAndReadsBack) {
    const _NERIO_DRIVER_CONFIG config = DistinctConfig();
    store_.PutDword(key_, u"MaxSpeed", 1234);
    kmdf::TakeRegistryWrites();
    WriteDriverParameters(&config, driver_);

    const std::vector<kmdf::RegistryWrite> writes = kmdf::TakeRegistryWrites();
    const std::u16string order[] = {u"Mode",
                                    u"EnableRightClick",
                                    u"RightClickTime",
                                    u"RightClickArea",
                                    u"EnableDoubleClick",
                                    u"DoubleClickTime",
                                    u"DoubleClickArea",
                                    u"HideCursor",
                                    u"BeepType",
                                    u"BeepFrequency",
                                    u"BeepDuration",
                                    u"EnableBeep",
                                    u"BeepMode",
                                    u"EnableTouch",
                                    u"CalibrateType",
                                    u"Smoothness",
                                    u"Antijamming",
                                    u"EnableAntishake"};
    ASSERT_EQ(writes.size(), std::size(order));
    DRIVER_CONTEXT expected{};
    expected.Config = config;
    for (std::size_t i = 0; i < std::size(order); ++i) {
        SCOPED_TRACE(Narrow(order[i]));
        EXPECT_EQ(writes[i].ValueName, order[i]);
        EXPECT_EQ(writes[i].KeyPath, key_);
        EXPECT_EQ(writes[i].Status, STATUS_SUCCESS);
        for (const Field& field : kFields) {
            if (field.name != order[i]) continue;
            EXPECT_EQ(writes[i].Value, FieldOf(expected, field));  // byte fields zero-extended
        }
    }
    EXPECT_EQ(store_.GetDword(key_, u"Antijamming"), 0xFFu);
    EXPECT_EQ(store_.GetDword(key_, u"MaxSpeed"), 1234u);  // not part of a configuration set

    // Read back into a fresh record: the 39 backed bytes come back, nothing else moves.
    MarkUnbackedBytes();
    ReadDriverParameters(context_, driver_);
    EXPECT_EQ(std::memcmp(&context_->Config, &config, offsetof(_NERIO_DRIVER_CONFIG, Reserved)), 0);
    ExpectUnbackedBytesKept();
    EXPECT_EQ(context_->MaxSpeed, 1234u);

    // Unchanged values are rewritten too.
    WriteDriverParameters(&config, driver_);
    EXPECT_EQ(kmdf::TakeRegistryWrites().size(), 18u);
    EXPECT_EQ(kmdf::OpenRegistryKeyCount(), 0u);
}

TEST_F(Parameters, SpeedWriteBackAndFailedWrites) {
    WriteSpeedParameters(driver_, 20000, 7, 30);
    std::vector<kmdf::RegistryWrite> writes = kmdf::TakeRegistryWrites();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].ValueName, u"MaxSpeed");
    EXPECT_EQ(writes[1].ValueName, u"VelocityRefCount");
    EXPECT_EQ(writes[2].ValueName, u"VelocityWeight");
    EXPECT_EQ(store_.GetDword(key_, u"MaxSpeed"), 20000u);
    EXPECT_EQ(store_.GetDword(key_, u"VelocityRefCount"), 7u);
    EXPECT_EQ(store_.GetDword(key_, u"VelocityWeight"), 30u);

    // A failing write does not stop the ones after it.
    kmdf::FailRegistryWrite(true);
    const _NERIO_DRIVER_CONFIG config = DistinctConfig();
    WriteDriverParameters(&config, driver_);
    writes = kmdf::TakeRegistryWrites();
    ASSERT_EQ(writes.size(), 18u);
    for (const kmdf::RegistryWrite& write : writes) EXPECT_EQ(write.Status, STATUS_ACCESS_DENIED);
    EXPECT_EQ(store_.GetDword(key_, u"Mode"), std::nullopt);
    EXPECT_EQ(kmdf::OpenRegistryKeyCount(), 0u);
}

TEST_F(Parameters, ScreenSizeOverride) {
    const std::u16string qvn = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\QVN";
    struct Case {
        const char* what;
        bool keyExists;
        std::optional<RegistryValue> width, height;
        NTSTATUS status;
        USHORT expectedWidth, expectedHeight;  // 0xEEEE: outputs untouched
    };
    const auto dword = RegistryValue::FromDword;
    const Case cases[] = {
        {"both", true, dword(1000), dword(600), STATUS_SUCCESS, 1000, 600},
        {"low 16 bits", true, dword(0x103E8), dword(0xFFFF0258), STATUS_SUCCESS, 1000, 600},
        {"no key", false, {}, {}, STATUS_OBJECT_NAME_NOT_FOUND, 0xEEEE, 0xEEEE},
        {"empty key", true, {}, {}, STATUS_OBJECT_NAME_NOT_FOUND, 0xEEEE, 0xEEEE},
        {"height absent", true, dword(1000), {}, STATUS_OBJECT_NAME_NOT_FOUND, 0xEEEE, 0xEEEE},
        {"width absent", true, {}, dword(600), STATUS_OBJECT_NAME_NOT_FOUND, 0xEEEE, 0xEEEE},
        {"height text", true, dword(1000), RegistryValue::FromString(u"600"), STATUS_OBJECT_TYPE_MISMATCH, 0xEEEE,
         0xEEEE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        store_.Clear();
        if (c.keyExists) store_.CreateKey(qvn);
        if (c.width) store_.SetValue(qvn, u"Width", *c.width);
        if (c.height) store_.SetValue(qvn, u"Height", *c.height);
        USHORT width = 0xEEEE;
        USHORT height = 0xEEEE;
        EXPECT_EQ(QueryScreenSizeOverride(&width, &height), c.status);
        EXPECT_EQ(width, c.expectedWidth);
        EXPECT_EQ(height, c.expectedHeight);
        EXPECT_EQ(kmdf::OpenRegistryKeyCount(), 0u);
        EXPECT_EQ(store_.KeyExists(qvn), c.keyExists);  // only read, never created
    }
}

TEST_F(Parameters, ParametersSurviveAFileRoundTripAndABadFileIsReported) {
    const _NERIO_DRIVER_CONFIG config = DistinctConfig();
    WriteDriverParameters(&config, driver_);
    WriteSpeedParameters(driver_, 20000, 0, 100);
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "kav_parameters_test.reg";
    store_.SaveFile(file);

    RegistryStore reloaded;
    reloaded.LoadFile(file);
    std::filesystem::remove(file);
    kmdf::SetRegistryStore(&reloaded);
    MarkUnbackedBytes();
    ReadDriverParameters(context_, driver_);
    EXPECT_EQ(std::memcmp(&context_->Config, &config, offsetof(_NERIO_DRIVER_CONFIG, Reserved)), 0);
    EXPECT_EQ(context_->MaxSpeed, 20000u);
    EXPECT_EQ(context_->VelocityRefCount, 0u);
    EXPECT_EQ(context_->VelocityWeight, 100u);

    std::string text = "[";
    text.append(Narrow(key_)).append("]\nMode=dword:1\nEnableTouch=dword:zero\n");
    try {
        reloaded.FromText(text, "kavusb.reg");
        ADD_FAILURE() << "loaded";
    } catch (const sim::RegistryFileError& error) {
        EXPECT_EQ(error.File(), "kavusb.reg");
        EXPECT_EQ(error.Line(), 3u);
    }
    EXPECT_EQ(reloaded.GetDword(key_, u"Mode"), 0u);  // the store kept what it had
}

// The table as user mode uses it, on a bare configuration record without the speed values.
TEST(DriverParameterTable, FieldsOfABareRecordAndNothingBeyondIt) {
    _NERIO_DRIVER_CONFIG config{};
    std::memset(config.Reserved, 0x5A, sizeof config.Reserved);
    auto* bytes = reinterpret_cast<std::uint8_t*>(&config);
    for (const DriverParameter& parameter : kDriverParameters) {
        SCOPED_TRACE(Narrow(parameter.name));
        const bool inRecord = parameter.offset < sizeof config;
        EXPECT_EQ(SetParameterField(bytes, sizeof config, parameter, 0x01020304), inRecord);
        std::uint32_t value = 0xEEEEEEEE;
        EXPECT_EQ(GetParameterField(bytes, sizeof config, parameter, &value), inRecord);
        EXPECT_EQ(value, !inRecord ? 0xEEEEEEEE : parameter.width == 1 ? 0x04u : 0x01020304u);
    }
    EXPECT_EQ(config.BeepFrequency, 0x01020304u);  // little-endian in the named field
    EXPECT_EQ(config.EnableAntishake, 0x04u);
    for (std::uint8_t byte : config.Reserved) EXPECT_EQ(byte, 0x5A);
}

// ---- the record under concurrent readers ----

// Every byte of a generation's record carries the generation, so any mix shows.
_NERIO_DRIVER_CONFIG Generation(std::uint8_t g) {
    _NERIO_DRIVER_CONFIG config;
    std::memset(&config, g, sizeof config);
    return config;
}

bool Whole(const DRIVER_CONFIG_SNAPSHOT& snapshot) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&snapshot.Config);
    for (std::size_t i = 1; i < sizeof snapshot.Config; ++i)
        if (bytes[i] != bytes[0]) return false;
    const std::uint8_t speed = snapshot.VelocityRefCount;
    return snapshot.VelocityWeight == speed && snapshot.MaxSpeed == speed * 0x01010101u;
}

TEST_F(Parameters, ReplacementIsNeverSeenHalfDone) {
    ASSERT_EQ(LoadDriverParameters(driver_), STATUS_SUCCESS);
    ASSERT_EQ(ReplaceDriverConfig(driver_, Generation(0)), STATUS_SUCCESS);
    ASSERT_EQ(ReplaceSpeedParameters(driver_, 0, 0, 0), STATUS_SUCCESS);

    constexpr int kReaders = 3;
    constexpr int kGenerations = 2000;
    std::atomic<int> started{0};
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r) {
        readers.emplace_back([&] {
            // As packet processing does it: under the device's own lock.
            WDFSPINLOCK deviceLock = nullptr;
            EXPECT_EQ(WdfSpinLockCreate(WDF_NO_OBJECT_ATTRIBUTES, &deviceLock), STATUS_SUCCESS);
            started.fetch_add(1);
            for (int round = 0; !done.load() || round < 100; ++round) {
                WdfSpinLockAcquire(deviceLock);
                DRIVER_CONFIG_SNAPSHOT snapshot;
                SnapshotDriverConfig(driver_, &snapshot);
                EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
                WdfSpinLockRelease(deviceLock);
                if (!Whole(snapshot)) torn.fetch_add(1);
            }
            EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
        });
    }
    while (started.load() < kReaders) std::this_thread::yield();
    int failedReplacements = 0;
    for (int g = 1; g <= kGenerations; ++g) {
        const auto gen = static_cast<std::uint8_t>(g);
        failedReplacements += ReplaceDriverConfig(driver_, Generation(gen)) != STATUS_SUCCESS;
        failedReplacements += ReplaceSpeedParameters(driver_, gen * 0x01010101u, gen, gen) != STATUS_SUCCESS;
    }
    done = true;
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(failedReplacements, 0);
    EXPECT_EQ(torn.load(), 0);

    DRIVER_CONFIG_SNAPSHOT last;
    SnapshotDriverConfig(driver_, &last);
    EXPECT_EQ(last.Config.Mode, static_cast<std::uint8_t>(kGenerations));
    EXPECT_EQ(last.MaxSpeed, static_cast<std::uint8_t>(kGenerations) * 0x01010101u);
    EXPECT_EQ(std::memcmp(&last.Config, &context_->Config, sizeof last.Config), 0);
}

TEST_F(Parameters, WithoutTheLockNothingIsReplaced) {
    store_.PutDword(key_, u"Mode", 1);
    ReadDriverParameters(context_, driver_);
    EXPECT_EQ(ReplaceDriverConfig(driver_, Generation(9)), STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(ReplaceSpeedParameters(driver_, 1, 1, 1), STATUS_INVALID_DEVICE_STATE);
    DRIVER_CONFIG_SNAPSHOT snapshot;
    SnapshotDriverConfig(driver_, &snapshot);  // no writer can exist: a plain copy
    EXPECT_EQ(snapshot.Config.Mode, 1u);
    EXPECT_EQ(snapshot.MaxSpeed, DriverParameterOf(DriverParameterId::MaxSpeed).defaultValue);
    EXPECT_EQ(snapshot.VelocityWeight, DriverParameterOf(DriverParameterId::VelocityWeight).defaultValue);

    // The load creates it and reads the registry.
    EXPECT_EQ(LoadDriverParameters(driver_), STATUS_SUCCESS);
    EXPECT_EQ(ReplaceDriverConfig(driver_, Generation(9)), STATUS_SUCCESS);
    EXPECT_EQ(context_->Config.Mode, 9u);

    // A lock made for an earlier driver object does not count for a new one.
    kmdf::ResetFramework();
    WDFDRIVER second = CreateDriver();
    EXPECT_EQ(ReplaceDriverConfig(second, Generation(3)), STATUS_INVALID_DEVICE_STATE);
    SnapshotDriverConfig(second, &snapshot);
    EXPECT_EQ(snapshot.Config.Mode, 0u);
}

}  // namespace
}  // namespace kav::test
