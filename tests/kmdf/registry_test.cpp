// The framework's registry operations on the simulator's store.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

#include "kavusb/kmdf/usermode/kmdf_sim.h"
#include "kavusb/kmdf/usermode/registry_backend.h"
#include "simulator/registry/kmdf_registry.h"

namespace registry_test {

using kav::sim::RegistryStore;
using kav::sim::RegistryValue;

constexpr char16_t kServices[] = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services";

struct Name {
    explicit Name(const char16_t* text) { RtlInitUnicodeString(&string, text); }
    UNICODE_STRING string;
    PCUNICODE_STRING get() const { return &string; }
};

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        kmdf::ResetFramework();
        kmdf::SetRegistryStore(&store_);
    }
    void TearDown() override { kmdf::ResetFramework(); }

    WDFDRIVER CreateDriver(const char16_t* registryPath) {
        WDF_DRIVER_CONFIG config;
        WDF_DRIVER_CONFIG_INIT(&config, nullptr);
        UNICODE_STRING path;
        RtlInitUnicodeString(&path, registryPath);
        WDFDRIVER driver = nullptr;
        EXPECT_EQ(WdfDriverCreate(kmdf::CreateDriverObject(), registryPath != nullptr ? &path : nullptr,
                                  WDF_NO_OBJECT_ATTRIBUTES, &config, &driver),
                  STATUS_SUCCESS);
        return driver;
    }

    WDFKEY Open(const char16_t* path, ACCESS_MASK access = KEY_READ, NTSTATUS expected = STATUS_SUCCESS) {
        WDFKEY key = reinterpret_cast<WDFKEY>(1);
        EXPECT_EQ(WdfRegistryOpenKey(nullptr, Name(path).get(), access, WDF_NO_OBJECT_ATTRIBUTES, &key), expected);
        if (expected != STATUS_SUCCESS) {
            EXPECT_EQ(key, nullptr);
        }
        return key;
    }

    RegistryStore store_;
};

TEST_F(Registry, ParametersKeyFollowsTheDriversRegistryPathOrTheServiceName) {
    struct Case {
        const char16_t* registryPath;  // given to WdfDriverCreate
        const char16_t* service;       // SetDriverServiceName, nullptr: the default
        std::u16string expected;
    };
    const std::u16string services = kServices;
    const Case cases[] = {
        {nullptr, nullptr, services + u"\\KavUSB\\Parameters"},
        {nullptr, u"Other", services + u"\\Other\\Parameters"},
        {u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Given", u"Other",
         services + u"\\Given\\Parameters"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.expected.begin(), c.expected.end()));
        kmdf::ResetFramework();
        store_.Clear();
        kmdf::SetRegistryStore(&store_);
        if (c.service != nullptr) kmdf::SetDriverServiceName(c.service);
        WDFDRIVER driver = CreateDriver(c.registryPath);
        EXPECT_EQ(kmdf::DriverParametersKeyPath(), c.expected);

        // Created when missing, then opened: a value set through it lands there.
        WDFKEY key = nullptr;
        ASSERT_EQ(WdfDriverOpenParametersRegistryKey(driver, KEY_ALL_ACCESS, WDF_NO_OBJECT_ATTRIBUTES, &key),
                  STATUS_SUCCESS);
        EXPECT_TRUE(store_.KeyExists(c.expected));
        EXPECT_EQ(WdfRegistryAssignULong(key, Name(u"Mode").get(), 3), STATUS_SUCCESS);
        WdfRegistryClose(key);
        EXPECT_EQ(store_.GetDword(c.expected, u"MODE"), 3u);
        EXPECT_EQ(kmdf::OpenRegistryKeyCount(), 0u);
    }
}

TEST_F(Registry, QueryTellsAbsentWrongTypeAndDeletedKeyApart) {
    const std::u16string path = std::u16string(kServices) + u"\\QVN";
    store_.PutDword(path, u"Width", 1000);
    store_.PutString(path, u"Text", u"1000");
    store_.CreateKey(path);
    store_.SetValue(path, u"Expand", RegistryValue::FromExpandString(u"1"));

    // An absolute name with no parent opens from the root, whatever the case.
    WDFKEY key = Open(u"\\REGISTRY\\Machine\\system\\CurrentControlSet\\Services\\qvn");
    ASSERT_NE(key, nullptr);
    struct Case {
        const char16_t* value;
        NTSTATUS status;
        ULONG result;  // what the output holds afterwards (preset 0xDEADBEEF)
    };
    const Case cases[] = {
        {u"width", STATUS_SUCCESS, 1000},
        {u"Height", STATUS_OBJECT_NAME_NOT_FOUND, 0xDEADBEEF},
        {u"Text", STATUS_OBJECT_TYPE_MISMATCH, 0xDEADBEEF},
        {u"Expand", STATUS_OBJECT_TYPE_MISMATCH, 0xDEADBEEF},
    };
    for (const Case& c : cases) {
        ULONG value = 0xDEADBEEF;
        EXPECT_EQ(WdfRegistryQueryULong(key, Name(c.value).get(), &value), c.status);
        EXPECT_EQ(value, c.result);
    }
    EXPECT_EQ(WdfRegistryQueryULong(key, Name(u"Width").get(), nullptr), STATUS_INVALID_PARAMETER);
    UNICODE_STRING odd{3, 4, const_cast<PWSTR>(u"Wi")};
    ULONG value = 0;
    EXPECT_EQ(WdfRegistryQueryULong(key, &odd, &value), STATUS_INVALID_PARAMETER);

    store_.DeleteKey(path);
    EXPECT_EQ(WdfRegistryQueryULong(key, Name(u"Width").get(), &value), STATUS_KEY_DELETED);
    WdfRegistryClose(key);
    Open(path.c_str(), KEY_READ, STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(Registry, CreateReportsTheDispositionOneLevelAtATime) {
    store_.CreateKey(u"\\Registry\\Machine");
    WDFKEY machine = Open(u"\\Registry\\Machine", STANDARD_RIGHTS_ALL);
    ULONG disposition = 0;
    WDFKEY key = nullptr;
    ASSERT_EQ(WdfRegistryCreateKey(machine, Name(u"Sub").get(), KEY_READ | KEY_WRITE, REG_OPTION_NON_VOLATILE,
                                   &disposition, WDF_NO_OBJECT_ATTRIBUTES, &key),
              STATUS_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    WdfRegistryClose(key);
    ASSERT_EQ(WdfRegistryCreateKey(machine, Name(u"SUB").get(), KEY_READ, REG_OPTION_NON_VOLATILE, &disposition,
                                   WDF_NO_OBJECT_ATTRIBUTES, &key),
              STATUS_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    WdfRegistryClose(key);

    disposition = 0;
    EXPECT_EQ(WdfRegistryCreateKey(machine, Name(u"A\\B").get(), KEY_READ, REG_OPTION_NON_VOLATILE, &disposition,
                                   WDF_NO_OBJECT_ATTRIBUTES, &key),
              STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(disposition, 0u);
    EXPECT_FALSE(store_.KeyExists(u"\\Registry\\Machine\\A"));
    for (const char16_t* bad : {u"\\Absolute", u"a\\\\b", u"trailing\\"}) {
        EXPECT_EQ(WdfRegistryCreateKey(machine, Name(bad).get(), KEY_READ, REG_OPTION_NON_VOLATILE, nullptr,
                                       WDF_NO_OBJECT_ATTRIBUTES, &key),
                  STATUS_OBJECT_NAME_INVALID);
    }
    Open(u"Registry\\Machine", KEY_READ, STATUS_OBJECT_NAME_INVALID);  // relative without a parent
    WdfRegistryClose(machine);
    EXPECT_EQ(kmdf::OpenRegistryKeyCount(), 0u);
}

TEST_F(Registry, HandlesGrantOnlyTheAccessAskedFor) {
    const std::u16string path = u"\\Registry\\Machine\\K";
    store_.PutDword(path, u"V", 1);
    struct Case {
        ACCESS_MASK access;
        NTSTATUS query;
        NTSTATUS assign;
    };
    const Case cases[] = {
        {STANDARD_RIGHTS_ALL, STATUS_ACCESS_DENIED, STATUS_ACCESS_DENIED},
        {KEY_READ, STATUS_SUCCESS, STATUS_ACCESS_DENIED},
        {KEY_WRITE, STATUS_ACCESS_DENIED, STATUS_SUCCESS},
        {KEY_READ | KEY_WRITE, STATUS_SUCCESS, STATUS_SUCCESS},
        {0x80000000 | 0x40000000, STATUS_SUCCESS, STATUS_SUCCESS},  // GENERIC_READ | GENERIC_WRITE
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.access);
        WDFKEY key = Open(path.c_str(), c.access);
        ULONG value = 0;
        EXPECT_EQ(WdfRegistryQueryULong(key, Name(u"V").get(), &value), c.query);
        EXPECT_EQ(WdfRegistryAssignULong(key, Name(u"V").get(), 2), c.assign);
        WdfRegistryClose(key);
    }
}

TEST_F(Registry, TestSwitchesFailOpensAndWritesAndWritesAreLogged) {
    WDFDRIVER driver = CreateDriver(nullptr);
    store_.CreateKey(u"\\Registry\\Machine\\K");
    kmdf::FailRegistryOpen(true);
    WDFKEY key = reinterpret_cast<WDFKEY>(1);
    EXPECT_EQ(WdfDriverOpenParametersRegistryKey(driver, KEY_READ, WDF_NO_OBJECT_ATTRIBUTES, &key),
              STATUS_ACCESS_DENIED);
    EXPECT_EQ(key, nullptr);
    Open(u"\\Registry\\Machine\\K", KEY_READ, STATUS_ACCESS_DENIED);
    EXPECT_FALSE(store_.KeyExists(kmdf::DriverParametersKeyPath()));
    kmdf::FailRegistryOpen(false);

    key = Open(u"\\Registry\\Machine\\K", KEY_WRITE);
    EXPECT_EQ(WdfRegistryAssignULong(key, Name(u"A").get(), 1), STATUS_SUCCESS);
    kmdf::FailRegistryWrite(true);
    EXPECT_EQ(WdfRegistryAssignULong(key, Name(u"B").get(), 2), STATUS_ACCESS_DENIED);
    kmdf::FailRegistryWrite(false);
    EXPECT_EQ(store_.GetValue(u"\\Registry\\Machine\\K", u"B"), std::nullopt);
    const std::vector<kmdf::RegistryWrite> writes = kmdf::TakeRegistryWrites();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].KeyPath, u"\\Registry\\Machine\\K");
    EXPECT_EQ(writes[0].ValueName, u"A");
    EXPECT_EQ(writes[0].Value, 1u);
    EXPECT_EQ(writes[1].Status, STATUS_ACCESS_DENIED);
    EXPECT_TRUE(kmdf::TakeRegistryWrites().empty());

    // Keys are children of the driver and go with it.
    EXPECT_EQ(kmdf::OpenRegistryKeyCount(), 1u);
    kmdf::ResetFramework();
    EXPECT_EQ(kmdf::OpenRegistryKeyCount(), 0u);
    // The reset also returned to the built-in store, emptied.
    EXPECT_NE(&kmdf::CurrentRegistryStore(), &store_);
    EXPECT_FALSE(kmdf::CurrentRegistryStore().KeyExists(u"\\Registry"));
}

// The framework knows the registry only through the backend interface: a backend's
// answers and exceptions become the statuses the driver sees.
class ScriptedBackend final : public kmdf::RegistryBackend {
public:
    enum class Throw { Nothing, InvalidName, NoMemory };
    Lookup lookup = Lookup::Dword;
    Throw throws = Throw::Nothing;
    int resets = 0;

    bool IsValidKeyPath(std::u16string_view path) const override { return path.starts_with(u"\\"); }
    bool KeyExists(std::u16string_view) const override { return true; }
    std::optional<std::u16string> CanonicalPath(std::u16string_view path) const override {
        return std::u16string(path);
    }
    Created CreateKey(std::u16string_view, bool) override { return Created::Existing; }
    Lookup QueryDword(std::u16string_view, std::u16string_view, std::uint32_t* value) const override {
        if (throws == Throw::InvalidName) throw std::invalid_argument("name");
        if (throws == Throw::NoMemory) throw std::bad_alloc();
        if (lookup == Lookup::Dword) *value = 7;
        return lookup;
    }
    bool SetDword(std::u16string_view, std::u16string_view, std::uint32_t) override { return true; }
    void Reset() override { ++resets; }
};

TEST(RegistryBackendTest, AnswersAndExceptionsBecomeStatusesAndResetReachesTheBackend) {
    kmdf::ResetFramework();
    ScriptedBackend backend;
    kmdf::SetRegistryBackend(&backend);
    WDFKEY key = nullptr;
    ASSERT_EQ(WdfRegistryOpenKey(nullptr, Name(u"\\K").get(), KEY_READ, WDF_NO_OBJECT_ATTRIBUTES, &key),
              STATUS_SUCCESS);
    using Lookup = kmdf::RegistryBackend::Lookup;
    using Throw = ScriptedBackend::Throw;
    struct Case {
        Lookup lookup;
        Throw throws;
        NTSTATUS status;
        ULONG value;  // 99: not written
    };
    const Case cases[] = {
        {Lookup::Dword, Throw::Nothing, STATUS_SUCCESS, 7},
        {Lookup::OtherType, Throw::Nothing, STATUS_OBJECT_TYPE_MISMATCH, 99},
        {Lookup::NoValue, Throw::Nothing, STATUS_OBJECT_NAME_NOT_FOUND, 99},
        {Lookup::NoKey, Throw::Nothing, STATUS_KEY_DELETED, 99},
        {Lookup::Dword, Throw::InvalidName, STATUS_OBJECT_NAME_INVALID, 99},
        {Lookup::Dword, Throw::NoMemory, STATUS_INSUFFICIENT_RESOURCES, 99},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(&c - cases));
        backend.lookup = c.lookup;
        backend.throws = c.throws;
        ULONG value = 99;
        EXPECT_EQ(WdfRegistryQueryULong(key, Name(u"V").get(), &value), c.status);
        EXPECT_EQ(value, c.value);
    }
    kmdf::ResetFramework();
    EXPECT_EQ(backend.resets, 1);
    EXPECT_EQ(kmdf::CurrentRegistryBackend(), &backend);
    kmdf::SetRegistryStore(nullptr);  // the store attaches itself again
    EXPECT_NE(kmdf::CurrentRegistryBackend(), &backend);
}

TEST(RegistryMisuseDeathTest, RegistryAccessWithoutABackendStopsTheRun) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            kmdf::ResetFramework();
            kmdf::SetRegistryBackend(nullptr);
            WDFKEY key = nullptr;
            WdfRegistryOpenKey(nullptr, Name(u"\\Registry").get(), KEY_READ, WDF_NO_OBJECT_ATTRIBUTES, &key);
        },
        "no registry backend");
}

TEST(RegistryMisuseDeathTest, RegistryAccessUnderASpinLockStopsTheRun) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            kmdf::ResetFramework();
            WDFSPINLOCK lock = nullptr;
            WdfSpinLockCreate(WDF_NO_OBJECT_ATTRIBUTES, &lock);
            WdfSpinLockAcquire(lock);
            WDFKEY key = nullptr;
            UNICODE_STRING name;
            RtlInitUnicodeString(&name, u"\\Registry");
            WdfRegistryOpenKey(nullptr, &name, KEY_READ, WDF_NO_OBJECT_ATTRIBUTES, &key);
        },
        "above PASSIVE_LEVEL");
}

}  // namespace registry_test
