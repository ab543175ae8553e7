// KavLib's only door to the operating system. Everything here is portable: the Win32
// implementation lives in win32/, the simulated one in sim/, serial ports on POSIX hosts in
// posix/, and tests swap in fakes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kav::platform {

// Raw handle values, because KavLib hands them to its callers, who close them with
// CloseHandle themselves.
using Handle = void*;

// INVALID_HANDLE_VALUE: all bits set.
inline const Handle kInvalidHandle = reinterpret_cast<Handle>(~std::uintptr_t{0});

// Null is never a handle KavLib returns, but some Windows calls report failure with it.
inline bool IsValidHandle(Handle handle) noexcept {
    return handle != kInvalidHandle && handle != nullptr;
}

struct HidAttributes {
    uint16_t VendorId = 0;
    uint16_t ProductId = 0;
    uint16_t VersionNumber = 0;

    friend bool operator==(const HidAttributes&, const HidAttributes&) = default;
};

// Every operation reports failure in its return value; none throws. An implementation
// must be safe to call from several threads at once.
class Platform {
public:
    Platform() = default;
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;
    virtual ~Platform() = default;

    // --- HID client services ---

    // Device paths of the present HID interfaces, in the system's list order. nullopt
    // when the list could not be obtained, which callers must not mistake for "no device".
    virtual std::optional<std::vector<std::u16string>> EnumerateHidInterfaces() = 0;

    // Read and write access, shared for read and write, existing devices only.
    // kInvalidHandle on failure.
    virtual Handle OpenHid(std::u16string_view path, bool overlapped) = 0;

    virtual bool Close(Handle handle) = 0;

    virtual std::optional<HidAttributes> GetAttributes(Handle handle) = 0;

    // report[0] is the report ID. An empty report is refused without asking the OS.
    virtual bool GetFeature(Handle handle, std::span<uint8_t> report) = 0;
    virtual bool SetFeature(Handle handle, std::span<const uint8_t> report) = 0;

    // --- Serial ports ---
    // Platforms without serial ports keep these defaults, which fail as a missing port would.

    // Opens a port exclusively for synchronous I/O and configures it for the controller:
    // 115200 baud, 8 data bits, no parity, 1 stop bit, 1024-byte queues, and time-outs that
    // let a read of one byte give up after about 40 ms. kInvalidHandle when the port cannot
    // be opened or configured; Close releases it.
    virtual Handle OpenSerial(std::u16string_view path);

    // Clears the error state and drops whatever either queue holds.
    virtual bool PurgeSerial(Handle port);

    // One synchronous write; the count of bytes written, nullopt when the write failed.
    virtual std::optional<std::size_t> WriteSerial(Handle port, std::span<const uint8_t> bytes);

    // The next byte, or nullopt when none arrived within the port's time-out.
    virtual std::optional<uint8_t> ReadSerialByte(Handle port);

    // --- Threads and time ---

    // As the OS sleeps: on Windows 0xFFFFFFFF is INFINITE.
    virtual void Sleep(uint32_t milliseconds) = 0;
};

// The platform KavLib runs on: the one set with SetPlatform, else the default. On
// Windows the default is the Win32 platform, unless KAVLIB_PLATFORM=sim asks for the
// simulated one; elsewhere it is the simulated one. Without a registered simulation that
// is FallbackPlatform(). The choice is made on first use and again after
// SetSimPlatformFactory.
Platform& CurrentPlatform();

// nullptr restores the default. The platform must outlive its use.
void SetPlatform(Platform* platform);

// The platform whose every operation fails cleanly; the default where no real or
// simulated platform is available.
Platform& FallbackPlatform();

// The simulated platform registers itself here, because this library cannot depend on
// it. nullptr unregisters. The factory returns a platform that lives for the process.
using PlatformFactory = Platform& (*)();
void SetSimPlatformFactory(PlatformFactory factory);

// Owns a handle and closes it through the platform that opened it, so that a later
// SetPlatform does not send the close to the wrong place.
class UniqueHandle {
public:
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle, Platform& owner = CurrentPlatform()) noexcept
        : handle_(handle), owner_(&owner) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.handle_), owner_(other.owner_) {
        other.handle_ = kInvalidHandle;
    }
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = other.handle_;
            owner_ = other.owner_;
            other.handle_ = kInvalidHandle;
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return IsValidHandle(handle_); }

    // Gives up ownership without closing.
    Handle release() noexcept {
        Handle handle = handle_;
        handle_ = kInvalidHandle;
        return handle;
    }

    void reset() noexcept {
        Handle handle = release();
        if (IsValidHandle(handle) && owner_ != nullptr) owner_->Close(handle);
    }

private:
    Handle handle_ = kInvalidHandle;
    Platform* owner_ = nullptr;
};

}  // namespace kav::platform
