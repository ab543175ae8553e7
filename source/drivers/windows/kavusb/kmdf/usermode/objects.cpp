// Objects, contexts and deletion; the driver, device, memory and spin-lock objects.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "framework.h"

namespace kmdf::detail {

const char* KindName(Kind kind) {
    switch (kind) {
        case Kind::Driver:
            return "WDFDRIVER";
        case Kind::Device:
            return "WDFDEVICE";
        case Kind::Queue:
            return "WDFQUEUE";
        case Kind::Request:
            return "WDFREQUEST";
        case Kind::Memory:
            return "WDFMEMORY";
        case Kind::SpinLock:
            return "WDFSPINLOCK";
        case Kind::Key:
            return "WDFKEY";
        case Kind::UsbDevice:
            return "WDFUSBDEVICE";
        case Kind::UsbInterface:
            return "WDFUSBINTERFACE";
        case Kind::UsbPipe:
            return "WDFUSBPIPE";
        case Kind::IoTarget:
            return "WDFIOTARGET";
    }
    return "object";
}

void Fatal(const char* function, const char* message) {
    std::fprintf(stderr, "kmdf: %s: %s\n", function, message);
    std::fflush(stderr);
    std::abort();
}

Object::~Object() {
    if (context != nullptr) ::operator delete (context, std::align_val_t{16});
}

State& Framework() {
    static State state;
    return state;
}

Object* FindObject(const void* handle) {
    auto& objects = Framework().objects;
    auto it = objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == objects.end() ? nullptr : it->second.get();
}

Object* LookupAny(const void* handle, const char* function) {
    if (handle == nullptr) Fatal(function, "null handle");
    Object* object = FindObject(handle);
    if (object == nullptr) Fatal(function, "handle of an object that does not exist (deleted, or never created)");
    return object;
}

Object* Lookup(const void* handle, Kind kind, const char* function) {
    Object* object = LookupAny(handle, function);
    if (object->kind != kind) {
        char message[96];
        std::snprintf(message, sizeof message, "a %s handle where a %s is expected", KindName(object->kind),
                      KindName(kind));
        Fatal(function, message);
    }
    return object;
}

NTSTATUS Register(std::unique_ptr<Object> object, PWDF_OBJECT_ATTRIBUTES attributes, Object* defaultParent,
                  const char* function, Object** registered) {
    State& state = Framework();
    Object* parent = defaultParent;
    if (attributes != nullptr) {
        // An attributes record that missed WDF_OBJECT_ATTRIBUTES_INIT holds garbage.
        if (attributes->Size != sizeof(WDF_OBJECT_ATTRIBUTES)) return STATUS_INVALID_PARAMETER;
        if (attributes->ParentObject != nullptr) parent = LookupAny(attributes->ParentObject, function);
        if (const WDF_OBJECT_CONTEXT_TYPE_INFO* type = attributes->ContextTypeInfo; type != nullptr) {
            size_t size = type->ContextSize;
            if (attributes->ContextSizeOverride > size) size = attributes->ContextSizeOverride;
            if (size > SIZE_MAX - 32) return STATUS_INSUFFICIENT_RESOURCES;
            const size_t allocated = ((size == 0 ? 1 : size) + 15) & ~size_t{15};
            try {
                object->context = ::operator new (allocated, std::align_val_t{16});
            } catch (const std::bad_alloc&) {
                return STATUS_INSUFFICIENT_RESOURCES;
            }
            std::memset(object->context, 0, allocated);
            object->contextType = type;
            object->contextSize = size;
        }
        object->cleanup = attributes->EvtCleanupCallback;
        object->destroy = attributes->EvtDestroyCallback;
    }
    if (parent != nullptr && parent->deleting) return STATUS_INVALID_DEVICE_STATE;

    object->handle = ++state.lastSerial << 4;
    object->parent = parent;
    Object* raw = object.get();
    state.objects.emplace(raw->handle, std::move(object));
    if (parent != nullptr) parent->children.push_back(raw);
    if (registered != nullptr) *registered = raw;
    return STATUS_SUCCESS;
}

namespace {

void CollectChildrenFirst(Object* object, std::vector<Object*>& order) {
    object->deleting = true;
    for (Object* child : object->children) CollectChildrenFirst(child, order);
    order.push_back(object);
}

}  // namespace

void DeleteObjectTree(const void* handle, const char* function) {
    State& state = Framework();
    std::vector<Object*> order;
    std::vector<WDFREQUEST> cancelled;
    {
        std::lock_guard lock(state.mutex);
        Object* root = LookupAny(handle, function);
        if (root->deleting) return;  // someone is deleting it already
        CollectChildrenFirst(root, order);
        if (root->parent != nullptr) std::erase(root->parent->children, root);
        for (Object* object : order) {
            if (object->kind == Kind::Queue) {
                auto* queue = static_cast<Queue*>(object);
                for (Request* request : queue->waiting) {
                    request->waiting = false;
                    cancelled.push_back(HandleOf<WDFREQUEST>(request));
                }
                queue->waiting.clear();
            } else if (object->kind == Kind::SpinLock) {
                if (static_cast<SpinLock*>(object)->owner.load() != std::thread::id{})
                    Fatal(function, "deleting a spin lock that is held");
            }
        }
    }

    // As on removal: the queues are purged first, then the driver cleans up.
    for (WDFREQUEST request : cancelled) CompleteRequest(request, STATUS_CANCELLED, nullptr, function);
    for (Object* object : order) {
        if (object->cleanup != nullptr) object->cleanup(reinterpret_cast<WDFOBJECT>(object->handle));
    }
    for (Object* object : order) {
        if (object->destroy != nullptr) object->destroy(reinterpret_cast<WDFOBJECT>(object->handle));
    }

    std::vector<std::uintptr_t> redispatch;
    std::vector<std::unique_ptr<Object>> freed;
    {
        std::lock_guard lock(state.mutex);
        for (Object* object : order) UnlinkObject(object, redispatch);
        for (Object* object : order) {
            auto it = state.objects.find(object->handle);
            freed.push_back(std::move(it->second));
            state.objects.erase(it);
        }
    }
    freed.clear();
    for (std::uintptr_t queue : redispatch) DispatchSequential(queue);
}

}  // namespace kmdf::detail

using namespace kmdf::detail;

// ---- objects ----

void WDF_OBJECT_ATTRIBUTES_INIT(PWDF_OBJECT_ATTRIBUTES attributes) {
    std::memset(attributes, 0, sizeof *attributes);
    attributes->Size = sizeof *attributes;
    attributes->ExecutionLevel = WdfExecutionLevelInheritFromParent;
    attributes->SynchronizationScope = WdfSynchronizationScopeInheritFromParent;
}

PVOID WdfObjectGetTypedContextWorker(WDFOBJECT handle, const WDF_OBJECT_CONTEXT_TYPE_INFO* typeInfo) {
    std::lock_guard lock(Framework().mutex);
    Object* object = LookupAny(handle, "WdfObjectGetTypedContextWorker");
    if (typeInfo == nullptr || object->context == nullptr) return nullptr;
    if (object->contextType == typeInfo) return object->context;
    // The same type seen through another copy of its type info. A same-named but
    // larger type is a different type: handing it out would overrun the context.
    const char* have = object->contextType->ContextName;
    const char* want = typeInfo->ContextName;
    if (have != nullptr && want != nullptr && std::strcmp(have, want) == 0 &&
        typeInfo->ContextSize <= object->contextSize)
        return object->context;
    return nullptr;
}

void WdfObjectDelete(WDFOBJECT object) {
    {
        std::lock_guard lock(Framework().mutex);
        Object* target = LookupAny(object, "WdfObjectDelete");
        if (target->kind == Kind::Driver) Fatal("WdfObjectDelete", "the driver object belongs to the framework");
        if (target->kind == Kind::Request && static_cast<Request*>(target)->testOwned)
            Fatal("WdfObjectDelete", "a request the driver received is completed, not deleted");
    }
    DeleteObjectTree(object, "WdfObjectDelete");
}

// ---- driver ----

void WDF_DRIVER_CONFIG_INIT(PWDF_DRIVER_CONFIG config, PFN_WDF_DRIVER_DEVICE_ADD evtDriverDeviceAdd) {
    std::memset(config, 0, sizeof *config);
    config->Size = sizeof *config;
    config->EvtDriverDeviceAdd = evtDriverDeviceAdd;
}

NTSTATUS WdfDriverCreate(PDRIVER_OBJECT driverObject, PCUNICODE_STRING registryPath,
                         PWDF_OBJECT_ATTRIBUTES driverAttributes, PWDF_DRIVER_CONFIG driverConfig, WDFDRIVER* driver) {
    if (driver != nullptr) *driver = nullptr;
    if (driverObject == nullptr || driverConfig == nullptr || driverConfig->Size != sizeof(WDF_DRIVER_CONFIG))
        return STATUS_INVALID_PARAMETER;
    State& state = Framework();
    std::lock_guard lock(state.mutex);
    if (state.driver != nullptr) return STATUS_INVALID_DEVICE_STATE;
    bool known = false;
    for (const auto& owned : state.driverObjects) known = known || owned.get() == driverObject;
    if (!known) Fatal("WdfDriverCreate", "not a DRIVER_OBJECT from kmdf::CreateDriverObject");
    if (driverObject->Driver != nullptr) return STATUS_INVALID_DEVICE_STATE;

    auto object = std::make_unique<Driver>();
    object->wdm = driverObject;
    object->config = *driverConfig;
    if (registryPath != nullptr && registryPath->Buffer != nullptr)
        object->registryPath.assign(registryPath->Buffer, registryPath->Length / sizeof(WCHAR));
    Object* registered = nullptr;
    const NTSTATUS status = Register(std::move(object), driverAttributes, nullptr, "WdfDriverCreate", &registered);
    if (!NT_SUCCESS(status)) return status;
    state.driver = static_cast<Driver*>(registered);
    driverObject->Driver = HandleOf<WDFDRIVER>(registered);
    if (driver != nullptr) *driver = driverObject->Driver;
    return STATUS_SUCCESS;
}

PDRIVER_OBJECT WdfDriverWdmGetDriverObject(WDFDRIVER driver) {
    std::lock_guard lock(Framework().mutex);
    return LookupAs<Driver>(driver, Kind::Driver, "WdfDriverWdmGetDriverObject")->wdm;
}

WDFDRIVER WdfGetDriver() {
    std::lock_guard lock(Framework().mutex);
    return HandleOf<WDFDRIVER>(Framework().driver);
}

// ---- device ----

void WDF_PNPPOWER_EVENT_CALLBACKS_INIT(PWDF_PNPPOWER_EVENT_CALLBACKS callbacks) {
    std::memset(callbacks, 0, sizeof *callbacks);
    callbacks->Size = sizeof *callbacks;
}

void WDF_DEVICE_PNP_CAPABILITIES_INIT(PWDF_DEVICE_PNP_CAPABILITIES caps) {
    std::memset(caps, 0, sizeof *caps);
    caps->Size = sizeof *caps;
    caps->LockSupported = WdfUseDefault;
    caps->EjectSupported = WdfUseDefault;
    caps->Removable = WdfUseDefault;
    caps->DockDevice = WdfUseDefault;
    caps->UniqueID = WdfUseDefault;
    caps->SilentInstall = WdfUseDefault;
    caps->SurpriseRemovalOK = WdfUseDefault;
    caps->HardwareDisabled = WdfUseDefault;
    caps->NoDisplayInUI = WdfUseDefault;
    caps->Address = static_cast<ULONG>(-1);
    caps->UINumber = static_cast<ULONG>(-1);
}

namespace {

WDFDEVICE_INIT* LookupInit(PWDFDEVICE_INIT deviceInit, const char* function) {
    auto& inits = Framework().deviceInits;
    if (deviceInit == nullptr || inits.find(deviceInit) == inits.end())
        Fatal(function, "not a live WDFDEVICE_INIT (already used by WdfDeviceCreate, or freed)");
    return deviceInit;
}

}  // namespace

void WdfFdoInitSetFilter(PWDFDEVICE_INIT deviceInit) {
    std::lock_guard lock(Framework().mutex);
    LookupInit(deviceInit, "WdfFdoInitSetFilter")->Info.IsFilter = true;
}

void WdfDeviceInitSetPowerPolicyOwnership(PWDFDEVICE_INIT deviceInit, BOOLEAN isPowerPolicyOwner) {
    std::lock_guard lock(Framework().mutex);
    LookupInit(deviceInit, "WdfDeviceInitSetPowerPolicyOwnership")->Info.PowerPolicyOwner = isPowerPolicyOwner != 0;
}

void WdfDeviceInitSetPnpPowerEventCallbacks(PWDFDEVICE_INIT deviceInit,
                                            PWDF_PNPPOWER_EVENT_CALLBACKS pnpPowerEventCallbacks) {
    std::lock_guard lock(Framework().mutex);
    WDFDEVICE_INIT* init = LookupInit(deviceInit, "WdfDeviceInitSetPnpPowerEventCallbacks");
    if (pnpPowerEventCallbacks == nullptr) Fatal("WdfDeviceInitSetPnpPowerEventCallbacks", "null callbacks");
    init->Info.PnpPower = *pnpPowerEventCallbacks;
}

NTSTATUS WdfDeviceCreate(PWDFDEVICE_INIT* deviceInit, PWDF_OBJECT_ATTRIBUTES deviceAttributes, WDFDEVICE* device) {
    if (device != nullptr) *device = nullptr;
    if (deviceInit == nullptr || *deviceInit == nullptr || device == nullptr) return STATUS_INVALID_PARAMETER;
    // A device's parent is always its driver.
    if (deviceAttributes != nullptr && deviceAttributes->ParentObject != nullptr) return STATUS_INVALID_PARAMETER;
    State& state = Framework();
    std::lock_guard lock(state.mutex);
    WDFDEVICE_INIT* init = LookupInit(*deviceInit, "WdfDeviceCreate");
    auto* driver = LookupAs<Driver>(init->Driver, Kind::Driver, "WdfDeviceCreate");

    auto object = std::make_unique<Device>();
    object->driver = init->Driver;
    object->init = init->Info;
    WDF_DEVICE_PNP_CAPABILITIES_INIT(&object->caps);
    Device* created = object.get();
    const NTSTATUS status = Register(std::move(object), deviceAttributes, driver, "WdfDeviceCreate", nullptr);
    if (!NT_SUCCESS(status)) return status;
    created->wdm.Device = HandleOf<WDFDEVICE>(created);
    created->wdm.DriverObject = driver->wdm;
    state.deviceInits.erase(init);
    *deviceInit = nullptr;
    *device = created->wdm.Device;
    return STATUS_SUCCESS;
}

void WdfDeviceSetPnpCapabilities(WDFDEVICE device, PWDF_DEVICE_PNP_CAPABILITIES pnpCapabilities) {
    std::lock_guard lock(Framework().mutex);
    auto* target = LookupAs<Device>(device, Kind::Device, "WdfDeviceSetPnpCapabilities");
    if (pnpCapabilities == nullptr || pnpCapabilities->Size != sizeof(WDF_DEVICE_PNP_CAPABILITIES))
        Fatal("WdfDeviceSetPnpCapabilities", "capabilities not set up with WDF_DEVICE_PNP_CAPABILITIES_INIT");
    // Fields left at their defaults keep what the device reported before.
    WDF_DEVICE_PNP_CAPABILITIES& caps = target->caps;
    auto merge = [](WDF_TRI_STATE& to, WDF_TRI_STATE from) {
        if (from != WdfUseDefault) to = from;
    };
    merge(caps.LockSupported, pnpCapabilities->LockSupported);
    merge(caps.EjectSupported, pnpCapabilities->EjectSupported);
    merge(caps.Removable, pnpCapabilities->Removable);
    merge(caps.DockDevice, pnpCapabilities->DockDevice);
    merge(caps.UniqueID, pnpCapabilities->UniqueID);
    merge(caps.SilentInstall, pnpCapabilities->SilentInstall);
    merge(caps.SurpriseRemovalOK, pnpCapabilities->SurpriseRemovalOK);
    merge(caps.HardwareDisabled, pnpCapabilities->HardwareDisabled);
    merge(caps.NoDisplayInUI, pnpCapabilities->NoDisplayInUI);
    if (pnpCapabilities->Address != static_cast<ULONG>(-1)) caps.Address = pnpCapabilities->Address;
    if (pnpCapabilities->UINumber != static_cast<ULONG>(-1)) caps.UINumber = pnpCapabilities->UINumber;
}

WDFDRIVER WdfDeviceGetDriver(WDFDEVICE device) {
    std::lock_guard lock(Framework().mutex);
    return LookupAs<Device>(device, Kind::Device, "WdfDeviceGetDriver")->driver;
}

PDEVICE_OBJECT WdfDeviceWdmGetDeviceObject(WDFDEVICE device) {
    std::lock_guard lock(Framework().mutex);
    return &LookupAs<Device>(device, Kind::Device, "WdfDeviceWdmGetDeviceObject")->wdm;
}

// ---- memory ----

NTSTATUS WdfMemoryCreate(PWDF_OBJECT_ATTRIBUTES attributes, POOL_TYPE /*poolType*/, ULONG /*poolTag*/,
                         size_t bufferSize, WDFMEMORY* memory, PVOID* buffer) {
    if (memory != nullptr) *memory = nullptr;
    if (buffer != nullptr) *buffer = nullptr;
    if (memory == nullptr || bufferSize == 0) return STATUS_INVALID_PARAMETER;
    auto object = std::make_unique<Memory>();
    try {
        object->owned.reset(new std::uint8_t[bufferSize]());
    } catch (const std::bad_alloc&) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    object->data = object->owned.get();
    object->size = bufferSize;
    Memory* created = object.get();
    std::lock_guard lock(Framework().mutex);
    const NTSTATUS status = Register(std::move(object), attributes, nullptr, "WdfMemoryCreate", nullptr);
    if (!NT_SUCCESS(status)) return status;
    *memory = HandleOf<WDFMEMORY>(created);
    if (buffer != nullptr) *buffer = created->data;
    return STATUS_SUCCESS;
}

PVOID WdfMemoryGetBuffer(WDFMEMORY memory, size_t* bufferSize) {
    std::lock_guard lock(Framework().mutex);
    auto* target = LookupAs<Memory>(memory, Kind::Memory, "WdfMemoryGetBuffer");
    if (bufferSize != nullptr) *bufferSize = target->size;
    return target->data;
}

NTSTATUS WdfMemoryCopyFromBuffer(WDFMEMORY destinationMemory, size_t destinationOffset, PVOID buffer,
                                 size_t numBytesToCopyFrom) {
    std::lock_guard lock(Framework().mutex);
    auto* target = LookupAs<Memory>(destinationMemory, Kind::Memory, "WdfMemoryCopyFromBuffer");
    if (numBytesToCopyFrom != 0 && buffer == nullptr) return STATUS_INVALID_PARAMETER;
    // Written so that a huge offset or count cannot wrap around.
    if (destinationOffset > target->size || numBytesToCopyFrom > target->size - destinationOffset)
        return STATUS_BUFFER_TOO_SMALL;
    if (numBytesToCopyFrom != 0) std::memmove(target->data + destinationOffset, buffer, numBytesToCopyFrom);
    return STATUS_SUCCESS;
}

void WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(PWDF_MEMORY_DESCRIPTOR descriptor, PVOID buffer, ULONG bufferLength) {
    std::memset(descriptor, 0, sizeof *descriptor);
    descriptor->Buffer = buffer;
    descriptor->Length = bufferLength;
}

// ---- spin lock ----

NTSTATUS WdfSpinLockCreate(PWDF_OBJECT_ATTRIBUTES spinLockAttributes, WDFSPINLOCK* spinLock) {
    if (spinLock == nullptr) return STATUS_INVALID_PARAMETER;
    *spinLock = nullptr;
    auto object = std::make_unique<SpinLock>();
    Object* created = object.get();
    State& state = Framework();
    std::lock_guard lock(state.mutex);
    const NTSTATUS status = Register(std::move(object), spinLockAttributes, state.driver, "WdfSpinLockCreate", nullptr);
    if (!NT_SUCCESS(status)) return status;
    *spinLock = HandleOf<WDFSPINLOCK>(created);
    return STATUS_SUCCESS;
}

void WdfSpinLockAcquire(WDFSPINLOCK spinLock) {
    SpinLock* target;
    {
        std::lock_guard lock(Framework().mutex);
        target = LookupAs<SpinLock>(spinLock, Kind::SpinLock, "WdfSpinLockAcquire");
    }
    const std::thread::id self = std::this_thread::get_id();
    if (target->owner.load() == self) Fatal("WdfSpinLockAcquire", "spin lock acquired twice on one thread (deadlock)");
    target->mutex.lock();
    target->owner.store(self);
    target->previousIrql = ThreadIrql();
    ThreadIrql() = DISPATCH_LEVEL;
}

void WdfSpinLockRelease(WDFSPINLOCK spinLock) {
    SpinLock* target;
    {
        std::lock_guard lock(Framework().mutex);
        target = LookupAs<SpinLock>(spinLock, Kind::SpinLock, "WdfSpinLockRelease");
    }
    if (target->owner.load() != std::this_thread::get_id())
        Fatal("WdfSpinLockRelease", "spin lock released by a thread that does not hold it");
    const KIRQL previous = target->previousIrql;
    target->owner.store(std::thread::id{});
    target->mutex.unlock();
    ThreadIrql() = previous;
}

// ---- control surface ----

namespace kmdf {

PDRIVER_OBJECT CreateDriverObject() {
    State& state = Framework();
    std::lock_guard lock(state.mutex);
    state.driverObjects.push_back(std::make_unique<DRIVER_OBJECT>());
    return state.driverObjects.back().get();
}

const WDF_DRIVER_CONFIG& DriverConfigOf(WDFDRIVER driver) {
    std::lock_guard lock(Framework().mutex);
    return LookupAs<Driver>(driver, Kind::Driver, "kmdf::DriverConfigOf")->config;
}

PWDFDEVICE_INIT AllocateDeviceInit(WDFDRIVER driver) {
    State& state = Framework();
    std::lock_guard lock(state.mutex);
    LookupAs<Driver>(driver, Kind::Driver, "kmdf::AllocateDeviceInit");
    auto init = std::make_unique<WDFDEVICE_INIT>();
    init->Driver = driver;
    WDFDEVICE_INIT* raw = init.get();
    state.deviceInits.emplace(raw, std::move(init));
    return raw;
}

void FreeDeviceInit(PWDFDEVICE_INIT deviceInit) {
    if (deviceInit == nullptr) return;
    std::lock_guard lock(Framework().mutex);
    Framework().deviceInits.erase(LookupInit(deviceInit, "kmdf::FreeDeviceInit"));
}

const DeviceInitInfo& DeviceInitOf(WDFDEVICE device) {
    std::lock_guard lock(Framework().mutex);
    return LookupAs<Device>(device, Kind::Device, "kmdf::DeviceInitOf")->init;
}

const WDF_DEVICE_PNP_CAPABILITIES& PnpCapabilitiesOf(WDFDEVICE device) {
    std::lock_guard lock(Framework().mutex);
    return LookupAs<Device>(device, Kind::Device, "kmdf::PnpCapabilitiesOf")->caps;
}

std::vector<WDFDEVICE> DevicesOf(WDFDRIVER driver) {
    std::lock_guard lock(Framework().mutex);
    std::vector<WDFDEVICE> devices;
    for (const Object* child : LookupAs<Driver>(driver, Kind::Driver, "kmdf::DevicesOf")->children)
        if (child->kind == Kind::Device && !child->deleting) devices.push_back(HandleOf<WDFDEVICE>(child));
    return devices;
}

void DeleteDevice(WDFDEVICE device) {
    {
        std::lock_guard lock(Framework().mutex);
        LookupAs<Device>(device, Kind::Device, "kmdf::DeleteDevice");
    }
    DeleteObjectTree(device, "kmdf::DeleteDevice");
}

void ResetFramework() {
    State& state = Framework();
    std::vector<std::unique_ptr<Object>> freed;
    {
        std::lock_guard lock(state.mutex);
        const std::thread::id self = std::this_thread::get_id();
        for (auto it = state.objects.begin(); it != state.objects.end();) {
            Object* object = it->second.get();
            if (object->kind == Kind::Request && static_cast<Request*>(object)->testOwned) {
                // The test still owns it: keep it, cut loose from everything freed here.
                auto* request = static_cast<Request*>(object);
                request->queue = nullptr;
                request->waiting = false;
                request->outputMemory = nullptr;
                request->children.clear();
                ++it;
                continue;
            }
            if (object->kind == Kind::SpinLock) {
                auto* spinLock = static_cast<SpinLock*>(object);
                const std::thread::id owner = spinLock->owner.load();
                if (owner == self) {
                    spinLock->owner.store(std::thread::id{});
                    spinLock->mutex.unlock();
                } else if (owner != std::thread::id{}) {
                    Fatal("kmdf::ResetFramework", "a spin lock is held by another thread");
                }
            }
            freed.push_back(std::move(it->second));
            it = state.objects.erase(it);
        }
        state.driver = nullptr;
        state.driverObjects.clear();
        state.deviceInits.clear();
    }
    freed.clear();
    ResetKernelState();
    ResetRegistryState();
}

}  // namespace kmdf
