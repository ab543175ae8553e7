// KavLib's only door to the operating system. Everything here is portable: the Win32
// implementation lives in win32/, the simulated one in sim/, serial ports on POSIX hosts in
// posix/, and tests swap in fakes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
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

enum class HidString { Manufacturer, Product, SerialNumber };

// --- Input reports ---

enum class ReadStatus {
    Report,     // one input report is in the buffer
    TimedOut,   // the wait ended with the read still pending; the next Read continues it
    Cancelled,  // Cancel ended it; nothing is pending
    Failed,     // the device is gone, or the handle is closed or cannot be read; nothing pending
};

struct ReadResult {
    ReadStatus status = ReadStatus::Failed;
    std::size_t length = 0;  // bytes of the report, for Report
};

// One overlapped read of one input report at a time on a handle opened for overlapped I/O
// (ReadFile with an OVERLAPPED record and its own manual-reset event). The reader owns the
// memory the read fills, and its destructor cancels a pending read and waits for it to end,
// so no read is ever left pending on freed memory.
class InputReader {
public:
    InputReader() = default;
    InputReader(const InputReader&) = delete;
    InputReader& operator=(const InputReader&) = delete;
    virtual ~InputReader() = default;

    // Starts a read when none is pending and waits up to waitMs (0 polls) for it. Report:
    // the report is copied to the front of buffer (byte 0 the report ID; cut to the buffer
    // and to the reader's report length) and length says how much. TimedOut leaves the read
    // pending for the next call, so waiting in slices loses no report. One thread at a time.
    virtual ReadResult Read(std::span<uint8_t> buffer, uint32_t waitMs) = 0;

    // Any thread, any time: the Read in progress returns Cancelled at once and its read is
    // cancelled; with none in progress the next Read returns Cancelled without reading. A
    // report that completed just before may be lost, as with CancelIoEx.
    virtual void Cancel() = 0;
};

// --- Notifications ---

// What a raw-input sink receives (WM_INPUT, GetRawInputData, GetRawInputDeviceInfoW).
struct RawInputEvent {
    enum class Kind { Hid, Mouse, Keyboard } kind = Kind::Hid;
    std::u16string deviceName;      // the source interface's path (RIDI_DEVICENAME)
    std::vector<uint8_t> report;    // Hid: the input report, byte 0 its ID
    uint16_t mouseButtonFlags = 0;  // Mouse: RAWMOUSE.usButtonFlags (kMouseLeftDown ...)
};

// RAWMOUSE.usButtonFlags bits: transitions, not states.
constexpr uint16_t kMouseLeftDown = 0x0001;
constexpr uint16_t kMouseLeftUp = 0x0002;
constexpr uint16_t kMouseRightDown = 0x0004;
constexpr uint16_t kMouseRightUp = 0x0008;
constexpr uint16_t kMouseMiddleDown = 0x0010;
constexpr uint16_t kMouseMiddleUp = 0x0020;

// The flags for a mouse whose buttons (bit 0 left, 1 right, 2 middle, as the HID button
// page numbers them) went from `before` to `after`.
constexpr uint16_t MouseButtonTransitions(uint8_t before, uint8_t after) {
    constexpr uint16_t kDown[3] = {kMouseLeftDown, kMouseRightDown, kMouseMiddleDown};
    uint16_t flags = 0;
    for (int button = 0; button < 3; ++button) {
        const bool was = (before >> button) & 1, is = (after >> button) & 1;
        // Each button's up flag is the bit above its down flag.
        if (was != is) flags = static_cast<uint16_t>(flags | (is ? kDown[button] : kDown[button] << 1));
    }
    return flags;
}

// A mouse's input reports give its buttons' states, raw input their transitions: this keeps
// each device's last buttons in between. Its owner serialises the calls.
class MouseButtonTracker {
public:
    // The flags for `report`, an input report of the mouse `deviceName`; 0, and nothing
    // kept, when the report is no mouse report.
    uint16_t Transitions(const std::u16string& deviceName, std::span<const uint8_t> report);

private:
    std::map<std::u16string, uint8_t> buttons_;
};

struct RawInputUsage {
    uint16_t usagePage = 0;
    uint16_t usage = 0;
};

// The device-change broadcast's events for device interfaces (DBT_DEVICEARRIVAL,
// DBT_DEVICEREMOVECOMPLETE); other events are not passed on.
enum class DeviceChange : uint32_t { Arrival = 0x8000, RemoveComplete = 0x8004 };

using RawInputCallback = std::function<void(const RawInputEvent&)>;
using DeviceChangeCallback = std::function<void(DeviceChange, const std::u16string& interfacePath)>;

// A live registration for raw input or device change. Destroying it unregisters and waits
// for a callback in progress, so no call comes afterwards; never destroy it inside its own
// callback.
class Registration {
public:
    Registration() = default;
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;
    virtual ~Registration() = default;
};

// --- Registry ---

enum class RegistryRoot { LocalMachine, CurrentUser };

// RegQueryValueExW's REG_* type codes.
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegDword = 4;

struct RegistryData {
    uint32_t type = 0;           // kRegDword, kRegSz, ...
    std::vector<uint8_t> bytes;  // as RegQueryValueExW writes them (strings UTF-16LE with terminator)
    friend bool operator==(const RegistryData&, const RegistryData&) = default;
};

// HKLM's key that holds KavUSB's parameters, as KavLib opens it.
inline constexpr std::u16string_view kDriverParametersKey =
    u"SYSTEM\\CurrentControlSet\\Services\\KavUSB\\Parameters\\DriverParameters";

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

    // The operations below have failing defaults, so that fakes and partial platforms
    // keep compiling; a failure looks like the OS refusing.

    // HidD_GetManufacturerString and its siblings; nullopt when the device has none or the
    // handle is not open.
    virtual std::optional<std::u16string> GetHidString(Handle handle, HidString which);

    // A reader of reportLength-byte input reports on a handle opened for overlapped I/O.
    // nullptr when the handle is not open or reportLength is 0. The reader may outlive the
    // handle: once the handle is closed, Read fails.
    virtual std::unique_ptr<InputReader> CreateInputReader(Handle handle, std::size_t reportLength);

    // A raw-input sink for these top-level collections (RegisterRawInputDevices with
    // RIDEV_INPUTSINK on a hidden window). Callbacks run one at a time on a thread of the
    // platform's, never the caller's. nullptr when the registration is refused; an empty
    // list is refused.
    virtual std::unique_ptr<Registration> RegisterRawInput(std::span<const RawInputUsage> usages,
                                                           RawInputCallback callback);

    // Arrival and removal of HID interfaces (RegisterDeviceNotificationW on the HID class),
    // one call per interface, in the order they happened. Callbacks run one at a time on a
    // thread of the platform's; they must not block, and a caller that needs the event on
    // its own thread posts it there. nullptr when the registration is refused.
    virtual std::unique_ptr<Registration> RegisterDeviceChange(DeviceChangeCallback callback);

    // Opens the key once with query access and reads each named value (RegOpenKeyExW,
    // RegQueryValueExW, RegCloseKey). nullopt when the key cannot be opened, which callers
    // must not mistake for a key without these values; a missing value is nullopt in its
    // place. Names in the order given.
    virtual std::optional<std::vector<std::optional<RegistryData>>> QueryRegistryValues(
        RegistryRoot root, std::u16string_view key, std::span<const std::u16string_view> names);

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

// The platform KavLib runs on: the one set with SetPlatform, else the default.
// KAVLIB_PLATFORM=sim asks for the simulation on every host: the in-process simulated
// platform when a test has registered one, else the client of the simulated screen service
// (RemotePlatformInstance(), address from KAVLIB_SIM). Without it, Windows uses the Win32
// platform, and other hosts the registered in-process simulation or FallbackPlatform().
// The choice is made on first use and again after SetSimPlatformFactory.
Platform& CurrentPlatform();

// A REG_DWORD's value; nullopt for any other type or size.
std::optional<uint32_t> AsDword(const std::optional<RegistryData>& value);

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
