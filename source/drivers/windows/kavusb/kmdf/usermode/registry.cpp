// Registry access on a registry backend. A WDFKEY is a framework object (a child of the
// driver, as in KMDF) that keeps its key's path and the access granted; the backend is
// asked again on every use, so a key deleted under an open handle is seen.
#include <new>
#include <stdexcept>
#include <utility>

#include "framework.h"
#include "registry_backend.h"

namespace kmdf::detail {
namespace {

constexpr ACCESS_MASK kGenericRead = 0x80000000;
constexpr ACCESS_MASK kGenericWrite = 0x40000000;
constexpr ACCESS_MASK kGenericAll = 0x10000000;
constexpr ACCESS_MASK kMaximumAllowed = 0x02000000;

struct RegistryState {
    std::mutex mutex;
    RegistryBackend* backend = nullptr;
    std::u16string serviceName = u"KavUSB";
    bool failOpen = false;
    bool failWrite = false;
    std::vector<RegistryWrite> writes;
};

RegistryState& Registry() {
    static RegistryState state;
    return state;
}

RegistryBackend& Backend(const char* function) {
    RegistryBackend* backend;
    {
        std::lock_guard lock(Registry().mutex);
        backend = Registry().backend;
    }
    if (backend == nullptr) Fatal(function, "registry access with no registry backend attached");
    return *backend;
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
    return Backend(function).IsValidKeyPath(path) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_INVALID;
}

NTSTATUS MakeKey(const std::u16string& path, ACCESS_MASK access, PWDF_OBJECT_ATTRIBUTES attributes,
                 const char* function, WDFKEY* key) {
    auto object = std::make_unique<Key>();
    object->path = Backend(function).CanonicalPath(path).value_or(path);
    object->access = MapGeneric(access);
    Object* created = object.get();
    State& state = Framework();
    std::lock_guard lock(state.mutex);
    const NTSTATUS status = Register(std::move(object), attributes, state.driver, function, nullptr);
    if (!NT_SUCCESS(status)) return status;
    *key = HandleOf<WDFKEY>(created);
    return STATUS_SUCCESS;
}

// A backend works with std containers; nothing it throws may reach driver code.
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
    RegistryBackend* backend;
    {
        std::lock_guard lock(registry.mutex);
        backend = registry.backend;
        registry.serviceName = u"KavUSB";
        registry.failOpen = false;
        registry.failWrite = false;
        registry.writes.clear();
    }
    if (backend != nullptr) backend->Reset();
}

}  // namespace kmdf::detail

using namespace kmdf::detail;
using kmdf::RegistryBackend;

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
        RegistryBackend& registry = Backend(kFunction);
        if (!registry.IsValidKeyPath(path)) return STATUS_OBJECT_NAME_INVALID;
        registry.CreateKey(path, true);
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
        if (!Backend(kFunction).KeyExists(path)) return STATUS_OBJECT_NAME_NOT_FOUND;
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
        const RegistryBackend::Created result = Backend(kFunction).CreateKey(path, false);
        if (result == RegistryBackend::Created::ParentMissing) return STATUS_OBJECT_NAME_NOT_FOUND;
        status = MakeKey(path, desiredAccess, keyAttributes, kFunction, key);
        if (NT_SUCCESS(status) && createDisposition != nullptr)
            *createDisposition =
                result == RegistryBackend::Created::New ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
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
        std::uint32_t stored = 0;
        switch (Backend(kFunction).QueryDword(view.path, name, &stored)) {
            case RegistryBackend::Lookup::Dword:
                *value = stored;
                return STATUS_SUCCESS;
            case RegistryBackend::Lookup::OtherType:
                return STATUS_OBJECT_TYPE_MISMATCH;
            case RegistryBackend::Lookup::NoValue:
                return STATUS_OBJECT_NAME_NOT_FOUND;
            case RegistryBackend::Lookup::NoKey:
                break;
        }
        return STATUS_KEY_DELETED;
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
        else if (!Backend(kFunction).SetDword(view.path, name, value))
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

void SetRegistryBackend(RegistryBackend* backend) {
    std::lock_guard lock(Registry().mutex);
    Registry().backend = backend;
}

RegistryBackend* CurrentRegistryBackend() {
    std::lock_guard lock(Registry().mutex);
    return Registry().backend;
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
