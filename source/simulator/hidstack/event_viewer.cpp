#include "event_viewer.h"

namespace kav::sim {
namespace {

struct Message {
    std::uint32_t code;
    const char16_t* text;
};

constexpr Message kMessages[] = {
#include "kavusb_messages.inc"
};

}  // namespace

std::u16string EventViewerText(std::uint32_t code, const std::u16string& insertion) {
    for (const Message& m : kMessages) {
        if (m.code != code) continue;
        std::u16string text = m.text;
        const std::size_t at = text.find(u"%1");
        if (at != std::u16string::npos) text.replace(at, 2, insertion);
        return text;
    }
    return insertion;
}

std::u16string EventViewerText(const kmdf::ErrorLogEntry& entry) {
    return EventViewerText(static_cast<std::uint32_t>(entry.Packet().ErrorCode), entry.InsertionString());
}

}  // namespace kav::sim
