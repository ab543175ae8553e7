#include "controlpanel/kavlib_touch_screens.h"

#include <KavLib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

namespace kav::cpl {
namespace {

static_assert(sizeof(DEVICE_CONFIG) == sizeof(KAVLIB_RECORD));

// Text buffers of the About dialog's reads.
constexpr std::size_t kTextBufferSize = 64;

// KavLib takes a plain function and keeps one registration per process; this is where that
// one registration's target lives. Only the registering thread touches it: KavLib calls
// back on that thread.
DeviceNotifyCallback& NotifyTarget() {
    static DeviceNotifyCallback target;
    return target;
}

void ForwardDeviceEvent(std::uint32_t event, std::uint32_t parameter) {
    if (const DeviceNotifyCallback& target = NotifyTarget()) target(event, parameter);
}

}  // namespace

KavLibTouchScreens::~KavLibTouchScreens() = default;

int KavLibTouchScreens::GetTouchScreenCount() {
    return Nerio_GetTouchScreenCount();
}

std::vector<ScreenHandle> KavLibTouchScreens::GetTouchScreenInformation() {
    std::array<KAVLIB_HANDLE, KAVLIB_MAX_DEVICES> handles{};
    unsigned char count = 0;
    Nerio_GetTouchScreenInformation(handles.data(), count);
    const std::size_t listed = std::min<std::size_t>(count, handles.size());
    // Parentheses, not braces: a braced pair of iterators would be a list of two handles,
    // since a pointer to a handle converts to a handle.
    return std::vector<ScreenHandle>(handles.begin(), handles.begin() + static_cast<std::ptrdiff_t>(listed));
}

void KavLibTouchScreens::Close(ScreenHandle screen) {
    Nerio_CloseTouchScreen(screen);
}

bool KavLibTouchScreens::GetDeviceConfig(ScreenHandle screen, DEVICE_CONFIG& record) {
    KAVLIB_RECORD read{};
    std::memcpy(read.Data, &record, sizeof read.Data);
    if (::GetDeviceConfig(screen, read.Data) == 0) return false;
    std::memcpy(&record, read.Data, sizeof read.Data);
    return true;
}

bool KavLibTouchScreens::SetDeviceConfig(ScreenHandle screen, const DEVICE_CONFIG& record) {
    KAVLIB_RECORD block{};
    std::memcpy(block.Data, &record, sizeof block.Data);
    return ::SetDeviceConfig(screen, block) != 0;
}

bool KavLibTouchScreens::GetDriverConfig(ScreenHandle screen, _NERIO_DRIVER_CONFIG& config) {
    return Nerio_GetDriverConfig(screen, config) != 0;
}

bool KavLibTouchScreens::SetDriverConfig(ScreenHandle screen, const _NERIO_DRIVER_CONFIG& config) {
    return Nerio_SetDriverConfig(screen, config) != 0;
}

std::optional<std::string> KavLibTouchScreens::GetFirmwareVersion(ScreenHandle screen) {
    std::array<char, kTextBufferSize> text{};
    unsigned char length = 0;
    if (GetFirewareVersion(screen, 0, text.data(), length) == 0) return std::nullopt;
    text.back() = '\0';
    return std::string(text.data());
}

std::optional<std::string> KavLibTouchScreens::GetProductSerialNumber(ScreenHandle screen) {
    std::array<char, kTextBufferSize> text{};
    int length = 0;
    // Zero is success here.
    if (Nerio_GetProductSN_OEM(screen, text.data(), length) != 0) return std::nullopt;
    text.back() = '\0';
    return std::string(text.data());
}

std::optional<std::uint16_t> KavLibTouchScreens::GetUsbCableVersion(ScreenHandle screen) {
    unsigned short version = 0;
    if (GetUSBCableVersion(screen, version) == 0) return std::nullopt;
    return version;
}

bool KavLibTouchScreens::RegisterDeviceNotifyCallback(DeviceNotifyCallback callback) {
    if (!callback || NotifyTarget()) return false;
    NotifyTarget() = std::move(callback);
    if (Nerio_RegisterDeviceNotifyCallback(&ForwardDeviceEvent) != 0) return true;
    NotifyTarget() = nullptr;
    return false;
}

bool KavLibTouchScreens::UnRegisterDeviceNotifyCallback() {
    const bool registered = Nerio_UnRegisterDeviceNotifyCallback() != 0;
    NotifyTarget() = nullptr;
    return registered;
}

}  // namespace kav::cpl
