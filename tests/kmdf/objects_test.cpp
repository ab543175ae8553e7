// Objects, typed contexts, deletion order; the driver and device objects.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kavusb/kmdf/usermode/kmdf_sim.h"

namespace objects_test {

struct WIDGET_CONTEXT {
    std::uint8_t Bytes[40];
};
WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(WIDGET_CONTEXT, GetWidget)

struct GADGET_CONTEXT {
    std::uint32_t Value;
};
WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(GADGET_CONTEXT, GetGadget)

struct BIG_DRIVER_CONTEXT {
    std::uint8_t Bytes[300];
};
WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(BIG_DRIVER_CONTEXT, GetBigDriverContext)

struct FAT_DEVICE_CONTEXT {
    std::uint8_t Bytes[20000];
};
WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(FAT_DEVICE_CONTEXT, GetFatDevice)

class Objects : public ::testing::Test {
protected:
    void SetUp() override { kmdf::ResetFramework(); }
    void TearDown() override { kmdf::ResetFramework(); }

    static WDFDRIVER MakeDriver() {
        WDF_DRIVER_CONFIG config;
        WDF_DRIVER_CONFIG_INIT(&config, nullptr);
        WDFDRIVER driver = nullptr;
        EXPECT_EQ(WdfDriverCreate(kmdf::CreateDriverObject(), nullptr, WDF_NO_OBJECT_ATTRIBUTES, &config, &driver),
                  STATUS_SUCCESS);
        return driver;
    }

    static WDFDEVICE MakeDevice(WDFDRIVER driver, PWDF_OBJECT_ATTRIBUTES attributes = WDF_NO_OBJECT_ATTRIBUTES) {
        PWDFDEVICE_INIT init = kmdf::AllocateDeviceInit(driver);
        WDFDEVICE device = nullptr;
        EXPECT_EQ(WdfDeviceCreate(&init, attributes, &device), STATUS_SUCCESS);
        return device;
    }

    static WDFMEMORY MakeMemory(PWDF_OBJECT_ATTRIBUTES attributes, size_t size = 8) {
        WDFMEMORY memory = nullptr;
        EXPECT_EQ(WdfMemoryCreate(attributes, NonPagedPool, 0, size, &memory, nullptr), STATUS_SUCCESS);
        return memory;
    }
};

TEST_F(Objects, TypedContextIsZeroFilledAlignedAndTypeChecked) {
    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&attributes, WIDGET_CONTEXT);

    // Dirty a context and free it, so that a reused allocation would show.
    WDFMEMORY first = MakeMemory(&attributes);
    std::memset(GetWidget(first), 0xA5, sizeof(WIDGET_CONTEXT));
    WdfObjectDelete(first);

    WDFMEMORY memory = MakeMemory(&attributes);
    WIDGET_CONTEXT* context = GetWidget(memory);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(context) % 16, 0u);
    for (std::uint8_t byte : context->Bytes) ASSERT_EQ(byte, 0);

    const WDF_OBJECT_CONTEXT_TYPE_INFO sameNameCopy = {sizeof(WDF_OBJECT_CONTEXT_TYPE_INFO), "WIDGET_CONTEXT",
                                                       sizeof(WIDGET_CONTEXT)};
    const WDF_OBJECT_CONTEXT_TYPE_INFO sameNameLarger = {sizeof(WDF_OBJECT_CONTEXT_TYPE_INFO), "WIDGET_CONTEXT",
                                                         sizeof(WIDGET_CONTEXT) + 1};
    const WDF_OBJECT_CONTEXT_TYPE_INFO unnamed = {sizeof(WDF_OBJECT_CONTEXT_TYPE_INFO), nullptr,
                                                  sizeof(WIDGET_CONTEXT)};
    struct Case {
        const char* name;
        const WDF_OBJECT_CONTEXT_TYPE_INFO* type;
        bool found;
    };
    const Case cases[] = {
        {"its own type info", &WDF_WIDGET_CONTEXT_TYPE_INFO, true},
        {"a copy with the same name", &sameNameCopy, true},
        {"another type", &WDF_GADGET_CONTEXT_TYPE_INFO, false},
        {"same name, larger than the context", &sameNameLarger, false},
        {"no name", &unnamed, false},
        {"no type", nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(WdfObjectGetTypedContextWorker(memory, c.type), c.found ? static_cast<PVOID>(context) : nullptr);
    }

    WDFMEMORY plain = MakeMemory(WDF_NO_OBJECT_ATTRIBUTES);
    EXPECT_EQ(GetWidget(plain), nullptr);
}

TEST_F(Objects, ContextSizeOverrideGivesTheLargerContext) {
    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&attributes, GADGET_CONTEXT);
    attributes.ContextSizeOverride = 100;
    auto* bytes = reinterpret_cast<std::uint8_t*>(GetGadget(MakeMemory(&attributes)));
    ASSERT_NE(bytes, nullptr);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(bytes[i], 0);
    std::memset(bytes, 0x5A, 100);  // the sanitizer build catches a short allocation

    // An override smaller than the type never shrinks the context below it.
    attributes.ContextSizeOverride = 1;
    auto* small = reinterpret_cast<std::uint8_t*>(GetGadget(MakeMemory(&attributes)));
    ASSERT_NE(small, nullptr);
    std::memset(small, 0x5A, sizeof(GADGET_CONTEXT));
}

TEST_F(Objects, CreateRejectsAttributesThatWereNeverInitialised) {
    WDF_OBJECT_ATTRIBUTES garbage;
    std::memset(&garbage, 0, sizeof garbage);  // Size 0: WDF_OBJECT_ATTRIBUTES_INIT was skipped
    WDFMEMORY memory = reinterpret_cast<WDFMEMORY>(1);
    PVOID buffer = reinterpret_cast<PVOID>(1);
    EXPECT_EQ(WdfMemoryCreate(&garbage, NonPagedPool, 0, 8, &memory, &buffer), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(memory, nullptr);
    EXPECT_EQ(buffer, nullptr);
    WDFSPINLOCK lock = reinterpret_cast<WDFSPINLOCK>(1);
    EXPECT_EQ(WdfSpinLockCreate(&garbage, &lock), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(lock, nullptr);
}

std::vector<std::string> g_events;
std::uint32_t g_valueSeenInCleanup = 0;

void RecordCleanup(WDFOBJECT object) {
    // The context must still be there, and the framework must not hold its lock here.
    if (GADGET_CONTEXT* gadget = GetGadget(object)) {
        g_valueSeenInCleanup = gadget->Value;
        g_events.push_back("cleanup " + std::to_string(gadget->Value));
    } else {
        g_events.push_back("cleanup ?");
    }
}

void RecordDestroy(WDFOBJECT object) {
    GADGET_CONTEXT* gadget = GetGadget(object);
    g_events.push_back("destroy " + (gadget != nullptr ? std::to_string(gadget->Value) : std::string("?")));
}

TEST_F(Objects, DeletionRunsCleanupThenDestroyChildrenFirst) {
    g_events.clear();
    WDFDEVICE device = MakeDevice(MakeDriver());

    auto make = [](WDFOBJECT parent, std::uint32_t tag) {
        WDF_OBJECT_ATTRIBUTES attributes;
        WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
        WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&attributes, GADGET_CONTEXT);
        attributes.ParentObject = parent;
        attributes.EvtCleanupCallback = RecordCleanup;
        attributes.EvtDestroyCallback = RecordDestroy;
        WDFMEMORY memory = MakeMemory(&attributes);
        GetGadget(memory)->Value = tag;
        return memory;
    };
    WDFMEMORY one = make(device, 1);
    make(one, 2);
    WDFMEMORY three = make(device, 3);
    make(three, 4);

    // Deleting one subtree leaves its siblings alone.
    WdfObjectDelete(three);
    EXPECT_EQ(g_events, (std::vector<std::string>{"cleanup 4", "cleanup 3", "destroy 4", "destroy 3"}));

    g_events.clear();
    kmdf::DeleteDevice(device);
    EXPECT_EQ(g_events, (std::vector<std::string>{"cleanup 2", "cleanup 1", "destroy 2", "destroy 1"}));
}

TEST_F(Objects, ResetFreesWithoutCallingTheDriver) {
    g_events.clear();
    WDFDEVICE device = MakeDevice(MakeDriver());
    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = device;
    attributes.EvtCleanupCallback = RecordCleanup;
    MakeMemory(&attributes, 1000);
    PWDFDEVICE_INIT unused = kmdf::AllocateDeviceInit(WdfGetDriver());
    ASSERT_NE(unused, nullptr);

    kmdf::ResetFramework();
    EXPECT_TRUE(g_events.empty());
    EXPECT_EQ(WdfGetDriver(), nullptr);
}

struct Recorded {
    WDFDRIVER driver = nullptr;
};
Recorded g_deviceAdd;
NTSTATUS EvtDeviceAdd(WDFDRIVER driver, PWDFDEVICE_INIT) {
    g_deviceAdd.driver = driver;
    return STATUS_SUCCESS;
}

TEST_F(Objects, DriverCreateGivesOneDriverWithAZeroFilledContext) {
    PDRIVER_OBJECT driverObject = kmdf::CreateDriverObject();
    ASSERT_NE(driverObject, nullptr);
    UNICODE_STRING path;
    RtlInitUnicodeString(&path, u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\KavUSB");

    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&attributes, BIG_DRIVER_CONTEXT);
    WDF_DRIVER_CONFIG config;
    WDF_DRIVER_CONFIG_INIT(&config, EvtDeviceAdd);
    WDFDRIVER driver = nullptr;
    ASSERT_EQ(WdfDriverCreate(driverObject, &path, &attributes, &config, &driver), STATUS_SUCCESS);

    EXPECT_EQ(WdfGetDriver(), driver);
    EXPECT_EQ(WdfDriverWdmGetDriverObject(driver), driverObject);
    BIG_DRIVER_CONTEXT* context = GetBigDriverContext(driver);
    ASSERT_NE(context, nullptr);
    for (std::uint8_t byte : context->Bytes) ASSERT_EQ(byte, 0);

    // What a PnP manager needs to add a device.
    g_deviceAdd = {};
    ASSERT_EQ(kmdf::DriverConfigOf(driver).EvtDriverDeviceAdd, &EvtDeviceAdd);
    EXPECT_EQ(kmdf::DriverConfigOf(driver).EvtDriverDeviceAdd(driver, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(g_deviceAdd.driver, driver);

    WDFDRIVER second = reinterpret_cast<WDFDRIVER>(1);
    EXPECT_FALSE(NT_SUCCESS(WdfDriverCreate(kmdf::CreateDriverObject(), &path, nullptr, &config, &second)));
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(WdfGetDriver(), driver);

    kmdf::ResetFramework();
    EXPECT_EQ(WdfGetDriver(), nullptr);
    EXPECT_EQ(WdfDriverCreate(kmdf::CreateDriverObject(), &path, nullptr, &config, &driver), STATUS_SUCCESS);
}

NTSTATUS EvtD0Entry(WDFDEVICE, WDF_POWER_DEVICE_STATE) {
    return STATUS_SUCCESS;
}

TEST_F(Objects, DeviceCreateTakesTheInitRecordAndKeepsWhatWasAskedOfIt) {
    WDFDRIVER driver = MakeDriver();
    PWDFDEVICE_INIT init = kmdf::AllocateDeviceInit(driver);
    ASSERT_NE(init, nullptr);
    WdfFdoInitSetFilter(init);
    WdfDeviceInitSetPowerPolicyOwnership(init, 0);
    WDF_PNPPOWER_EVENT_CALLBACKS callbacks;
    WDF_PNPPOWER_EVENT_CALLBACKS_INIT(&callbacks);
    callbacks.EvtDeviceD0Entry = EvtD0Entry;
    WdfDeviceInitSetPnpPowerEventCallbacks(init, &callbacks);

    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&attributes, FAT_DEVICE_CONTEXT);
    WDFDEVICE device = nullptr;
    ASSERT_EQ(WdfDeviceCreate(&init, &attributes, &device), STATUS_SUCCESS);
    EXPECT_EQ(init, nullptr);

    const kmdf::DeviceInitInfo& info = kmdf::DeviceInitOf(device);
    EXPECT_TRUE(info.IsFilter);
    EXPECT_FALSE(info.PowerPolicyOwner);
    EXPECT_EQ(info.PnpPower.EvtDeviceD0Entry, &EvtD0Entry);
    EXPECT_EQ(info.PnpPower.Size, sizeof(WDF_PNPPOWER_EVENT_CALLBACKS));

    FAT_DEVICE_CONTEXT* context = GetFatDevice(device);
    ASSERT_NE(context, nullptr);
    for (std::uint8_t byte : context->Bytes) ASSERT_EQ(byte, 0);
    EXPECT_EQ(WdfDeviceGetDriver(device), driver);
    PDEVICE_OBJECT wdm = WdfDeviceWdmGetDeviceObject(device);
    EXPECT_NE(wdm, nullptr);
    EXPECT_EQ(WdfDeviceWdmGetDeviceObject(device), wdm);

    // Defaults: a function driver that owns power policy.
    const kmdf::DeviceInitInfo& plain = kmdf::DeviceInitOf(MakeDevice(driver));
    EXPECT_FALSE(plain.IsFilter);
    EXPECT_TRUE(plain.PowerPolicyOwner);
}

TEST_F(Objects, FailedDeviceCreateLeavesTheInitRecordToTheCaller) {
    WDFDRIVER driver = MakeDriver();
    PWDFDEVICE_INIT init = kmdf::AllocateDeviceInit(driver);
    WdfFdoInitSetFilter(init);
    WDF_OBJECT_ATTRIBUTES broken;
    WDF_OBJECT_ATTRIBUTES_INIT(&broken);
    broken.Size = 0;
    WDFDEVICE device = reinterpret_cast<WDFDEVICE>(1);
    EXPECT_FALSE(NT_SUCCESS(WdfDeviceCreate(&init, &broken, &device)));
    ASSERT_NE(init, nullptr);
    EXPECT_EQ(device, nullptr);

    // Still usable: what was set on it survives into the device.
    ASSERT_EQ(WdfDeviceCreate(&init, WDF_NO_OBJECT_ATTRIBUTES, &device), STATUS_SUCCESS);
    EXPECT_EQ(init, nullptr);
    EXPECT_TRUE(kmdf::DeviceInitOf(device).IsFilter);

    PWDFDEVICE_INIT dropped = kmdf::AllocateDeviceInit(driver);
    kmdf::FreeDeviceInit(dropped);
}

TEST_F(Objects, PnpCapabilitiesKeepWhatIsLeftAtTheDefault) {
    WDFDEVICE device = MakeDevice(MakeDriver());
    WDF_DEVICE_PNP_CAPABILITIES caps;
    WDF_DEVICE_PNP_CAPABILITIES_INIT(&caps);
    caps.SurpriseRemovalOK = WdfTrue;
    caps.UINumber = 3;
    WdfDeviceSetPnpCapabilities(device, &caps);
    WDF_DEVICE_PNP_CAPABILITIES_INIT(&caps);
    caps.Removable = WdfFalse;
    WdfDeviceSetPnpCapabilities(device, &caps);

    const WDF_DEVICE_PNP_CAPABILITIES& now = kmdf::PnpCapabilitiesOf(device);
    EXPECT_EQ(now.SurpriseRemovalOK, WdfTrue);
    EXPECT_EQ(now.Removable, WdfFalse);
    EXPECT_EQ(now.LockSupported, WdfUseDefault);
    EXPECT_EQ(now.UINumber, 3u);
    EXPECT_EQ(now.Address, static_cast<ULONG>(-1));
}

TEST_F(Objects, MemoryIsZeroFilledAndCopiesOnlyWithinItself) {
    WDFMEMORY memory = nullptr;
    PVOID buffer = nullptr;
    ASSERT_EQ(WdfMemoryCreate(WDF_NO_OBJECT_ATTRIBUTES, NonPagedPool, 0, 16, &memory, &buffer), STATUS_SUCCESS);
    size_t size = 0;
    ASSERT_EQ(WdfMemoryGetBuffer(memory, &size), buffer);
    ASSERT_EQ(size, 16u);
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    for (size_t i = 0; i < size; ++i) ASSERT_EQ(bytes[i], 0);

    std::uint8_t source[32];
    for (int i = 0; i < 32; ++i) source[i] = static_cast<std::uint8_t>(0x80 + i);
    struct Case {
        size_t offset;
        size_t count;
        NTSTATUS status;
    };
    const Case cases[] = {
        {0, 16, STATUS_SUCCESS},
        {10, 6, STATUS_SUCCESS},
        {16, 0, STATUS_SUCCESS},
        {10, 7, STATUS_BUFFER_TOO_SMALL},
        {0, 17, STATUS_BUFFER_TOO_SMALL},
        {17, 0, STATUS_BUFFER_TOO_SMALL},
        {SIZE_MAX, 2, STATUS_BUFFER_TOO_SMALL},  // offset + count wraps around
        {1, SIZE_MAX, STATUS_BUFFER_TOO_SMALL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "offset " << c.offset << " count " << c.count);
        std::memset(bytes, 0, 16);
        EXPECT_EQ(WdfMemoryCopyFromBuffer(memory, c.offset, source, c.count), c.status);
        for (size_t i = 0; i < 16; ++i) {
            const bool copied = c.status == STATUS_SUCCESS && i >= c.offset && i < c.offset + c.count;
            ASSERT_EQ(bytes[i], copied ? source[i - c.offset] : 0) << "byte " << i;
        }
    }
    WDFMEMORY none = reinterpret_cast<WDFMEMORY>(1);
    EXPECT_EQ(WdfMemoryCreate(WDF_NO_OBJECT_ATTRIBUTES, NonPagedPool, 0, 0, &none, nullptr), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(none, nullptr);
}

}  // namespace objects_test
