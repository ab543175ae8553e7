// Finding touch screens among the system's HID interfaces, and opening them. No state is
// kept between calls: every listing walks the whole interface list and opens each
// candidate to read its attributes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "devicelib/platform/platform.h"

namespace kav::devicelib {

using platform::Handle;

// Room of the callers' tables: path buffers and handles.
constexpr std::size_t kMaxListedDevices = 64;
// Characters of one path buffer, terminator included.
constexpr std::size_t kPathBufferChars = 260;

// Which interfaces a listing keeps.
struct InterfaceFilter {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;  // with vendorId: exactly this device, any collection
    std::uint8_t collection = 0;  // otherwise: a touch controller's interface of this collection
    bool byIds = false;

    static InterfaceFilter TouchController(std::uint8_t collection) { return {0, 0, collection, false}; }
    static InterfaceFilter Device(std::uint16_t vendorId, std::uint16_t productId) {
        return {vendorId, productId, 0, true};
    }
};

// The marker that a lower-cased path of the collection holds ("col01" for the touch
// collection 0x30, "col06" for the vendor collection 0x36); empty for any other selector.
std::u16string_view CollectionMarker(std::uint8_t collection);

// The kept paths in list order, at most `limit`; paths that would not fit a caller's
// buffer are skipped. nullopt when the list cannot be obtained.
std::optional<std::vector<std::u16string>> ListInterfaces(const InterfaceFilter& filter,
                                                          std::size_t limit = kMaxListedDevices);

// Read and write access, shared; kInvalidHandle on failure.
Handle OpenDevicePath(std::u16string_view path, bool overlapped);

// Opens every listed touch screen, in list order; a slot whose open failed holds
// kInvalidHandle. nullopt when nothing was listed.
std::optional<std::vector<Handle>> OpenTouchScreens();

}  // namespace kav::devicelib
