#include "clicks.h"

namespace kav {

void DeviceButtons(DEVICE_CONTEXT* /*context*/, const std::uint8_t* /*packet*/) {
    // Button lines become key strokes here.
}

}  // namespace kav
