#include "beepservice/win32/win32_raw_input.h"

#include <cstddef>
#include <cstdlib>
#include <new>
#include <string_view>
#include <vector>

#include "beepservice/win32/simulated_raw_input.h"

namespace kav::beep::win32 {
namespace {

// RIDI_DEVICENAME is read into a buffer of this many characters; a longer name fails.
constexpr UINT kDeviceNameCapacity = 260;

std::optional<std::u16string> DeviceName(HANDLE device) {
    wchar_t name[kDeviceNameCapacity];
    UINT capacity = kDeviceNameCapacity;
    const UINT copied = GetRawInputDeviceInfoW(device, RIDI_DEVICENAME, name, &capacity);
    if (copied == 0 || copied == static_cast<UINT>(-1) || copied > kDeviceNameCapacity) return std::nullopt;
    std::u16string text(reinterpret_cast<const char16_t*>(name), copied);
    // The count may include the terminator.
    while (!text.empty() && text.back() == u'\0') text.pop_back();
    return text;
}

// The first HID report of the record, when the record really holds it.
std::vector<std::uint8_t> FirstHidReport(const RAWINPUT& input, std::size_t recordSize) {
    const RAWHID& hid = input.data.hid;
    const std::size_t offset = offsetof(RAWINPUT, data.hid.bRawData);
    if (hid.dwCount == 0 || recordSize < offset || hid.dwSizeHid > recordSize - offset) return {};
    return std::vector<std::uint8_t>(hid.bRawData, hid.bRawData + hid.dwSizeHid);
}

std::optional<RawInputRecord> ReadRecord(HRAWINPUT handle) {
    UINT size = 0;
    if (GetRawInputData(handle, RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER)) != 0 ||
        size < sizeof(RAWINPUTHEADER)) {
        return std::nullopt;
    }
    // RAWINPUT holds 64-bit fields; a vector of those keeps the record aligned.
    std::vector<std::uint64_t> buffer((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    UINT filled = size;
    if (GetRawInputData(handle, RID_INPUT, buffer.data(), &filled, sizeof(RAWINPUTHEADER)) != size) return std::nullopt;
    const RAWINPUT& input = *reinterpret_cast<const RAWINPUT*>(buffer.data());

    std::optional<std::u16string> name = DeviceName(input.header.hDevice);
    if (!name) return std::nullopt;
    RawInputRecord record;
    record.deviceName = std::move(*name);
    if (input.header.dwType == RIM_TYPEMOUSE && size >= offsetof(RAWINPUT, data) + sizeof(RAWMOUSE)) {
        record.type = RawInputRecord::Type::Mouse;
        record.mouseButtonFlags = input.data.mouse.usButtonFlags;
    } else if (input.header.dwType == RIM_TYPEHID) {
        record.type = RawInputRecord::Type::Hid;
        record.hidReport = FirstHidReport(input, size);
    }
    return record;
}

// As KavLib reads it: the simulation is asked for by KAVLIB_PLATFORM=sim in any case.
bool SimulationRequested() {
    const char* value = std::getenv("KAVLIB_PLATFORM");
    if (value == nullptr) return false;
    const std::string_view text(value);
    return text.size() == 3 && (text[0] | 0x20) == 's' && (text[1] | 0x20) == 'i' && (text[2] | 0x20) == 'm';
}

}  // namespace

bool Win32RawInput::Register(const std::array<RawInputDevice, 2>& devices) {
    RAWINPUTDEVICE entries[2];
    for (std::size_t i = 0; i < devices.size(); ++i) {
        entries[i] = RAWINPUTDEVICE{devices[i].usagePage, devices[i].usage, RIDEV_INPUTSINK, target_};
    }
    return RegisterRawInputDevices(entries, 2, sizeof(RAWINPUTDEVICE)) != FALSE;
}

std::optional<RawInputRecord> Win32RawInput::Read(RawInputHandle handle) {
    try {
        return ReadRecord(reinterpret_cast<HRAWINPUT>(handle));
    } catch (const std::bad_alloc&) {
        return std::nullopt;  // drops this one event, as a failed allocation should
    }
}

DialogRawInput::DialogRawInput(HWND target) : system_(target) {
    if (SimulationRequested()) simulation_ = std::make_unique<SimulatedRawInput>(target);
}

DialogRawInput::~DialogRawInput() = default;

bool DialogRawInput::Register(const std::array<RawInputDevice, 2>& devices) {
    return system_.Register(devices) && (simulation_ == nullptr || simulation_->Register(devices));
}

std::optional<RawInputRecord> DialogRawInput::Read(RawInputHandle handle) {
    if (origin_ == Origin::Simulation) {
        return simulation_ != nullptr ? simulation_->Read(handle) : std::nullopt;
    }
    return system_.Read(handle);
}

}  // namespace kav::beep::win32
