// The monitors and the touch screen to monitor assignments that the main window and the
// Mapping dialog share: one record per process.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kav::cpl {

constexpr int kMaxMonitors = 64;
constexpr int kMaxMappings = 64;

// Virtual-screen coordinates; right and bottom exclusive, as Windows gives them.
struct MonitorRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

struct MonitorEntry {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t index = 0;  // its own position in the array
};

struct MappingEntry {
    std::int32_t monitorNo = -1;
    std::int32_t touchScreenNo = -1;
    std::int32_t changed = 0;
};

struct DisplayLayout {
    std::array<MonitorEntry, kMaxMonitors> monitors{};
    std::int32_t monitorCount = 0;
    std::array<MappingEntry, kMaxMappings> mappings{};
    std::int32_t dirty = 0;  // 1 when a mapping differs from the devices' records
};

// EnumDisplayMonitors over the whole desktop, in the system's order.
class MonitorSource {
public:
    virtual ~MonitorSource() = default;
    virtual std::vector<MonitorRect> EnumDisplayMonitors() = 0;
};

// Refills the monitor entries; monitors beyond the 64th are ignored.
void EnumerateMonitors(DisplayLayout& layout, MonitorSource& source);

}  // namespace kav::cpl
