#include "devicelib/platform/win32/win32_platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After <windows.h>, which they rely on.
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <dbt.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace kav::platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide strings are UTF-16 code units");

namespace {

class DeviceInfoList {
public:
    explicit DeviceInfoList(HDEVINFO list) : list_(list) {}
    DeviceInfoList(const DeviceInfoList&) = delete;
    DeviceInfoList& operator=(const DeviceInfoList&) = delete;
    ~DeviceInfoList() {
        if (*this) SetupDiDestroyDeviceInfoList(list_);
    }
    explicit operator bool() const { return list_ != INVALID_HANDLE_VALUE && list_ != nullptr; }
    HDEVINFO get() const { return list_; }

private:
    HDEVINFO list_;
};

bool Fail(DWORD error) {
    SetLastError(error);
    return false;
}

// A handle the OS could act on. kInvalidHandle is also the current-process pseudo-handle,
// on which CloseHandle succeeds, so it must never get that far.
bool Usable(Handle handle) {
    return IsValidHandle(handle) || Fail(ERROR_INVALID_HANDLE);
}

bool UsableReport(Handle handle, std::size_t size) {
    if (!Usable(handle)) return false;
    if (size == 0 || size > std::numeric_limits<ULONG>::max()) return Fail(ERROR_INVALID_PARAMETER);
    return true;
}

// nullopt when the interface went away between listing and asking, or its path is empty.
std::optional<std::u16string> InterfacePath(HDEVINFO list, SP_DEVICE_INTERFACE_DATA& iface) {
    constexpr DWORD kHeader = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    DWORD required = 0;
    if (SetupDiGetDeviceInterfaceDetailW(list, &iface, nullptr, 0, &required, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return std::nullopt;
    }
    // The size can grow if the interface is re-registered in between; give up after a few tries.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (required < kHeader + sizeof(WCHAR)) return std::nullopt;
        // Elements of the detail type itself, so the buffer is aligned for it.
        std::vector<SP_DEVICE_INTERFACE_DETAIL_DATA_W> buffer(
            (required + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) - 1) / sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
        const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
        SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail = buffer.data();
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        DWORD needed = 0;
        if (SetupDiGetDeviceInterfaceDetailW(list, &iface, detail, bytes, &needed, nullptr)) {
            // Never trust the terminator to be inside the buffer.
            const wchar_t* chars = detail->DevicePath;
            const std::size_t capacity = (bytes - kHeader) / sizeof(WCHAR);
            std::size_t length = 0;
            while (length < capacity && chars[length] != L'\0') ++length;
            if (length == 0) return std::nullopt;
            return std::u16string(chars, chars + length);
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= required) return std::nullopt;
        required = needed;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<std::u16string>> Win32Platform::EnumerateHidInterfaces() {
    GUID hid_guid;
    HidD_GetHidGuid(&hid_guid);
    DeviceInfoList list(SetupDiGetClassDevsW(&hid_guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!list) return std::nullopt;

    std::vector<std::u16string> paths;
    for (DWORD index = 0; index < std::numeric_limits<DWORD>::max(); ++index) {
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof(iface);
        if (!SetupDiEnumDeviceInterfaces(list.get(), nullptr, &hid_guid, index, &iface)) {
            // Anything but the end means the list is incomplete, and a partial list is no list.
            if (GetLastError() == ERROR_NO_MORE_ITEMS) return paths;
            return std::nullopt;
        }
        if (auto path = InterfacePath(list.get(), iface)) paths.push_back(std::move(*path));
    }
    return std::nullopt;
}

Handle Win32Platform::OpenHid(std::u16string_view path, bool overlapped) {
    // CreateFileW would stop at an embedded NUL and open some other object.
    if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return kInvalidHandle;
    }
    const std::wstring wide(path.begin(), path.end());
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    return handle == INVALID_HANDLE_VALUE ? kInvalidHandle : handle;
}

bool Win32Platform::Close(Handle handle) {
    return Usable(handle) && CloseHandle(handle) != FALSE;
}

std::optional<HidAttributes> Win32Platform::GetAttributes(Handle handle) {
    if (!Usable(handle)) return std::nullopt;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof(attributes);
    if (!HidD_GetAttributes(handle, &attributes)) return std::nullopt;
    return HidAttributes{attributes.VendorID, attributes.ProductID, attributes.VersionNumber};
}

bool Win32Platform::GetFeature(Handle handle, std::span<uint8_t> report) {
    if (!UsableReport(handle, report.size())) return false;
    return HidD_GetFeature(handle, report.data(), static_cast<ULONG>(report.size())) != FALSE;
}

bool Win32Platform::SetFeature(Handle handle, std::span<const uint8_t> report) {
    if (!UsableReport(handle, report.size())) return false;
    // HidD_SetFeature takes a writable buffer; the caller's report stays untouched.
    std::array<uint8_t, 64> local;
    std::vector<uint8_t> large;
    uint8_t* buffer = local.data();
    if (report.size() > local.size()) {
        large.assign(report.begin(), report.end());
        buffer = large.data();
    } else {
        std::copy(report.begin(), report.end(), local.begin());
    }
    return HidD_SetFeature(handle, buffer, static_cast<ULONG>(report.size())) != FALSE;
}

Handle Win32Platform::OpenSerial(std::u16string_view path) {
    if (path.empty() || path.find(u'\0') != std::u16string_view::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return kInvalidHandle;
    }
    const std::wstring wide(path.begin(), path.end());
    HANDLE port = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) return kInvalidHandle;

    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 20;
    timeouts.ReadTotalTimeoutMultiplier = 20;
    timeouts.ReadTotalTimeoutConstant = 20;
    timeouts.WriteTotalTimeoutMultiplier = 20;
    timeouts.WriteTotalTimeoutConstant = 20;
    DCB state{};
    state.DCBlength = sizeof(state);
    bool configured = SetupComm(port, 1024, 1024) && SetCommTimeouts(port, &timeouts) && GetCommState(port, &state);
    if (configured) {
        state.BaudRate = CBR_115200;
        state.ByteSize = 8;
        state.Parity = NOPARITY;
        state.StopBits = ONESTOPBIT;
        configured = SetCommState(port, &state) != FALSE;
    }
    // A port left at another speed or without time-outs would only ever read noise, or
    // block forever.
    if (!configured) {
        const DWORD error = GetLastError();
        CloseHandle(port);
        SetLastError(error);
        return kInvalidHandle;
    }
    return port;
}

bool Win32Platform::PurgeSerial(Handle port) {
    if (!Usable(port)) return false;
    DWORD errors = 0;
    COMSTAT status{};
    const bool cleared = ClearCommError(port, &errors, &status) != FALSE;
    const bool purged = PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR) != FALSE;
    return cleared && purged;
}

std::optional<std::size_t> Win32Platform::WriteSerial(Handle port, std::span<const uint8_t> bytes) {
    if (!Usable(port)) return std::nullopt;
    if (bytes.size() > std::numeric_limits<DWORD>::max()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    DWORD written = 0;
    if (!WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) return std::nullopt;
    return written;
}

std::optional<uint8_t> Win32Platform::ReadSerialByte(Handle port) {
    if (!Usable(port)) return std::nullopt;
    uint8_t byte = 0;
    DWORD read = 0;
    // A time-out is a successful read of nothing.
    if (!ReadFile(port, &byte, 1, &read, nullptr) || read != 1) return std::nullopt;
    return byte;
}

namespace {

// Closes a kernel object it owns; every event below has one.
class EventHandle {
public:
    explicit EventHandle(HANDLE event) : event_(event) {}
    EventHandle(const EventHandle&) = delete;
    EventHandle& operator=(const EventHandle&) = delete;
    ~EventHandle() {
        if (event_ != nullptr) CloseHandle(event_);
    }
    HANDLE get() const { return event_; }

private:
    HANDLE event_;
};

class Win32InputReader final : public InputReader {
public:
    Win32InputReader(HANDLE handle, std::size_t reportLength)
        : handle_(handle),
          buffer_(reportLength),
          completion_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          cancel_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

    ~Win32InputReader() override { EndPendingRead(); }

    bool ready() const { return completion_.get() != nullptr && cancel_.get() != nullptr; }

    ReadResult Read(std::span<uint8_t> buffer, uint32_t waitMs) override {
        if (WaitForSingleObject(cancel_.get(), 0) == WAIT_OBJECT_0) return TakeCancel();
        if (!pending_ && !StartRead()) return {ReadStatus::Failed, 0};
        const HANDLE events[2] = {completion_.get(), cancel_.get()};
        switch (WaitForMultipleObjects(2, events, FALSE, waitMs)) {
            case WAIT_OBJECT_0:
                return Complete(buffer);
            case WAIT_OBJECT_0 + 1:
                return TakeCancel();
            case WAIT_TIMEOUT:
                return {ReadStatus::TimedOut, 0};
            default:
                EndPendingRead();
                return {ReadStatus::Failed, 0};
        }
    }

    void Cancel() override { SetEvent(cancel_.get()); }

private:
    bool StartRead() {
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = completion_.get();
        ResetEvent(completion_.get());
        if (ReadFile(handle_, buffer_.data(), static_cast<DWORD>(buffer_.size()), nullptr, &overlapped_) ||
            GetLastError() == ERROR_IO_PENDING) {
            pending_ = true;
            return true;
        }
        return false;
    }

    ReadResult Complete(std::span<uint8_t> buffer) {
        DWORD transferred = 0;
        const BOOL ok = GetOverlappedResult(handle_, &overlapped_, &transferred, FALSE);
        pending_ = false;
        if (!ok) return {ReadStatus::Failed, 0};
        const std::size_t length = std::min<std::size_t>({transferred, buffer_.size(), buffer.size()});
        std::copy_n(buffer_.begin(), length, buffer.begin());
        return {ReadStatus::Report, length};
    }

    ReadResult TakeCancel() {
        EndPendingRead();
        ResetEvent(cancel_.get());
        return {ReadStatus::Cancelled, 0};
    }

    // The kernel writes into buffer_ and overlapped_ until the read is over, so both must
    // outlive it: cancel, then wait for the cancelled read itself.
    void EndPendingRead() {
        if (!pending_) return;
        CancelIoEx(handle_, &overlapped_);
        DWORD transferred = 0;
        // A closed handle has ended the read already; the event still says when.
        if (!GetOverlappedResult(handle_, &overlapped_, &transferred, TRUE) && GetLastError() == ERROR_INVALID_HANDLE) {
            WaitForSingleObject(completion_.get(), INFINITE);
        }
        pending_ = false;
    }

    HANDLE handle_;
    std::vector<uint8_t> buffer_;
    EventHandle completion_;  // manual-reset, signalled when the read ends
    EventHandle cancel_;      // manual-reset, raised by Cancel until a Read takes it
    OVERLAPPED overlapped_{};
    bool pending_ = false;  // only the reading thread touches this
};

// A hidden top-level window on a thread of its own, whose message loop runs the
// callbacks. The thread creates the window, so its messages arrive there.
class SinkWindow final : public Registration {
public:
    using Handler = std::function<void(HWND, UINT, WPARAM, LPARAM)>;
    // Runs on the window's thread once the window exists; false refuses the registration.
    using Setup = std::function<bool(HWND)>;
    // Runs on the window's thread before the window goes.
    using Teardown = std::function<void(HWND)>;

    static std::unique_ptr<SinkWindow> Start(const wchar_t* className, Setup setup, Handler handler,
                                             Teardown teardown) {
        auto sink = std::unique_ptr<SinkWindow>(new SinkWindow(std::move(handler), std::move(teardown)));
        SinkWindow& started = *sink;
        sink->thread_ = std::thread([&started, className, setup = std::move(setup)] { started.Run(className, setup); });
        std::unique_lock lock(sink->startMutex_);
        sink->startedSignal_.wait(lock, [&] { return sink->started_; });
        lock.unlock();
        if (sink->window_ == nullptr) {
            sink->thread_.join();
            return nullptr;
        }
        return sink;
    }

    // WM_CLOSE ends the loop after the callback in progress, if any, has returned.
    ~SinkWindow() override {
        PostMessageW(window_, WM_CLOSE, 0, 0);
        if (thread_.joinable()) thread_.join();
    }

private:
    SinkWindow(Handler handler, Teardown teardown) : handler_(std::move(handler)), teardown_(std::move(teardown)) {}

    static bool RegisterClassOnce(const wchar_t* className) {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = &SinkWindow::Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = className;
        return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }

    void Run(const wchar_t* className, const Setup& setup) {
        HWND window = nullptr;
        if (RegisterClassOnce(className)) {
            window = CreateWindowExW(0, className, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                     GetModuleHandleW(nullptr), this);
        }
        if (window != nullptr && !setup(window)) {
            DestroyWindow(window);
            window = nullptr;
        }
        {
            std::lock_guard lock(startMutex_);
            window_ = window;
            started_ = true;
        }
        startedSignal_.notify_one();
        if (window == nullptr) return;
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* sink = reinterpret_cast<SinkWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (sink != nullptr) {
            switch (message) {
                case WM_CLOSE:
                    if (sink->teardown_) sink->teardown_(window);
                    DestroyWindow(window);
                    return 0;
                case WM_DESTROY:
                    PostQuitMessage(0);
                    return 0;
                default:
                    try {
                        sink->handler_(window, message, wParam, lParam);
                    } catch (...) {
                        // A callback's failure drops its event; the loop must go on.
                    }
            }
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    Handler handler_;
    Teardown teardown_;
    std::mutex startMutex_;
    std::condition_variable startedSignal_;
    bool started_ = false;   // guarded by startMutex_
    HWND window_ = nullptr;  // set by the thread before started_
    std::thread thread_;
};

// RIDI_DEVICENAME is read into a buffer of this many characters; a longer name is dropped.
constexpr UINT kDeviceNameCapacity = 260;

std::optional<std::u16string> RawInputDeviceName(HANDLE device) {
    std::array<wchar_t, kDeviceNameCapacity> name{};
    UINT capacity = kDeviceNameCapacity;
    const UINT copied = GetRawInputDeviceInfoW(device, RIDI_DEVICENAME, name.data(), &capacity);
    if (copied == 0 || copied == static_cast<UINT>(-1) || copied > kDeviceNameCapacity) return std::nullopt;
    std::u16string text(name.data(), name.data() + copied);
    // The count may include the terminator.
    while (!text.empty() && text.back() == u'\0') text.pop_back();
    return text;
}

// nullopt when the record is not whole, or is neither HID nor mouse input.
std::optional<RawInputEvent> ReadRawInput(HRAWINPUT handle) {
    UINT size = 0;
    if (GetRawInputData(handle, RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER)) != 0 ||
        size < sizeof(RAWINPUTHEADER)) {
        return std::nullopt;
    }
    // RAWINPUT holds 64-bit fields; a vector of those keeps the record aligned.
    std::vector<uint64_t> record((size + sizeof(uint64_t) - 1) / sizeof(uint64_t));
    UINT filled = size;
    if (GetRawInputData(handle, RID_INPUT, record.data(), &filled, sizeof(RAWINPUTHEADER)) != size) return std::nullopt;
    const auto& input = *reinterpret_cast<const RAWINPUT*>(record.data());

    RawInputEvent event;
    if (input.header.dwType == RIM_TYPEHID) {
        const RAWHID& hid = input.data.hid;
        const std::size_t offset = offsetof(RAWINPUT, data.hid.bRawData);
        if (size < offset || hid.dwCount == 0 || hid.dwSizeHid > size - offset) return std::nullopt;
        event.kind = RawInputEvent::Kind::Hid;
        event.report.assign(hid.bRawData, hid.bRawData + hid.dwSizeHid);
    } else if (input.header.dwType == RIM_TYPEMOUSE && size >= offsetof(RAWINPUT, data) + sizeof(RAWMOUSE)) {
        event.kind = RawInputEvent::Kind::Mouse;
        event.mouseButtonFlags = input.data.mouse.usButtonFlags;
    } else {
        return std::nullopt;
    }
    std::optional<std::u16string> name = RawInputDeviceName(input.header.hDevice);
    if (!name) return std::nullopt;
    event.deviceName = std::move(*name);
    return event;
}

std::vector<RAWINPUTDEVICE> RawInputDevices(std::span<const RawInputUsage> usages, DWORD flags, HWND target) {
    std::vector<RAWINPUTDEVICE> devices;
    for (const RawInputUsage& usage : usages)
        devices.push_back(RAWINPUTDEVICE{usage.usagePage, usage.usage, flags, target});
    return devices;
}

HKEY RootKey(RegistryRoot root) {
    return root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// Registry names end at their first NUL on the way to the OS; one inside would name another value.
std::optional<std::wstring> RegistryName(std::u16string_view name) {
    if (name.find(u'\0') != std::u16string_view::npos) return std::nullopt;
    return std::wstring(name.begin(), name.end());
}

std::optional<RegistryData> QueryValue(HKEY key, const wchar_t* name) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    // The value can grow between the two calls; ask again then, a few times.
    for (int attempt = 0; attempt < 3; ++attempt) {
        RegistryData data;
        data.bytes.resize(size);
        DWORD filled = size;
        const LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, data.bytes.data(), &filled);
        if (status == ERROR_SUCCESS) {
            data.bytes.resize(std::min(filled, size));
            data.type = type;
            return data;
        }
        if (status != ERROR_MORE_DATA) return std::nullopt;
        size = filled;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::u16string> Win32Platform::GetHidString(Handle handle, HidString which) {
    if (!Usable(handle)) return std::nullopt;
    // The HID class caps strings at 126 characters and a terminator; room to spare.
    std::array<wchar_t, 256> text{};
    const ULONG bytes = static_cast<ULONG>((text.size() - 1) * sizeof(wchar_t));
    BOOLEAN ok = FALSE;
    switch (which) {
        case HidString::Manufacturer:
            ok = HidD_GetManufacturerString(handle, text.data(), bytes);
            break;
        case HidString::Product:
            ok = HidD_GetProductString(handle, text.data(), bytes);
            break;
        case HidString::SerialNumber:
            ok = HidD_GetSerialNumberString(handle, text.data(), bytes);
            break;
    }
    if (!ok) return std::nullopt;
    std::size_t length = 0;
    while (length < text.size() - 1 && text[length] != L'\0') ++length;
    if (length == 0) return std::nullopt;
    return std::u16string(text.data(), text.data() + length);
}

std::unique_ptr<InputReader> Win32Platform::CreateInputReader(Handle handle, std::size_t reportLength) {
    if (!Usable(handle)) return nullptr;
    if (reportLength == 0 || reportLength > std::numeric_limits<DWORD>::max()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto reader = std::make_unique<Win32InputReader>(handle, reportLength);
    if (!reader->ready()) return nullptr;
    return reader;
}

std::unique_ptr<Registration> Win32Platform::RegisterRawInput(std::span<const RawInputUsage> usages,
                                                              RawInputCallback callback) {
    if (usages.empty() || !callback) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::vector<RawInputUsage> wanted(usages.begin(), usages.end());
    auto setup = [wanted](HWND window) {
        const auto devices = RawInputDevices(wanted, RIDEV_INPUTSINK, window);
        return RegisterRawInputDevices(devices.data(), static_cast<UINT>(devices.size()), sizeof(RAWINPUTDEVICE)) !=
               FALSE;
    };
    auto handler = [callback = std::move(callback)](HWND, UINT message, WPARAM, LPARAM lParam) {
        if (message != WM_INPUT) return;
        if (std::optional<RawInputEvent> event = ReadRawInput(reinterpret_cast<HRAWINPUT>(lParam))) callback(*event);
    };
    auto teardown = [wanted](HWND) {
        const auto devices = RawInputDevices(wanted, RIDEV_REMOVE, nullptr);
        // Failure leaves a registration whose window is about to go; Windows drops its input.
        RegisterRawInputDevices(devices.data(), static_cast<UINT>(devices.size()), sizeof(RAWINPUTDEVICE));
    };
    return SinkWindow::Start(kRawInputSinkClass, std::move(setup), std::move(handler), std::move(teardown));
}

std::unique_ptr<Registration> Win32Platform::RegisterDeviceChange(DeviceChangeCallback callback) {
    if (!callback) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Owned by the window's thread: set in setup, released in teardown.
    auto notification = std::make_shared<HDEVNOTIFY>(nullptr);
    auto setup = [notification](HWND window) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        HidD_GetHidGuid(&filter.dbcc_classguid);
        *notification = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        return *notification != nullptr;
    };
    auto handler = [callback = std::move(callback)](HWND, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != WM_DEVICECHANGE) return;
        if (wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE) return;
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
            header->dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)) {
            return;
        }
        const auto* iface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
        // The name runs to its terminator, within the size the broadcast states.
        const std::size_t capacity =
            (header->dbch_size - offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) / sizeof(wchar_t);
        std::size_t length = 0;
        while (length < capacity && iface->dbcc_name[length] != L'\0') ++length;
        const std::u16string path(iface->dbcc_name, iface->dbcc_name + length);
        callback(wParam == DBT_DEVICEARRIVAL ? DeviceChange::Arrival : DeviceChange::RemoveComplete, path);
    };
    auto teardown = [notification](HWND) {
        if (*notification != nullptr) UnregisterDeviceNotification(*notification);
        *notification = nullptr;
    };
    return SinkWindow::Start(kDeviceChangeSinkClass, std::move(setup), std::move(handler), std::move(teardown));
}

std::optional<std::vector<std::optional<RegistryData>>> Win32Platform::QueryRegistryValues(
    RegistryRoot root, std::u16string_view key, std::span<const std::u16string_view> names) {
    const std::optional<std::wstring> keyName = RegistryName(key);
    if (!keyName) return std::nullopt;
    HKEY opened = nullptr;
    if (RegOpenKeyExW(RootKey(root), keyName->c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::vector<std::optional<RegistryData>> values;
    for (std::u16string_view name : names) {
        const std::optional<std::wstring> valueName = RegistryName(name);
        values.push_back(valueName ? QueryValue(opened, valueName->c_str()) : std::nullopt);
    }
    RegCloseKey(opened);
    return values;
}

void Win32Platform::Sleep(uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

Win32Platform& Win32PlatformInstance() {
    static Win32Platform instance;
    return instance;
}

}  // namespace kav::platform::win32
