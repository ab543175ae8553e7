#include "report_descriptor.h"

#include <algorithm>
#include <array>

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
// Report bits beyond this would make a report longer than kMaxReportLength.
constexpr std::uint64_t kMaxReportBits = (kMaxReportLength - 1) * std::uint64_t{8};

struct Item {
    std::size_t offset = 0;
    std::uint8_t tag = 0;  // the prefix without its size bits
    std::size_t size = 0;  // data bytes
    std::uint32_t data = 0;
};

class Parser {
public:
    explicit Parser(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::variant<std::vector<TopLevelCollection>, ReportDescriptorError> Run() {
        if (bytes_.size() > kMaxReportDescriptorLength)
            return ReportDescriptorError{kMaxReportDescriptorLength, "descriptor longer than 65535 bytes"};
        while (next_ < bytes_.size()) {
            Item item;
            std::optional<ReportDescriptorError> error = ReadItem(item);
            if (!error && item.tag != kLongItem) error = Apply(item);
            if (error) return *error;
        }
        if (std::optional<ReportDescriptorError> error = Finish()) return *error;
        return std::move(collections_);
    }

private:
    using Result = std::optional<ReportDescriptorError>;

    static ReportDescriptorError Fail(std::size_t offset, std::string reason) {
        return ReportDescriptorError{offset, std::move(reason)};
    }

    // The item at next_: a long item is only stepped over; a short one carries 0, 1, 2
    // or 4 bytes of little-endian data.
    Result ReadItem(Item& item) {
        item.offset = next_;
        const std::uint8_t prefix = bytes_[next_];
        if (prefix == kLongItem) {
            item.tag = kLongItem;
            if (next_ + 1 >= bytes_.size()) return Fail(item.offset, "long item cut off");
            next_ += 3 + std::size_t{bytes_[next_ + 1]};
            if (next_ > bytes_.size()) return Fail(item.offset, "long item cut off");
            return std::nullopt;
        }
        item.size = (prefix & 3) == 3 ? 4 : (prefix & 3);
        if (next_ + 1 + item.size > bytes_.size()) return Fail(item.offset, "item data cut off");
        for (std::size_t k = 0; k < item.size; ++k)
            item.data |= static_cast<std::uint32_t>(bytes_[next_ + 1 + k]) << (8 * k);
        item.tag = prefix & 0xFC;
        next_ += 1 + item.size;
        return std::nullopt;
    }

    Result Apply(const Item& item) {
        switch (item.tag) {
            case kInput:
            case kOutput:
            case kFeature:
                return OnReport(item);
            case kCollection:
                return OnCollection(item);
            case kEndCollection:
                if (--depth_ < 0) return Fail(item.offset, "end collection without a collection");
                usages_.clear();
                return std::nullopt;
            case kReportId:
                return OnReportId(item);
            case kPush:
                if (pushed_.size() == kMaxPushDepth) return Fail(item.offset, "push nested too deeply");
                pushed_.push_back(global_);
                return std::nullopt;
            case kPop:
                if (pushed_.empty()) return Fail(item.offset, "pop without a push");
                global_ = pushed_.back();
                pushed_.pop_back();
                return std::nullopt;
            default:
                ApplyPlain(item);
                return std::nullopt;
        }
    }

    // Globals and locals that only set a value.
    void ApplyPlain(const Item& item) {
        switch (item.tag) {
            case kUsagePage:
                global_.usagePage = item.data;
                break;
            case kReportSize:
                global_.reportSize = item.data;
                break;
            case kReportCount:
                global_.reportCount = item.data;
                break;
            case kUsage:
                // A four-byte usage carries its own page.
                usages_.push_back(item.size == 4 ? item.data : (global_.usagePage << 16) | (item.data & 0xFFFF));
                break;
            default:
                break;  // logical and physical ranges, units, usage ranges, designators ...
        }
    }

    // Input, output and feature items add their bits to the report of the current ID.
    Result OnReport(const Item& item) {
        if (depth_ == 0) return Fail(item.offset, "main item outside any collection");
        if (!global_.reportId) return Fail(item.offset, "report without a report ID");
        TopLevelCollection& c = collections_.back();
        // The ID is global state: it may have been set in an earlier collection, and the
        // report is then this one's too.
        ListId(c, *global_.reportId);
        auto& bits = item.tag == kInput ? c.inputBits : item.tag == kOutput ? c.outputBits : c.featureBits;
        std::uint32_t& total = bits[*global_.reportId];
        // Size and count are 32-bit each: their product, and the sum, must not wrap.
        const std::uint64_t grown = total + std::uint64_t{global_.reportSize} * std::uint64_t{global_.reportCount};
        if (grown > kMaxReportBits) return Fail(item.offset, "report longer than 65535 bytes");
        total = static_cast<std::uint32_t>(grown);
        if (item.tag == kFeature)
            for (std::uint32_t usage : usages_)
                if (usage == kContactCountMaximum) c.contactCountMaximumReport = *global_.reportId;
        usages_.clear();
        return std::nullopt;
    }

    // Only the outermost collection opens a top-level collection, named by the usage before it.
    Result OnCollection(const Item& item) {
        if (depth_++ == 0) {
            if (item.data != kApplication)
                return Fail(item.offset, "top-level collection is not an application collection");
            const std::uint32_t usage = usages_.empty() ? 0 : usages_.front();
            TopLevelCollection& c = collections_.emplace_back();
            c.usagePage = static_cast<std::uint16_t>(usage >> 16);
            c.usage = static_cast<std::uint16_t>(usage);
        }
        usages_.clear();
        return std::nullopt;
    }

    Result OnReportId(const Item& item) {
        if (item.data == 0 || item.data > 0xFF) return Fail(item.offset, "report ID outside 1..255");
        const auto id = static_cast<std::uint8_t>(item.data);
        global_.reportId = id;
        if (depth_ == 0) return Fail(item.offset, "report ID outside any collection");
        ListId(collections_.back(), id);
        return std::nullopt;
    }

    static void ListId(TopLevelCollection& c, std::uint8_t id) {
        if (std::find(c.reportIds.begin(), c.reportIds.end(), id) == c.reportIds.end()) c.reportIds.push_back(id);
    }

    Result Finish() const {
        if (depth_ != 0) return Fail(bytes_.size(), "collection left open");
        // An ID declared in two collections could not be routed.
        constexpr std::size_t kNone = ~std::size_t{0};
        std::array<std::size_t, 256> owner;
        owner.fill(kNone);
        for (std::size_t c = 0; c < collections_.size(); ++c) {
            for (std::uint8_t id : collections_[c].reportIds) {
                if (owner[id] != kNone && owner[id] != c)
                    return Fail(bytes_.size(), "report ID in two top-level collections");
                owner[id] = c;
            }
        }
        return std::nullopt;
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t next_ = 0;
    std::vector<TopLevelCollection> collections_;
    GlobalState global_;
    std::vector<GlobalState> pushed_;
    // Local: the usages since the last main item, each with its page in the high word.
    std::vector<std::uint32_t> usages_;
    int depth_ = 0;
};

}  // namespace

std::variant<std::vector<TopLevelCollection>, ReportDescriptorError> ParseReportDescriptor(
    std::span<const std::uint8_t> bytes) {
    return Parser(bytes).Run();
}

}  // namespace kav::sim
