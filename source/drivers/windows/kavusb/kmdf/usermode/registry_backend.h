// The registry that the user-mode framework's WdfRegistry* operations act on. The framework
// keeps the handles, the access checks and the NTSTATUS mapping; a backend keeps keys and
// values. The simulator's registry store is one (simulator/registry/kmdf_registry.h).
//
// Paths are absolute ("\Registry\Machine\..."), names compare without regard to case.
// Members may throw std::invalid_argument for a path or name the backend cannot hold and
// std::bad_alloc; the framework turns both into a status, so none reaches driver code.
// Every member is called from several threads at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kmdf {

class RegistryBackend {
public:
    enum class Created { New, Existing, ParentMissing };
    enum class Lookup { Dword, OtherType, NoValue, NoKey };

    virtual ~RegistryBackend() = default;

    // A path the backend can hold; checked before any other member is given one.
    virtual bool IsValidKeyPath(std::u16string_view path) const = 0;
    virtual bool KeyExists(std::u16string_view path) const = 0;
    // The path in the spelling the backend keeps; nullopt when the key is absent.
    virtual std::optional<std::u16string> CanonicalPath(std::u16string_view path) const = 0;
    // withParents false: one level at a time, as the kernel creates keys.
    virtual Created CreateKey(std::u16string_view path, bool withParents) = 0;
    // *value is written only for Lookup::Dword.
    virtual Lookup QueryDword(std::u16string_view path, std::u16string_view name, std::uint32_t* value) const = 0;
    // False when the key does not exist (values never create keys).
    virtual bool SetDword(std::u16string_view path, std::u16string_view name, std::uint32_t value) = 0;
    // ResetFramework calls it: back to the registry the backend starts a run with.
    virtual void Reset() = 0;
};

}  // namespace kmdf
