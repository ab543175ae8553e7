// The HID class's report descriptor parser on any bytes. What it accepts must be
// routable: report IDs unique across top-level collections, every report's length
// within what the class can describe.
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>

#include "fuzz_support.h"
#include "simulator/hidstack/report_descriptor.h"

using namespace kav;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parsed = sim::ParseReportDescriptor(std::span(data, size));
    if (const auto* error = std::get_if<sim::ReportDescriptorError>(&parsed)) {
        fuzz::Require(error->offset <= size, "error offset beyond the descriptor");
        fuzz::Require(!error->reason.empty(), "error without a reason");
        return 0;
    }
    fuzz::Require(size <= sim::kMaxReportDescriptorLength, "descriptor longer than the class reads accepted");
    bool owned[256] = {};
    for (const sim::TopLevelCollection& c : std::get<std::vector<sim::TopLevelCollection>>(parsed)) {
        bool seen[256] = {};
        for (std::uint8_t id : c.reportIds) {
            fuzz::Require(id != 0, "report ID 0 accepted");
            fuzz::Require(!seen[id], "report ID listed twice in one collection");
            fuzz::Require(!owned[id], "report ID in two collections accepted");
            seen[id] = true;
        }
        for (std::uint8_t id : c.reportIds) owned[id] = true;
        for (const auto* kind : {&c.inputBits, &c.outputBits, &c.featureBits})
            for (const auto& [id, bits] : *kind) {
                fuzz::Require(seen[id], "report of an ID the collection does not list");
                fuzz::Require(sim::ReportLength(bits) <= sim::kMaxReportLength, "report longer than the class allows");
            }
        if (c.contactCountMaximumReport)
            fuzz::Require(c.featureBits.contains(*c.contactCountMaximumReport),
                          "contact count maximum in a report without features");
    }
    return 0;
}
