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

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
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

void Win32Platform::Sleep(uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

Win32Platform& Win32PlatformInstance() {
    static Win32Platform instance;
    return instance;
}

}  // namespace kav::platform::win32
