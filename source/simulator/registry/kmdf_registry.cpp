#include "simulator/registry/kmdf_registry.h"

#include <mutex>

#include "kavusb/kmdf/usermode/kmdf_sim.h"
#include "kavusb/kmdf/usermode/registry_backend.h"

namespace kav::sim {
namespace {

class StoreRegistryBackend final : public kmdf::RegistryBackend {
public:
    void Use(RegistryStore* store) {
        std::lock_guard lock(mutex_);
        current_ = store != nullptr ? store : &builtIn_;
    }
    RegistryStore& Current() const {
        std::lock_guard lock(mutex_);
        return *current_;
    }

    bool IsValidKeyPath(std::u16string_view path) const override { return RegistryStore::IsValidKeyPath(path); }
    bool KeyExists(std::u16string_view path) const override { return Current().KeyExists(path); }
    std::optional<std::u16string> CanonicalPath(std::u16string_view path) const override {
        return Current().CanonicalPath(path);
    }
    Created CreateKey(std::u16string_view path, bool withParents) override {
        switch (Current().CreateKey(path, withParents)) {
            case RegistryStore::CreateResult::Created:
                return Created::New;
            case RegistryStore::CreateResult::Opened:
                return Created::Existing;
            case RegistryStore::CreateResult::ParentMissing:
                break;
        }
        return Created::ParentMissing;
    }
    Lookup QueryDword(std::u16string_view path, std::u16string_view name, std::uint32_t* value) const override {
        RegistryStore& store = Current();
        const std::optional<RegistryValue> stored = store.GetValue(path, name);
        if (!stored) return store.KeyExists(path) ? Lookup::NoValue : Lookup::NoKey;
        if (stored->Type != RegistryType::Dword) return Lookup::OtherType;
        *value = stored->Dword;
        return Lookup::Dword;
    }
    bool SetDword(std::u16string_view path, std::u16string_view name, std::uint32_t value) override {
        return Current().SetValue(path, name, RegistryValue::FromDword(value));
    }
    void Reset() override {
        std::lock_guard lock(mutex_);
        builtIn_.Clear();
        current_ = &builtIn_;
    }

private:
    mutable std::mutex mutex_;
    RegistryStore builtIn_;
    RegistryStore* current_ = &builtIn_;
};

StoreRegistryBackend& Backend() {
    static StoreRegistryBackend backend;
    return backend;
}

// Before main, so that a driver run never finds the framework without a registry.
[[maybe_unused]] const bool kAttached = (kmdf::SetRegistryBackend(&Backend()), true);

}  // namespace
}  // namespace kav::sim

namespace kmdf {

void SetRegistryStore(kav::sim::RegistryStore* store) {
    kav::sim::Backend().Use(store);
    SetRegistryBackend(&kav::sim::Backend());
}

kav::sim::RegistryStore& CurrentRegistryStore() {
    SetRegistryBackend(&kav::sim::Backend());
    return kav::sim::Backend().Current();
}

}  // namespace kmdf
