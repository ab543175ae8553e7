#include "clicks.h"

namespace kav {

void DeviceButtons(DEVICE_CONTEXT* /*context*/, const std::uint8_t* /*packet*/) {
    // Button lines become key strokes here.
}

void ComposeSample(DEVICE_CONTEXT* /*context*/) {
    // Samples become reports here.
}

void ToolbarTouch(DEVICE_CONTEXT* /*context*/) {
    // Toolbar touches become key strokes here.
}

}  // namespace kav
