#include "report_descriptor.h"

namespace kav::sim {
namespace {

struct GlobalState {
    std::uint32_t usagePage = 0;
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::optional<std::uint8_t> reportId;
};

enum : std::uint8_t {
    kInput = 0x80,
    kOutput = 0x90,
    kFeature = 0xB0,
    kCollection = 0xA0,
    kEndCollection = 0xC0,
    kUsagePage = 0x04,
    kReportSize = 0x74,
    kReportId = 0x84,
    kReportCount = 0x94,
    kPush = 0xA4,
    kPop = 0xB4,
    kUsage = 0x08,
    kLongItem = 0xFE,
};

constexpr std::uint8_t kApplication = 0x01;
constexpr std::uint32_t kContactCountMaximum = 0x000D0055;  // digitizer page, usage 0x55
constexpr std::size_t kMaxPushDepth = 16;

}  // namespace

std::variant<std::vector<TopLevelCollection>, ReportDescriptorError> ParseReportDescriptor(
    std::span<const std::uint8_t> bytes) {
    std::vector<TopLevelCollection> collections;
    GlobalState global;
    std::vector<GlobalState> pushed;
    // Local: the usages since the last main item, each with its page in the high word.
    std::vector<std::uint32_t> usages;
    int depth = 0;
    auto fail = [](std::size_t offset, std::string reason) { return ReportDescriptorError{offset, std::move(reason)}; };

    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t at = i;
        const std::uint8_t prefix = bytes[i];
        if (prefix == kLongItem) {
            if (i + 1 >= bytes.size()) return fail(at, "long item cut off");
            i += 3 + bytes[i + 1];
            if (i > bytes.size()) return fail(at, "long item cut off");
            continue;
        }
        const std::size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (i + 1 + size > bytes.size()) return fail(at, "item data cut off");
        std::uint32_t data = 0;
        for (std::size_t k = 0; k < size; ++k) data |= static_cast<std::uint32_t>(bytes[i + 1 + k]) << (8 * k);
        i += 1 + size;

        const std::uint8_t tag = prefix & 0xFC;
        switch (tag) {
            case kInput:
            case kOutput:
            case kFeature: {
                if (depth == 0) return fail(at, "main item outside any collection");
                if (!global.reportId) return fail(at, "report without a report ID");
                TopLevelCollection& c = collections.back();
                auto& bits = tag == kInput ? c.inputBits : tag == kOutput ? c.outputBits : c.featureBits;
                bits[*global.reportId] += global.reportSize * global.reportCount;
                if (tag == kFeature)
                    for (std::uint32_t usage : usages)
                        if (usage == kContactCountMaximum) c.contactCountMaximumReport = *global.reportId;
                usages.clear();
                break;
            }
            case kCollection:
                if (depth++ == 0) {
                    if (data != kApplication) return fail(at, "top-level collection is not an application collection");
                    const std::uint32_t usage = usages.empty() ? 0 : usages.front();
                    TopLevelCollection& c = collections.emplace_back();
                    c.usagePage = static_cast<std::uint16_t>(usage >> 16);
                    c.usage = static_cast<std::uint16_t>(usage);
                }
                usages.clear();
                break;
            case kEndCollection:
                if (--depth < 0) return fail(at, "end collection without a collection");
                usages.clear();
                break;
            case kUsagePage:
                global.usagePage = data;
                break;
            case kReportSize:
                global.reportSize = data;
                break;
            case kReportCount:
                global.reportCount = data;
                break;
            case kReportId: {
                if (data == 0 || data > 0xFF) return fail(at, "report ID outside 1..255");
                global.reportId = static_cast<std::uint8_t>(data);
                if (depth == 0) return fail(at, "report ID outside any collection");
                std::vector<std::uint8_t>& ids = collections.back().reportIds;
                bool known = false;
                for (std::uint8_t id : ids) known = known || id == data;
                if (!known) ids.push_back(static_cast<std::uint8_t>(data));
                break;
            }
            case kPush:
                if (pushed.size() == kMaxPushDepth) return fail(at, "push nested too deeply");
                pushed.push_back(global);
                break;
            case kPop:
                if (pushed.empty()) return fail(at, "pop without a push");
                global = pushed.back();
                pushed.pop_back();
                break;
            case kUsage:
                // A four-byte usage carries its own page.
                usages.push_back(size == 4 ? data : (global.usagePage << 16) | (data & 0xFFFF));
                break;
            default:
                break;  // logical and physical ranges, units, usage ranges, designators ...
        }
    }
    if (depth != 0) return fail(bytes.size(), "collection left open");
    // An ID declared in two collections could not be routed.
    for (std::size_t a = 0; a < collections.size(); ++a)
        for (std::size_t b = a + 1; b < collections.size(); ++b)
            for (std::uint8_t id : collections[a].reportIds)
                for (std::uint8_t other : collections[b].reportIds)
                    if (id == other) return fail(bytes.size(), "report ID in two top-level collections");
    return collections;
}

}  // namespace kav::sim
