// One owner per Windows handle.
#pragma once

#include <utility>

namespace kav::cpl::win32 {

template <typename T, auto Close, T Invalid = T{}>
class UniqueResource {
public:
    UniqueResource() = default;
    explicit UniqueResource(T value) : value_(value) {}
    UniqueResource(UniqueResource&& other) noexcept : value_(std::exchange(other.value_, Invalid)) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) {
            reset();
            value_ = std::exchange(other.value_, Invalid);
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { reset(); }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != Invalid; }
    T release() { return std::exchange(value_, Invalid); }
    void reset(T value = Invalid) {
        if (value_ != Invalid) Close(value_);
        value_ = value;
    }

private:
    T value_ = Invalid;
};

}  // namespace kav::cpl::win32
