// Registry access on the simulator's registry store. A WDFKEY is a framework object (a
// child of the driver, as in KMDF) that keeps its key's path and the access granted;
// the store is asked again on every use, so a key deleted under an open handle is seen.
#include <new>
#include <stdexcept>
#include <utility>

#include "framework.h"
#include "simulator/registry/registry_store.h"

namespace kmdf::detail {
namespace {

constexpr ACCESS_MASK kGenericRead = 0x80000000;
constexpr ACCESS_MASK kGenericWrite = 0x40000000;
constexpr ACCESS_MASK kGenericAll = 0x10000000;
constexpr ACCESS_MASK kMaximumAllowed = 0x02000000;

struct RegistryState {
    std::mutex mutex;
    kav::sim::RegistryStore builtIn;
    kav::sim::RegistryStore* current = &builtIn;
    std::u16string serviceName = u"KavUSB";
    bool failOpen = false;
    bool failWrite = false;
    std::vector<RegistryWrite> writes;
};

RegistryState& Registry() {
    static RegistryState state;
    return state;
}

kav::sim::RegistryStore& Store() {
    std::lock_guard lock(Registry().mutex);
    return *Registry().current;
}

bool OpensFail() {
    std::lock_guard lock(Registry().mutex);
    return Registry().failOpen;
}

void RequirePassive(const char* function) {
    if (ThreadIrql() > PASSIVE_LEVEL) Fatal(function, "registry access above PASSIVE_LEVEL (under a spin lock?)");
}

ACCESS_MASK MapGeneric(ACCESS_MASK access) {
    if (access & (kGenericAll | kMaximumAllowed)) access |= KEY_ALL_ACCESS;
    if (access & kGenericRead) access |= KEY_READ;
    if (access & kGenericWrite) access |= KEY_WRITE;
    return access;
}

// A counted string as the kernel checks it: even length within the buffer.
bool ReadName(PCUNICODE_STRING name, std::u16string& out) {
    if (name == nullptr || name->Length % sizeof(WCHAR) != 0 || name->Length > name->MaximumLength) return false;
    if (name->Length != 0 && name->Buffer == nullptr) return false;
    out.assign(name->Buffer == nullptr ? u"" : name->Buffer, name->Length / sizeof(WCHAR));
    return true;
}

NTSTATUS ResolvePath(WDFKEY parentKey, PCUNICODE_STRING keyName, const char* function, std::u16string& path) {
    std::u16string name;
    if (!ReadName(keyName, name)) return STATUS_INVALID_PARAMETER;
    if (parentKey == nullptr) {
        path = std::move(name);
    } else {
        {
            std::lock_guard lock(Framework().mutex);
            path = LookupAs<Key>(parentKey, Kind::Key, function)->path;
        }
        if (!name.empty()) {
            if (name.front() == u'\\') return STATUS_OBJECT_NAME_INVALID;
            if (path.size() > 1) path.push_back(u'\\');
            path += name;
        }
    }
    return kav::sim::RegistryStore::IsValidKeyPath(path) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_INVALID;
}

NTSTATUS MakeKey(const std::u16string& path, ACCESS_MASK access, PWDF_OBJECT_ATTRIBUTES attributes,
                 const char* function, WDFKEY* key) {
    auto object = std::make_unique<Key>();
    object->path = Store().CanonicalPath(path).value_or(path);
    object->access = MapGeneric(access);
    Object* created = object.get();
    State& state = Framework();
    std::lock_guard lock(state.mutex);
    const NTSTATUS status = Register(std::move(object), attributes, state.driver, function, nullptr);
    if (!NT_SUCCESS(status)) return status;
    *key = HandleOf<WDFKEY>(created);
    return STATUS_SUCCESS;
}

// The store works with std containers; nothing it throws may reach driver code.
template <typename Body>
NTSTATUS Guarded(Body body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return STATUS_INSUFFICIENT_RESOURCES;
    } catch (const std::invalid_argument&) {
        return STATUS_OBJECT_NAME_INVALID;
    } catch (const std::exception&) {
        return STATUS_UNSUCCESSFUL;
    }
}

struct KeyView {
    std::u16string path;
    ACCESS_MASK access;
};

KeyView ViewKey(WDFKEY key, const char* function) {
    std::lock_guard lock(Framework().mutex);
    const Key* target = LookupAs<Key>(key, Kind::Key, function);
    return {target->path, target->access};
}

std::u16string ParametersPathFor(const std::u16string& registryPath) {
    std::u16string service = registryPath;
    if (service.empty()) {
        std::lock_guard lock(Registry().mutex);
        service = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\" + Registry().serviceName;
    }
    return service + u"\\Parameters";
}

}  // namespace

void ResetRegistryState() {
    RegistryState& registry = Registry();
    std::lock_guard lock(registry.mutex);
    registry.builtIn.Clear();
    registry.current = &registry.builtIn;
    registry.serviceName = u"KavUSB";
    registry.failOpen = false;
    registry.failWrite = false;
    registry.writes.clear();
}

}  // namespace kmdf::detail

using namespace kmdf::detail;

NTSTATUS WdfDriverOpenParametersRegistryKey(WDFDRIVER driver, ACCESS_MASK desiredAccess,
                                            PWDF_OBJECT_ATTRIBUTES keyAttributes, WDFKEY* key) {
    constexpr const char* kFunction = "WdfDriverOpenParametersRegistryKey";
    RequirePassive(kFunction);
    if (key == nullptr) return STATUS_INVALID_PARAMETER;
    *key = nullptr;
    std::u16string registryPath;
    {
        std::lock_guard lock(Framework().mutex);
        registryPath = LookupAs<Driver>(driver, Kind::Driver, kFunction)->registryPath;
    }
    if (OpensFail()) return STATUS_ACCESS_DENIED;
    return Guarded([&] {
        const std::u16string path = ParametersPathFor(registryPath);
        if (!kav::sim::RegistryStore::IsValidKeyPath(path)) return STATUS_OBJECT_NAME_INVALID;
        Store().CreateKey(path);
        return MakeKey(path, desiredAccess, keyAttributes, kFunction, key);
    });
}

NTSTATUS WdfRegistryOpenKey(WDFKEY parentKey, PCUNICODE_STRING keyName, ACCESS_MASK desiredAccess,
                            PWDF_OBJECT_ATTRIBUTES keyAttributes, WDFKEY* key) {
    constexpr const char* kFunction = "WdfRegistryOpenKey";
    RequirePassive(kFunction);
    if (key == nullptr) return STATUS_INVALID_PARAMETER;
    *key = nullptr;
    return Guarded([&] {
        std::u16string path;
        const NTSTATUS status = ResolvePath(parentKey, keyName, kFunction, path);
        if (!NT_SUCCESS(status)) return status;
        if (OpensFail()) return STATUS_ACCESS_DENIED;
        if (!Store().KeyExists(path)) return STATUS_OBJECT_NAME_NOT_FOUND;
        return MakeKey(path, desiredAccess, keyAttributes, kFunction, key);
    });
}

NTSTATUS WdfRegistryCreateKey(WDFKEY parentKey, PCUNICODE_STRING keyName, ACCESS_MASK desiredAccess,
                              ULONG /*createOptions*/, PULONG createDisposition, PWDF_OBJECT_ATTRIBUTES keyAttributes,
                              WDFKEY* key) {
    constexpr const char* kFunction = "WdfRegistryCreateKey";
    RequirePassive(kFunction);
    if (key == nullptr) return STATUS_INVALID_PARAMETER;
    *key = nullptr;
    return Guarded([&] {
        std::u16string path;
        NTSTATUS status = ResolvePath(parentKey, keyName, kFunction, path);
        if (!NT_SUCCESS(status)) return status;
        if (OpensFail()) return STATUS_ACCESS_DENIED;
        // One level at a time, as the kernel creates keys.
        const auto result = Store().CreateKey(path, false);
        if (result == kav::sim::RegistryStore::CreateResult::ParentMissing) return STATUS_OBJECT_NAME_NOT_FOUND;
        status = MakeKey(path, desiredAccess, keyAttributes, kFunction, key);
        if (NT_SUCCESS(status) && createDisposition != nullptr)
            *createDisposition = result == kav::sim::RegistryStore::CreateResult::Created ? REG_CREATED_NEW_KEY
                                                                                          : REG_OPENED_EXISTING_KEY;
        return status;
    });
}

NTSTATUS WdfRegistryQueryULong(WDFKEY key, PCUNICODE_STRING valueName, ULONG* value) {
    constexpr const char* kFunction = "WdfRegistryQueryULong";
    RequirePassive(kFunction);
    const KeyView view = ViewKey(key, kFunction);
    std::u16string name;
    if (value == nullptr || !ReadName(valueName, name)) return STATUS_INVALID_PARAMETER;
    if ((view.access & KEY_QUERY_VALUE) == 0) return STATUS_ACCESS_DENIED;
    return Guarded([&] {
        kav::sim::RegistryStore& store = Store();
        const std::optional<kav::sim::RegistryValue> stored = store.GetValue(view.path, name);
        if (!stored) return store.KeyExists(view.path) ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_KEY_DELETED;
        if (stored->Type != kav::sim::RegistryType::Dword) return STATUS_OBJECT_TYPE_MISMATCH;
        *value = stored->Dword;
        return STATUS_SUCCESS;
    });
}

NTSTATUS WdfRegistryAssignULong(WDFKEY key, PCUNICODE_STRING valueName, ULONG value) {
    constexpr const char* kFunction = "WdfRegistryAssignULong";
    RequirePassive(kFunction);
    const KeyView view = ViewKey(key, kFunction);
    std::u16string name;
    if (!ReadName(valueName, name)) return STATUS_INVALID_PARAMETER;
    return Guarded([&] {
        NTSTATUS status = STATUS_SUCCESS;
        bool failWrite;
        {
            std::lock_guard lock(Registry().mutex);
            failWrite = Registry().failWrite;
        }
        if ((view.access & KEY_SET_VALUE) == 0 || failWrite)
            status = STATUS_ACCESS_DENIED;
        else if (!Store().SetValue(view.path, name, kav::sim::RegistryValue::FromDword(value)))
            status = STATUS_KEY_DELETED;
        std::lock_guard lock(Registry().mutex);
        Registry().writes.push_back({view.path, name, value, status});
        return status;
    });
}

void WdfRegistryClose(WDFKEY key) {
    constexpr const char* kFunction = "WdfRegistryClose";
    {
        std::lock_guard lock(Framework().mutex);
        LookupAs<Key>(key, Kind::Key, kFunction);
    }
    DeleteObjectTree(key, kFunction);
}

// ---- control surface ----

namespace kmdf {

void SetRegistryStore(kav::sim::RegistryStore* store) {
    std::lock_guard lock(Registry().mutex);
    Registry().current = store != nullptr ? store : &Registry().builtIn;
}

kav::sim::RegistryStore& CurrentRegistryStore() {
    return Store();
}

void SetDriverServiceName(std::u16string name) {
    std::lock_guard lock(Registry().mutex);
    Registry().serviceName = std::move(name);
}

std::u16string DriverParametersKeyPath() {
    std::u16string registryPath;
    {
        std::lock_guard lock(Framework().mutex);
        if (Framework().driver != nullptr) registryPath = Framework().driver->registryPath;
    }
    return ParametersPathFor(registryPath);
}

void FailRegistryOpen(bool fail) {
    std::lock_guard lock(Registry().mutex);
    Registry().failOpen = fail;
}

void FailRegistryWrite(bool fail) {
    std::lock_guard lock(Registry().mutex);
    Registry().failWrite = fail;
}

std::vector<RegistryWrite> TakeRegistryWrites() {
    std::lock_guard lock(Registry().mutex);
    return std::exchange(Registry().writes, {});
}

size_t OpenRegistryKeyCount() {
    std::lock_guard lock(Framework().mutex);
    size_t count = 0;
    for (const auto& [handle, object] : Framework().objects) count += object->kind == Kind::Key ? 1 : 0;
    return count;
}

}  // namespace kmdf
