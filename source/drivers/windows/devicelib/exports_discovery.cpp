// Discovery and opening: shells over discovery.h and the platform.
#include <algorithm>
#include <string>

#include "devicelib/discovery.h"
#include "devicelib/guarded.h"
#include "devicelib/include/KavLib.h"
#include "shared/hid_reports.h"

namespace {

using kav::devicelib::Guarded;
using kav::devicelib::Handle;
using kav::devicelib::InterfaceFilter;
using kav::platform::CurrentPlatform;
using kav::platform::kInvalidHandle;

enum Kind : unsigned char { kKindSerial = 0, kKindHid = 1 };

static_assert(sizeof(KAVLIB_WCHAR) == sizeof(char16_t));
static_assert(KAVLIB_MAX_PATH == kav::devicelib::kPathBufferChars);
static_assert(KAVLIB_MAX_DEVICES == kav::devicelib::kMaxListedDevices);

// The caller's path as UTF-16 units, at most one buffer long.
std::u16string PathOf(const KAVLIB_WCHAR* path) {
    std::u16string units;
    for (std::size_t i = 0; i < kav::devicelib::kPathBufferChars && path[i] != 0; ++i)
        units.push_back(static_cast<char16_t>(path[i]));
    return units;
}

// The caller's buffers in use: up to the first null pointer, at most the table's size.
std::size_t BuffersOf(KAVLIB_WCHAR** paths) {
    std::size_t n = 0;
    while (n < kav::devicelib::kMaxListedDevices && paths[n] != nullptr) ++n;
    return n;
}

unsigned char Enumerate(KAVLIB_WCHAR** paths, int& count, const InterfaceFilter& filter) {
    count = 0;
    if (paths == nullptr) return 0;
    return Guarded([&] {
        const auto listed = kav::devicelib::ListInterfaces(filter, BuffersOf(paths));
        if (!listed) return false;
        for (std::size_t i = 0; i < listed->size(); ++i) {
            const std::u16string& path = (*listed)[i];
            std::transform(path.begin(), path.end(), paths[i], [](char16_t unit) { return KAVLIB_WCHAR(unit); });
            paths[i][path.size()] = 0;
        }
        count = static_cast<int>(listed->size());
        return count > 0;
    });
}

unsigned char Open(const KAVLIB_WCHAR* path, bool overlapped, KAVLIB_HANDLE& handle) {
    handle = kInvalidHandle;
    if (path == nullptr) return 0;
    return Guarded([&] {
        handle = kav::devicelib::OpenDevicePath(PathOf(path), overlapped);
        return kav::platform::IsValidHandle(handle);
    });
}

unsigned char Close(KAVLIB_HANDLE handle) {
    return Guarded([&] { return CurrentPlatform().Close(handle); });
}

}  // namespace

extern "C" {

unsigned char EnumDevice_HID(KAVLIB_WCHAR** paths, int& count, unsigned char collection) {
    return Enumerate(paths, count, InterfaceFilter::TouchController(collection));
}

unsigned char Nerio_EnumTouchScreen(KAVLIB_WCHAR** paths, int& count) {
    return EnumDevice_HID(paths, count, kav::kTouchReportId);
}

unsigned char Nerio_Device_EnumDevice(unsigned char kind, KAVLIB_WCHAR** paths, int& count) {
    if (kind != kKindHid) {
        count = 0;
        return 0;
    }
    return Nerio_EnumTouchScreen(paths, count);
}

unsigned char Nerio_HID_EnumDevice(KAVLIB_WCHAR** paths, int& count, unsigned short vendorId,
                                   unsigned short productId) {
    return Enumerate(paths, count, InterfaceFilter::Device(vendorId, productId));
}

unsigned char Nerio_OpenTouchScreen(const KAVLIB_WCHAR* path, KAVLIB_HANDLE& handle) {
    return Open(path, true, handle);
}
unsigned char OpenDevice_HID(const KAVLIB_WCHAR* path, KAVLIB_HANDLE& handle)
    KAV_EXPORT_ALIAS_OF(Nerio_OpenTouchScreen);

unsigned char Nerio_HID_OpenDevice(const KAVLIB_WCHAR* path, unsigned char overlapped, KAVLIB_HANDLE& handle) {
    return Open(path, overlapped != 0, handle);
}

unsigned char Nerio_COM_OpenDevice(const KAVLIB_WCHAR* port, KAVLIB_HANDLE& handle) {
    handle = kInvalidHandle;
    if (port == nullptr) return 0;
    return Guarded([&] {
        handle = CurrentPlatform().OpenSerial(PathOf(port));
        return kav::platform::IsValidHandle(handle);
    });
}

unsigned char Nerio_Device_OpenDevice(unsigned char kind, const KAVLIB_WCHAR* path, KAVLIB_HANDLE& handle) {
    if (kind == kKindSerial) return Nerio_COM_OpenDevice(path, handle);
    if (kind == kKindHid) return Nerio_OpenTouchScreen(path, handle);
    return 0;
}

unsigned char Nerio_CloseTouchScreen(KAVLIB_HANDLE handle) {
    return Close(handle);
}
unsigned char CloseDevice_HID(KAVLIB_HANDLE handle) KAV_EXPORT_ALIAS_OF(Nerio_CloseTouchScreen);
unsigned char Nerio_HID_CloseDevice(KAVLIB_HANDLE handle) KAV_EXPORT_ALIAS_OF(Nerio_CloseTouchScreen);

unsigned char Nerio_COM_CloseDevice(KAVLIB_HANDLE handle) {
    return Close(handle);
}

unsigned char Nerio_Device_CloseDevice(unsigned char kind, KAVLIB_HANDLE handle) {
    if (kind != kKindSerial && kind != kKindHid) return 0;
    return Close(handle);
}

unsigned char Nerio_GetTouchScreenInformation(KAVLIB_HANDLE* handles, unsigned char& count) {
    count = 0;
    if (handles == nullptr) return 0;
    return Guarded([&] {
        const auto opened = kav::devicelib::OpenTouchScreens();
        if (!opened) return false;
        std::copy(opened->begin(), opened->end(), handles);
        count = static_cast<unsigned char>(opened->size());
        return true;
    });
}

int Nerio_GetTouchScreenCount(void) {
    return Guarded<int>(0, [] {
        const auto opened = kav::devicelib::OpenTouchScreens();
        if (!opened) return 0;
        for (Handle handle : *opened)
            if (kav::platform::IsValidHandle(handle)) CurrentPlatform().Close(handle);
        return static_cast<int>(opened->size());
    });
}

unsigned char GetProductID(KAVLIB_HANDLE device, unsigned short& productId) {
    return Guarded([&] {
        const auto attributes = CurrentPlatform().GetAttributes(device);
        if (attributes) productId = attributes->ProductId;
        return attributes.has_value();
    });
}

unsigned char Nerio_GetProductID(KAVLIB_HANDLE device, int& productId) {
    productId = 0;
    unsigned short id = 0;
    if (GetProductID(device, id) == 0) return 0;
    productId = id;
    return 1;
}

unsigned char GetUSBCableVersion(KAVLIB_HANDLE device, unsigned short& version) {
    return Guarded([&] {
        const auto attributes = CurrentPlatform().GetAttributes(device);
        if (attributes) version = attributes->VersionNumber;
        return attributes.has_value();
    });
}

}  // extern "C"
