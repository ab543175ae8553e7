#include "devicelib/discovery.h"

#include <algorithm>

#include "shared/device_commands.h"
#include "shared/hid_reports.h"

namespace kav::devicelib {

namespace {

constexpr std::uint8_t kTouchCollection = kTouchReportId;
constexpr std::uint8_t kVendorCollection = kRawPacketReportId;

char16_t Lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool ContainsIgnoringCase(std::u16string_view text, std::u16string_view marker) {
    if (marker.empty()) return false;
    const auto found = std::search(text.begin(), text.end(), marker.begin(), marker.end(),
                                   [](char16_t a, char16_t b) { return Lower(a) == b; });
    return found != text.end();
}

bool Accepts(const InterfaceFilter& filter, std::u16string_view path, const platform::HidAttributes& attributes) {
    if (filter.byIds) return attributes.VendorId == filter.vendorId && attributes.ProductId == filter.productId;
    return protocol::IsTouchController(attributes.VendorId, attributes.ProductId) &&
           ContainsIgnoringCase(path, CollectionMarker(filter.collection));
}

}  // namespace

std::u16string_view CollectionMarker(std::uint8_t collection) {
    if (collection == kTouchCollection) return u"col01";
    if (collection == kVendorCollection) return u"col06";
    return {};
}

std::optional<std::vector<std::u16string>> ListInterfaces(const InterfaceFilter& filter, std::size_t limit) {
    platform::Platform& os = platform::CurrentPlatform();
    std::optional<std::vector<std::u16string>> interfaces = os.EnumerateHidInterfaces();
    if (!interfaces) return std::nullopt;
    std::vector<std::u16string> kept;
    for (std::u16string& path : *interfaces) {
        if (kept.size() >= limit) break;
        // A path cut to fit would name another interface or none.
        if (path.empty() || path.size() >= kPathBufferChars) continue;
        const platform::UniqueHandle device(os.OpenHid(path, true), os);
        if (!device) continue;
        const std::optional<platform::HidAttributes> attributes = os.GetAttributes(device.get());
        if (!attributes || !Accepts(filter, path, *attributes)) continue;
        kept.push_back(std::move(path));
    }
    return kept;
}

Handle OpenDevicePath(std::u16string_view path, bool overlapped) {
    return platform::CurrentPlatform().OpenHid(path, overlapped);
}

std::optional<std::vector<Handle>> OpenTouchScreens() {
    const std::optional<std::vector<std::u16string>> paths =
        ListInterfaces(InterfaceFilter::TouchController(kTouchCollection));
    if (!paths || paths->empty()) return std::nullopt;
    std::vector<Handle> handles;
    handles.reserve(paths->size());
    for (const std::u16string& path : *paths) handles.push_back(OpenDevicePath(path, true));
    return handles;
}

}  // namespace kav::devicelib
