#include "controlpanel/display_layout.h"

namespace kav::cpl {

void EnumerateMonitors(DisplayLayout& layout, MonitorSource& source) {
    layout.monitorCount = 0;
    for (const MonitorRect& rect : source.EnumDisplayMonitors()) {
        if (layout.monitorCount >= kMaxMonitors) break;
        MonitorEntry& entry = layout.monitors[static_cast<std::size_t>(layout.monitorCount)];
        entry = {rect.left,          rect.top, rect.right, rect.bottom, rect.right - rect.left, rect.bottom - rect.top,
                 layout.monitorCount};
        ++layout.monitorCount;
    }
}

}  // namespace kav::cpl
